#pragma once

#include <QObject>
#include <functional>

#include "scene/scene.h"
#include "serial/scenefile.h"

class Prompter;
class QMainWindow;
class QMenu;
class Serializer;

// The window's scene files: Load and Save of either format, Open..., Open Recent and File ▸ Save.
// The file last opened, loaded or saved is the one File ▸ Save writes, named in the window's
// title and remembered for Open Recent. A load is applied whole or not at all.
class SceneFiles : public QObject {
    Q_OBJECT

public:
    // Puts a scene just read into the window's scene to use; false when it cannot, and the scene
    // is then `before` again.
    using Take = std::function<bool(const Scene& before, const QString& loaded, const QString& undoText)>;

    SceneFiles(QMainWindow* window, Scene& scene, const Prompter& prompter, Take take);

    // The Open Recent menu, kept filled here.
    void setRecentMenu(QMenu* menu);
    // The modal "Message" box that comes before every Load and Save command.
    void announce(const QString& text);
    // Asks for a file and writes the scene into it with `serial`; `done` is the message then.
    void save(Serializer& serial, const char* done);
    // Asks for a file and reads the scene from it with `serial`; `done` is the message then.
    void load(Serializer& serial, const char* done);
    // File ▸ Save: the open file in its own format, with no questions; false, doing nothing,
    // when no file is open.
    bool saveOpen();
    // Opens a scene file of either format, recognised by its content. On failure nothing
    // changes, the status bar says "Error" and `why` says what is wrong.
    bool open(const QString& fileName, QString* why = nullptr);
    // Open..., Open Recent, a dropped file: opens it, or says why not in the status bar and a box.
    void openInteractively(const QString& fileName);
    // Open...: asks for the file first.
    void openAsked();

private:
    void setOpenFile(const QString& fileName, SceneFormat format);
    void rememberRecent(const QString& fileName);
    void rebuildRecentMenu();

    QMainWindow* m_window;
    Scene& m_scene;
    const Prompter& m_prompter;
    Take m_take;
    QMenu* m_recentMenu = nullptr;
    QString m_openFileName;
    SceneFormat m_openFormat = SceneFormat::Xml;
};
