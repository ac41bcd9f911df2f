#include "picture/animation.h"

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

double AnimationProgress::frames() const
{
    const int of = columns;
    return double(framesDone) + (of > 0 ? std::min(1.0, double(columnsDone) / of) : 0.0);
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
    if (!job.video.isEmpty() &&
        !video.open(job.video, QSize(job.scene.Wid, job.scene.Hey), job.fps, result.why, job.render.cancel))
        return failed(result.why);
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
            shown.columnsDone = 0;
            shown.columns = pictureColumns(scene, job.picture);
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
            if (!name.isEmpty() &&
                !(job.writeFrame ? job.writeFrame(picture, name, why) : writePicture(picture, name, why)))
                return failed(why);
        }
        const QImage& frame = keep ? kept : picture;
        if (!job.video.isEmpty() && !video.addFrame(frame, why))
            return stopAsked() ? stopped() : failed(why);
        ++(keep ? result.kept : result.written);
        ++shown.framesDone;
        if (job.frameDone)
            job.frameDone(f, frame);
        if (f == job.last)
            break;
    }
    if (!job.video.isEmpty() && !video.finish(why))
        return stopAsked() ? stopped() : failed(why);
    return result;
}
