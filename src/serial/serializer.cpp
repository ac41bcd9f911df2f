#include "serial/serializer.h"

#include <climits>
#include <cstring>

#include <QBuffer>
#include <QFile>
#include <QSaveFile>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"

Serializer::~Serializer()
{
    // Deleting an uncommitted QSaveFile discards it, so the old file stays intact.
    if (m_ownsFile)
        delete File;
    File = nullptr;
}

bool Serializer::openForWriting(const QString& fileName)
{
    FileName = fileName;
    // A device, pipe or socket is written into as it is: replacing it with a regular file
    // would break it and could never reach its reader.
    QFileDevice* file = isSpecialFile(fileName) ? static_cast<QFileDevice*>(new QFile(fileName))
                                                : new QSaveFile(fileName);
    if (!file->open(QIODevice::WriteOnly)) {
        delete file;
        return false;
    }
    File = file;
    return true;
}

bool Serializer::finishWrite()
{
    auto* file = static_cast<QFileDevice*>(File);
    File = nullptr;
    const bool ok = finishWriting(*file, !m_writeFailed);
    delete file;
    return ok;
}

bool Serializer::openForReading(const QString& fileName)
{
    FileName = fileName;
    // Read whole at once: only a regular file of a scene file's size, and the walk then reads
    // from memory.
    QByteArray bytes;
    if (readWholeFile(fileName, kMaxSceneFileBytes, "a scene file", bytes, &m_openProblem) != FileRead::Read)
        return false;
    auto* buffer = new QBuffer;
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    File = buffer;
    startReading();
    return true;
}

void Serializer::startReading()
{
    m_head = File->peek(64);
    beginReading();
}

void Serializer::finishRead()
{
    if (m_ownsFile)
        delete File;
    File = nullptr;
}

bool Serializer::StartOn(QIODevice* device)
{
    if (readWrite || !device || !device->isReadable())
        return false;
    File = device;
    m_ownsFile = false;
    startReading();
    return true;
}

void Serializer::flushFile()
{
    if (auto* f = qobject_cast<QFileDevice*>(File))
        f->flush();
}

void Serializer::putText(const char* text)
{
    const qint64 len = static_cast<qint64>(std::strlen(text));
    if (File->write(text, len) != len)
        m_writeFailed = true;
}

QByteArray Serializer::readRestOfLine()
{
    // Whole, however long: a value is never split between two reads. In small pieces, as lines
    // are short: a read of unknown length sets aside kilobytes each time.
    QByteArray line;
    char piece[256];
    for (qint64 n; (n = File->readLine(piece, sizeof piece)) > 0;) {
        line.append(piece, qsizetype(n));
        if (piece[n - 1] == '\n')
            break;
    }
    return line;
}

void Serializer::skip(int n)
{
    File->skip(n);
}

void Serializer::ranOut()
{
    if (!failed())
        m_failure = QStringLiteral(" ends before the scene is complete");
}

QByteArray Serializer::fieldName(const QByteArray& Name) const
{
    return m_block.isEmpty() ? Name : m_block + ' ' + Name;
}

void Serializer::badValue(const QByteArray& Name, const QByteArray& text, const QString& problem)
{
    if (failed())
        return;
    const QString field = printable(fieldName(Name));
    m_failure = text.isEmpty() ? QStringLiteral(": %1 %2").arg(field, problem)
                               : QStringLiteral(": %1: '%2' %3").arg(field, printable(text), problem);
}

void Serializer::readFloatText(const QByteArray& text, float& Value, const QByteArray& Name)
{
    const NumberText result = readFloat(text, Value);
    if (result != NumberText::Ok)
        badValue(Name, text, numberProblem(result));
}

void Serializer::readSize(const QByteArray& text, int& Value, const char* Name)
{
    // Only a plain decimal number: "1e3", "0x10", "600.75" or a number beyond int would
    // otherwise be read as another size, or not at all, and the picture would get a size the
    // file never meant.
    qint64 side = 0;
    if (readWholeNumber(text, INT_MIN, INT_MAX, side) == NumberText::Ok) {
        Value = static_cast<int>(side);
        return;
    }
    if (!failed())
        m_failure = QStringLiteral(" sets %1 to '%2'; each side must be a whole number from %3 to %4")
                        .arg(printable(fieldName(Name)), printable(text))
                        .arg(kMinPictureSide)
                        .arg(kMaxPictureSide);
}

Serializer::Block::Block(Serializer& serial, const char* name) : m_serial(serial), m_outer(serial.m_block.size())
{
    if (!m_serial.m_block.isEmpty())
        m_serial.m_block += ' ';
    m_serial.m_block += name;
}

Serializer::Block::~Block()
{
    m_serial.m_block.truncate(m_outer);
}

void Serializer::tag(const char* text)
{
    const int len = static_cast<int>(std::strlen(text));
    if (readWrite) {
        putText(text);
        flushFile();
        return;
    }
    if (failed())
        return;
    if (format) {
        // XML stops one byte short and finds its values by scanning instead.
        char TmpStr[256];
        if (File->readLine(TmpStr, len) <= 0)
            ranOut();
        return;
    }
    // The line format reads the whole tag line, so that a CR before the line feed or blanks
    // after the tag do not shift the values after it. A line without its line feed ends the
    // file: whole only if it holds the whole tag.
    const QByteArray line = readRestOfLine();
    if (line.isEmpty() || (!line.endsWith('\n') && line.trimmed() != QByteArray(text).trimmed()))
        ranOut();
}

void Serializer::SerPic(int& Width, int& Height, const char* Name)
{
    const Block block(*this, Name);
    tag("<Screen>\n");
    SerStr(Name, "Attribute");
    SerInt(Width, "Width");
    SerInt(Height, "Height");
    tag("</Screen>\n");
}

