#include "picture/animation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

#include "fileio/textio.h"
#include "picture/picturecheck.h"
#include "picture/picturefile.h"
#include "picture/videowriter.h"

QString frameFileName(const QString& pattern, qint64 frame)
{
    static const QRegularExpression field(QStringLiteral("%(%|0?([1-9])?d)"));
    QString out;
    qsizetype at = 0;
    for (auto it = field.globalMatch(pattern); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += pattern.mid(at, m.capturedStart() - at);
        if (m.captured(1) == "%")
            out += '%';
        else
            out += QStringLiteral("%1").arg(qlonglong(frame), m.captured(2).toInt(), 10, QChar('0'));
        at = m.capturedEnd();
    }
    return out + pattern.mid(at);
}

bool hasFrameField(const QString& pattern)
{
    return frameFileName(pattern, 0) != frameFileName(pattern, 1);
}

void makeFolderFor(const QString& file)
{
    if (!file.isEmpty() && file != "-")
        QDir().mkpath(QFileInfo(file).absolutePath());
}

AnimationJob animationJob(const Scene& scene, const CameraPath& path, const AnimationSettings& settings)
{
    AnimationJob job;
    job.scene = scene;
    job.scene.Wid = settings.width;
    job.scene.Hey = settings.height;
    job.path = path;
    job.smooth = settings.smooth;
    job.first = settings.first;
    job.last = settings.last;
    job.picture = PictureSettings{settings.supersample, settings.blur};
    job.pattern = settings.pattern;
    job.skipExisting = settings.skipExisting;
    job.video = settings.video;
    job.fps = settings.fps;
    return job;
}

// The loop starts a frame by clearing its columns before it counts the frame as started, and
// counts it done before the next one clears them; reading in the other order, a reader that
// sees the count of frames started change, or the frame under way done, takes the frames done
// alone. So the columns it adds are always those of the frame under way.
double AnimationProgress::frames() const
{
    const qint64 started = framesStarted;
    const int of = columns;
    const int done = columnsDone;
    const qint64 finished = framesDone;
    if (framesStarted != started || finished >= started || of <= 0)
        return double(finished);
    return double(finished) + std::min(1.0, double(done) / of);
}

void AnimationProgress::frameStarted(int columnsOfFrame)
{
    columnsDone = 0;
    columns = columnsOfFrame;
    ++framesStarted;
}

void AnimationProgress::frameDone()
{
    ++framesDone;
}

AnimationResult renderAnimation(const AnimationJob& job, AnimationProgress* progress)
{
    AnimationResult result;
    const auto failed = [&](const QString& why) {
        result.end = AnimationResult::Failed;
        result.why = why;
        return result;
    };
    VideoWriter video;
    // A video not finished is given up when `video` goes.
    const auto stopped = [&] {
        result.end = AnimationResult::Stopped;
        return result;
    };
    // A stop gives the video up even while ffmpeg does not take its frames; a failure of the
    // video that a stop caused is the stop.
    const auto stopAsked = [&] { return job.render.cancel && job.render.cancel->load(); };
    if (!job.video.isEmpty()) {
        makeFolderFor(job.video);
        if (!video.open(job.video, QSize(job.scene.Wid, job.scene.Hey), job.fps, result.why, job.render.cancel))
            return failed(result.why);
    }
    AnimationProgress unseen;
    AnimationProgress& shown = progress ? *progress : unseen;
    Scene scene = job.scene;
    RenderOptions options = job.render;
    options.columnsDone = &shown.columnsDone;
    const QSize size(scene.Wid, scene.Hey);
    QImage picture;
    QString why;
    // The last frame is tested before stepping on, so that the loop ends at any last frame.
    for (qint64 f = job.first; f <= job.last; ++f) {
        if (stopAsked())
            return stopped();
        shown.frameStarted(pictureColumns(scene, job.picture));
        const QString name = job.pattern.isEmpty() ? QString() : frameFileName(job.pattern, f);
        // A whole picture of the size already there is left as it is (the video and the caller
        // take it from the file); anything else there is made again.
        bool keep = false;
        QImage kept;
        if (job.skipExisting && !name.isEmpty() && QFileInfo::exists(name)) {
            if (QFileInfo(name).isDir())
                return failed(QStringLiteral("%1 is a folder, not a picture").arg(printableName(name)));
            keep = isWholePicture(name, size);
            if (keep && (!job.video.isEmpty() || job.frameDone)) {
                kept = QImage(name);
                keep = kept.size() == size;
            }
            if (!keep)
                ++result.redone;
        }
        if (!keep) {
            scene.CamPos = job.path.cameraAt(f, job.smooth);
            switch ((job.makeFrame ? job.makeFrame : makePicture)(scene, job.picture, options, picture, &why)) {
            case PictureResult::Whole:
                break;
            case PictureResult::Stopped:
                return stopped();
            case PictureResult::NoMemory:
            case PictureResult::Refused:
                return failed(why);
            }
            // Each frame is written whole or not at all, so that a split or resumed job may
            // trust every file it finds.
            if (!name.isEmpty()) {
                makeFolderFor(name);
                if (!(job.writeFrame ? job.writeFrame(picture, name, why) : writePicture(picture, name, why)))
                    return failed(why);
                // Its file is in place: it counts, whatever comes next (a stop that gives the
                // video up, say).
                ++result.written;
            }
        }
        const QImage& frame = keep ? kept : picture;
        if (!job.video.isEmpty() && !video.addFrame(frame, why))
            return stopAsked() ? stopped() : failed(why);
        if (keep)
            ++result.kept;
        else if (name.isEmpty())
            ++result.written; // in the video
        shown.frameDone();
        if (job.frameDone)
            job.frameDone(f, frame);
        if (f == job.last)
            break;
    }
    if (!job.video.isEmpty()) {
        shown.encoding = true;
        const bool made = video.finish(why);
        shown.encoding = false;
        if (!made)
            return stopAsked() ? stopped() : failed(why);
    }
    return result;
}
