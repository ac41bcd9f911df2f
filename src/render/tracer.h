#pragma once

// How a picture is rendered. One picture, several paths; every path gives the same picture,
// bit for bit, and the tests compare each with the plain one.
//
//   plain       renderReference, tracePixel: one pixel after another, each step through
//               countMinDist (distancefield) with the library's pow. The definition.
//   scalar fast tracePixelFast: the same march (pixelmarch) through CullingField (culledfield),
//               which skips objects a rigorous bound shows to be farther than one already
//               measured, with the exact integer eighth power (pow8).
//   lanes       renderInto with vector lanes (lanes, lanekernel.inc): two packets of 8 rays
//               (AVX-512) or 4 (AVX2) are set up, marched, shaded, tested and written side by
//               side, in the same float and double operations as pixelmarch, measuring again
//               exactly whatever the vector unit cannot settle.
//   early exit  in both fast paths, ClearanceTest (raybounds) proves at the start and after
//               each hit that the rest of a ray can meet nothing, and the pixel stops there.
//
// The fast paths share the columns out over the render pool (threadpool).

#include <QImage>
#include <atomic>

#include "render/pixelmarch.h"
#include "scene/scene.h"

// What a render did, added up over all threads.
struct RenderStats {
    std::atomic<long long> evaluations{0}; // distance-field evaluations
};

struct RenderOptions {
    // Worker threads; 0 uses every core.
    int threads = 0;
    // Use the plain one-pixel-after-another path instead of the fast one (same picture).
    bool reference = false;
    // Vector lanes per packet for the fast path: 0 the widest this CPU has, 4 (AVX2), 8
    // (AVX-512), kPortableLanes (the portable kernel, any CPU), 1 none. Every choice gives the
    // same picture; an unavailable one falls back.
    int lanes = 0;
    // Stop a pixel's march once it provably meets nothing more (same picture).
    bool earlyExit = true;
    // When set, receives the counts of this render.
    RenderStats* stats = nullptr;
    // When set and it becomes true, the render stops within one strip of columns per thread,
    // leaving the picture partly drawn.
    const std::atomic<bool>* cancel = nullptr;
    // When set, counts the columns finished so far (of the band rendered).
    std::atomic<int>* columnsDone = nullptr;
    // The picture row that the target's first row holds: a target of fewer rows than the
    // picture receives the band of rows [firstRow, firstRow + its height). Bands rendered
    // one by one and stacked give the whole picture, bit for bit.
    int firstRow = 0;
};

// The accumulated colour of pixel (i, j) on the 0..255 scale, before the final cap, marched
// with countMinDist one step after another. `evaluations`, when given, is increased by the
// number of distance evaluations.
Vector3D tracePixel(const Scene& scene, int i, int j, long long* evaluations = nullptr);

// The same colour as tracePixel, bit for bit, with a cheaper distance field and, with
// `earlyExit`, a march that stops once nothing more can be met.
Vector3D tracePixelFast(const Scene& scene, int i, int j, bool earlyExit = true, long long* evaluations = nullptr);

// Packs an accumulated colour as an opaque pixel: capped at 255, truncated; below 0 or
// not-a-number gives 0.
QRgb packColour(const Vector3D& c);

// Renders rows [options.firstRow, options.firstRow + target.height()) of the scene.Wid x
// scene.Hey picture into `target`, a 32-bit image scene.Wid wide (the whole picture when it is
// scene.Hey high and firstRow is 0). False when options.cancel stopped it first, and, with
// nothing drawn, when the band does not lie within the picture.
bool renderInto(const Scene& scene, QImage& target, const RenderOptions& options = RenderOptions());

// A new scene.Wid x scene.Hey ARGB32 picture of the scene.
QImage render(const Scene& scene, const RenderOptions& options = RenderOptions());

// The straightforward path: a per-pixel colour buffer filled column by column through
// countMinDist and countLites, then written with QImage::setPixel. The reference for every
// faster path. Renders the rows [firstRow, firstRow + target.height()) of the picture, which
// renderInto has checked to lie within it.
void renderReference(const Scene& scene, QImage& target, long long* evaluations = nullptr, int firstRow = 0);
