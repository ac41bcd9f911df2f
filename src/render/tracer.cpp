#include "render/tracer.h"

#include <vector>

#include "render/distancefield.h"
#include "render/fastfield.h"
#include "render/lighting.h"
#include "render/parallel.h"

Vector3D screenPoint(int i, int j, int wid, int hey)
{
    // Integer halves, then double arithmetic, stored as float.
    return Vector3D(static_cast<float>(static_cast<double>(i - wid / 2) / wid * 4.0),
                    static_cast<float>(static_cast<double>(j - hey / 2) / hey * 3.0), 0.0f);
}

namespace {

// One pixel's march, with `field(temp, &numObj, b, hint)` standing for countMinDist.
template <typename Field>
Vector3D march(const Scene& scene, int i, int j, const Field& field)
{
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    const Vector3D PixOnScreen = screenPoint(i, j, scene.Wid, scene.Hey);
    Vector3D RayCol(1.0f, 1.0f, 1.0f);
    const Ray Rayij(PixOnScreen, scene.CamPos);
    const Vector3D D = Rayij.GetDir();
    Vector3D temp = scene.CamPos;
    bool b[5] = {true, true, true, true, true};
    int cola = 0;
    int numObj = 1;
    Vector3D acc;
    do {
        const float len = field(temp, &numObj, b, numObj);
        // The step comes before the hit test, so a hit may step back by a negative distance.
        temp += D * len;
        if (len <= W1) {
            ++cola;
            // The screen point plus the way marched: on the ray, beyond the marching point.
            const Vector3D Dist = (temp - scene.CamPos) + PixOnScreen;
            const Mater& M = scene.materialOf(numObj);
            const Vector3D Col(M.Colour.X * RayCol.X * 255.0f, M.Colour.Y * RayCol.Y * 255.0f,
                               M.Colour.Z * RayCol.Z * 255.0f);
            Vector3D Colour;
            Colour += countLites(Dist, Col, M.Specular, scene.Light1);
            Colour += countLites(Dist, Col, M.Specular, scene.Light2);
            if (Colour.X > 255.0f)
                Colour.X = 255.0f;
            if (Colour.Y > 255.0f)
                Colour.Y = 255.0f;
            if (Colour.Z > 255.0f)
                Colour.Z = 255.0f;
            acc += Colour;
            RayCol = Vector3D((1.0f - M.Reflectivity.X) * RayCol.X, (1.0f - M.Reflectivity.Y) * RayCol.Y,
                              (1.0f - M.Reflectivity.Z) * RayCol.Z);
            // Each object is met at most once per pixel.
            b[numObj - 1] = false;
        }
    } while (field.inside(temp) && (RayCol.X != 0.0f || RayCol.Y != 0.0f || RayCol.Z != 0.0f) && cola <= 4);
    return acc;
}

// The plain field: countMinDist itself and the Length() test of the march.
struct PlainField {
    const Scene& scene;
    float operator()(const Vector3D& p, int* numObj, const bool b[5], int) const
    {
        return countMinDist(scene, p, numObj, b[0], b[1], b[2], b[3], b[4]);
    }
    static bool inside(const Vector3D& p) { return p.Length() < 30.0f; }
};

struct FastField {
    CullingField field;
    float operator()(const Vector3D& p, int* numObj, const bool b[5], int hint) const
    {
        return field(p, numObj, b, hint);
    }
    static bool inside(const Vector3D& p)
    {
        // Decided from the float sum of squares where it is clear; the root only near 30.
        const float sq = p.SqrLen();
        if (sq < 899.99f)
            return true;
        if (sq > 900.01f)
            return false;
        return p.Length() < 30.0f;
    }
};

} // namespace

Vector3D tracePixel(const Scene& scene, int i, int j)
{
    return march(scene, i, j, PlainField{scene});
}

Vector3D tracePixelFast(const Scene& scene, int i, int j)
{
    return march(scene, i, j, FastField{CullingField(scene)});
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
    const FastField field{CullingField(scene)};
    // Pixels are independent: columns are shared out over the threads.
    parallelFor(scene.Wid, options.threads, [&](int lo, int hi) {
        for (int i = lo; i < hi; ++i)
            for (int j = 0; j < hey; ++j)
                reinterpret_cast<QRgb*>(bits + j * bpl)[i] = packColour(march(scene, i, j, field));
    });
}

QImage render(const Scene& scene, const RenderOptions& options)
{
    QImage img(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    renderInto(scene, img, options);
    return img;
}
