#include "jobs/scenechange.h"

#include <cstring>
#include <utility>

SceneChange::SceneChange(Apply apply, const Scene& before, const Scene& after, const QString& text, bool cameraMove,
                         qint64 whenMs)
    : QUndoCommand(text), m_apply(std::move(apply)), m_before(before), m_after(after), m_camera(cameraMove),
      m_when(whenMs)
{
}

int SceneChange::id() const
{
    return m_camera ? 1 : -1;
}

bool SceneChange::mergeWith(const QUndoCommand* other)
{
    const auto* o = static_cast<const SceneChange*>(other);
    if (o->m_when - m_when > kBurstMs)
        return false;
    m_after = o->m_after;
    m_when = o->m_when;
    return true;
}

void SceneChange::redo()
{
    if (m_fresh) {
        m_fresh = false;
        return;
    }
    m_apply(m_after);
}

void SceneChange::undo()
{
    m_apply(m_before);
}

bool SceneChange::sameScene(const Scene& a, const Scene& b)
{
    return std::memcmp(&a, &b, sizeof(Scene)) == 0;
}

KeyFramesChange::KeyFramesChange(Apply apply, const CameraPath& before, const CameraPath& after, const QString& text)
    : QUndoCommand(text), m_apply(std::move(apply)), m_before(before), m_after(after)
{
}

void KeyFramesChange::redo()
{
    if (std::exchange(m_fresh, false))
        return;
    m_apply(m_after);
}

void KeyFramesChange::undo()
{
    m_apply(m_before);
}
