// One picture: rendered a band of rows at a time straight into its file where the file allows,
// else whole, then blurred if asked, then written.
#include <algorithm>

#include "command/modes.h"
#include "command/output.h"
#include "command/progress.h"
#include "command/report.h"
#include "command/stopping.h"
#include "picture/animation.h"
#include "picture/picturefile.h"

namespace {

// Renders the picture a band of rows at a time, each written before the next is rendered: a
// large picture is never held whole. For a regular file only, written through a temporary
// file, so that an interruption leaves nothing behind.
int renderInBands(const Run& run)
{
    const Scene& scene = run.scene;
    RenderOptions ro = run.render;
    // Bands of about two million pixels: a few megabytes, and plenty of strips for every core.
    const int rows = std::max(1, std::min(scene.Hey, (1 << 21) / scene.Wid));
    QImage band(scene.Wid, rows, QImage::Format_ARGB32);
    if (band.isNull())
        return notEnoughMemory("for", scene);
    QString why;
    PictureWriter writer;
    makeFolderFor(run.options.output);
    if (!writer.open(run.options.output, scene.Wid, scene.Hey, why))
        return fail(1, why);
    Progress progress(run.showProgress, Progress::Percent, 1);
    // Each band counts its columns.
    progress.state.frameStarted(scene.Wid * ((scene.Hey + rows - 1) / rows));
    ro.columnsDone = &progress.state.columnsDone;
    for (int first = 0; first < scene.Hey; first += rows) {
        if (scene.Hey - first < rows)
            band = band.copy(0, 0, scene.Wid, scene.Hey - first);
        ro.firstRow = first;
        bool whole;
        try {
            whole = renderInto(scene, band, ro);
        } catch (const std::bad_alloc&) {
            return notEnoughMemory("to render", scene);
        }
        if (!whole || g_stop)
            return interrupted("no picture written");
        if (!writer.write(band, why))
            return fail(1, why);
    }
    return writer.finish(why) ? 0 : fail(1, why);
}

} // namespace

int renderPicture(const Run& run)
{
    const Options& o = run.options;
    if (!o.blur && !o.reference && o.supersample == 1 && pictureStreams(o.output) && !writtenInPlace(o.output))
        return renderInBands(run);
    QImage img(run.scene.Wid, run.scene.Hey, QImage::Format_ARGB32);
    if (img.isNull())
        return notEnoughMemory("for", run.scene);
    const PictureSettings settings{o.supersample, false};
    QString why;
    {
        Progress progress(run.showProgress, Progress::Percent, 1);
        progress.state.frameStarted(pictureColumns(run.scene, settings));
        RenderOptions ro = run.render;
        ro.columnsDone = &progress.state.columnsDone;
        const PictureResult r = makeOutput(run.scene, settings, ro, img, &why);
        if (r == PictureResult::NoMemory || r == PictureResult::Refused)
            return fail(1, why);
    }
    return finishPicture(run, img);
}

int finishPicture(const Run& run, QImage& img)
{
    if (g_stop)
        return interrupted("no picture written");
    // The blur comes once, after the last render.
    if (run.options.blur && (img = blurPicture(img, run.render)).isNull())
        return notEnoughMemory("to blur", run.scene);
    if (g_stop)
        return interrupted("no picture written");
    QString why;
    if (!writeOutput(img, run.options.output, why))
        return fail(1, why);
    return 0;
}
