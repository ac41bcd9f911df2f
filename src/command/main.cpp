// lumivex-render: renders the scene without a window, for scripts and machines without a
// display. Uses the same scene model, tracer, blur and scene files as the window.
#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

#include "command/modes.h"
#include "command/options.h"
#include "command/report.h"
#include "command/stopping.h"

namespace {

int run(const QStringList& args)
{
    Options o;
    const int parsed = parseOptions(args, o);
    if (parsed >= 0)
        return parsed;
    catchSignals();
    Run run{o, Scene::builtIn(), RenderOptions(), !o.quiet && isatty(fileno(stderr))};
    const int loaded = loadAskedScene(o, run.scene);
    if (loaded >= 0)
        return loaded;
    if (const int saved = writeSceneFiles(run); saved != 0 || (o.output.isEmpty() && o.video.isEmpty()))
        return saved;
    run.render.threads = o.threads;
    run.render.reference = o.reference;
    run.render.cancel = &g_stop;
    if (!o.path.isEmpty())
        return renderPath(run);
    if (o.repeatGiven)
        return timeRepeats(run);
    return renderPicture(run);
}

} // namespace

int main(int argc, char** argv)
{
    keepOtherMessagesQuiet();
    QCoreApplication app(argc, argv);
    const int status = run(app.arguments());
    // Stopped by a signal: with everything cleaned up, end by it, as the shell expects.
    endBySignalIfStopped();
    return status;
}
