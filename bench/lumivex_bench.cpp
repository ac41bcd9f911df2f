// Times the plain and the fast tracer and blur side by side and checks that their pictures are
// identical. Prints tables; exits non-zero if any picture differs.
#include <QFile>
#include <QImage>
#include <QString>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "picture/blur.h"
#include "render/lanes.h"
#include "render/threadpool.h"
#include "render/tracer.h"

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

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int cores = workerCount(0);
    // Every vector width this CPU runs, widest first, then the scalar fast path.
    std::vector<int> widths;
    for (int w : {8, 4})
        if (w <= laneWidthAvailable())
            widths.push_back(w);
    widths.push_back(1);

    std::printf("Lumivex benchmark: %s, %d cores, widest vector lanes %s; 1024 x 768, best of %d runs\n\n",
                qPrintable(cpuModel()), cores, widthName(widths.front()), runs);
    const Case cases[] = {{"built-in (0,0,-1.5)", Vector3D(0, 0, -1.5f)},
                          {"back (1,0.5,-3)", Vector3D(1, 0.5f, -3)},
                          {"near Thor1 (-2,1,0.5)", Vector3D(-2, 1, 0.5f)},
                          {"by the tori (4,-2,-0.5)", Vector3D(4, -2, -0.5f)}};
    bool allSame = true;
    QImage builtIn;

    std::printf("%-24s %8s %8s  %-8s %8s %8s %8s %8s %8s %9s\n", "camera", "plain s", "evals/px", "lanes",
                "fast 1 s", "fast all", "x plain", "x 1->all", "evals/px", "identical");
    std::printf("%-24s %8s %8s  %-8s %8s %8s %8s %8s %8s\n", "", "", "no exit", "", "", "", "", "", "exit");
    for (const Case& c : cases) {
        const Scene s = sceneAt(c);
        QImage plain(s.Wid, s.Hey, QImage::Format_ARGB32), img = plain;
        long long plainEvals = 0;
        const double tPlain = seconds([&] { renderReference(s, plain, &plainEvals); });
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

    std::printf("\n%-24s %-8s %10s %10s %10s %10s\n", "4096 x 3072, all cores", "lanes", "fast s", "no exit s",
                "evals/px", "identical");
    for (const Case& c : cases) {
        const Scene s = sceneAt(c, 4096, 3072);
        QImage img(s.Wid, s.Hey, QImage::Format_ARGB32), noExit = img;
        RenderOptions o, off;
        off.earlyExit = false;
        RenderStats stats;
        o.stats = &stats;
        const double t = seconds([&] { renderInto(s, img, o); });
        const double tOff = seconds([&] { renderInto(s, noExit, off); });
        const bool same = img == noExit;
        allSame = allSame && same;
        std::printf("%-24s %-8s %10.3f %10.3f %10.1f %10s\n", c.name, widthName(widths.front()), t, tOff,
                    perPixel(stats.evaluations, s), same ? "yes" : "NO");
    }

    const double tPixels = best(1, [&] { (void)blurReference(builtIn); });
    const double tBlur1 = best(runs, [&] { (void)blurImage(builtIn, 1); });
    const double tBlurAll = best(runs, [&] { (void)blurImage(builtIn, 0); });
    const bool blurSame = blurImage(builtIn) == blurReference(builtIn);
    allSame = allSame && blurSame;
    std::printf("\n%-24s %9s %9s %9s %9s %8s %9s\n", "blur", "pixel s", "fast 1 s", "x pixel", "fast all", "x pixel",
                "identical");
    std::printf("%-24s %9.3f %9.3f %8.1fx %9.3f %7.1fx %9s\n", "built-in picture", tPixels, tBlur1, tPixels / tBlur1,
                tBlurAll, tPixels / tBlurAll, blurSame ? "yes" : "NO");
    std::printf("\n\"plain\" is the one-pixel-after-another tracer on one thread; \"fast all\" uses every core.\n");
    return allSame ? 0 : 1;
}
