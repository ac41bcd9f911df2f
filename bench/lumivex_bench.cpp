// Times the plain and the fast tracer and blur side by side and checks that their pictures are
// identical. Prints one table; exits non-zero if any picture differs.
#include <QImage>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "render/blur.h"
#include "render/lanefield.h"
#include "render/parallel.h"
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

// The blur done the way a first version would: single pixels through QImage::pixel/setPixel.
QImage blurByPixels(const QImage& img)
{
    return blurReference(img);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int cores = workerCount(0);
    std::printf("Lumivex benchmark: %d x %d pictures, %d cores, vector lanes %s, best of %d runs\n\n", 1024, 768,
                cores, laneWidthAvailable() == 8 ? "AVX-512" : (laneWidthAvailable() == 4 ? "AVX2" : "off"),
                runs);
    std::printf("%-22s %9s %9s %9s %9s %8s %8s %9s\n", "camera", "plain s", "fast 1 s", "fast 1T", "fast all",
                "x plain", "x 1->all", "identical");
    struct Case {
        const char* name;
        Vector3D camera;
    };
    const Case cases[] = {{"built-in (0,0,-1.5)", Vector3D(0, 0, -1.5f)},
                          {"back (1,0.5,-3)", Vector3D(1, 0.5f, -3)},
                          {"near Thor1 (-2,1,0.5)", Vector3D(-2, 1, 0.5f)},
                          {"by the tori (4,-2,-0.5)", Vector3D(4, -2, -0.5f)}};
    bool allSame = true;
    QImage builtIn;
    for (const Case& c : cases) {
        Scene s = Scene::builtIn();
        s.CamPos = c.camera;
        QImage plain(s.Wid, s.Hey, QImage::Format_ARGB32), one = plain, all = plain;
        const double tPlain = seconds([&] { renderReference(s, plain); });
        RenderOptions single;
        single.threads = 1;
        const double tOne = best(runs, [&] { renderInto(s, one, single); });
        const double tAll = best(runs, [&] { renderInto(s, all, RenderOptions()); });
        const bool same = one == plain && all == plain;
        allSame = allSame && same;
        std::printf("%-22s %9.3f %9.3f %8.1fx %9.3f %7.1fx %7.2fx %9s\n", c.name, tPlain, tOne, tPlain / tOne, tAll,
                    tPlain / tAll, tOne / tAll, same ? "yes" : "NO");
        if (builtIn.isNull())
            builtIn = all;
    }

    // The fast path on narrower vector units, one thread, built-in scene.
    {
        const Scene s = Scene::builtIn();
        QImage plain(s.Wid, s.Hey, QImage::Format_ARGB32), img = plain;
        renderReference(s, plain);
        std::printf("\n%-22s %9s %9s\n", "fast path, 1 thread", "s", "identical");
        for (int lanes : {laneWidthAvailable(), 4, 1}) {
            if (lanes > 1 && lanes > laneWidthAvailable())
                continue;
            RenderOptions o;
            o.threads = 1;
            o.lanes = lanes;
            const double t = best(runs, [&] { renderInto(s, img, o); });
            const bool same = img == plain;
            allSame = allSame && same;
            const char* name = lanes == 8 ? "AVX-512 lanes" : (lanes == 4 ? "AVX2 lanes" : "scalar (no lanes)");
            std::printf("%-22s %9.3f %9s\n", name, t, same ? "yes" : "NO");
        }
    }

    const double tPixels = best(1, [&] { (void)blurByPixels(builtIn); });
    const double tBlur1 = best(runs, [&] { (void)blurImage(builtIn, 1); });
    const double tBlurAll = best(runs, [&] { (void)blurImage(builtIn, 0); });
    const bool blurSame = blurImage(builtIn) == blurByPixels(builtIn);
    allSame = allSame && blurSame;
    std::printf("\n%-22s %9s %9s %9s %9s %8s %8s %9s\n", "blur", "pixel s", "fast 1 s", "x pixel", "fast all",
                "x pixel", "", "identical");
    std::printf("%-22s %9.3f %9.3f %8.1fx %9.3f %7.1fx %8s %9s\n", "built-in picture", tPixels, tBlur1,
                tPixels / tBlur1, tBlurAll, tPixels / tBlurAll, "", blurSame ? "yes" : "NO");
    return allSame ? 0 : 1;
}
