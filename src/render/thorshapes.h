#pragma once

#include <cmath>

#include "scene/thor.h"

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
