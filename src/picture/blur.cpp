#include "picture/blur.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/threadpool.h"

BlurKernel makeBlurKernel()
{
    const double sigma = 1.0;
    BlurKernel k;
    // 3 sigma is rounded to float before 1 is added.
    k.N = static_cast<int>(static_cast<float>(3.0 * sigma) + 1.0f);
    const int N = k.N;
    k.wind.assign(2 * N + 1, 0.0);
    for (int idx = 2 * N; idx >= 0; --idx) {
        if (idx < N) {
            k.wind[idx] = k.wind[2 * N - idx];
        } else {
            const double tem = static_cast<double>((N - idx) * (idx - N)) / ((sigma + sigma) * sigma);
            k.wind[idx] = tem >= 0 ? std::exp(tem) : 1.0 / std::exp(-tem);
        }
    }
    return k;
}

void wash(QImage& curImage, QImage* Temp, int koef1, int koef2, int N, const double* wind, bool a)
{
    for (int i = 0; i < koef1; ++i) {
        for (int j = 0; j < koef2; ++j) {
            double red = 0, green = 0, blue = 0;
            for (int k = -N; k <= N; ++k) {
                if (j + k < 0 || j + k >= koef2)
                    continue;
                const QRgb c = a ? curImage.pixel(j + k, i) : curImage.pixel(i, j + k);
                red = red + qRed(c) * wind[N + k];
                green = green + qGreen(c) * wind[N + k];
                blue = blue + qBlue(c) * wind[N + k];
            }
            double sum = 0;
            for (int k = -N; k <= N; ++k) {
                if (j + k < 0 || j + k >= koef2)
                    continue;
                sum = sum + wind[N + k];
            }
            const QRgb out = qRgb(static_cast<int>(red / sum), static_cast<int>(green / sum),
                                  static_cast<int>(blue / sum));
            if (a)
                Temp->setPixel(j, i, out);
            else
                Temp->setPixel(i, j, out);
        }
    }
    curImage = *Temp;
}

QImage blurReference(const QImage& source)
{
    const BlurKernel k = makeBlurKernel();
    QImage curImage = source;
    QImage Temp(curImage.width(), curImage.height(), QImage::Format_RGB32);
    if (Temp.isNull() && !curImage.isNull())
        return QImage();
    wash(curImage, &Temp, curImage.height(), curImage.width(), k.N, k.wind.data(), true);
    wash(curImage, &Temp, curImage.width(), curImage.height(), k.N, k.wind.data(), false);
    return curImage;
}

// On x86-64 the hot loops are also compiled for AVX2 and picked at run time; elsewhere once.
#if defined(__x86_64__) && defined(__GNUC__)
#define LUMIVEX_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LUMIVEX_AVX2_CLONES
#endif

