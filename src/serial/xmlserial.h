#pragma once

#include "serial/serializer.h"

// The XML scene file: a declaration, <Scene>, one element line per value, </Scene>.
// Element lines read `<Kind Name = "FIELD"> VALUE </Kind>`.

// Writes the XML scene file.
class XMLS : public Serializer {
public:
    XMLS();
    bool Start(QString FileName) override;
    void SerStr(const char* Value, const char* Name) override;
    void SerBool(bool& Value, const char* Name) override;
    void SerInt(int& Value, const char* Name) override;
    void SerFloat(float& Value, const char* Name) override;
    void SerVec(Vector3D& Value, const char* Name) override;
    bool End() override;

private:
    void element(const char* kind, const char* name, const QByteArray& value);
};

// Reads the XML scene file. Not an XML parser: each value is found behind the second quote
// and the next '>' of its element, whatever the names say.
class XMLL : public Serializer {
public:
    XMLL();
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
    // Moves behind the '>' and the blank that precede the next value; false at the end of file.
    bool seekValue();
    // Reads up to and including `stop`; false at the end of the file.
    bool readThrough(char stop);
    // The rest of the value's line; notes running out when there is none.
    QByteArray valueText();
};

// The texts the XML file is made of.
extern const char* const StartStr;
extern const char* const EndStr;
