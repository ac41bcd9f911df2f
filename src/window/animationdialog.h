#pragma once

#include <QDialog>

#include "picture/animation.h"
#include "scene/camerapath.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// What Animation ▸ Render Animation renders is an AnimationSettings (picture/animation.h): the
// same settings give the same frames as lumivex-render --path with -o, --frames, --smooth,
// --size, --supersample, --blur, --video and --fps.

// What keeps `settings` from rendering `path`, as the dialog says it; empty when nothing does.
QString animationProblem(const AnimationSettings& settings, const CameraPath& path);

// `chosen`, a picture file picked in a file dialog, as a pattern of frame files: "-%04d" goes
// before the suffix unless the name has a place for the frame number, and a name without a
// suffix becomes a PNG.
QString framePattern(const QString& chosen);

// Asks for the settings of an animation of `path`. The video is offered only when `videoOffered`.
// Render stays disabled while the settings have a problem, which the dialog shows.
class AnimationDialog : public QDialog {
    Q_OBJECT

public:
    AnimationDialog(const AnimationSettings& initial, const CameraPath& path, bool videoOffered,
                    QWidget* parent = nullptr);
    AnimationSettings settings() const;
    // What keeps the entries from rendering; empty when nothing does.
    QString problem() const;

    QLineEdit* patternEdit() const { return m_pattern; }
    QLineEdit* firstEdit() const { return m_first; }
    QLineEdit* lastEdit() const { return m_last; }
    QCheckBox* smoothBox() const { return m_smooth; }
    QSpinBox* widthBox() const { return m_width; }
    QSpinBox* heightBox() const { return m_height; }
    QSpinBox* supersampleBox() const { return m_supersample; }
    QCheckBox* blurBox() const { return m_blur; }
    // Null when the video is not offered.
    QGroupBox* videoBox() const { return m_videoBox; }
    QLineEdit* videoEdit() const { return m_video; }
    QSpinBox* fpsBox() const { return m_fps; }
    QPushButton* renderButton() const { return m_render; }

private:
    void check();
    void browsePattern();
    void browseVideo();

    CameraPath m_path;
    QLineEdit* m_pattern;
    QLineEdit* m_first;
    QLineEdit* m_last;
    QCheckBox* m_smooth;
    QSpinBox* m_width;
    QSpinBox* m_height;
    QSpinBox* m_supersample;
    QCheckBox* m_blur;
    QGroupBox* m_videoBox = nullptr;
    QLineEdit* m_video = nullptr;
    QSpinBox* m_fps = nullptr;
    QLabel* m_problem;
    QPushButton* m_render;
};
