#include "serial/xmlserial.h"

#include <algorithm>
#include <cstring>

#include "fileio/textio.h"

const char* const StartStr = "<?xml version = \"1.0\"?>\n<Scene>\n";
const char* const EndStr = "</Scene>";

namespace {
const char* const kNameOpen = " Name = \"";
const char* const kNameClose = "\"> ";
} // namespace

XMLS::XMLS()
{
    readWrite = true;
    format = true;
}

bool XMLS::Start(QString FileName)
{
    if (!openForWriting(FileName))
        return false;
    putText(StartStr);
    flushFile();
    return true;
}

void XMLS::element(const char* kind, const char* name, const QByteArray& value)
{
    putText("<");
    putText(kind);
    putText(kNameOpen);
    putText(name);
    putText(kNameClose);
    putText(value);
    putText(" </");
    putText(kind);
    putText(">\n");
    flushFile();
}

void XMLS::SerStr(const char* Value, const char* Name)
{
    element("String", Name, QByteArray(Value));
}

void XMLS::SerBool(bool& Value, const char* Name)
{
    element("Bool", Name, Value ? "true" : "false");
}

void XMLS::SerInt(int& Value, const char* Name)
{
    element("Int", Name, formatC("%d", Value));
}

void XMLS::SerFloat(float& Value, const char* Name)
{
    element("Float", Name, formatC("%f", static_cast<double>(Value)));
}

void XMLS::SerVec(Vector3D& Value, const char* Name)
{
    element("Vector", Name,
            formatC("%f %f %f", static_cast<double>(Value.X), static_cast<double>(Value.Y),
                    static_cast<double>(Value.Z)));
}

bool XMLS::End()
{
    putText(EndStr);
    return finishWrite();
}

XMLL::XMLL()
{
    readWrite = false;
    format = true;
}

bool XMLL::Start(QString FileName)
{
    return openForReading(FileName);
}

void XMLL::beginReading()
{
    // A whole file closes its scene at its end; without "</Scene>" there it was cut short,
    // perhaps inside its last value, which would still read as a number. Nothing more is read.
    const qint64 size = File->size();
    File->seek(std::max<qint64>(0, size - 64));
    if (!File->read(64).trimmed().endsWith(EndStr))
        ranOut();
    File->seek(0);
    // The declaration and <Scene> are skipped unread.
    skip(static_cast<int>(std::strlen(StartStr)));
}

bool XMLL::readThrough(char stop)
{
    char c = 0;
    do {
        if (!File->getChar(&c))
            return false;
    } while (c != stop);
    return true;
}

bool XMLL::seekValue()
{
    if (failed())
        return false;
    if (!readThrough('"') || !readThrough('"') || !readThrough('>')) {
        ranOut();
        return false;
    }
    // The blank the writer puts behind '>'.
    skip(1);
    return true;
}

QByteArray XMLL::valueText()
{
    const QByteArray line = readRestOfLine();
    if (line.isEmpty()) {
        ranOut();
        return line;
    }
    // The value ends where the element's closing tag begins, or with the line.
    const qsizetype end = line.indexOf('<');
    return line.left(end < 0 ? line.size() : end).trimmed();
}

void XMLL::SerStr(const char*, const char*)
{
    if (!seekValue())
        return;
    if (!readThrough('<')) {
        ranOut();
        return;
    }
    skip(6);
}

void XMLL::SerBool(bool& Value, const char*)
{
    if (!seekValue())
        return;
    const QByteArray text = valueText();
    const QList<QByteArray> words = text.simplified().split(' ');
    Value = !words.isEmpty() && words.first() == "true";
    skip(8);
}

void XMLL::SerInt(int& Value, const char* Name)
{
    if (!seekValue())
        return;
    const QByteArray text = valueText();
    if (!failed())
        readSize(text, Value, Name);
    skip(8);
}

void XMLL::SerFloat(float& Value, const char* Name)
{
    if (!seekValue())
        return;
    const QByteArray text = valueText();
    if (!failed())
        readFloatText(text, Value, Name);
    skip(9);
}

void XMLL::SerVec(Vector3D& Value, const char* Name)
{
    if (!seekValue())
        return;
    const QByteArray text = valueText();
    if (failed())
        return;
    const QList<QByteArray> parts = text.simplified().split(' ');
    if (text.isEmpty() || parts.size() != 3) {
        badValue(Name, text,
                 text.isEmpty() ? numberProblem(NumberText::Empty) : QStringLiteral("is not three numbers"));
        return;
    }
    readFloatText(parts[0], Value.X, QByteArray(Name) + " X");
    readFloatText(parts[1], Value.Y, QByteArray(Name) + " Y");
    readFloatText(parts[2], Value.Z, QByteArray(Name) + " Z");
    skip(9);
}

bool XMLL::End()
{
    finishRead();
    return true;
}
