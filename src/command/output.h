#pragma once

// Making and writing the pictures of lumivex-render, where a signal may have to end it at once.

#include <QImage>
#include <QString>

#include "picture/supersample.h"
#include "serial/serializer.h"

// True for an output that is written in place and so may wait for its reader: "-", a device or
// a pipe.
bool writtenInPlace(const QString& name);

// Makes the picture of a single render or a frame (see makePicture).
PictureResult makeOutput(const Scene& scene, const PictureSettings& settings, const RenderOptions& ro, QImage& img,
                         QString* why);

// Writes a picture, in place (and so perhaps waiting for a reader) or through a temporary file,
// into its folder, made if missing.
bool writeOutput(const QImage& img, const QString& name, QString& why);

// Writes a scene file.
bool saveOutput(Serializer& writer, const QString& name, const Scene& scene, QString& why);
