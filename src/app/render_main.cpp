// lumivex-render: renders the scene without a window, for scripts and machines without a
// display. Uses the same scene model, tracer, blur and scene files as the window.
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cmath>
#include <cstdio>

#include "picture/blur.h"
#include "picture/picturefile.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

const char* const kUsage =
    "Usage: lumivex-render [options]\n"
    "Renders the Lumivex scene by sphere tracing and writes the picture.\n"
    "\n"
    "  -o, --output FILE   write the picture; FILE ends in .png, .jpg, .bmp or .ppm (binary P6)\n"
    "  --xml FILE          load the scene from an XML scene file first\n"
    "  --bin FILE          load the scene from a line-format (\"Bin\") scene file first\n"
    "  --camera X,Y,Z      put the camera there (after any load)\n"
    "  --blur              smooth the picture once with the anti-aliasing blur\n"
    "  --save-xml FILE     write the scene as an XML scene file\n"
    "  --save-bin FILE     write the scene as a line-format scene file\n"
    "  --repeat N          render N times (1 to 100000), for timing; the picture is written once\n"
    "  --threads N         render on N threads (1 to 1024; default: every core)\n"
    "  --reference         render with the plain single-threaded tracer (same picture, slower)\n"
    "  -h, --help          show this help\n"
    "  --version           show the version\n"
    "\n"
    "Without a scene file the built-in scene is rendered at 1024 x 768.\n"
    "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for bad options.\n";

struct Options {
    QString output, loadXml, loadBin, saveXml, saveBin;
    bool haveCamera = false;
    Vector3D camera;
    bool blur = false;
    int repeat = 1;
    int threads = 0;
    bool reference = false;
};

// Says what went wrong on one line and gives the exit status for it.
int fail(int status, const QString& message)
{
    std::fprintf(stderr, "lumivex-render: %s\n", qPrintable(message));
    return status;
}

bool parseCount(const QString& text, int lo, int hi, int& out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseCamera(const QString& text, Vector3D& out)
{
    const QStringList parts = text.split(',');
    if (parts.size() != 3)
        return false;
    float v[3];
    for (int k = 0; k < 3; ++k) {
        bool ok = false;
        v[k] = parts[k].trimmed().toFloat(&ok);
        if (!ok || !std::isfinite(v[k]))
            return false;
    }
    out = Vector3D(v[0], v[1], v[2]);
    return true;
}

// Parses the arguments; returns -1 to go on, or the exit status.
int parse(const QStringList& args, Options& o)
{
    for (int k = 1; k < args.size(); ++k) {
        const QString& a = args[k];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("lumivex-render %s\n", LUMIVEX_VERSION);
            return 0;
        }
        if (a == "--blur") {
            o.blur = true;
            continue;
        }
        if (a == "--reference") {
            o.reference = true;
            continue;
        }
        static const QStringList withValue = {"-o", "--output", "--xml", "--bin", "--camera", "--save-xml",
                                              "--save-bin", "--repeat", "--threads"};
        if (!withValue.contains(a))
            return fail(2, QStringLiteral("unknown option '%1' (see --help)").arg(a));
        if (k + 1 >= args.size())
            return fail(2, QStringLiteral("option '%1' needs a value").arg(a));
        const QString v = args[++k];
        if (a == "-o" || a == "--output") {
            o.output = v;
        } else if (a == "--xml") {
            o.loadXml = v;
        } else if (a == "--bin") {
            o.loadBin = v;
        } else if (a == "--save-xml") {
            o.saveXml = v;
        } else if (a == "--save-bin") {
            o.saveBin = v;
        } else if (a == "--camera") {
            if (!parseCamera(v, o.camera))
                return fail(2, QStringLiteral("--camera takes three finite numbers X,Y,Z, not '%1'").arg(v));
            o.haveCamera = true;
        } else if (a == "--repeat") {
            if (!parseCount(v, 1, 100000, o.repeat))
                return fail(2, QStringLiteral("--repeat takes a whole number from 1 to 100000, not '%1'").arg(v));
        } else if (a == "--threads") {
            if (!parseCount(v, 1, 1024, o.threads))
                return fail(2, QStringLiteral("--threads takes a whole number from 1 to 1024, not '%1'").arg(v));
        }
    }
    if (!o.loadXml.isEmpty() && !o.loadBin.isEmpty())
        return fail(2, "give either --xml or --bin, not both");
    if (o.output.isEmpty() && o.saveXml.isEmpty() && o.saveBin.isEmpty())
        return fail(2, "nothing to write: give -o, --save-xml or --save-bin (see --help)");
    if (!o.output.isEmpty() && !pictureFormatKnown(o.output))
        return fail(2, QStringLiteral("cannot tell the picture format of '%1': use .png, .jpg, .bmp or .ppm")
                           .arg(o.output));
    return -1;
}

int run(const QStringList& args)
{
    Options o;
    const int parsed = parse(args, o);
    if (parsed >= 0)
        return parsed;

    Scene scene = Scene::builtIn();
    QString why;
    if (!o.loadXml.isEmpty()) {
        XMLL reader;
        if (!loadScene(reader, o.loadXml, scene, &why))
            return fail(1, why);
    } else if (!o.loadBin.isEmpty()) {
        BinL reader;
        if (!loadScene(reader, o.loadBin, scene, &why))
            return fail(1, why);
    }
    if (o.haveCamera)
        scene.CamPos = o.camera;
    if (!o.saveXml.isEmpty()) {
        XMLS writer;
        if (!saveScene(writer, o.saveXml, scene, &why))
            return fail(1, why);
    }
    if (!o.saveBin.isEmpty()) {
        BinS writer;
        if (!saveScene(writer, o.saveBin, scene, &why))
            return fail(1, why);
    }
    if (o.output.isEmpty())
        return 0;

    RenderOptions ro;
    ro.threads = o.threads;
    ro.reference = o.reference;
    QImage img(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    for (int n = 0; n < o.repeat; ++n)
        renderInto(scene, img, ro);
    if (o.blur)
        img = o.reference ? blurReference(img) : blurImage(img, o.threads);
    if (!writePicture(img, o.output, why))
        return fail(1, why);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return run(app.arguments());
}
