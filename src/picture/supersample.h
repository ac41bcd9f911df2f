#pragma once

// The finished picture of a scene: k x k rays a pixel reduced to one, then the blur if asked.
// The command line and the window's export both make their pictures here, so the same scene,
// size and settings give the same file.

#include <QImage>
#include <QString>

#include "render/tracer.h"
#include "scene/scene.h"

// Samples a side (k) a picture may take: 8 x 8192 = 65536 rays along a side at most.
constexpr int kMaxSupersample = 8;

// How a scene becomes a finished picture.
struct PictureSettings {
    // k: the scene is rendered at k·Wid x k·Hey and each k x k block becomes one pixel. 1 is the
    // plain render, bit for bit; 1 to kMaxSupersample.
    int supersample = 1;
    // The Gaussian blur, applied to the reduced picture.
    bool blur = false;
};

// Reduces each k x k block of `band` to one pixel, per channel the rounded mean
// (sum + k²/2) / k² of the 8-bit values, written opaque into rows [outRow, outRow +
// band.height() / k) of `out`. `band` is 32-bit, k·out.width() wide and a whole number of
// blocks high; `out` is 32-bit. False, with nothing written, when the sizes do not fit.
bool reduceBlocks(const QImage& band, int k, QImage& out, int outRow);

// What options.columnsDone counts up to while makePicture renders the whole of `scene` with
// `settings`: the picture is rendered in bands, and each band counts its k·Wid columns.
// Below 2^30 for every size and k allowed.
int pictureColumns(const Scene& scene, const PictureSettings& settings);

// The blur of `picture` as the render options ask for it: the straightforward one with
// options.reference, else the fast one on options.threads threads (the same picture). Null
// when memory runs out.
QImage blurPicture(const QImage& picture, const RenderOptions& options);

enum class PictureResult {
    Whole,    // the finished picture is in `picture`
    Stopped,  // options.cancel stopped it: the picture is partly drawn
    NoMemory, // a picture, a band or the blur could not be allocated
    Refused,  // a side outside 1 to kMaxPictureSide or k outside 1 to kMaxSupersample: nothing
              // drawn; or a band that did not fit the picture
};

// Makes the finished scene.Wid x scene.Hey picture of `scene` into `picture`, rendering into
// it when it is an ARGB32 image of that size, else into a new one (a blurred picture comes out
// RGB32, as the blur makes it). With k = 1 this is exactly renderInto's picture; otherwise
// the k times finer picture is rendered in bands of rows of a few million rays, each reduced
// at once, so that memory stays near the finished picture plus one band. Then the blur if
// settings.blur. options.firstRow is not looked at; options.cancel stops it between bands and
// within one; progress goes to options.columnsDone (see pictureColumns). Unless the result is
// Whole or Stopped, `why` (when given) says what could not be done. Runs on the calling thread
// and the render pool, so any thread may call it, several at once.
PictureResult makePicture(const Scene& scene, const PictureSettings& settings, const RenderOptions& options,
                          QImage& picture, QString* why = nullptr);
