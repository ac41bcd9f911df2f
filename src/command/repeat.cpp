// --repeat: the same picture rendered N times, for timing.
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

#include "command/modes.h"
#include "command/output.h"
#include "command/progress.h"
#include "command/report.h"
#include "command/stopping.h"

int timeRepeats(const Run& run)
{
    const Options& o = run.options;
    QImage img(run.scene.Wid, run.scene.Hey, QImage::Format_ARGB32);
    if (img.isNull())
        return notEnoughMemory("for", run.scene);
    // The blur is left out of the timing, and comes once, after the last render.
    const PictureSettings settings{o.supersample, false};
    const int columns = pictureColumns(run.scene, settings);
    double total = 0, fastest = 1e30;
    QString why;
    {
        // Progress runs over all N renders, so that it only goes forward.
        Progress progress(run.showProgress, Progress::Percent, o.repeat);
        RenderOptions ro = run.render;
        ro.columnsDone = &progress.state.columnsDone;
        for (int n = 0; n < o.repeat && !g_stop; ++n) {
            progress.state.frameStarted(columns);
            QElapsedTimer t;
            t.start();
            const PictureResult r = makeOutput(run.scene, settings, ro, img, &why);
            if (r == PictureResult::NoMemory || r == PictureResult::Refused)
                return fail(1, why);
            const double s = t.nsecsElapsed() / 1e9;
            total += s;
            fastest = std::min(fastest, s);
            progress.state.frameDone();
        }
    }
    if (g_stop)
        return interrupted("no picture written");
    std::fprintf(stderr, "lumivex-render: %d renders, %.4f s each on average, %.4f s the fastest\n", o.repeat,
                 total / o.repeat, fastest);
    return finishPicture(run, img);
}
