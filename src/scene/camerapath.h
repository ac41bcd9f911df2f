#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "scene/vector3d.h"

// A camera path: key frames, each a frame number and a camera position, frame numbers
// ascending. Frames between two key frames are interpolated.
struct KeyFrame {
    int frame = 0;
    Vector3D camera;
};

struct CameraPath {
    std::vector<KeyFrame> keys;

    int firstFrame() const { return keys.empty() ? 0 : keys.front().frame; }
    int lastFrame() const { return keys.empty() ? -1 : keys.back().frame; }

    // The camera at `frame` (between the first and the last key frame): on the straight line
    // between the two key frames around it, a + (b - a) t in double with t the frame's share of
    // the way, or with `smooth` on the Catmull-Rom spline through all key frames (the end keys
    // repeated); rounded to float. A key frame's own camera is returned exactly.
    Vector3D cameraAt(int frame, bool smooth) const;
};

// Reads a path file: one key frame a line, "FRAME X Y Z" separated by spaces or tabs, frame
// numbers ascending, '#' starting a comment, blank lines allowed, CR LF line ends accepted.
// On failure `why` reads "NAME:LINE: reason" and `path` is left as it was.
bool parseCameraPath(const QByteArray& text, const QString& name, CameraPath& path, QString* why);
bool readCameraPath(const QString& fileName, CameraPath& path, QString* why);