void Serializer::SerCam(Vector3D& Camera, const char* Name)
{
    const Block block(*this, Name);
    tag("<Camera>\n");
    SerStr(Name, "Attribute");
    SerVec(Camera, "Position");
    tag("</Camera>\n");
}

void Serializer::SerMat(Mater& Material, const char* Name)
{
    const Block block(*this, Name);
    tag("<Material>\n");
    SerStr(Name, "Attribute");
    SerVec(Material.Colour, "Color");
    SerVec(Material.Specular, "Specular");
    SerVec(Material.Reflectivity, "Reflectivity");
    tag("</Material>\n");
}

void Serializer::SerSph(Sphere& Sphere, const char* Name)
{
    const Block block(*this, Name);
    tag("<Sphere>\n");
    SerStr(Name, "Attribute");
    SerVec(Sphere.Position, "Position");
    SerFloat(Sphere.Radius, "Radius");
    SerMat(Sphere.Material, "Material");
    tag("</Sphere>\n");
}

void Serializer::SerThor(Thor& Thor, const char* Name)
{
    const Block block(*this, Name);
    tag("<Thor>\n");
    SerStr(Name, "Attribute");
    SerVec(Thor.PosCen, "Position");
    SerFloat(Thor.Radius, "Radius");
    SerFloat(Thor.Width, "Width");
    SerMat(Thor.Material, "Material");
    tag("</Thor>\n");
}

void Serializer::SerLight(Light& Light, const char* Name)
{
    const Block block(*this, Name);
    tag("<Light>\n");
    SerStr(Name, "Caption");
    SerVec(Light.Position, "Position");
    SerVec(Light.Colour, "Color");
    SerFloat(Light.ConstAttenuation, "ConstAttenuation");
    SerFloat(Light.LinearAttenuation, "LinearAttenuation");
    SerFloat(Light.QuadricAttenuation, "QuadricAttenuation");
    tag("</Light>\n");
}

void walkScene(Serializer& serial, Scene& scene)
{
    serial.SerPic(scene.Wid, scene.Hey, "Screen");
    serial.SerCam(scene.CamPos, "Camera");
    serial.SerSph(scene.Sphere1, "Sphere1");
    serial.SerSph(scene.Sphere2, "Sphere2");
    serial.SerThor(scene.Thor1, "Thor1");
    serial.SerThor(scene.Thor2, "Thor2");
    serial.SerThor(scene.Thor3, "Thor3");
    serial.SerLight(scene.Light1, "Light1");
    serial.SerLight(scene.Light2, "Light2");
}

bool saveScene(Serializer& writer, const QString& fileName, const Scene& scene, QString* why)
{
    if (!writer.Start(fileName)) {
        if (why)
            *why = QStringLiteral("cannot open %1 for writing").arg(printableName(fileName));
        return false;
    }
    Scene copy = scene;
    walkScene(writer, copy);
    if (!writer.End()) {
        if (why)
            *why = QStringLiteral("cannot write %1").arg(printableName(fileName));
        return false;
    }
    return true;
}

bool beginsLikeSceneFile(const QByteArray& head, bool xml)
{
    QByteArray start = head;
    if (start.startsWith("\xEF\xBB\xBF"))
        start.remove(0, 3);
    start = start.trimmed();
    return xml ? start.startsWith("<?xml") || start.startsWith("<Scene>") : start.startsWith("<Screen>");
}

namespace {

// The walk and the checks of a load whose reader has started; `name` is the file's, for messages.
bool finishLoad(Serializer& reader, const QString& name, Scene& scene, QString* why)
{
    Scene copy = scene;
    walkScene(reader, copy);
    reader.End();
    if (reader.failed()) {
        if (why) {
            // Some other file altogether (a picture, say) rather than a damaged scene file.
            if (reader.head().isEmpty())
                *why = QStringLiteral("%1 is empty").arg(name);
            else if (!beginsLikeSceneFile(reader.head(), reader.format))
                *why = QStringLiteral("%1 is not %2")
                           .arg(name, reader.format ? QStringLiteral("an XML scene file")
                                                    : QStringLiteral("a line-format scene file"));
            else
                *why = name + reader.failure();
        }
        return false;
    }
    if (copy.Wid < kMinPictureSide || copy.Wid > kMaxPictureSide || copy.Hey < kMinPictureSide ||
        copy.Hey > kMaxPictureSide) {
        if (why)
            *why = QStringLiteral("%1 sets a picture of %2 x %3 pixels; each side must be %4 to %5")
                       .arg(name)
                       .arg(copy.Wid)
                       .arg(copy.Hey)
                       .arg(kMinPictureSide)
                       .arg(kMaxPictureSide);
        return false;
    }
    scene = copy;
    return true;
}

} // namespace

bool loadScene(Serializer& reader, const QString& fileName, Scene& scene, QString* why)
{
    if (!reader.Start(fileName)) {
        if (why)
            *why = reader.openProblem().isEmpty()
                       ? QStringLiteral("cannot open %1 for reading").arg(printableName(fileName))
                       : reader.openProblem();
        return false;
    }
    return finishLoad(reader, printableName(fileName), scene, why);
}

bool loadScene(Serializer& reader, QIODevice& device, Scene& scene, QString* why, const QString& name)
{
    if (device.size() > kMaxSceneFileBytes || !reader.StartOn(&device)) {
        if (why)
            *why = QStringLiteral("%1 cannot be read").arg(printableName(name));
        return false;
    }
    return finishLoad(reader, printableName(name), scene, why);
}
