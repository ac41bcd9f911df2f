#include "serial/scenefile.h"

#include <QBuffer>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

SceneFormat sceneFormatOf(const QByteArray& head)
{
    QByteArray start = head.startsWith("\xEF\xBB\xBF") ? head.mid(3) : head;
    start = start.trimmed();
    return start.startsWith('<') && !start.startsWith("<Screen>") ? SceneFormat::Xml : SceneFormat::Bin;
}

bool loadSceneFile(const QString& fileName, Scene& scene, SceneFormat* format, QString* why)
{
    QByteArray bytes;
    if (readWholeFile(fileName, kMaxSceneFileBytes, "a scene file", bytes, why) != FileRead::Read)
        return false;
    const SceneFormat f = sceneFormatOf(bytes.left(256));
    if (format)
        *format = f;
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    XMLL xml;
    BinL bin;
    Serializer& reader = f == SceneFormat::Xml ? static_cast<Serializer&>(xml) : bin;
    if (loadScene(reader, device, scene, why, fileName))
        return true;
    // Neither format's beginning: another kind of file altogether.
    if (why && !bytes.isEmpty() && !beginsLikeSceneFile(bytes, true) && !beginsLikeSceneFile(bytes, false))
        *why = QStringLiteral("%1 is not a scene file").arg(printableName(fileName));
    return false;
}
