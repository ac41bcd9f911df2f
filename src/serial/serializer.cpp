#include "serial/serializer.h"

#include <cstring>

#include <QFile>
#include <QFileInfo>
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
    // Only regular files of a scene file's size: a huge file is no scene.
    if (!regularOrAbsent(fileName, &m_openProblem))
        return false;
    const QFileInfo info(fileName);
    if (info.size() > kMaxSceneFileBytes) {
        m_openProblem = QStringLiteral("%1 is too large for a scene file (%2 bytes)").arg(fileName).arg(info.size());
        return false;
    }
    auto* file = new QFile(fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return false;
    }
    File = file;
    beginReading();
    return true;
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
    beginReading();
    return true;
}

void Serializer::flushFile()
{
    if (auto* f = qobject_cast<QFileDevice*>(File))
        f->flush();
}

void Serializer::put(const char* text)
{
    const qint64 len = static_cast<qint64>(std::strlen(text));
    if (File->write(text, len) != len)
        m_writeFailed = true;
}

QByteArray Serializer::readRestOfLine()
{
    char buf[256];
    const qint64 n = File->readLine(buf, sizeof buf);
    if (n <= 0)
        return QByteArray();
    return QByteArray(buf, static_cast<int>(n));
}

void Serializer::skip(int n)
{
    File->skip(n);
}

void Serializer::readSize(const QByteArray& text, int& Value)
{
    const char* p = text.constData();
    // Only a plain decimal number: "1e3", "0x10", "600.75" or a number beyond int would
    // otherwise be read as another size, or not at all, and the picture would keep a size the
    // file never meant.
    const bool plain = scanInt(p, Value) && (*p == 0 || *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '<');
    if (plain) {
        ++m_values;
        return;
    }
    if (!m_badSize) {
        m_badSize = true;
        m_badSizeText = text.simplified().split(' ').first().left(40);
    }
}

void Serializer::tag(const char* text)
{
    const int len = static_cast<int>(std::strlen(text));
    if (readWrite) {
        put(text);
        flushFile();
        return;
    }
    if (format) {
        // XML stops one byte short and finds its values by scanning instead.
        char TmpStr[256];
        if (File->readLine(TmpStr, len) <= 0)
            m_ranOut = true;
        return;
    }
    // The line format reads the whole tag line, so that a CR before the line feed or blanks
    // after the tag do not shift the values after it. A line without its line feed ends the
    // file: whole only if it holds the whole tag.
    const QByteArray line = readRestOfLine();
    if (line.isEmpty() || (!line.endsWith('\n') && line.trimmed() != QByteArray(text).trimmed()))
        m_ranOut = true;
}

void Serializer::SerPic(int& Width, int& Height, const char* Name)
{
    tag("<Screen>\n");
    SerStr(Name, "Attribute");
    SerInt(Width, "Width");
    SerInt(Height, "Height");
    tag("</Screen>\n");
}

void Serializer::SerCam(Vector3D& Camera, const char* Name)
{
    tag("<Camera>\n");
    SerStr(Name, "Attribute");
    SerVec(Camera, "Position");
    tag("</Camera>\n");
}

void Serializer::SerMat(Mater& Material, const char* Name)
{
    tag("<Material>\n");
    SerStr(Name, "Attribute");
    SerVec(Material.Colour, "Color");
    SerVec(Material.Specular, "Specular");
    SerVec(Material.Reflectivity, "Reflectivity");
    tag("</Material>\n");
}

void Serializer::SerSph(Sphere& Sphere, const char* Name)
{
    tag("<Sphere>\n");
    SerStr(Name, "Attribute");
    SerVec(Sphere.Position, "Position");
    SerFloat(Sphere.Radius, "Radius");
    SerMat(Sphere.Material, "Material");
    tag("</Sphere>\n");
}

void Serializer::SerThor(Thor& Thor, const char* Name)
{
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
            *why = QStringLiteral("cannot open %1 for writing").arg(fileName);
        return false;
    }
    Scene copy = scene;
    walkScene(writer, copy);
    if (!writer.End()) {
        if (why)
            *why = QStringLiteral("cannot write %1").arg(fileName);
        return false;
    }
    return true;
}

namespace {

// The walk and the checks of a load whose reader has started.
bool finishLoad(Serializer& reader, const QString& fileName, Scene& scene, QString* why)
{
    Scene copy = scene;
    walkScene(reader, copy);
    reader.End();
    if (reader.ranOut()) {
        if (why)
            *why = QStringLiteral("%1 ends before the scene is complete").arg(fileName);
        return false;
    }
    if (reader.badSize()) {
        if (why)
            *why = QStringLiteral("%1 sets a picture side of '%2'; each side must be a whole number from %3 to %4")
                       .arg(fileName, QString::fromLatin1(reader.badSizeText()))
                       .arg(kMinPictureSide)
                       .arg(kMaxPictureSide);
        return false;
    }
    if (reader.valuesRead() == 0) {
        if (why)
            *why = QStringLiteral("%1 holds no value of a scene").arg(fileName);
        return false;
    }
    if (copy.Wid < kMinPictureSide || copy.Wid > kMaxPictureSide || copy.Hey < kMinPictureSide ||
        copy.Hey > kMaxPictureSide) {
        if (why)
            *why = QStringLiteral("%1 sets a picture of %2 x %3 pixels; each side must be %4 to %5")
                       .arg(fileName)
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
            *why = reader.openProblem().isEmpty() ? QStringLiteral("cannot open %1 for reading").arg(fileName)
                                                 : reader.openProblem();
        return false;
    }
    return finishLoad(reader, fileName, scene, why);
}

bool loadScene(Serializer& reader, QIODevice& device, Scene& scene, QString* why)
{
    if (device.size() > kMaxSceneFileBytes || !reader.StartOn(&device)) {
        if (why)
            *why = QStringLiteral("the scene cannot be read");
        return false;
    }
    return finishLoad(reader, QStringLiteral("the scene"), scene, why);
}
