#include "render/distancefield.h"

#include <cmath>

namespace {

// The squares of float differences are exact in double, so this equals pow(x, 2).
double square(float x)
{
    return static_cast<double>(x) * static_cast<double>(x);
}

double pow8(float x)
{
    return std::pow(static_cast<double>(x), 8.0);
}

double root8(double x)
{
    return std::sqrt(std::sqrt(std::sqrt(x)));
}

} // namespace

float sphereDistance(const Sphere& s, const Vector3D& p)
{
    return (s.GetPos() - p).Length() - s.GetRad();
}

float roundThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    const float dx = p.X - c.X, dy = p.Y - c.Y, dz = p.Z - c.Z;
    float q = static_cast<float>(std::sqrt(square(dx) + square(dy)));
    q = q - t.GetRad();
    return static_cast<float>(std::sqrt(square(q) + square(dz)) - static_cast<double>(t.GetWid()));
}

float squareTubeThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    const float dx = p.X - c.X, dy = p.Y - c.Y, dz = p.Z - c.Z;
    float q = static_cast<float>(std::sqrt(square(dx) + square(dy)));
    q = q - t.GetRad();
    return static_cast<float>(root8(pow8(q) + pow8(dz)) - static_cast<double>(t.GetWid()));
}

float squareThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    const float dx = p.X - c.X, dy = p.Y - c.Y, dz = p.Z - c.Z;
    float q = static_cast<float>(root8(pow8(dx) + pow8(dy)));
    q = q - t.GetRad();
    return static_cast<float>(root8(pow8(q) + pow8(dz)) - static_cast<double>(t.GetWid()));
}

float countMinDist(const Scene& scene, Vector3D temp, int* numObj, bool b1, bool b2, bool b3, bool b4,
                   bool b5)
{
    float cand[5] = {kFarAway, kFarAway, kFarAway, kFarAway, kFarAway};
    if (b1)
        cand[0] = sphereDistance(scene.Sphere1, temp);
    if (b2)
        cand[1] = sphereDistance(scene.Sphere2, temp);
    if (b3)
        cand[2] = roundThorDistance(scene.Thor1, temp);
    if (b4)
        cand[3] = squareTubeThorDistance(scene.Thor2, temp);
    if (b5)
        cand[4] = squareThorDistance(scene.Thor3, temp);

    float best = cand[0];
    *numObj = 1;
    for (int k = 1; k < 5; ++k) {
        // Strictly greater: on a tie the lower index keeps the win.
        if (best > cand[k]) {
            best = cand[k];
            *numObj = k + 1;
        }
    }
    return best;
}
