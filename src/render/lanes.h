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

// What the lane kernels need of a CPU: the x86 vector extensions, or ARM's Advanced SIMD
// (NEON, which every 64-bit ARM CPU has).
struct CpuFeatures {
    bool avx2 = false;
    bool avx512f = false;
    bool avx512vl = false;
    bool neon = false;
};

// This CPU's features, as the program sees them at run time.
CpuFeatures cpuFeatures();

// The widest packet a CPU with `cpu` runs: 8 lanes (AVX-512 F and VL, with AVX2), 4 (AVX2),
// kPortableLanes (NEON, where the portable kernel compiles to its vector instructions) or 0 (no
// vector path: use CullingField).
int laneWidthFor(const CpuFeatures& cpu);

// laneWidthFor this CPU.
int laneWidthAvailable();

// The `width` that chooses the portable form of the lane kernel: packets of 4 in plain vector
// code, on any CPU. Same operations, same answers, slower.
constexpr int kPortableLanes = -4;

// The packet width a render asks for (RenderOptions::lanes: 0 the widest, 1 none, 4, 8 or
// kPortableLanes) on a CPU whose widest is `widest`: what it gets, 0 for the scalar path. A
// width the CPU lacks falls back to its widest.
int laneWidthChosen(int requested, int widest);

class ClearanceTest;
struct Clearance;

// ClearanceTest's answers for kLanes rays at once, as the lane engine works them on the vector
// unit (packets of `width`): at points within the ball, or, with `fromCamera`, at the camera with
// the tile's objects `may`. The same answers as the scalar test, to the bit.
void clearanceInLanes(const ClearanceTest& test, const LanePoints& points, const float dir[3][kLanes],
                      Clearance out[kLanes], int width, bool fromCamera = false, unsigned may = 0x1f);

// A strip of a band of the picture for renderStripInLanes: the pixels of columns
// [colLo, colHi) and picture rows [firstRow, endRow), written at bits + (j - firstRow) * bpl.
struct LaneStrip {
    const Scene* scene = nullptr;
    // Proves where a ray can meet nothing more; null: every ray marches to its end.
    const ClearanceTest* clearance = nullptr;
    // The screen point of column i is (screenX[i], screenY[j - firstRow], 0) in row j.
    const float* screenX = nullptr;
    const float* screenY = nullptr;
    unsigned char* bits = nullptr;
    long long bpl = 0;
    int firstRow = 0, endRow = 0, colLo = 0, colHi = 0;
};

// Side of the tiles the strip's pixels are taken in: a whole tile whose rays provably meet
// nothing is painted at once. 16, a strip's width: tiles of 8 cost 6% more a frame in tests of
// whole tiles and in walking them, and the rays' own start tests stop the same rays.
constexpr int kTile = 16;

// Traces every pixel of the strip on the vector unit, two packets of `width` rays at once
// (8, 4, at most laneWidthAvailable(), or kPortableLanes): a ray's set-up, its start test, its
// steps, hits and shading, its later tests and the writing of its pixel all run side by side
// with the other lanes, and a lane whose ray is done takes the next at once. What the vector unit
// cannot settle (a torus measured again exactly, a test from a point outside the ball) goes
// through the scalar code for that lane alone. Returns the number of distance evaluations.
long long renderStripInLanes(const LaneStrip& strip, int width);
