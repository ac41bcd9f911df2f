#pragma once

#include <QImage>
#include <QString>

// True when writePicture can write a picture named `path`: it ends in .png, .jpg, .jpeg, .bmp
// or .ppm (binary P6), in any case, or is "-" or a device or pipe (both PNG).
bool pictureFormatKnown(const QString& path);

// Writes `img` to `path` in the format its name ends in, through a temporary file, so that a
// failure leaves the old file, if any, as it was. "-" is standard output (PNG), and a path that
// is a device, pipe or socket is written into directly, never replaced. `why` says what went
// wrong.
bool writePicture(const QImage& img, const QString& path, QString& why);
