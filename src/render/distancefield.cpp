#include "render/distancefield.h"

#include <cmath>

#include "render/pow8.h"

namespace {

double libraryPow8(float x)
{
    return std::pow(static_cast<double>(x), 8.0);
}

} // namespace

using namespace thorshapes;

float sphereDistance(const Sphere& s, const Vector3D& p)
{
    return (s.GetPos() - p).Length() - s.GetRad();
}

float roundThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    return roundTube(t, roundRing(t, p.X - c.X, p.Y - c.Y), p.Z - c.Z);
}

float squareTubeThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    return squareTube(t, roundRing(t, p.X - c.X, p.Y - c.Y), p.Z - c.Z, libraryPow8);
}

float squareThorDistance(const Thor& t, const Vector3D& p)
{
    const Vector3D c = t.GetPosCen();
    return squareTube(t, squareRing(t, p.X - c.X, p.Y - c.Y, libraryPow8), p.Z - c.Z, libraryPow8);
}

float objectDistance(const Scene& s, int k, const Vector3D& p)
{
    switch (k) {
    case 0: return sphereDistance(s.Sphere1, p);
    case 1: return sphereDistance(s.Sphere2, p);
    case 2: return roundThorDistance(s.Thor1, p);
    case 3: {
        const Thor& t = s.Thor2;
        return squareTube(t, roundRing(t, p.X - t.PosCen.X, p.Y - t.PosCen.Y), p.Z - t.PosCen.Z, pow8);
    }
    default: {
        const Thor& t = s.Thor3;
        return squareTube(t, squareRing(t, p.X - t.PosCen.X, p.Y - t.PosCen.Y, pow8), p.Z - t.PosCen.Z, pow8);
    }
    }
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

    return nearestOf(cand, numObj);
}

float nearestOf(const float cand[5], int* numObj)
{
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
