#pragma once

#include <QByteArray>
#include <QString>

#include "scene/scene.h"

// The two scene file formats.
enum class SceneFormat { Xml, Bin };

// The format of a scene file judged by its first bytes, not its name: an XML declaration or
// element at the start (after blanks and a UTF-8 byte order mark) means XML, anything else the
// line format.
SceneFormat sceneFormatOf(const QByteArray& head);

// Loads a scene file of either format, as loadScene does: `scene` changes only on success.
bool loadSceneFile(const QString& fileName, Scene& scene, SceneFormat* format = nullptr, QString* why = nullptr);
