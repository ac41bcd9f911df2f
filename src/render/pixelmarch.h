#pragma once

#include "render/lighting.h"
#include "scene/scene.h"

// The screen point of pixel (i, j): the virtual screen is 4 x 3 around the origin in Z = 0 and
// the point is the pixel's corner.
Vector3D screenPoint(int i, int j, int wid, int hey);

// One pixel's ray on its way through the scene. The ray starts at the camera, runs towards the
// pixel's screen point and is never bent: at each surface it meets, that surface's lit colour
// is added with the weight the surfaces before it let through, and the surface is taken out of
// the distance field for the rest of the pixel.
struct PixelState {
    Vector3D PixOnScreen;
    Vector3D D;
    // The marching point.
    Vector3D temp;
    // Per-channel weight of what the ray still sees.
    Vector3D RayCol;
    // The accumulated colour, 0..255 scale, not yet capped.
    Vector3D acc;
    // Which objects (1..5) the distance field still includes.
    bool b[5];
    // Surfaces hit so far.
    int cola;
    // The object that gave the last distance.
    int numObj;

    void begin(const Scene& scene, int i, int j) { begin(scene, screenPoint(i, j, scene.Wid, scene.Hey)); }

    // The same with the pixel's screen point already known.
    void begin(const Scene& scene, const Vector3D& screen)
    {
        PixOnScreen = screen;
        RayCol = Vector3D(1.0f, 1.0f, 1.0f);
        D = Ray(PixOnScreen, scene.CamPos).GetDir();
        temp = scene.CamPos;
        for (bool& on : b)
            on = true;
        cola = 0;
        numObj = 1;
        acc = Vector3D();
    }

    // Marches by `len`, the distance to object `nearest`, shading it when that is a hit
    // (len <= W1). False once the march is over: the point is 30 or more from the origin, the
    // weight is zero or the fifth surface has been hit. `QuickRange` decides the range test from
    // the squared length where that is unambiguous, with the same outcome as Length() < 30.
    template <bool QuickRange>
    bool advance(const Scene& scene, float W1, float len, int nearest)
    {
        numObj = nearest;
        // The step comes before the hit test, so a hit may step back by a negative distance.
        temp += D * len;
        if (len <= W1)
            shade(scene);
        return inRange<QuickRange>(temp) && (RayCol.X != 0.0f || RayCol.Y != 0.0f || RayCol.Z != 0.0f) &&
               cola <= 4;
    }

    template <bool QuickRange>
    static bool inRange(const Vector3D& p)
    {
        if (QuickRange) {
            // sqrt(899.99) and sqrt(900.01) round to floats on either side of 30.
            const float sq = p.SqrLen();
            if (sq < 899.99f)
                return true;
            if (sq > 900.01f)
                return false;
        }
        return p.Length() < 30.0f;
    }

private:
    void shade(const Scene& scene)
    {
        ++cola;
        // The screen point plus the way marched: on the ray, beyond the marching point.
        const Vector3D Dist = (temp - scene.CamPos) + PixOnScreen;
        const Mater& M = scene.materialOf(numObj);
        const Vector3D Col(M.Colour.X * RayCol.X * 255.0f, M.Colour.Y * RayCol.Y * 255.0f,
                           M.Colour.Z * RayCol.Z * 255.0f);
        Vector3D Colour;
        Colour += countLites(Dist, Col, M.Specular, scene.Light1);
        Colour += countLites(Dist, Col, M.Specular, scene.Light2);
        capAt255(Colour);
        acc += Colour;
        RayCol = Vector3D((1.0f - M.Reflectivity.X) * RayCol.X, (1.0f - M.Reflectivity.Y) * RayCol.Y,
                          (1.0f - M.Reflectivity.Z) * RayCol.Z);
        // Each object is met at most once per pixel.
        b[numObj - 1] = false;
    }
};
