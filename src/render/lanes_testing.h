#pragma once

// Entry points into the lane kernels for the tests only: the program itself reaches the kernels
// through renderStripInLanes and clearanceInLanes (lanes.h).

#include "render/lanes.h"

// For every lane, exactly countMinDist's distance and object index, in packets of `width`
// lanes (8, 4, kPortableLanes, or 0 for the scalar measurements), measured as a step of a strip
// measures them: the tori's eighth powers are formed by plain multiplication in the vector unit,
// and where that could round a candidate to another float than the library's pow would, the
// lane's candidate is measured again exactly.
void laneField(const Scene& scene, const LanePoints& points, float len[kLanes], int numObj[kLanes], int width);

// The packet width of the kernel that `width` runs (kPortableLanes for the portable kernel), 0
// for the scalar measurements.
int laneKernelRun(int width);
