#include "render/tracer.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "render/distancefield.h"
#include "render/culledfield.h"
#include "render/raybounds.h"
#include "render/lanes.h"
#include "render/pixelmarch.h"
#include "render/threadpool.h"

using bounds::kMinRetest;

namespace {

// Pixels in a band of rows rendered at once.
constexpr int kBandPixels = 1 << 20;

} // namespace

Vector3D screenPoint(int i, int j, int wid, int hey)
{
    // Integer halves, then double arithmetic, stored as float.
    return Vector3D(static_cast<float>(static_cast<double>(i - wid / 2) / wid * 4.0),
                    static_cast<float>(static_cast<double>(j - hey / 2) / hey * 3.0), 0.0f);
}

Vector3D tracePixel(const Scene& scene, int i, int j, long long* evaluations)
{
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    PixelState px;
    px.begin(scene, i, j);
    int numObj = 1;
    float len;
    long long n = 0;
    do {
        len = countMinDist(scene, px.temp, &numObj, px.b[0], px.b[1], px.b[2], px.b[3], px.b[4]);
        ++n;
    } while (px.advance<false>(scene, W1, len, numObj));
    if (evaluations)
        *evaluations += n;
    return px.acc;
}

namespace {

// The fast march of one pixel, shared by tracePixelFast and the scalar render path.
Vector3D marchFast(const Scene& scene, const CullingField& field, const ClearanceTest* clearance, int i, int j,
                   unsigned may, long long& evaluations)
{
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    PixelState px;
    px.begin(scene, i, j);
    int numObj = 1;
    // The way marched, and the way at which the next clearance test is due: at the start, after
    // each hit, and where the last test said one may succeed.
    double travel = 0, retestAt = 0;
    for (;;) {
        if (clearance && travel >= retestAt) {
            const Clearance c = (*clearance)(px.temp, px.D, px.b, may);
            if (c.clear)
                break;
            retestAt = travel + std::max(c.retestAt, kMinRetest);
            // The tile's word holds at the camera only.
            may = 0x1f;
        }
        const float len = field(px.temp, &numObj, px.b);
        ++evaluations;
        if (!px.advance<true>(scene, W1, len, numObj))
            break;
        travel += len;
        if (len <= W1)
            retestAt = travel;
    }
    return px.acc;
}

} // namespace

