#pragma once

#include "scene/material.h"

// A torus whose ring lies parallel to the X-Y plane through PosCen.
class Thor {
public:
    Vector3D PosCen;
    // Tube radius.
    float Width = 0.0f;
    // Ring radius.
    float Radius = 0.0f;
    Mater Material;

    void SetPosCen(Vector3D v) { PosCen = v; }
    void SetWid(float w) { Width = w; }
    void SetRad(float r) { Radius = r; }
    void SetMater(Mater m) { Material = m; }
    Vector3D GetPosCen() const { return PosCen; }
    float GetWid() const { return Width; }
    float GetRad() const { return Radius; }
    Mater GetMater() const { return Material; }
};
