#pragma once

#include "scene/vector3d.h"

// A coloured point light; at distance d it is scaled by 1 / (Q d^2 + L d + C).
class Light {
public:
    Vector3D Position;
    Vector3D Colour;
    float ConstAttenuation = 0.0f;
    float LinearAttenuation = 0.0f;
    float QuadricAttenuation = 0.0f;

    void SetPos(const Vector3D& v) { Position = v; }
    void SetColor(const Vector3D& v) { Colour = v; }
    void SetConst(float c) { ConstAttenuation = c; }
    void SetLinear(float l) { LinearAttenuation = l; }
    void SetQuadric(float q) { QuadricAttenuation = q; }
    Vector3D GetPos() const { return Position; }
    Vector3D GetColor() const { return Colour; }
    float GetConst() const { return ConstAttenuation; }
    float GetLinear() const { return LinearAttenuation; }
    float GetQuadric() const { return QuadricAttenuation; }
};
