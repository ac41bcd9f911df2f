#pragma once

// What lumivex-render does, one function for each thing it may be asked: scene files written,
// one picture, a timed repeat, the frames of a camera path (and their video). Each returns the
// exit status, after saying on one line what went wrong, if anything did.

#include <QImage>

#include "command/options.h"
#include "render/tracer.h"
#include "scene/scene.h"

// What every mode starts from: the options, the scene they ask for, and how to render.
struct Run {
    const Options& options;
    Scene scene;
    RenderOptions render; // threads, the plain tracer, the stop flag
    bool showProgress = false;
};

// Loads the scene file asked for, if any, into `scene`, and puts the camera and the size
// asked for in it. -1 to go on, or the exit status.
int loadAskedScene(const Options& options, Scene& scene);
// Writes the scene files asked for (--save-xml, --save-bin).
int writeSceneFiles(const Run& run);

// One picture, written once it is whole (a regular PNG or PPM file a band of rows at a time).
int renderPicture(const Run& run);
// --repeat: renders the picture N times, says how long that took, and writes it once.
int timeRepeats(const Run& run);
// The picture of `run` blurred if asked, and written. Used by the two above.
int finishPicture(const Run& run, QImage& picture);

// --path: every frame of the camera path, into picture files, a video or both.
int renderPath(const Run& run);
