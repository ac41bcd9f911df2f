// Times the plain and the fast tracer and blur side by side and checks that their pictures are
// identical. Prints tables; exits non-zero if any picture differs.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

#include "picture/blur.h"
#include "render/lanes.h"
#include "render/threadpool.h"
#include "render/tracer.h"
#include "serial/xmlserial.h"

extern char** environ;

namespace {

double seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The best of `runs` timings: the least disturbed by the rest of the machine.
double best(int runs, const std::function<void()>& f)
{
    double b = 1e30;
    for (int n = 0; n < runs; ++n)
        b = std::min(b, seconds(f));
    return b;
}

QString cpuModel()
{
    QFile f("/proc/cpuinfo");
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    return "unknown CPU";
}

const char* widthName(int lanes)
{
    return lanes == 8 ? "AVX-512" : (lanes == 4 ? "AVX2" : "scalar");
}

struct Case {
    const char* name;
    Vector3D camera;
};

Scene sceneAt(const Case& c, int wid = 1024, int hey = 768)
{
    Scene s = Scene::builtIn();
    s.CamPos = c.camera;
    s.Wid = wid;
    s.Hey = hey;
    return s;
}

double perPixel(long long n, const Scene& s)
{
    return static_cast<double>(n) / (static_cast<double>(s.Wid) * s.Hey);
}

// Runs a program to its end: its wall time and peak memory (MB), or a negative time when it
// could not run or failed.
struct Run {
    double seconds = -1;
    double peakMb = 0;
};

Run runProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Run r;
    pid_t pid;
    const auto t0 = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return r;
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peakMb = use.ru_maxrss / 1024.0;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int cores = workerCount(0);
    // Every vector width this CPU runs, widest first, then the scalar fast path.
    std::vector<int> widths;
    for (int w : {8, 4})
        if (w <= laneWidthAvailable())
            widths.push_back(w);
    widths.push_back(1);

    const Case cases[] = {{"built-in (0,0,-1.5)", Vector3D(0, 0, -1.5f)},
                          {"back (1,0.5,-3)", Vector3D(1, 0.5f, -3)},
                          {"near Thor1 (-2,1,0.5)", Vector3D(-2, 1, 0.5f)},
                          {"by the tori (4,-2,-0.5)", Vector3D(4, -2, -0.5f)}};

    // What a user waits for: lumivex-render writing an 8192 x 8192 picture of the built-in scene.
    // Timed first, while this program is small: a started program's peak memory counts the
    // memory of the one that started it.
    struct Written {
        std::string what;
        Run run;
        double fileMb = 0;
    };
    std::vector<Written> written;
    const QString render = QCoreApplication::applicationDirPath() + "/lumivex-render";
    QTemporaryDir dir;
    if (QFileInfo(render).isExecutable() && dir.isValid()) {
        const QString sceneFile = dir.filePath("big.xml");
        XMLS writer;
        if (saveScene(writer, sceneFile, sceneAt(cases[0], 8192, 8192))) {
            for (const char* format : {"png", "ppm"}) {
                const QString out = dir.filePath(QStringLiteral("big.%1").arg(format));
                Written w;
                w.what = "lumivex-render -o big." + std::string(format);
                for (int r = 0; r < std::min(runs, 3); ++r) {
                    const Run one = runProgram({render.toStdString(), "--xml", sceneFile.toStdString(), "-o",
                                                out.toStdString(), "--quiet"});
                    if (one.seconds >= 0 && (w.run.seconds < 0 || one.seconds < w.run.seconds))
                        w.run = one;
                }
                w.fileMb = QFileInfo(out).size() / 1e6;
                written.push_back(w);
                QFile::remove(out);
            }
        }
    }

    std::printf("Lumivex benchmark: %s, %d cores, widest vector lanes %s; 1024 x 768, best of %d runs\n\n",
                qPrintable(cpuModel()), cores, widthName(widths.front()), runs);
    bool allSame = true;
    QImage builtIn;

