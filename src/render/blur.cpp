#include "render/blur.h"

#include <cmath>

#include "render/parallel.h"

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
    wash(curImage, &Temp, curImage.height(), curImage.width(), k.N, k.wind.data(), true);
    wash(curImage, &Temp, curImage.width(), curImage.height(), k.N, k.wind.data(), false);
    return curImage;
}

namespace {

// One pass over packed pixels: `len` pixels per line, `step` apart along a line, lines `stride`
// apart. The sums run in the same order as wash, so every quotient is the same double.
void washLines(const QRgb* src, QRgb* dst, int firstLine, int lastLine, int len, qsizetype step,
               qsizetype stride, const BlurKernel& k, const std::vector<double>& sums)
{
    const int N = k.N;
    const double* wind = k.wind.data();
    for (int i = firstLine; i < lastLine; ++i) {
        const QRgb* line = src + i * stride;
        QRgb* out = dst + i * stride;
        for (int j = 0; j < len; ++j) {
            const int kLo = j - N < 0 ? -j : -N;
            const int kHi = j + N >= len ? len - 1 - j : N;
            double red = 0, green = 0, blue = 0;
            for (int kk = kLo; kk <= kHi; ++kk) {
                const QRgb c = line[(j + kk) * step];
                const double w = wind[N + kk];
                red = red + qRed(c) * w;
                green = green + qGreen(c) * w;
                blue = blue + qBlue(c) * w;
            }
            const double sum = sums[j];
            out[j * step] = qRgb(static_cast<int>(red / sum), static_cast<int>(green / sum),
                                 static_cast<int>(blue / sum));
        }
    }
}

// The weight sums per position of a line of `len` pixels, added in tap order.
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

} // namespace

QImage blurImage(const QImage& source, int threads)
{
    const int w = source.width(), h = source.height();
    if (w <= 0 || h <= 0)
        return source.convertToFormat(QImage::Format_RGB32);
    const BlurKernel k = makeBlurKernel();
    // The alpha byte is ignored, so the 32-bit pixels can be read as they are.
    QImage src = (source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32)
                     ? source
                     : source.convertToFormat(QImage::Format_RGB32);
    // Lines of the source and of both results must share one stride.
    if (src.bytesPerLine() != qsizetype(w) * 4)
        src = src.copy();
    QImage across(w, h, QImage::Format_RGB32);
    QImage down(w, h, QImage::Format_RGB32);
    const qsizetype stride = src.bytesPerLine() / 4;
    const QRgb* s = reinterpret_cast<const QRgb*>(src.constBits());
    QRgb* a = reinterpret_cast<QRgb*>(across.bits());
    QRgb* d = reinterpret_cast<QRgb*>(down.bits());
    const qsizetype strideA = across.bytesPerLine() / 4;

    const std::vector<double> rowSums = windowSums(k, w);
    // Rows and columns are independent within a pass; the scan-line strides match since all
    // three images are 32-bit and of one width.
    parallelFor(h, threads, [&](int lo, int hi) { washLines(s, a, lo, hi, w, 1, stride, k, rowSums); });
    const std::vector<double> colSums = windowSums(k, h);
    parallelFor(w, threads, [&](int lo, int hi) { washLines(a, d, lo, hi, h, strideA, 1, k, colSums); });
    return down;
}