Vector3D tracePixelFast(const Scene& scene, int i, int j, bool earlyExit, long long* evaluations)
{
    const CullingField field(scene);
    const ClearanceTest clearance(scene);
    long long n = 0;
    const Vector3D c = marchFast(scene, field, earlyExit ? &clearance : nullptr, i, j, 0x1f, n);
    if (evaluations)
        *evaluations += n;
    return c;
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

void renderReference(const Scene& scene, QImage& target, long long* evaluations, int firstRow)
{
    const int wid = scene.Wid, rows = target.height();
    // One buffer per column, as the picture is traced column by column.
    std::vector<std::vector<Vector3D>> RGBCol(wid, std::vector<Vector3D>(rows));
    for (int i = 0; i < wid; ++i)
        for (int j = 0; j < rows; ++j)
            RGBCol[i][j] += tracePixel(scene, i, firstRow + j, evaluations);
    for (int i = 0; i < wid; ++i)
        for (int j = 0; j < rows; ++j)
            target.setPixel(i, j, packColour(RGBCol[i][j]));
}

namespace {

// Where the pixels of a band of rows go: picture row j is the target's row j - first.
struct BandTarget {
    uchar* bits;
    qsizetype bpl;
    int first, end; // picture rows [first, end)

    QRgb* row(int j) const { return reinterpret_cast<QRgb*>(bits + (j - first) * bpl); }
};

// The pixels of columns [colLo, colHi) of a band, tile by tile (kTile columns by kTile rows),
// column by column within a tile. With a clearance test, tiles whose rays from the camera
// provably meet nothing are painted black on the way and not handed out.
class PixelWalk {
public:
    PixelWalk(const Scene& scene, const ClearanceTest* clearance, const BandTarget& out, int colLo, int colHi)
        : m_scene(scene), m_clearance(clearance), m_out(out), m_colHi(colHi), m_x0(colLo), m_x1(colLo),
          m_y0(out.first), m_y1(out.end), m_i(colLo), m_j(out.end)
    {
    }

    // The next pixel to trace and the objects its ray may meet; false when there is none left.
    bool next(int& i, int& j, unsigned& may)
    {
        while (m_j == m_y1) {
            // Next column of the tile, else the next tile down, else the next column of tiles.
            if (++m_i < m_x1) {
                m_j = m_y0;
                break;
            }
            if (m_y1 < m_out.end) {
                m_y0 = m_y1;
            } else {
                if (m_x1 >= m_colHi)
                    return false;
                m_x0 = m_x1;
                m_x1 = std::min(m_colHi, m_x0 + kTile);
                m_y0 = m_out.first;
            }
            m_y1 = std::min(m_out.end, m_y0 + kTile);
            m_i = m_x0;
            m_j = m_y0;
            m_may = mayMeet();
            if (m_may == 0) {
                const QRgb black = packColour(Vector3D());
                for (int y = m_y0; y < m_y1; ++y)
                    std::fill_n(m_out.row(y) + m_x0, m_x1 - m_x0, black);
                m_i = m_x1;
                m_j = m_y1;
            }
        }
        i = m_i;
        j = m_j++;
        may = m_may;
        return true;
    }

private:
    unsigned mayMeet() const
    {
        if (!m_clearance)
            return 0x1f;
        const Vector3D lo = screenPoint(m_x0, m_y0, m_scene.Wid, m_scene.Hey);
        const Vector3D hi = screenPoint(m_x1 - 1, m_y1 - 1, m_scene.Wid, m_scene.Hey);
        return m_clearance->mayMeetFromCamera(lo.X, hi.X, lo.Y, hi.Y);
    }

    const Scene& m_scene;
    const ClearanceTest* m_clearance;
    BandTarget m_out;
    int m_colHi;
    // The current tile [m_x0, m_x1) x [m_y0, m_y1), the pixel after the last one handed out,
    // and the objects the tile's rays may meet.
    int m_x0, m_x1, m_y0, m_y1, m_i, m_j;
    unsigned m_may = 0x1f;
};

// The screen points of a band: X depends on the column alone and Y on the row alone, so each
// is worked out once per render. y[j - first] belongs to picture row j.
struct ScreenTables {
    std::vector<float> x, y;
    int first;
    ScreenTables(const Scene& scene, const BandTarget& band)
        : x(size_t(scene.Wid)), y(size_t(band.end - band.first)), first(band.first)
    {
        for (int i = 0; i < scene.Wid; ++i)
            x[size_t(i)] = screenPoint(i, 0, scene.Wid, scene.Hey).X;
        for (int j = band.first; j < band.end; ++j)
            y[size_t(j - first)] = screenPoint(0, j, scene.Wid, scene.Hey).Y;
    }
    float atRow(int j) const { return y[size_t(j - first)]; }
};

} // namespace

bool renderInto(const Scene& scene, QImage& target, const RenderOptions& options)
{
    const int rows = target.height();
    if (target.depth() != 32 || target.width() != scene.Wid || rows < 1 || options.firstRow < 0 ||
        options.firstRow > scene.Hey - rows)
        return false;
    if (options.reference) {
        long long n = 0;
        renderReference(scene, target, &n, options.firstRow);
        if (options.stats)
            options.stats->evaluations += n;
        if (options.columnsDone)
            *options.columnsDone += scene.Wid;
        return true;
    }
    // Detach once here: the workers must not each detach a shared image.
    uchar* bits = target.bits();
    const BandTarget out{bits, target.bytesPerLine(), options.firstRow, options.firstRow + rows};
    const int width = laneWidthChosen(options.lanes, laneWidthAvailable());
    const CullingField field(scene);
    const ClearanceTest clearanceTest(scene);
    const ClearanceTest* clearance = options.earlyExit ? &clearanceTest : nullptr;
    const ScreenTables screen(scene, out);
    // Pixels are independent: columns are shared out over the threads in strips of 16, cut where
    // the rows' 64-byte memory lines begin, so that two threads never write into one line; each
    // thread works through neighbouring strips, as threads writing neighbouring lines slow each
    // other down (by 10% on a frame where every ray misses).
    const int lineCols = 16;
    const int skew = static_cast<int>((reinterpret_cast<quintptr>(bits) % 64) / 4);
    const int count = (scene.Wid + skew + lineCols - 1) / lineCols;
    // A tall picture is done a band of rows after another, each shared out over the threads: the
    // rows a thread works in then stay in the caches and the address translation buffers (an
    // 8192 x 8192 picture takes 7% less time so).
    const int bandRows = std::max(kTile, (kBandPixels / std::max(1, scene.Wid)) / kTile * kTile);
    std::atomic<bool> stopped{false};
    for (int b0 = out.first; b0 < out.end && !stopped; b0 += bandRows) {
        const int b1 = std::min(out.end, b0 + bandRows);
        const BandTarget band{out.bits + (b0 - out.first) * out.bpl, out.bpl, b0, b1};
        parallelForRuns(count, options.threads, [&](int first, int last) {
            if (options.cancel && options.cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                return;
            }
            const int lo = std::max(0, first * lineCols - skew), hi = std::min(scene.Wid, last * lineCols - skew);
            long long n = 0;
            if (width != 0) {
                LaneStrip strip;
                strip.scene = &scene;
                strip.clearance = clearance;
                strip.screenX = screen.x.data();
                strip.screenY = screen.y.data() + (b0 - out.first);
                strip.bits = band.bits;
                strip.bpl = band.bpl;
                strip.firstRow = band.first;
                strip.endRow = band.end;
                strip.colLo = lo;
                strip.colHi = hi;
                n = renderStripInLanes(strip, width);
            } else {
                PixelWalk walk(scene, clearance, band, lo, hi);
                int i, j;
                unsigned may;
                while (walk.next(i, j, may))
                    band.row(j)[i] = packColour(marchFast(scene, field, clearance, i, j, may, n));
            }
            if (options.stats)
                options.stats->evaluations += n;
            // Each band's share of the strip's columns, so that they add up to the strip once.
            if (options.columnsDone)
                *options.columnsDone += int(qint64(hi - lo) * (b1 - out.first) / rows) -
                                        int(qint64(hi - lo) * (b0 - out.first) / rows);
        });
    }
    return !stopped;
}

QImage render(const Scene& scene, const RenderOptions& options)
{
    QImage img(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    renderInto(scene, img, options);
    return img;
}
