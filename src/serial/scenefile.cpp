#include "serial/scenefile.h"

#include <QFile>

#include "serial/binserial.h"
#include "fileio/fileaccess.h"
#include "serial/xmlserial.h"

bool sceneFormatOf(const QString& fileName, SceneFormat* format, QString* why)
{
    if (!regularOrAbsent(fileName, why))
        return false;
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
