#include "render/tracer.h"

#include <vector>

#include "render/distancefield.h"
#include "render/fastfield.h"
#include "render/lanefield.h"
#include "render/march.h"
#include "render/parallel.h"

Vector3D screenPoint(int i, int j, int wid, int hey)
{
    // Integer halves, then double arithmetic, stored as float.
    return Vector3D(static_cast<float>(static_cast<double>(i - wid / 2) / wid * 4.0),
                    static_cast<float>(static_cast<double>(j - hey / 2) / hey * 3.0), 0.0f);
}

Vector3D tracePixel(const Scene& scene, int i, int j)
{
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    PixelState px;
    px.begin(scene, i, j);
    int numObj = 1;
    float len;
    do
        len = countMinDist(scene, px.temp, &numObj, px.b[0], px.b[1], px.b[2], px.b[3], px.b[4]);
    while (px.advance<false>(scene, W1, len, numObj));
    return px.acc;
}

Vector3D tracePixelFast(const Scene& scene, int i, int j)
{
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    const CullingField field(scene);
    PixelState px;
    px.begin(scene, i, j);
    int numObj = 1;
    float len;
    do
        len = field(px.temp, &numObj, px.b);
    while (px.advance<true>(scene, W1, len, numObj));
    return px.acc;
}

namespace {

int packChannel(float v)
{
    if (!(v > 0.0f)) // also not-a-number
        return 0;
    if (v > 255.0f)
        return 255;
    return static_cast<int>(v);
}

} // namespace

QRgb packColour(const Vector3D& c)
{
    return qRgb(packChannel(c.X), packChannel(c.Y), packChannel(c.Z));
}

void renderReference(const Scene& scene, QImage& target)
{
    const int wid = scene.Wid, hey = scene.Hey;
    // One buffer per column, as the picture is traced column by column.
    std::vector<std::vector<Vector3D>> RGBCol(wid, std::vector<Vector3D>(hey));
    for (int i = 0; i < wid; ++i)
        for (int j = 0; j < hey; ++j)
            RGBCol[i][j] += tracePixel(scene, i, j);
    for (int i = 0; i < wid; ++i)
        for (int j = 0; j < hey; ++j)
            target.setPixel(i, j, packColour(RGBCol[i][j]));
}

namespace {

// Traces pixels column by column, kLanes at a time on the vector unit, in packets of `width`
// neighbouring pixels. The lanes march on their own between events; at an event (a hit, the end
// of a march) the lane's step is taken here, one pixel at a time.
void renderColumnsInLanes(const Scene& scene, uchar* bits, qsizetype bpl, int colLo, int colHi, int width)
{
    const int hey = scene.Hey;
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    LaneBlock blk;
    PixelState st[kLanes];
    int pi[kLanes], pj[kLanes];
    int nextI = colLo, nextJ = 0;
    const auto sync = [&](int l) {
        blk.x[l] = st[l].temp.X;
        blk.y[l] = st[l].temp.Y;
        blk.z[l] = st[l].temp.Z;
        for (int k = 0; k < 5; ++k) {
            blk.on[l][k] = st[l].b[k];
            blk.onMask[k][l] = st[l].b[k] ? -1 : 0;
        }
    };
    const auto take = [&](int l) {
        blk.live[l] = nextI < colHi;
        blk.liveMask[l] = blk.live[l] ? -1 : 0;
        if (!blk.live[l])
            return;
        pi[l] = nextI;
        pj[l] = nextJ;
        st[l].begin(scene, nextI, nextJ);
        blk.dx[l] = st[l].D.X;
        blk.dy[l] = st[l].D.Y;
        blk.dz[l] = st[l].D.Z;
        sync(l);
        if (++nextJ == hey) {
            nextJ = 0;
            ++nextI;
        }
    };
    for (int l = 0; l < kLanes; ++l) {
        blk.live[l] = false;
        blk.liveMask[l] = 0;
    }
    for (;;) {
        bool any = false;
        for (int base = 0; base < kLanes; base += width) {
            int first = -1;
            for (int l = base; l < base + width && first < 0; ++l)
                if (blk.live[l])
                    first = l;
            if (first < 0) {
                // A packet takes new pixels only once all of its rays are done, so that its
                // lanes stay close together and an object far from all of them can be skipped.
                for (int l = base; l < base + width; ++l)
                    take(l);
                for (int l = base; l < base + width && first < 0; ++l)
                    if (blk.live[l])
                        first = l;
                if (first < 0)
                    continue;
            }
            any = true;
            for (int l = base; l < base + width; ++l) {
                if (blk.live[l])
                    continue;
                // Idle lanes repeat a live one of their packet; their events are not looked at.
                blk.x[l] = blk.x[first];
                blk.y[l] = blk.y[first];
                blk.z[l] = blk.z[first];
                blk.dx[l] = blk.dx[first];
                blk.dy[l] = blk.dy[first];
                blk.dz[l] = blk.dz[first];
                for (int k = 0; k < 5; ++k) {
                    blk.on[l][k] = blk.on[first][k];
                    blk.onMask[k][l] = blk.onMask[k][first];
                }
            }
        }
        if (!any)
            return;
        marchLanes(scene, blk, W1, width);
        for (int l = 0; l < kLanes; ++l) {
            if (!blk.live[l] || !blk.event[l])
                continue;
            st[l].temp = Vector3D(blk.x[l], blk.y[l], blk.z[l]);
            if (st[l].advance<true>(scene, W1, blk.len[l], blk.numObj[l])) {
                sync(l);
                continue;
            }
            reinterpret_cast<QRgb*>(bits + pj[l] * bpl)[pi[l]] = packColour(st[l].acc);
            blk.live[l] = false;
            blk.liveMask[l] = 0;
        }
    }
}

} // namespace

void renderInto(const Scene& scene, QImage& target, const RenderOptions& options)
{
    if (options.reference) {
        renderReference(scene, target);
        return;
    }
    const int hey = scene.Hey;
    // Detach once here: the workers must not each detach a shared image.
    uchar* bits = target.bits();
    const qsizetype bpl = target.bytesPerLine();
    const int widest = laneWidthAvailable();
    int width = widest;
    if (options.lanes == 1)
        width = 0;
    else if (options.lanes == 4 && widest >= 4)
        width = 4;
    // Pixels are independent: columns are shared out over the threads.
    parallelFor(scene.Wid, options.threads, [&](int lo, int hi) {
        if (width > 0) {
            renderColumnsInLanes(scene, bits, bpl, lo, hi, width);
            return;
        }
        for (int i = lo; i < hi; ++i)
            for (int j = 0; j < hey; ++j)
                reinterpret_cast<QRgb*>(bits + j * bpl)[i] = packColour(tracePixelFast(scene, i, j));
    });
}

QImage render(const Scene& scene, const RenderOptions& options)
{
    QImage img(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    renderInto(scene, img, options);
    return img;
}
