#pragma once

#include <QImage>
#include <QObject>
#include <functional>

#include "scene/camerapath.h"
#include "scene/scene.h"

class BackgroundRenderer;
class QTimer;

// Plays a camera path in real time, kFps frames a second, at a reduced size: the frame shown is
// always the one the clock has come to. One frame is rendered at a time; frames whose time
// passes while another is rendered are skipped, not queued. The size follows the render
// times, so that a frame takes about kBudget of its time. At the last frame it goes on from the
// first.
class PreviewPlayer : public QObject {
    Q_OBJECT

public:
    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;
    static constexpr int kFps = 24;
    // The share of a frame's time that its render should take.
    static constexpr double kBudget = 0.7;

    explicit PreviewPlayer(QObject* parent = nullptr);
    ~PreviewPlayer() override;

    // Plays `path` through `scene` (whose size is the full picture's) from the path's first
    // frame. `fullSeconds`, the time of the last full-size picture (0 when not known), sets the
    // first reduced size.
    void play(const Scene& scene, const CameraPath& path, bool smooth, double fullSeconds);
    // Stops at once; nothing more comes.
    void stop();
    bool isPlaying() const { return m_playing; }

    // Plays on from `frame` (within the path). While `hold` the frame stays there.
    void seek(qint64 frame, bool hold = false);
    // The frame the clock has come to, and the frame last shown (-1 before the first).
    qint64 frameDue() const;
    qint64 shownFrame() const { return m_shown; }
    qint64 firstFrame() const { return m_path.firstFrame(); }
    qint64 lastFrame() const { return m_path.lastFrame(); }
    // The share of each side rendered, 0 to 1.
    double scale() const { return m_scale; }

    // The reduced size's share after a frame at `scale` took `seconds`: the pixels grow or shrink
    // with the time left over, at most by a step at a time, and not for a tenth or less, so
    // that the size settles.
    static double nextScale(double scale, double seconds);
    // Replaces the clock (tests set their own).
    void setClock(Clock clock);

signals:
    // A frame of the path, reduced, as 32-bit RGB.
    void frameShown(qint64 frame, const QImage& display);

private:
    void tick();
    void onFinished(quint64 tag, const QImage& picture, const QImage& display, double seconds);

    BackgroundRenderer* m_renderer;
    QTimer* m_timer;
    Clock m_clock;
    Scene m_scene;
    CameraPath m_path;
    bool m_smooth = false;
    bool m_playing = false;
    bool m_held = false;
    // The clock and the frame the playing counts from.
    qint64 m_startMs = 0;
    qint64 m_startFrame = 0;
    qint64 m_requested = -1;
    qint64 m_shown = -1;
    quint64 m_tag = 0;
    double m_scale = 1;
    double m_requestedScale = 1;
};
