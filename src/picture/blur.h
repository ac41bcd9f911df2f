#pragma once

#include <QImage>
#include <vector>

// The nine-tap Gaussian window (sigma 1 pixel), not normalised: the centre weight is 1.
struct BlurKernel {
    int N = 0;                // half-width
    std::vector<double> wind; // 2N + 1 weights, entry N is the centre
};
BlurKernel makeBlurKernel();

// One pass of the blur, read from `curImage` and written into `Temp` (koef1 lines of koef2
// pixels; `a` true runs along x). Near a border the window is cut and divided by the weights
// that remain; each channel is truncated. Afterwards `curImage` is assigned `Temp`.
// Reads and writes single pixels: the reference for blurImage.
void wash(QImage& curImage, QImage* Temp, int koef1, int koef2, int N, const double* wind, bool a);

// The straightforward blur: a horizontal then a vertical wash through QImage::pixel/setPixel.
QImage blurReference(const QImage& source);

// The same picture as blurReference, bit for bit, working on whole scan lines over `threads`
// threads (0: every core). The result is in QImage::Format_RGB32; a null image when there is
// not enough memory for it.
QImage blurImage(const QImage& source, int threads = 0);