    std::printf("%-24s %8s %8s  %-8s %8s %8s %8s %8s %8s %9s\n", "camera", "plain s", "evals/px", "lanes",
                "fast 1 s", "fast all", "x plain", "x 1->all", "evals/px", "identical");
    std::printf("%-24s %8s %8s  %-8s %8s %8s %8s %8s %8s\n", "", "", "no exit", "", "", "", "", "", "exit");
    for (const Case& c : cases) {
        const Scene s = sceneAt(c);
        QImage plain(s.Wid, s.Hey, QImage::Format_ARGB32), img = plain;
        long long plainEvals = 0;
        // The plain path too is timed more than once: a single run taken in a busy spell would
        // flatter the fast one.
        const double tPlain = best(std::min(runs, 3), [&] {
            plainEvals = 0;
            renderReference(s, plain, &plainEvals);
        });
        if (builtIn.isNull())
            builtIn = plain;
        for (int w : widths) {
            RenderOptions one, all;
            one.threads = 1;
            one.lanes = all.lanes = w;
            // One thread and all threads take turns, so that a spell of load on the machine
            // (a busy neighbour on a virtual machine) weighs on both alike.
            bool same = true;
            double tOne = 1e30, tAll = 1e30;
            for (int r = 0; r < runs; ++r) {
                tOne = std::min(tOne, seconds([&] { renderInto(s, img, one); }));
                same = same && img == plain;
                tAll = std::min(tAll, seconds([&] { renderInto(s, img, all); }));
                same = same && img == plain;
            }
            RenderStats stats;
            all.stats = &stats;
            renderInto(s, img, all);
            allSame = allSame && same;
            std::printf("%-24s %8.3f %8.1f  %-8s %8.3f %8.3f %7.1fx %7.2fx %8.1f %9s\n",
                        w == widths.front() ? c.name : "", tPlain, perPixel(plainEvals, s), widthName(w), tOne,
                        tAll, tPlain / tAll, tOne / tAll, perPixel(stats.evaluations, s), same ? "yes" : "NO");
        }
    }

    // What a pixel costs as the picture grows: the built-in camera on every core.
    std::printf("\n%-24s %-8s %10s %10s %10s %10s\n", "picture size, all cores", "lanes", "fast s", "ms per Mpx",
                "evals/px", "identical");
    for (const QSize size : {QSize(1024, 768), QSize(4096, 3072), QSize(8192, 8192)}) {
        const Scene s = sceneAt(cases[0], size.width(), size.height());
        QImage img(s.Wid, s.Hey, QImage::Format_ARGB32);
        RenderOptions o;
        RenderStats stats;
        const double t = best(size.width() > 4096 ? std::min(runs, 3) : runs, [&] { renderInto(s, img, o); });
        o.stats = &stats;
        renderInto(s, img, o);
        // The early exit changes no pixel; checked against the march to the end where that is quick.
        QString same = "-";
        if (size.width() <= 4096) {
            QImage noExit(s.Wid, s.Hey, QImage::Format_ARGB32);
            RenderOptions off;
            off.earlyExit = false;
            renderInto(s, noExit, off);
            same = img == noExit ? "yes" : "NO";
            allSame = allSame && img == noExit;
        }
        std::printf("%-24s %-8s %10.3f %10.2f %10.1f %10s\n",
                    qPrintable(QStringLiteral("%1 x %2").arg(s.Wid).arg(s.Hey)), widthName(widths.front()), t,
                    t * 1e3 / (double(s.Wid) * s.Hey / 1e6), perPixel(stats.evaluations, s), qPrintable(same));
    }

    if (!written.empty()) {
        std::printf("\n%-24s %10s %10s %10s\n", "8192 x 8192 written", "wall s", "peak MB", "file MB");
        for (const Written& w : written)
            std::printf("%-24s %10.2f %10.0f %10.1f\n", w.what.c_str(), w.run.seconds, w.run.peakMb, w.fileMb);
    }

    const double tPixels = best(runs, [&] { (void)blurReference(builtIn); });
    const double tBlur1 = best(runs, [&] { (void)blurImage(builtIn, 1); });
    const double tBlurAll = best(runs, [&] { (void)blurImage(builtIn, 0); });
    const bool blurSame = blurImage(builtIn) == blurReference(builtIn);
    allSame = allSame && blurSame;
    std::printf("\n%-24s %9s %9s %9s %9s %8s %9s\n", "blur", "pixel s", "fast 1 s", "x pixel", "fast all", "x pixel",
                "identical");
    std::printf("%-24s %9.3f %9.3f %8.1fx %9.3f %7.1fx %9s\n", "built-in picture", tPixels, tBlur1, tPixels / tBlur1,
                tBlurAll, tPixels / tBlurAll, blurSame ? "yes" : "NO");
    std::printf("\n\"plain\" is the one-pixel-after-another tracer on one thread; \"fast all\" uses every core.\n"
                "\"written\": lumivex-render started, scene read, picture rendered and written, best of %d;\n"
                "peak MB is the program's largest resident memory. \"pixel\" blur: QImage::pixel and setPixel.\n",
                std::min(runs, 3));
    return allSame ? 0 : 1;
}
