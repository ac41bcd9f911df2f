#pragma once

#include "scene/scene.h"

// The distance field for several marching points at once, on the CPU's vector unit.
// Two packets of the widest vector of doubles used (8).
constexpr int kLanes = 16;

struct LanePoints {
    float x[kLanes];
    float y[kLanes];
    float z[kLanes];
    // Which objects take part, per point (the b1 .. b5 flags of countMinDist).
    bool on[kLanes][5];
};

// The widest packet this CPU runs: 8 lanes (AVX-512), 4 (AVX2) or 0 (no vector path: use
// CullingField).
int laneWidthAvailable();

// The `width` that chooses the portable form of the lane kernel: packets of 4 in plain vector
// code, on any CPU. Same operations, same answers, slower.
constexpr int kPortableLanes = -4;

// For every lane, exactly countMinDist's distance and object index, in packets of `width`
// lanes (8, 4, kPortableLanes, or 0 for the scalar measurements). The tori's eighth powers
// are formed by plain multiplication in the vector unit; where that could round a candidate to
// another float than the library's pow would, the lane's candidate is measured again exactly.
void laneField(const Scene& scene, const LanePoints& points, float len[kLanes], int numObj[kLanes], int width);

// The marching state of kLanes rays, kept apart by quantity for the vector unit.
struct LaneBlock {
    // Marching points and unit directions.
    float x[kLanes], y[kLanes], z[kLanes];
    float dx[kLanes], dy[kLanes], dz[kLanes];
    // Objects still in the distance field, per lane, and the same as masks (-1 on, 0 off) per
    // object, which is how the vector unit reads them.
    bool on[kLanes][5];
    int onMask[5][kLanes];
    // Lanes that carry a pixel (and liveMask -1); the others repeat a live lane and are ignored.
    bool live[kLanes];
    int liveMask[kLanes];
    // The way each lane has marched (the sum of its steps, roughly: it only decides when to test
    // again whether the ray can meet anything more), the way at which that test is due, and the
    // distance evaluations made so far.
    float travel[kLanes], retest[kLanes];
    int steps[kLanes];
    // Set by marchLanes: nonzero for the lanes with an event, and their step.
    int event[kLanes];
    float len[kLanes];
    int numObj[kLanes];
    // Working space of marchLanes.
    float cand[5][kLanes];
    int redo[2][kLanes];
};

// Marches every live lane by countMinDist's steps (x += d * len) until some lane has an event:
// a hit (len <= W1), a point near or beyond 30 from the origin, not a number, or a step that
// reaches the lane's `retest` travel. Lanes without
// an event have taken all their steps; a lane with one is left at its point before that step,
// with the step's exact distance and object in len and numObj. `width` is 8 or 4, at most
// laneWidthAvailable(), or kPortableLanes.
void marchLanes(const Scene& scene, LaneBlock& block, float W1, int width);
