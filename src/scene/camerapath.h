#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

#include "scene/vector3d.h"

// A camera path: key frames, each a frame number and a camera position, frame numbers
// ascending. Frames between two key frames are interpolated. Frame numbers run from 0 to the
// largest 64-bit number.
struct KeyFrame {
    qint64 frame = 0;
    Vector3D camera;
};

struct CameraPath {
    std::vector<KeyFrame> keys;

    qint64 firstFrame() const { return keys.empty() ? 0 : keys.front().frame; }
    qint64 lastFrame() const { return keys.empty() ? -1 : keys.back().frame; }

    // The camera at `frame` (between the first and the last key frame): on the straight line
    // between the two key frames around it, a + (b - a) t in double with t the frame's share of
    // the way, or with `smooth` on the Catmull-Rom spline through all key frames (the end keys
    // repeated); rounded to float. A key frame's own camera is returned exactly.
    Vector3D cameraAt(qint64 frame, bool smooth) const;
};

// Reads a path file: one key frame a line, "FRAME X Y Z" separated by spaces or tabs, frame
// numbers ascending, '#' starting a comment, blank lines allowed; CR LF line ends and a UTF-8
// byte order mark are accepted. Coordinates are read as the command line reads --camera.
// On failure `why` reads "NAME:LINE: reason" and `path` is left as it was.
bool parseCameraPath(const QByteArray& text, const QString& name, CameraPath& path, QString* why);
bool readCameraPath(const QString& fileName, CameraPath& path, QString* why);

// The path as a path file: one "FRAME X Y Z" line a key frame, each coordinate in the shortest
// text that reads back as the same float, so that a path written and read again is the same.
QByteArray cameraPathText(const CameraPath& path);
// Writes cameraPathText(path) to `fileName`, replacing a file only once the new one is whole (a
// device or pipe is written into as it is). On failure `why`, when given, says what went wrong.
bool writeCameraPath(const QString& fileName, const CameraPath& path, QString* why);
