#include "scene/camerapath.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <cmath>

#include "fileio/fileaccess.h"

namespace {

// No path file comes near this; a larger one is refused rather than read into memory.
constexpr qint64 kMaxPathBytes = 16 * 1024 * 1024;

double component(const Vector3D& v, int k)
{
    return k == 0 ? v.X : (k == 1 ? v.Y : v.Z);
}

} // namespace

Vector3D CameraPath::cameraAt(int frame, bool smooth) const
{
    if (keys.empty())
        return Vector3D();
    if (frame <= keys.front().frame)
        return keys.front().camera;
    if (frame >= keys.back().frame)
        return keys.back().camera;
    // The key frame at or before `frame`.
    const auto after = std::upper_bound(keys.begin(), keys.end(), frame,
                                        [](int f, const KeyFrame& k) { return f < k.frame; });
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
    const auto fail = [&](const QString& reason) {
        if (why)
            *why = QStringLiteral("%1:%2: %3").arg(name).arg(lineNo).arg(reason);
        return false;
    };
    for (QByteArray line : text.split('\n')) {
        ++lineNo;
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.simplified(); // tabs, spaces and a CR alike
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 4)
            return fail(QStringLiteral("expected FRAME X Y Z, found %1 values").arg(parts.size()));
        KeyFrame key;
        bool ok = false;
        key.frame = parts[0].toInt(&ok);
        if (!ok || key.frame < 0)
            return fail(QStringLiteral("the frame number '%1' is not a whole number from 0 up")
                            .arg(QString::fromLatin1(parts[0])));
        float v[3];
        for (int k = 0; k < 3; ++k) {
            v[k] = parts[k + 1].toFloat(&ok);
            if (!ok || !std::isfinite(v[k]))
                return fail(QStringLiteral("'%1' is not a finite number").arg(QString::fromLatin1(parts[k + 1])));
        }
        key.camera = Vector3D(v[0], v[1], v[2]);
        if (!read.keys.empty() && key.frame <= read.keys.back().frame)
            return fail(QStringLiteral("frame %1 comes after frame %2: frame numbers must ascend")
                            .arg(key.frame)
                            .arg(read.keys.back().frame));
        read.keys.push_back(key);
    }
    if (read.keys.empty()) {
        lineNo = 0;
        return fail(QStringLiteral("no key frames"));
    }
    path = read;
    return true;
}

bool readCameraPath(const QString& fileName, CameraPath& path, QString* why)
{
    if (!regularOrAbsent(fileName, why))
        return false;
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        if (why)
            *why = QStringLiteral("cannot open %1 for reading").arg(fileName);
        return false;
    }
    if (f.size() > kMaxPathBytes) {
        if (why)
            *why = QStringLiteral("%1 is too large for a camera path").arg(fileName);
        return false;
    }
    return parseCameraPath(f.readAll(), fileName, path, why);
}
