#pragma once

#include "scene/material.h"

// A sphere with its own copy of a material; the default is the unit sphere at the origin.
class Sphere {
public:
    Vector3D Position;
    float Radius = 1.0f;
    Mater Material;

    void SetPos(const Vector3D& v) { Position = v; }
    void SetRad(float r) { Radius = r; }
    void SetMater(const Mater& m) { Material = m; }
    Vector3D GetPos() const { return Position; }
    float GetRad() const { return Radius; }
    Mater GetMater() const { return Material; }
};
