#pragma once

#include <QSize>
#include <QString>

// True when `path` is a regular file holding a whole picture of `size` pixels in a format the
// programs write (PNG, JPEG, BMP or binary PPM): it decodes to that size and is not cut short,
// which a decoder alone does not always notice (a cut JPEG decodes, grey at the bottom).
bool isWholePicture(const QString& path, QSize size);
