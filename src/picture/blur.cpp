#include "picture/blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
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
    // The second pass writes into a copy of the first's picture, made here, so that no memory
    // for it means no picture rather than every pixel refused.
    if (!Temp.bits())
        return QImage();
    wash(curImage, &Temp, curImage.width(), curImage.height(), k.N, k.wind.data(), false);
    return curImage;
}

// On x86-64 the hot loops are also compiled for AVX2 and picked at run time; elsewhere once.
#if defined(__x86_64__) && defined(__GNUC__)
#define LUMIVEX_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#define LUMIVEX_WIDE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define LUMIVEX_AVX2_CLONES
#define LUMIVEX_WIDE_CLONES
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

// The channels of a row of pixels as doubles, apart: what the taps multiply.
struct Planes {
    std::vector<double> red, green, blue;
    explicit Planes(int width) : red(width), green(width), blue(width) {}
    void fill(const QRgb* in, int width) { split(in, width, red.data(), green.data(), blue.data()); }

private:
    LUMIVEX_AVX2_CLONES static void split(const QRgb* __restrict in, int width, double* __restrict red,
                                          double* __restrict green, double* __restrict blue)
    {
        for (int x = 0; x < width; ++x) {
            const QRgb c = in[x];
            red[x] = static_cast<int>((c >> 16) & 0xff);
            green[x] = static_cast<int>((c >> 8) & 0xff);
            blue[x] = static_cast<int>(c & 0xff);
        }
    }
};

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
    // Adds w times the channels src[x + shift] to the sums of every x in [from, to).
    void add(const Planes& src, int from, int to, int shift, double w)
    {
        addTap(red.data(), src.red.data(), shift, from, to, w);
        addTap(green.data(), src.green.data(), shift, from, to, w);
        addTap(blue.data(), src.blue.data(), shift, from, to, w);
    }

private:
    // Cloned for AVX2, picked at run time: the loop runs four pixels at a time there, with the
    // same multiplications and additions.
    LUMIVEX_AVX2_CLONES static void addTap(double* __restrict sum, const double* __restrict src, int shift, int from,
                                           int to, double w)
    {
        // Indexed, not offset: src + shift could point before the line, which C++ does not allow.
        for (int x = from; x < to; ++x)
            sum[x] = sum[x] + src[x + shift] * w;
    }
};

// The rows of the first pass as Planes, made when first asked for and kept while the rows
// around them are summed: `make(y, line)` writes row y of the first pass into `line`.
template <typename Make>
class PlaneRows {
public:
    PlaneRows(int width, int keep, Make make)
        : m_width(width), m_line(size_t(width)), m_rowOf(size_t(keep), -1), m_planes(size_t(keep), Planes(width)),
          m_make(make)
    {
    }
    const Planes& row(int y)
    {
        const size_t slot = size_t(y) % m_rowOf.size();
        if (m_rowOf[slot] != y) {
            m_make(y, m_line.data());
            m_planes[slot].fill(m_line.data(), m_width);
            m_rowOf[slot] = y;
        }
        return m_planes[slot];
    }

private:
    int m_width;
    std::vector<QRgb> m_line;
    std::vector<int> m_rowOf;
    std::vector<Planes> m_planes;
    Make m_make;
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

// The full window, all 2N + 1 taps inside the line, for every x in [from, to): tap t reads
// channel planes red[t], green[t], blue[t] at x + shift[t]. The sums are added in wash's order
// in registers, eight pixels at a time, and divided by the weights' sum `sum`. Cloned for
// AVX-512 too.
template <int Taps>
LUMIVEX_WIDE_CLONES void fullWindow(QRgb* __restrict out, const double* const* red, const double* const* green,
                                    const double* const* blue, const int* shift, const double* wind, double sum,
                                    int from, int to)
{
    constexpr int L = 8;
    typedef double V __attribute__((vector_size(8 * L)));
    typedef int Vi __attribute__((vector_size(4 * L)));
    int x = from;
    for (; x + L <= to; x += L) {
        V r = {}, g = {}, b = {};
        for (int t = 0; t < Taps; ++t) {
            V vr, vg, vb;
            std::memcpy(&vr, red[t] + x + shift[t], sizeof vr);
            std::memcpy(&vg, green[t] + x + shift[t], sizeof vg);
            std::memcpy(&vb, blue[t] + x + shift[t], sizeof vb);
            r = r + vr * wind[t];
            g = g + vg * wind[t];
            b = b + vb * wind[t];
        }
        const Vi ri = __builtin_convertvector(r / sum, Vi), gi = __builtin_convertvector(g / sum, Vi),
                 bi = __builtin_convertvector(b / sum, Vi);
        for (int l = 0; l < L; ++l)
            out[x + l] = 0xff000000u | ((static_cast<unsigned>(ri[l]) & 0xffu) << 16) |
                         ((static_cast<unsigned>(gi[l]) & 0xffu) << 8) | (static_cast<unsigned>(bi[l]) & 0xffu);
    }
    for (; x < to; ++x) {
        double r = 0, g = 0, b = 0;
        for (int t = 0; t < Taps; ++t) {
            r = r + red[t][x + shift[t]] * wind[t];
            g = g + green[t][x + shift[t]] * wind[t];
            b = b + blue[t][x + shift[t]] * wind[t];
        }
        out[x] = 0xff000000u | ((static_cast<unsigned>(static_cast<int>(r / sum)) & 0xffu) << 16) |
                 ((static_cast<unsigned>(static_cast<int>(g / sum)) & 0xffu) << 8) |
                 (static_cast<unsigned>(static_cast<int>(b / sum)) & 0xffu);
    }
}

// The nine-tap window of every blur (sigma 1) goes through fullWindow; another would take the
// running sums throughout.
constexpr int kTaps = 9;

QImage blurLines(const QImage& source, int threads)
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
    QImage down(w, h, QImage::Format_RGB32);
    // Not enough memory for the result: no picture rather than a crash.
    if (src.isNull() || down.isNull())
        return QImage();
    // Detach before the threads write.
    uchar* downBits = down.bits();
    const qsizetype downBpl = down.bytesPerLine();
    const bool nine = 2 * N + 1 == kTaps;
    const std::vector<double> rowSums = windowSums(k, w), colSums = windowSums(k, h);