namespace {

// The weight sums per position of a line of `len` pixels, added in tap order as wash adds them.
std::vector<double> windowSums(const BlurKernel& k, int len)
{
    std::vector<double> sums(len);
    for (int j = 0; j < len; ++j) {
        double sum = 0;
        for (int kk = -k.N; kk <= k.N; ++kk)
            if (j + kk >= 0 && j + kk < len)
                sum = sum + k.wind[k.N + kk];
        sums[j] = sum;
    }
    return sums;
}

// Per-channel running sums of one output line, one entry per pixel. Every pixel's sum takes its
// taps in wash's order (k from -N up), so each quotient is the same double as wash's; only the
// loops are turned round, to walk memory in order.
struct LineSums {
    std::vector<double> red, green, blue;
    explicit LineSums(int width) : red(width), green(width), blue(width) {}
    void clear()
    {
        std::fill(red.begin(), red.end(), 0.0);
        std::fill(green.begin(), green.end(), 0.0);
        std::fill(blue.begin(), blue.end(), 0.0);
    }
    // Adds w times the pixel src[x + shift] to the sums of every x in [from, to).
    void add(const QRgb* src, int from, int to, int shift, double w)
    {
        addTap(red.data(), green.data(), blue.data(), src, shift, from, to, w);
    }

private:
    // Cloned for AVX2, picked at run time: the loop runs four pixels at a time there, with the
    // same multiplications and additions.
    LUMIVEX_AVX2_CLONES static void addTap(double* __restrict red, double* __restrict green, double* __restrict blue,
                                           const QRgb* __restrict src, int shift, int from, int to, double w)
    {
        // Indexed, not offset: src + shift could point before the line, which C++ does not allow.
        for (int x = from; x < to; ++x) {
            const QRgb c = src[x + shift];
            red[x] = red[x] + static_cast<int>((c >> 16) & 0xff) * w;
            green[x] = green[x] + static_cast<int>((c >> 8) & 0xff) * w;
            blue[x] = blue[x] + static_cast<int>(c & 0xff) * w;
        }
    }
};

// out[x] = the opaque pixel of the sums at x divided by sums[x * step] (step 0: one sum for
// the whole line), each channel truncated, as qRgb packs it.
LUMIVEX_AVX2_CLONES void packMeans(QRgb* __restrict out, const double* __restrict red, const double* __restrict green,
                                   const double* __restrict blue, const double* __restrict sums, int step, int width)
{
    for (int x = 0; x < width; ++x) {
        const double sum = sums[x * step];
        const int r = static_cast<int>(red[x] / sum), g = static_cast<int>(green[x] / sum),
                  b = static_cast<int>(blue[x] / sum);
        out[x] = 0xff000000u | ((static_cast<unsigned>(r) & 0xffu) << 16) | ((static_cast<unsigned>(g) & 0xffu) << 8) |
                 (static_cast<unsigned>(b) & 0xffu);
    }
}

} // namespace

QImage blurImage(const QImage& source, int threads)
{
    const int w = source.width(), h = source.height();
    if (w <= 0 || h <= 0)
        return source.convertToFormat(QImage::Format_RGB32);
    const BlurKernel k = makeBlurKernel();
    const int N = k.N;
    // The alpha byte is ignored, so the 32-bit pixels can be read as they are.
    const QImage src = (source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32)
                           ? source
                           : source.convertToFormat(QImage::Format_RGB32);
    QImage across(w, h, QImage::Format_RGB32);
    QImage down(w, h, QImage::Format_RGB32);
    // Not enough memory for the two passes: no picture rather than a crash.
    if (across.isNull() || down.isNull())
        return QImage();
    // Detach before the threads write.
    uchar* acrossBits = across.bits();
    uchar* downBits = down.bits();
    const qsizetype acrossBpl = across.bytesPerLine(), downBpl = down.bytesPerLine();

    // Along x: each row on its own.
    const std::vector<double> rowSums = windowSums(k, w);
    parallelFor(h, threads, [&](int lo, int hi) {
        LineSums acc(w);
        for (int y = lo; y < hi; ++y) {
            const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
            acc.clear();
            for (int kk = -N; kk <= N; ++kk)
                acc.add(in, std::max(0, -kk), std::min(w, w - kk), kk, k.wind[N + kk]);
            packMeans(reinterpret_cast<QRgb*>(acrossBits + y * acrossBpl), acc.red.data(), acc.green.data(),
                      acc.blue.data(), rowSums.data(), 1, w);
        }
    });
    // Along y: each output row sums whole rows of the first pass.
    const std::vector<double> colSums = windowSums(k, h);
    parallelFor(h, threads, [&](int lo, int hi) {
        LineSums acc(w);
        for (int y = lo; y < hi; ++y) {
            acc.clear();
            for (int kk = -N; kk <= N; ++kk)
                if (y + kk >= 0 && y + kk < h)
                    acc.add(reinterpret_cast<const QRgb*>(acrossBits + (y + kk) * acrossBpl), 0, w, 0,
                            k.wind[N + kk]);
            packMeans(reinterpret_cast<QRgb*>(downBits + y * downBpl), acc.red.data(), acc.green.data(),
                      acc.blue.data(), colSums.data() + y, 0, w);
        }
    });
    return down;
}
