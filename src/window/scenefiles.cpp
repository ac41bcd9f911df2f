#include "window/scenefiles.h"

#include <QAction>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>

#include "jobs/recentfiles.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"
#include "window/prompter.h"

namespace {

const char* const kSceneFilter = "Scene files (*.xml *.bin *.txt);;XML scene files (*.xml);;Line-format scene files (*.bin *.txt);;All files (*)";
// Load and Save of one format offer that format's files first; a name saved without a suffix
// takes the first suffix listed: ".bin" for the line format, as the menus name it, so that a
// scene is not taken for a key frame file.
const char* const kXmlFilter = "XML scene files (*.xml);;All files (*)";
const char* const kBinFilter = "Line-format scene files (*.bin *.txt);;All files (*)";

// Writes the scene to, or reads it from, `fileName` with `Serial`, as it says it does.
bool Serializing(Serializer* Serial, const QString& fileName, Scene& scene, QString* why)
{
    if (Serial->readWrite)
        return saveScene(*Serial, fileName, scene, why);
    return loadScene(*Serial, fileName, scene, why);
}

} // namespace

SceneFiles::SceneFiles(QMainWindow* window, Scene& scene, const Prompter& prompter, Take take)
    : QObject(window), m_window(window), m_scene(scene), m_prompter(prompter), m_take(std::move(take))
{
}

void SceneFiles::setRecentMenu(QMenu* menu)
{
    m_recentMenu = menu;
    rebuildRecentMenu();
}

void SceneFiles::announce(const QString& text)
{
    QMessageBox msgBox;
    msgBox.setWindowTitle("Message");
    msgBox.setText(text);
    msgBox.exec();
}

void SceneFiles::save(Serializer& serial, const char* done)
{
    const QString name = m_prompter.askFileName(true, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    QString why;
    if (!Serializing(&serial, name, m_scene, &why)) {
        m_prompter.fail(why);
        return;
    }
    m_prompter.say(tr(done));
    setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

void SceneFiles::load(Serializer& serial, const char* done)
{
    const QString name = m_prompter.askFileName(false, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    const Scene before = m_scene;
    QString why;
    if (!Serializing(&serial, name, m_scene, &why)) {
        m_prompter.fail(why);
        return;
    }
    if (m_take(before, tr(done), tr("Load")))
        setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

bool SceneFiles::saveOpen()
{
    if (m_openFileName.isEmpty())
        return false;
    XMLS xml;
    BinS bin;
    const bool isXml = m_openFormat == SceneFormat::Xml;
    QString why;
    if (!Serializing(isXml ? static_cast<Serializer*>(&xml) : &bin, m_openFileName, m_scene, &why)) {
        m_prompter.fail(why);
        return true;
    }
    m_prompter.say(isXml ? tr("Serialized in XML") : tr("Serialized in Bin"));
    rememberRecent(m_openFileName);
    return true;
}

bool SceneFiles::open(const QString& fileName, QString* why)
{
    const Scene before = m_scene;
    SceneFormat format;
    if (!loadSceneFile(fileName, m_scene, &format, why)) {
        m_prompter.say(tr("Error"));
        return false;
    }
    const QString noRoom = tr("not enough memory for a %1 x %2 picture").arg(m_scene.Wid).arg(m_scene.Hey);
    if (!m_take(before, format == SceneFormat::Xml ? tr("Loaded from Xml") : tr("Loaded from Bin"), tr("Open"))) {
        if (why)
            *why = noRoom;
        return false;
    }
    setOpenFile(fileName, format);
    return true;
}

void SceneFiles::openInteractively(const QString& fileName)
{
    QString why;
    if (!open(fileName, &why))
        m_prompter.warn(why);
}

void SceneFiles::openAsked()
{
    const QString name = m_prompter.askFileName(false, tr(kSceneFilter));
    if (!name.isEmpty())
        openInteractively(name);
}

void SceneFiles::setOpenFile(const QString& fileName, SceneFormat format)
{
    m_openFileName = QFileInfo(fileName).absoluteFilePath();
    m_openFormat = format;
    m_window->setWindowFilePath(m_openFileName);
    m_window->setWindowTitle(QFileInfo(m_openFileName).fileName() + " — Lumivex");
    rememberRecent(m_openFileName);
}

void SceneFiles::rememberRecent(const QString& fileName)
{
    RecentFiles::remember(fileName);
    rebuildRecentMenu();
}

void SceneFiles::rebuildRecentMenu()
{
    m_recentMenu->clear();
    const QStringList files = RecentFiles::list();
    for (const QString& f : files)
        connect(m_recentMenu->addAction(QFileInfo(f).fileName()), &QAction::triggered, this,
                [this, f] { openInteractively(f); });
    m_recentMenu->setEnabled(!files.isEmpty());
}
