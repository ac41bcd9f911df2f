#include "serial/binserial.h"

#include <cstring>

#include "fileio/textio.h"

BinS::BinS()
{
    readWrite = true;
    format = false;
}

bool BinS::Start(QString FileName)
{
    return openForWriting(FileName);
}

void BinS::line(const char* typeWord, const QByteArray& value)
{
    putText(typeWord);
    putText(value);
    putText("\n");
    flushFile();
}

void BinS::SerStr(const char* Value, const char*)
{
    // Only the first four bytes of a caption are kept; readers skip captions anyway.
    line("char* ", QByteArray(Value, static_cast<int>(qMin<size_t>(4, std::strlen(Value)))));
}

void BinS::SerBool(bool& Value, const char*)
{
    line("bool ", Value ? "true" : "false");
}

void BinS::SerInt(int& Value, const char*)
{
    line("int ", formatC("%i", Value));
}

void BinS::SerFloat(float& Value, const char*)
{
    line("float ", formatC("%f", static_cast<double>(Value)));
}

void BinS::SerVec(Vector3D& Value, const char* Name)
{
    SerStr(Name, "Vector3D");
    SerFloat(Value.X, "Float");
    SerFloat(Value.Y, "Float");
    SerFloat(Value.Z, "Float");
}

bool BinS::End()
{
    return finishWrite();
}

BinL::BinL()
{
    readWrite = false;
    format = false;
}

bool BinL::Start(QString FileName)
{
    return openForReading(FileName);
}

void BinL::beginReading()
{
    // A UTF-8 byte order mark, as some editors write, is no part of the scene.
    if (File->peek(3) == "\xEF\xBB\xBF")
        skip(3);
}

QByteArray BinL::valueText()
{
    if (failed())
        return QByteArray();
    const QByteArray text = readRestOfLine();
    if (text.isEmpty()) {
        ranOut();
        return text;
    }
    // Skip the type word: leading blanks, then the run of non-blank characters.
    int k = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (k < text.size() && blank(text[k]))
        ++k;
    while (k < text.size() && !blank(text[k]))
        ++k;
    return text.mid(k).trimmed();
}

void BinL::SerStr(const char*, const char*)
{
    valueText();
}

void BinL::SerBool(bool& Value, const char*)
{
    const QByteArray words = valueText().simplified();
    if (!words.isEmpty())
        Value = words.split(' ').first() == "true";
}

void BinL::SerInt(int& Value, const char* Name)
{
    const QByteArray text = valueText();
    if (!failed())
        readSize(text, Value, Name);
}

void BinL::SerFloat(float& Value, const char* Name)
{
    const QByteArray text = valueText();
    if (!failed())
        readFloatText(text, Value, Name);
}

void BinL::SerVec(Vector3D& Value, const char* Name)
{
    SerStr(nullptr, "Caption");
    SerFloat(Value.X, QByteArray(Name).append(" X").constData());
    SerFloat(Value.Y, QByteArray(Name).append(" Y").constData());
    SerFloat(Value.Z, QByteArray(Name).append(" Z").constData());
}

bool BinL::End()
{
    finishRead();
    return true;
}
