#pragma once

#include "scene/vector3d.h"

// A surface material: what it lets through, how it boosts the lights and its base colour.
class Mater {
public:
    // Per-channel share of the ray's weight that this surface takes away (1 stops the ray).
    Vector3D Reflectivity;
    // Per-channel gain: each light on this surface is scaled by one plus this value.
    Vector3D Specular;
    // Base colour, each channel normally 0..1.
    Vector3D Colour;

    void SetRef(Vector3D v) { Reflectivity = v; }
    void SetSpe(Vector3D v) { Specular = v; }
    void SetCol(Vector3D v) { Colour = v; }
    Vector3D GetRef() const { return Reflectivity; }
    Vector3D GetSpe() const { return Specular; }
    Vector3D GetCol() const { return Colour; }

    bool operator==(const Mater& m) const
    {
        return Reflectivity == m.Reflectivity && Specular == m.Specular && Colour == m.Colour;
    }
};
