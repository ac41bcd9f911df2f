#pragma once

#include <QImage>
#include <QObject>
#include <functional>

#include "window/animationdialog.h"
#include "scene/camerapath.h"
#include "scene/scene.h"

class KeyFramePanel;
class LongTask;
class PreviewPlayer;
class Prompter;
class QAction;
class QLabel;
class QSlider;
class QUndoStack;
class QWidget;

// The window's animation: the key frames of the camera path, shown and edited in the Key Frames
// panel, each change a step of the window's undo; the preview that plays them in the window,
// with its slider; and Render Animation, in the background. The window places the panel and the
// preview's bar, puts the actions in its menus, and shows the preview's frames in place of its
// picture.
class AnimationControls : public QObject {
    Q_OBJECT

public:
    // Frames between a key frame added and the last key before it.
    static constexpr qint64 kKeyFrameGap = 24;

    // The Animation menu's actions, in its order.
    struct Actions {
        QAction* addKey;
        QAction* open;
        QAction* save;
        QAction* smooth;
        QAction* play;
        QAction* render;
    };

    // `scene` is the window's, whose camera a key frame takes and whose picture the preview and
    // the animation render; changes of the key frames go onto `undoStack`. Dialogs and the
    // animation's box belong to `window`.
    AnimationControls(QWidget* window, const Scene& scene, QUndoStack* undoStack, const Prompter& prompter);

    // The Key Frames panel, for a dock of the window, and the preview's slider and frame
    // number, for under the picture (hidden unless the preview plays).
    QWidget* panel() const;
    QWidget* previewBar() const { return m_previewBar; }
    const Actions& actions() const { return m_actions; }
    // How long the window's last full picture took: the preview's first frames take their size
    // from it.
    void setPictureSeconds(double seconds) { m_pictureSeconds = seconds; }

    // The key frames of the camera path, frame numbers ascending.
    const CameraPath& keyFrames() const { return m_keyFrames; }
    // True when the key frames differ from those last opened or saved (none at start).
    bool hasUnsavedKeyFrames() const;
    // Before the window closes: key frames not saved are saved, discarded or kept by Cancel, as
    // the user answers. True when the window may close.
    bool mayClose();
    // True while the key frames play in the window.
    bool isPreviewing() const;
    // Stops the preview; the window then shows its own picture again.
    void stopPreview();
    // True while an animation is on its way; stopAnimation() asks it to stop.
    bool isRendering() const;
    void stopAnimation();

    // Asks for the settings of an animation, starting from `settings`; false means cancelled.
    // Replaced by tests so that no dialog opens.
    using Asker = std::function<bool(AnimationSettings& settings)>;
    void setAsker(Asker asker) { m_asker = std::move(asker); }
    // The preview's player, whose clock tests set.
    PreviewPlayer* player() const { return m_player; }

signals:
    // A frame of the preview, reduced, to show in place of the picture.
    void standIn(const QImage& display);
    // The preview has started, with its bar under the picture.
    void previewStarted();
    // The preview has stopped: the window shows its own picture again.
    void previewStopped();
    // Go To: the window takes this camera.
    void goTo(const Vector3D& camera);
    // The key frames came in from a command: the panel should show.
    void panelWanted();

protected:
    // While a preview plays: any key or click stops it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void updateActions();
    // Puts `path` in use, with the key of `selectFrame` selected in the panel.
    void setKeyFrames(const CameraPath& path, qint64 selectFrame = -1);
    // Puts `path` in use as a step of undo.
    void changeKeyFrames(const CameraPath& path, const QString& undoText, qint64 selectFrame = -1);
    // Animation ▸ Add Key Frame: the camera, at frame 0 or kKeyFrameGap after the last key.
    void addKeyFrame();
    void goToKeyFrame(int row);
    void deleteKeyFrames(const QList<int>& rows);
    void openKeyFrames();
    // False when nothing was saved (cancelled, or the file could not be written).
    bool saveKeyFrames();
    // Animation ▸ Play Preview, and what stops it: the window's camera stays as it was.
    void playPreview();
    void showPreviewFrame(qint64 frame, const QImage& display);
    // The preview's slider: frame numbers may exceed its range, so it moves in steps.
    qint64 sliderFrame(int value) const;
    int sliderValue(qint64 frame) const;
    void renderAnimation();

    QWidget* m_window;
    const Scene& m_scene;
    QUndoStack* m_undoStack;
    const Prompter& m_prompter;
    // How long the window's last full picture took, to size the preview.
    double m_pictureSeconds = 0;

    CameraPath m_keyFrames;
    // As last opened or saved; m_keyFramesStored: they have been opened or saved at all.
    CameraPath m_savedKeyFrames;
    bool m_keyFramesStored = false;
    KeyFramePanel* m_panel;
    Actions m_actions{};
    PreviewPlayer* m_player;
    QWidget* m_previewBar;
    QSlider* m_previewSlider;
    QLabel* m_previewLabel;
    // Set while the slider is moved by the preview itself.
    bool m_movingSlider = false;
    // A click stopped the preview: its moves and release are not a drag.
    bool m_swallowMouse = false;

    LongTask* m_task;
    Asker m_asker;
    // The last animation's settings, the next one's start.
    AnimationSettings m_animation;
    bool m_animationAsked = false;
    // The last animation took the whole path: the next takes the whole path as it is then.
    bool m_animationWhole = false;
};
