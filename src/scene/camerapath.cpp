#include "scene/camerapath.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <limits>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"

namespace {

// No path file comes near this; a larger one is refused rather than read into memory.
constexpr qint64 kMaxPathBytes = 16 * 1024 * 1024;

double component(const Vector3D& v, int k)
{
    return k == 0 ? v.X : (k == 1 ? v.Y : v.Z);
}

} // namespace

Vector3D CameraPath::cameraAt(qint64 frame, bool smooth) const
{
    if (keys.empty())
        return Vector3D();
    if (frame <= keys.front().frame)
        return keys.front().camera;
    if (frame >= keys.back().frame)
        return keys.back().camera;
    // The key frame at or before `frame`.
    const auto after = std::upper_bound(keys.begin(), keys.end(), frame,
                                        [](qint64 f, const KeyFrame& k) { return f < k.frame; });
    const size_t b = size_t(after - keys.begin()), a = b - 1;
    if (keys[a].frame == frame)
        return keys[a].camera;
    const double t = double(frame - keys[a].frame) / double(keys[b].frame - keys[a].frame);
    float out[3];
    for (int k = 0; k < 3; ++k) {
        const double p1 = component(keys[a].camera, k), p2 = component(keys[b].camera, k);
        if (!smooth) {
            out[k] = static_cast<float>(p1 + (p2 - p1) * t);
            continue;
        }
        const double p0 = component(keys[a > 0 ? a - 1 : a].camera, k);
        const double p3 = component(keys[b + 1 < keys.size() ? b + 1 : b].camera, k);
        const double t2 = t * t, t3 = t2 * t;
        out[k] = static_cast<float>(0.5 * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                                           (3 * p1 - p0 - 3 * p2 + p3) * t3));
    }
    return Vector3D(out[0], out[1], out[2]);
}

bool parseCameraPath(const QByteArray& text, const QString& name, CameraPath& path, QString* why)
{
    CameraPath read;
    int lineNo = 0;
    const auto refuse = [&](const QString& reason) {
        if (why)
            *why = QStringLiteral("%1:%2: %3").arg(printableName(name)).arg(lineNo).arg(reason);
        return false;
    };
    // Some editors begin a UTF-8 file with a byte order mark.
    const QByteArrayView body = text.startsWith("\xEF\xBB\xBF") ? QByteArrayView(text).sliced(3) : QByteArrayView(text);
    for (QByteArray line : body.toByteArray().split('\n')) {
        ++lineNo;
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.simplified(); // tabs, spaces and a CR alike
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 4)
            return refuse(QStringLiteral("expected FRAME X Y Z, found %1 values").arg(parts.size()));
        KeyFrame key;
        const NumberText frame = readWholeNumber(parts[0], 0, std::numeric_limits<qint64>::max(), key.frame);
        if (frame != NumberText::Ok)
            return refuse(QStringLiteral("the frame number '%1' %2")
                              .arg(printable(parts[0]),
                                   frame == NumberText::OutOfRange && !parts[0].startsWith('-')
                                       ? numberProblem(frame)
                                       : QStringLiteral("is not a whole number from 0 up")));
        float v[3];
        for (int k = 0; k < 3; ++k) {
            const NumberText result = readFloat(parts[k + 1], v[k]);
            if (result != NumberText::Ok)
                return refuse(QStringLiteral("'%1' %2").arg(printable(parts[k + 1]), numberProblem(result)));
        }
        key.camera = Vector3D(v[0], v[1], v[2]);
        if (!read.keys.empty() && key.frame == read.keys.back().frame)
            return refuse(QStringLiteral("frame %1 repeats: each frame has one key at most").arg(key.frame));
        if (!read.keys.empty() && key.frame < read.keys.back().frame)
            return refuse(QStringLiteral("frame %1 comes after frame %2: frame numbers must ascend")
                              .arg(key.frame)
                              .arg(read.keys.back().frame));
        read.keys.push_back(key);
    }
    if (read.keys.empty()) {
        if (why)
            *why = QStringLiteral("%1 has no key frames").arg(printableName(name));
        return false;
    }
    path = read;
    return true;
}

bool readCameraPath(const QString& fileName, CameraPath& path, QString* why)
{
    QByteArray text;
    if (readWholeFile(fileName, kMaxPathBytes, "a camera path", text, why) != FileRead::Read)
        return false;
    return parseCameraPath(text, fileName, path, why);
}

QByteArray cameraPathText(const CameraPath& path)
{
    QByteArray text;
    for (const KeyFrame& key : path.keys) {
        text += QByteArray::number(key.frame);
        for (const float v : {key.camera.X, key.camera.Y, key.camera.Z})
            text += ' ' + shortestText(v);
        text += '\n';
    }
    return text;
}

bool writeCameraPath(const QString& fileName, const CameraPath& path, QString* why)
{
    QFile direct(fileName);
    QSaveFile saved(fileName);
    QFileDevice& file = isSpecialFile(fileName) ? static_cast<QFileDevice&>(direct) : saved;
    if (!file.open(QIODevice::WriteOnly)) {
        if (why)
            *why = QStringLiteral("cannot open %1 for writing: %2").arg(printableName(fileName), file.errorString());
        return false;
    }
    const QByteArray text = cameraPathText(path);
    if (!finishWriting(file, file.write(text) == text.size())) {
        if (why)
            *why = QStringLiteral("cannot write %1").arg(printableName(fileName));
        return false;
    }
    return true;
}
