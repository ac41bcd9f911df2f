#include "jobs/camerainput.h"

namespace {

// One key or wheel step along an axis.
constexpr double kStep = 0.1;
constexpr double kMouseDivisor = 3.0;

// Adds `delta` in double and stores the sum rounded to float, as every camera move does.
void moveAxis(float& component, double delta)
{
    component = static_cast<float>(static_cast<double>(component) + delta);
}

} // namespace

bool CameraInput::isShortcutKey(int key, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

CameraInput::KeyAction CameraInput::applyKey(int key, Qt::KeyboardModifiers modifiers, Vector3D& camera)
{
    if (isShortcutKey(key, modifiers))
        return KeyAction::Shortcut;
    switch (key) {
    case Qt::Key_A:
        moveAxis(camera.X, -kStep);
        break;
    case Qt::Key_D:
        moveAxis(camera.X, kStep);
        break;
    case Qt::Key_W:
        moveAxis(camera.Y, -kStep);
        break;
    case Qt::Key_S:
        moveAxis(camera.Y, kStep);
        break;
    case Qt::Key_Z:
        moveAxis(camera.Z, -kStep);
        break;
    case Qt::Key_X:
        moveAxis(camera.Z, kStep);
        break;
    case Qt::Key_Q:
        return KeyAction::Blur;
    case Qt::Key_Escape:
        return KeyAction::Close;
    default:
        break;
    }
    return KeyAction::Render;
}

void CameraInput::applyWheel(QPoint angleDelta, Vector3D& camera)
{
    const int delta = angleDelta.y() != 0 ? angleDelta.y() : angleDelta.x();
    if (delta > 0)
        moveAxis(camera.Z, -kStep);
    else if (delta < 0)
        moveAxis(camera.Z, kStep);
}

void CameraInput::applyDrag(QPoint press, QPoint pos, int wid, int hey, Vector3D& camera)
{
    moveAxis(camera.Y, (pos.y() - press.y()) / kMouseDivisor / hey);
    moveAxis(camera.X, (pos.x() - press.x()) / kMouseDivisor / wid);
}
