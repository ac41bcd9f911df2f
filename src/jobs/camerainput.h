#pragma once

#include <QPoint>

#include "scene/vector3d.h"

// How the keys, the wheel and drags move the camera: steps of 0.1 along one axis, each added in
// double and stored rounded to float; a drag by its whole travel from the press point.
namespace CameraInput {

// What a key asks for once its step, if any, is made.
enum class KeyAction {
    Render,   // a camera key, or any other key: render again
    Blur,     // Q
    Close,    // Escape
    Shortcut, // with Ctrl, Alt or Meta, or a modifier or lock key alone: not the camera's
};

// True for a key that belongs to the shortcuts: pressed with Ctrl, Alt or Meta, or a modifier or
// lock key pressed alone, which is no key of its own.
bool isShortcutKey(int key, Qt::KeyboardModifiers modifiers);
// Makes the step of `key` in `camera` and says what else the key asks for.
KeyAction applyKey(int key, Qt::KeyboardModifiers modifiers, Vector3D& camera);
// A wheel turn, one step along Z whatever its size: forward away from the scene, backward
// towards it. Its vertical turn counts, or the horizontal one when there is none.
void applyWheel(QPoint angleDelta, Vector3D& camera);
// A move during a drag pressed at `press`, now at `pos`, over a picture of `wid` x `hey` pixels:
// the travel since the press divided by 3 and by the picture's side, Y by the height, X by the
// width.
void applyDrag(QPoint press, QPoint pos, int wid, int hey, Vector3D& camera);

} // namespace CameraInput
