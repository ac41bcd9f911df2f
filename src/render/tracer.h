#pragma once

#include <QImage>

#include "render/march.h"
#include "scene/scene.h"

struct RenderOptions {
    // Worker threads; 0 uses every core.
    int threads = 0;
    // Use the plain one-pixel-after-another path instead of the fast one (same picture).
    bool reference = false;
    // Vector lanes per packet for the fast path: 0 the widest this CPU has, 4 (AVX2), 8
    // (AVX-512), 1 none. Every choice gives the same picture; an unavailable one falls back.
    int lanes = 0;
};

// The accumulated colour of pixel (i, j) on the 0..255 scale, before the final cap, marched
// with countMinDist one step after another.
Vector3D tracePixel(const Scene& scene, int i, int j);

// The same colour as tracePixel, bit for bit, with a cheaper distance field.
Vector3D tracePixelFast(const Scene& scene, int i, int j);

// Packs an accumulated colour as an opaque pixel: capped at 255, truncated; below 0 or
// not-a-number gives 0.
QRgb packColour(const Vector3D& c);

// Renders the whole picture into `target`, which must be scene.Wid x scene.Hey in a 32-bit format.
void renderInto(const Scene& scene, QImage& target, const RenderOptions& options = RenderOptions());

// A new scene.Wid x scene.Hey ARGB32 picture of the scene.
QImage render(const Scene& scene, const RenderOptions& options = RenderOptions());

// The straightforward path: a per-pixel colour buffer filled column by column through
// countMinDist and countLites, then written with QImage::setPixel. The reference for every
// faster path.
void renderReference(const Scene& scene, QImage& target);
