#pragma once

#include <QWidget>

#include "scene/vector3d.h"

class PictureJobs;
class QLabel;
class QProgressBar;
class QTimer;

// The lasting part of the status bar, beside the passing messages: where the camera is, the
// picture size, how long the last picture took and whether the picture on screen is blurred, or
// not finished because rendering was stopped.
class StatusArea : public QWidget {
    Q_OBJECT

public:
    explicit StatusArea(QWidget* parent = nullptr);

    void setCamera(const Vector3D& position);
    void setPictureSize(int width, int height);
    void setRenderTime(double seconds);
    void setBlurred(bool blurred);
    // Rendering was stopped before the camera's picture was finished: the one on screen is not it.
    void setStopped(bool stopped);

    // Shows how far the picture on its way has come, once it has taken longer than a moment,
    // with a busy cursor over the window meanwhile.
    void watch(const PictureJobs* jobs);

    // Everything shown, the parts separated by " | ", as a test reads it.
    QString text() const;

private:
    void updateProgress();

    const PictureJobs* m_jobs = nullptr;
    QProgressBar* m_progress;
    QTimer* m_progressTimer;
    QLabel* m_camera;
    QLabel* m_size;
    QLabel* m_time;
    QLabel* m_blurred;
    QLabel* m_stopped;
};
