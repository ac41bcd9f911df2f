#pragma once

#include <cmath>

#include "scene/scene.h"

// Distance candidate of an object that takes no part in the measurement.
constexpr float kFarAway = 1000000.0f;

// Signed distance from `temp` to the nearest of the enabled objects (b1 Sphere1, b2 Sphere2,
// b3 Thor1, b4 Thor2, b5 Thor3); negative inside. `*numObj` receives that object's index 1..5;
// a disabled object counts as 1000000 and equal candidates go to the lowest index.
float countMinDist(const Scene& scene, Vector3D temp, int* numObj, bool b1, bool b2, bool b3, bool b4,
                   bool b5);

// The choice of countMinDist among five candidates: the smallest, the lowest index on a tie;
// a not-a-number candidate never replaces another (but stays if it comes first).
float nearestOf(const float cand[5], int* numObj);

// The candidate distances of single objects, as countMinDist computes them.
float sphereDistance(const Sphere& s, const Vector3D& p);
// Thor1's shape: circular ring, circular tube.
float roundThorDistance(const Thor& t, const Vector3D& p);
// Thor2's shape: circular ring, tube measured with the eighth-power norm.
float squareTubeThorDistance(const Thor& t, const Vector3D& p);
// Thor3's shape: eighth-power norm in the ring's plane and across the tube.
float squareThorDistance(const Thor& t, const Vector3D& p);

// The candidate of object k (0 Sphere1 .. 4 Thor3) at p, with the exact eighth power of pow8.h:
// bit for bit the candidate countMinDist computes, in a fraction of its time.
float objectDistance(const Scene& scene, int k, const Vector3D& p);

// The torus formulas, written once for any eighth-power function `Pow8(float) -> double` that
// returns pow(x, 8.0): the plain field passes the library's pow, the fast field an exact
// equivalent.
namespace thorshapes {

// The squares of float differences are exact in double, so this equals pow(x, 2).
inline double square(float x)
{
    return static_cast<double>(x) * static_cast<double>(x);
}

inline double root8(double x)
{
    return std::sqrt(std::sqrt(std::sqrt(x)));
}

// Circular ring: the in-plane term q, stored as float and reduced by the ring radius.
inline float roundRing(const Thor& t, float dx, float dy)
{
    const float q = static_cast<float>(std::sqrt(square(dx) + square(dy)));
    return q - t.Radius;
}

template <typename Pow8>
float squareRing(const Thor& t, float dx, float dy, Pow8 pow8)
{
    const float q = static_cast<float>(root8(pow8(dx) + pow8(dy)));
    return q - t.Radius;
}

// Circular tube: sqrt(q^2 + dz^2) - W, in double, stored as float.
inline float roundTube(const Thor& t, float q, float dz)
{
    return static_cast<float>(std::sqrt(square(q) + square(dz)) - static_cast<double>(t.Width));
}

template <typename Pow8>
float squareTube(const Thor& t, float q, float dz, Pow8 pow8)
{
    return static_cast<float>(root8(pow8(q) + pow8(dz)) - static_cast<double>(t.Width));
}

} // namespace thorshapes
