#include "picture/supersample.h"

#include <algorithm>
#include <new>
#include <vector>

#include "picture/blur.h"

namespace {

// Rays a band holds at most (16 MB of picture), unless a single row of blocks is larger.
constexpr qint64 kBandRays = qint64(1) << 22;

bool sizeAllowed(const Scene& scene, int k)
{
    const auto side = [](int v) { return v >= kMinPictureSide && v <= kMaxPictureSide; };
    return k >= 1 && k <= kMaxSupersample && side(scene.Wid) && side(scene.Hey);
}

// Finished rows a band holds: all of them for k = 1, which is rendered whole.
int bandRows(const Scene& scene, int k)
{
    if (k == 1)
        return scene.Hey;
    const qint64 blockRow = qint64(k) * k * scene.Wid;
    return int(std::clamp<qint64>(kBandRays / blockRow, 1, scene.Hey));
}

} // namespace

bool reduceBlocks(const QImage& band, int k, QImage& out, int outRow)
{
    if (k < 1 || band.depth() != 32 || out.depth() != 32 || band.height() % k != 0 ||
        qint64(out.width()) * k != band.width() || outRow < 0 || outRow > out.height() - band.height() / k)
        return false;
    const int rows = band.height() / k, wid = out.width();
    const int area = k * k;
    std::vector<int> sums(size_t(wid) * 3);
    for (int r = 0; r < rows; ++r) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int dy = 0; dy < k; ++dy) {
            const QRgb* in = reinterpret_cast<const QRgb*>(band.constScanLine(r * k + dy));
            for (int x = 0; x < wid; ++x) {
                int* s = &sums[size_t(x) * 3];
                for (int dx = 0; dx < k; ++dx) {
                    const QRgb c = in[x * k + dx];
                    s[0] += qRed(c);
                    s[1] += qGreen(c);
                    s[2] += qBlue(c);
                }
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(outRow + r));
        for (int x = 0; x < wid; ++x) {
            const int* s = &sums[size_t(x) * 3];
            // Rounded to the nearest level, halves up.
            line[x] = qRgb((s[0] + area / 2) / area, (s[1] + area / 2) / area, (s[2] + area / 2) / area);
        }
    }
    return true;
}

int pictureColumns(const Scene& scene, const PictureSettings& settings)
{
    const int k = settings.supersample;
    if (!sizeAllowed(scene, k))
        return 0;
    const int rows = bandRows(scene, k);
    const int bands = (scene.Hey + rows - 1) / rows;
    return bands * k * scene.Wid;
}

QImage blurPicture(const QImage& picture, const RenderOptions& options)
{
    return options.reference ? blurReference(picture) : blurImage(picture, options.threads);
}

PictureResult makePicture(const Scene& scene, const PictureSettings& settings, const RenderOptions& options,
                          QImage& picture, QString* why)
{
    const int k = settings.supersample;
    if (!sizeAllowed(scene, k)) {
        if (why)
            *why = QStringLiteral("cannot render a %1 x %2 picture with %3 x %3 rays a pixel")
                       .arg(scene.Wid)
                       .arg(scene.Hey)
                       .arg(k);
        return PictureResult::Refused;
    }
    const auto noMemory = [&](const char* doing) {
        if (why)
            *why = QStringLiteral("not enough memory %1 a %2 x %3 picture").arg(doing).arg(scene.Wid).arg(scene.Hey);
        return PictureResult::NoMemory;
    };
    if (picture.format() != QImage::Format_ARGB32 || picture.size() != QSize(scene.Wid, scene.Hey)) {
        picture = QImage();
        picture = QImage(scene.Wid, scene.Hey, QImage::Format_ARGB32);
        if (picture.isNull())
            return noMemory("for");
    }
    // The plain path keeps a colour buffer of 12 bytes a ray besides the picture.
    RenderOptions whole = options;
    whole.firstRow = 0;
    try {
        if (k == 1) {
            if (!renderInto(scene, picture, whole))
                return PictureResult::Stopped;
        } else {
            // The screen keeps its place: k times the rays along each side cover it more finely.
            Scene fine = scene;
            fine.Wid = k * scene.Wid;
            fine.Hey = k * scene.Hey;
            const int rows = bandRows(scene, k);
            QImage band;
            RenderOptions bandOptions = whole;
            for (int row = 0; row < scene.Hey; row += rows) {
                const int n = std::min(rows, scene.Hey - row);
                if (band.height() != n * k) {
                    band = QImage();
                    band = QImage(fine.Wid, n * k, QImage::Format_ARGB32);
                    if (band.isNull())
                        return noMemory("to render");
                }
                bandOptions.firstRow = row * k;
                if (!renderInto(fine, band, bandOptions))
                    return PictureResult::Stopped;
                if (!reduceBlocks(band, k, picture, row)) {
                    if (why)
                        *why = QStringLiteral("cannot reduce a band of %1 x %2 rays to rows %3 of a %4 x %5 picture")
                                   .arg(band.width())
                                   .arg(band.height())
                                   .arg(row)
                                   .arg(picture.width())
                                   .arg(picture.height());
                    return PictureResult::Refused;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return noMemory("to render");
    }
    if (settings.blur) {
        if (options.cancel && options.cancel->load())
            return PictureResult::Stopped;
        picture = blurPicture(picture, options);
        if (picture.isNull())
            return noMemory("to blur");
    }
    return PictureResult::Whole;
}
