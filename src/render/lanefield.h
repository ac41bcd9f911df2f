#pragma once

#include "scene/scene.h"

// The distance field for several marching points at once, on the CPU's vector unit.
// A multiple of 8, the widest vector of doubles used.
constexpr int kLanes = 8;

struct LanePoints {
    float x[kLanes];
    float y[kLanes];
    float z[kLanes];
    // Which objects take part, per point (the b1 .. b5 flags of countMinDist).
    bool on[kLanes][5];
};

// True when this CPU has the vector unit laneField needs (AVX2); otherwise use CullingField.
bool laneFieldAvailable();

// For every lane, exactly countMinDist's distance and object index. The tori's eighth powers
// are formed by plain multiplication in the vector unit; where that could round a candidate to
// another float than the library's pow would, the lane's candidate is measured again exactly.
void laneField(const Scene& scene, const LanePoints& points, float len[kLanes], int numObj[kLanes]);