    // Each thread blurs blocks of rows: the first pass (along x) of the rows a block reaches,
    // each row once, kept as planes of doubles, and the second (along y) from them. Blocks are
    // large, as the 2N rows around a block are passed along x twice.
    const int blocks = 2 * workerCount(threads);
    parallelFor(h, threads, [&](int lo, int hi) {
        LineSums acc(w);
        Planes in(w);
        const auto alongX = [&](int y, QRgb* out) {
            in.fill(reinterpret_cast<const QRgb*>(src.constScanLine(y)), w);
            // The ends of the row, where the window is cut, by running sums; the rest whole.
            const bool full = nine && w > 2 * N;
            const int inLo = full ? N : w, inHi = full ? w - N : w;
            acc.clear();
            for (int kk = -N; kk <= N; ++kk) {
                acc.add(in, std::max(0, -kk), std::min(inLo, w - kk), kk, k.wind[N + kk]);
                acc.add(in, std::max(inHi, -kk), std::min(w, w - kk), kk, k.wind[N + kk]);
            }
            packMeans(out, acc.red.data(), acc.green.data(), acc.blue.data(), rowSums.data(), 1, inLo);
            packMeans(out + inHi, acc.red.data() + inHi, acc.green.data() + inHi, acc.blue.data() + inHi,
                      rowSums.data() + inHi, 1, w - inHi);
            if (full) {
                const double* red[kTaps];
                const double* green[kTaps];
                const double* blue[kTaps];
                int shift[kTaps];
                for (int t = 0; t < kTaps; ++t) {
                    red[t] = in.red.data();
                    green[t] = in.green.data();
                    blue[t] = in.blue.data();
                    shift[t] = t - N;
                }
                fullWindow<kTaps>(out, red, green, blue, shift, k.wind.data(), rowSums[size_t(N)], inLo, inHi);
            }
        };
        PlaneRows<decltype(alongX)> rows(w, 2 * N + 1, alongX);
        LineSums sums(w);
        for (int y = lo; y < hi; ++y) {
            QRgb* out = reinterpret_cast<QRgb*>(downBits + y * downBpl);
            if (nine && y >= N && y + N < h) {
                const double* red[kTaps];
                const double* green[kTaps];
                const double* blue[kTaps];
                const int shift[kTaps] = {};
                for (int t = 0; t < kTaps; ++t) {
                    const Planes& p = rows.row(y + t - N);
                    red[t] = p.red.data();
                    green[t] = p.green.data();
                    blue[t] = p.blue.data();
                }
                fullWindow<kTaps>(out, red, green, blue, shift, k.wind.data(), colSums[size_t(y)], 0, w);
                continue;
            }
            sums.clear();
            for (int kk = -N; kk <= N; ++kk)
                if (y + kk >= 0 && y + kk < h)
                    sums.add(rows.row(y + kk), 0, w, 0, k.wind[N + kk]);
            packMeans(out, sums.red.data(), sums.green.data(), sums.blue.data(), colSums.data() + y, 0, w);
        }
    }, std::max(4 * N, (h + blocks - 1) / blocks));
    return down;
}

} // namespace

QImage blurImage(const QImage& source, int threads)
{
    // Not enough memory for a thread's lines: no picture rather than a crash.
    try {
        return blurLines(source, threads);
    } catch (const std::bad_alloc&) {
        return QImage();
    }
}
