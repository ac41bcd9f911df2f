// --path: the frames of a camera path, into picture files, a video or both, by the same loop
// as the window's Render Animation.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "command/modes.h"
#include "command/output.h"
#include "command/progress.h"
#include "command/report.h"
#include "command/stopping.h"
#include "fileio/textio.h"
#include "picture/animation.h"

namespace {

// The settings of the animation the options ask for, over frames first to last.
AnimationSettings settingsAsked(const Run& run, qint64 first, qint64 last)
{
    const Options& o = run.options;
    AnimationSettings s;
    s.pattern = o.output;
    s.first = first;
    s.last = last;
    s.smooth = o.smooth;
    s.width = run.scene.Wid;
    s.height = run.scene.Hey;
    s.supersample = o.supersample;
    s.blur = o.blur;
    s.skipExisting = o.skipExisting;
    s.video = o.video;
    s.fps = o.fps;
    return s;
}

// What the run says once the frames are done or stopped.
int reportFrames(const Run& run, const AnimationResult& done)
{
    const Options& o = run.options;
    if (done.end == AnimationResult::Failed)
        return fail(1, done.why);
    if (done.redone == 1)
        std::fprintf(stderr, "lumivex-render: 1 frame was there but not a whole picture of %d x %d; rendered again\n",
                     run.scene.Wid, run.scene.Hey);
    else if (done.redone > 1)
        std::fprintf(stderr,
                     "lumivex-render: %lld frames were there but not whole pictures of %d x %d; rendered again\n",
                     static_cast<long long>(done.redone), run.scene.Wid, run.scene.Hey);
    if (done.end != AnimationResult::Stopped)
        return 0;
    if (o.output.isEmpty())
        return interrupted("no video written");
    QString said = QStringLiteral("%1 frames written, every one whole").arg(done.written);
    if (!o.video.isEmpty())
        said += "; no video";
    return interrupted(said);
}

} // namespace

int renderPath(const Run& run)
{
    const Options& o = run.options;
    CameraPath path;
    QString why;
    if (!readCameraPath(o.path, path, &why))
        return fail(1, why);
    if (g_stop)
        return interrupted("no frame written");
    qint64 first = path.firstFrame(), last = path.lastFrame();
    if (o.haveFrames) {
        first = std::max(first, o.firstFrame);
        last = std::min(last, o.lastFrame);
        if (first > last)
            return fail(2, QStringLiteral("--frames %1:%2 lies outside the path's frames %3 to %4")
                               .arg(o.firstFrame)
                               .arg(o.lastFrame)
                               .arg(path.firstFrame())
                               .arg(path.lastFrame()));
    }
    if (first < last && !o.output.isEmpty() && !hasFrameField(o.output))
        return fail(2, QStringLiteral("the output name '%1' needs %d or %04d for the frame number")
                           .arg(printableName(o.output)));
    AnimationJob job = animationJob(run.scene, path, settingsAsked(run, first, last));
    job.render = run.render;
    job.makeFrame = makeOutput;
    job.writeFrame = writeOutput;
    AnimationResult done;
    {
        // Counted without overflow up to the largest frame number: last - first + 1 may not fit.
        const qint64 toGo = last - first;
        Progress progress(run.showProgress, Progress::Frames,
                          toGo == std::numeric_limits<qint64>::max() ? toGo : toGo + 1);
        done = renderAnimation(job, &progress.state);
    }
    return reportFrames(run, done);
}
