#pragma once

#include "scene/light.h"
#include "scene/sphere.h"
#include "scene/thor.h"

// Smallest and largest picture side a scene may have, whether set by a file, an option or the
// window.
constexpr int kMinPictureSide = 1;
constexpr int kMaxPictureSide = 8192;

// Everything a picture depends on: the objects, the lights, the camera and the picture size.
// Objects are numbered 1 Sphere1, 2 Sphere2, 3 Thor1, 4 Thor2, 5 Thor3.
struct Scene {
    // Templates the objects copy from; no object shares them and files do not hold them.
    Mater Material1;
    Mater Material2;
    Mater Material3;
    Sphere Sphere1;
    Sphere Sphere2;
    Thor Thor1;
    Thor Thor2;
    Thor Thor3;
    Light Light1;
    Light Light2;
    // The eye point every primary ray starts from.
    Vector3D CamPos;
    // Picture width and height in pixels.
    int Wid = 1024;
    int Hey = 768;

    // Fills the materials, then the spheres and tori with their own copies of them.
    void makeFigures();
    void makeLights();

    // The scene the program starts with: camera at (0, 0, -1.5), 1024 x 768.
    static Scene builtIn();

    // The material of object 1..5.
    const Mater& materialOf(int numObj) const;
};
