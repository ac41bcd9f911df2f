#pragma once

#include "scene/scene.h"

// The distance field of countMinDist, answered with less work: an object is measured exactly
// only when a cheap, rigorous lower bound on its candidate does not already show it to be
// farther than an object measured before. Every answer (distance and index) is bit for bit
// the one countMinDist gives.
class CullingField {
public:
    explicit CullingField(const Scene& scene);

    // As countMinDist(scene, p, numObj, on[0] .. on[4]).
    float operator()(const Vector3D& p, int* numObj, const bool on[5]) const;

private:
    const Scene& m_scene;
};
