#pragma once

#include <QWidget>

#include "scene/vector3d.h"

class QLabel;

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

    // Everything shown, the parts separated by " | ", as a test reads it.
    QString text() const;

private:
    QLabel* m_camera;
    QLabel* m_size;
    QLabel* m_time;
    QLabel* m_blurred;
    QLabel* m_stopped;
};
