#pragma once

#include <QUndoCommand>
#include <functional>

#include "scene/camerapath.h"
#include "scene/scene.h"

// One step of undo: the whole scene before and after a change. The change has been made when
// the command is recorded, so its first redo does nothing. Camera moves merge into the step
// before them while each follows the last within kBurstMs, so that a quick burst of moves is
// undone at once.
class SceneChange : public QUndoCommand {
public:
    // Puts a scene into use (the window's applyScene).
    using Apply = std::function<void(const Scene&)>;
    static constexpr qint64 kBurstMs = 1000;

    // `whenMs` is the time of the change on a steady clock.
    SceneChange(Apply apply, const Scene& before, const Scene& after, const QString& text, bool cameraMove,
                qint64 whenMs);

    int id() const override;
    bool mergeWith(const QUndoCommand* other) override;
    void redo() override;
    void undo() override;

    // Compared as they would be saved: every field, bit for bit.
    static bool sameScene(const Scene& a, const Scene& b);

private:
    Apply m_apply;
    Scene m_before, m_after;
    bool m_camera;
    qint64 m_when;
    bool m_fresh = true;
};

// One step of undo of the key frames: the whole camera path before and after a change that has
// been made when the step is recorded, so that its first redo does nothing.
class KeyFramesChange : public QUndoCommand {
public:
    // Puts a path into use (the window's setKeyFrames).
    using Apply = std::function<void(const CameraPath&)>;

    KeyFramesChange(Apply apply, const CameraPath& before, const CameraPath& after, const QString& text);

    void redo() override;
    void undo() override;

private:
    Apply m_apply;
    CameraPath m_before, m_after;
    bool m_fresh = true;
};
