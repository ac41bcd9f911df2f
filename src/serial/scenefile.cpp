#include "serial/scenefile.h"

#include <QFile>
#include <QFileInfo>

#include "serial/binserial.h"
#include "serial/xmlserial.h"

bool sceneFormatOf(const QString& fileName, SceneFormat* format, QString* why)
{
    // Looked at before opening: opening a pipe with no writer would block.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(fileName);
        return false;
    }
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        if (why)
            *why = QStringLiteral("cannot open %1 for reading").arg(fileName);
        return false;
    }
    QByteArray head = f.read(256);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    *format = head.trimmed().startsWith('<') && !head.trimmed().startsWith("<Screen>") ? SceneFormat::Xml
                                                                                       : SceneFormat::Bin;
    return true;
}

bool loadSceneFile(const QString& fileName, Scene& scene, SceneFormat* format, QString* why)
{
    SceneFormat f;
    if (!sceneFormatOf(fileName, &f, why))
        return false;
    if (format)
        *format = f;
    if (f == SceneFormat::Xml) {
        XMLL reader;
        return loadScene(reader, fileName, scene, why);
    }
    BinL reader;
    return loadScene(reader, fileName, scene, why);
}
