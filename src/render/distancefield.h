#pragma once

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
