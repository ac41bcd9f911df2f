#pragma once

#include "serial/serializer.h"

// The line format ("Bin"): text lines, one per value, each led by a type word ("int 1024",
// "float 0.500000", "char* Sphe"), framed by the same tag lines as the XML file. A vector is
// its name's caption line and three float lines.

// Writes the line format.
class BinS : public Serializer {
public:
    BinS();
    bool Start(QString FileName) override;
    void SerStr(const char* Value, const char* Name) override;
    void SerBool(bool& Value, const char* Name) override;
    void SerInt(int& Value, const char* Name) override;
    void SerFloat(float& Value, const char* Name) override;
    void SerVec(Vector3D& Value, const char* Name) override;
    bool End() override;

private:
    void line(const char* typeWord, const QByteArray& value);
};

// Reads the line format strictly line by line: the n-th line feeds the n-th field, the type
// word is skipped unread.
class BinL : public Serializer {
public:
    BinL();
    bool Start(QString FileName) override;
    void SerStr(const char* Value, const char* Name) override;
    void SerBool(bool& Value, const char* Name) override;
    void SerInt(int& Value, const char* Name) override;
    void SerFloat(float& Value, const char* Name) override;
    void SerVec(Vector3D& Value, const char* Name) override;
    bool End() override;

protected:
    void beginReading() override;

private:
    // The next line without its type word; notes running out at the end of the file.
    QByteArray valueText();
};
