#pragma once

#include <QFileDevice>
#include <QIODevice>
#include <QString>

#include "scene/scene.h"

// No scene file comes near this size (they are about 3 KB); reading a larger one stops there.
constexpr qint64 kMaxSceneFileBytes = 4 * 1024 * 1024;

// One pass over a scene file, writing or reading. The same walk serves both directions: every
// primitive gets its field by reference, a writer takes the value from it and a reader stores
// the parsed value into it. Readers are positional: the n-th value of the file goes into the
// n-th field of the walk, and names and tags are not checked. Each value is read whole: one
// that is empty, does not parse to its end or is not finite fails the load, and the reader
// stops at the first such fault.
class Serializer {
public:
    // The open scene file (readers: the file's bytes in memory, or the caller's device) between
    // Start and End; null otherwise.
    QIODevice* File = nullptr;
    // true: writes (save); false: reads (load).
    bool readWrite = false;
    // true: XML format; false: the line format.
    bool format = true;
    QString FileName;

    Serializer() = default;
    Serializer(const Serializer&) = delete;
    Serializer& operator=(const Serializer&) = delete;
    // Releases a file left open by an unfinished walk (a writer's file is then discarded).
    virtual ~Serializer();

    // Opens the file (writers: a new version that replaces the old one only at End) and handles
    // the format's preamble. false when it cannot be opened; nothing is left open then.
    virtual bool Start(QString FileName) = 0;
    // Readers: reads from `device`, open for reading at its start, instead of a file; the
    // device stays the caller's. The same walk and checks as for a file.
    bool StartOn(QIODevice* device);
    // A block caption. Readers skip it.
    virtual void SerStr(const char* Value, const char* Name) = 0;
    virtual void SerBool(bool& Value, const char* Name) = 0;
    virtual void SerInt(int& Value, const char* Name) = 0;
    virtual void SerFloat(float& Value, const char* Name) = 0;
    // X, Y and Z in that order.
    virtual void SerVec(Vector3D& Value, const char* Name) = 0;
    // Finishes the format and closes the file. For writers true only when every byte was
    // written and the new file has replaced the old one; for readers always true.
    virtual bool End() = 0;

    // The blocks of a scene file, each framed by its opening and closing tag line.
    void SerPic(int& Width, int& Height, const char* Name);
    void SerCam(Vector3D& Camera, const char* Name);
    void SerMat(Mater& Material, const char* Name);
    void SerSph(Sphere& Sphere, const char* Name);
    void SerThor(Thor& Thor, const char* Name);
    void SerLight(Light& Light, const char* Name);

    // True once a reader has met what fails the load: the end of the file before the walk's
    // end, or a value it cannot take. Readers read nothing more after that.
    bool failed() const { return !m_failure.isEmpty(); }
    // What failed, to follow the file's name: " ends before the scene is complete",
    // ": Sphere1 Radius: '1.5x' is not a number", ...
    QString failure() const { return m_failure; }
    // The first bytes of the file a reader reads, to tell a damaged scene file from another file.
    QByteArray head() const { return m_head; }
    // Why Start could not open the file; empty otherwise.
    QString openProblem() const { return m_openProblem; }

protected:
    // Readers: what happens once File is open (by Start or StartOn), such as checking the
    // format's preamble.
    virtual void beginReading() {}
    // Writers: pushes buffered bytes to the file, so that write errors show.
    void flushFile();
    // Writers: opens a new version of the file that replaces the old one at finishWrite.
    bool openForWriting(const QString& fileName);
    // Writers: true when every write succeeded and the new file is in place.
    bool finishWrite();
    // Readers: opens the file and begins reading it; false when it cannot be read.
    bool openForReading(const QString& fileName);
    void finishRead();

    // Writes a tag line, or reads past one without checking it.
    void tag(const char* text);
    // Writers: the bytes of `text` up to its terminating zero.
    void putText(const char* text);
    void putText(const QByteArray& text) { putText(text.constData()); }
    // Readers: the rest of the current line, however long, with its line feed. Empty at the end
    // of the file.
    QByteArray readRestOfLine();
    // Readers: reads and discards up to n bytes.
    void skip(int n);
    // Readers: notes that the file ended before the walk did.
    void ranOut();
    // Readers: `text`, a whole value without blanks around it, into the field `Name` of the
    // current block, or notes why it cannot be.
    void readFloatText(const QByteArray& text, float& Value, const QByteArray& Name);
    // Readers: notes that the value `text` of the field `Name` cannot be taken, and why.
    void badValue(const QByteArray& Name, const QByteArray& text, const QString& problem);
    // Readers: a picture side (the int fields are the two sides): a plain decimal number.
    void readSize(const QByteArray& text, int& Value, const char* Name);
    // The field `Name` of the current block, as messages name it: "Sphere1 Material Color X".
    QByteArray fieldName(const QByteArray& Name) const;

    // False when File is the caller's device.
    bool m_ownsFile = true;
    QString m_failure;
    QByteArray m_head;
    QString m_openProblem;
    bool m_writeFailed = false;

private:
    // Names the fields of one block, within the blocks around it, for messages.
    class Block {
    public:
        Block(Serializer& serial, const char* name);
        ~Block();
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;

    private:
        Serializer& m_serial;
        qsizetype m_outer;
    };
    // Begins reading the open File: notes its head, then the format's own checks.
    void startReading();

    QByteArray m_block;
};

// Whether a file that begins with `head` begins as a scene file of the XML format (`xml`) or
// of the line format does: its first tag, after a byte order mark and blanks.
bool beginsLikeSceneFile(const QByteArray& head, bool xml);

// Walks the scene in file order: screen size, camera, Sphere1, Sphere2, Thor1 to Thor3,
// Light1, Light2. Materials travel inside their objects; the templates are not walked.
void walkScene(Serializer& serial, Scene& scene);

// Writes `scene` to `fileName`. On failure the old file, if any, is left as it was.
bool saveScene(Serializer& writer, const QString& fileName, const Scene& scene, QString* why = nullptr);

// Reads `fileName` over a copy of `scene` and replaces `scene` only when the file could be
// opened, held every value of the walk and sets a picture size within range.
bool loadScene(Serializer& reader, const QString& fileName, Scene& scene, QString* why = nullptr);
// The same from a device open for reading (a scene file in memory, say), called `name` in
// messages.
bool loadScene(Serializer& reader, QIODevice& device, Scene& scene, QString* why = nullptr,
               const QString& name = QStringLiteral("the scene"));
