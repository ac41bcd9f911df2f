#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Number text for the files the programs read and write, and input quoted in messages. Numbers
// follow the C conventions ("%f", "%d") whatever the user's locale, so files read back the
// same on every machine.

// printf-style formatting in the C locale.
QByteArray formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a value's text holds.
enum class NumberText {
    Ok,
    Empty,
    NotANumber, // anything but one whole number: "abc", "1,5", "1.5junk", "1 2"
    NotFinite,  // "inf", "nan" and their kin, spelled out
    OutOfRange, // a number beyond the type: 1e39 for a float
};

// The whole of `text`, without blanks around it, as a float read the way "%f" reads it:
// rounded once, straight to float; a number too small for a float rounds to it (0 or the
// nearest subnormal); hexadecimal ("0x1p-3") too. `value` changes only when the result is Ok.
// The one reader of floats: scene files, camera paths, options and the scene panel all read
// with it, so that a text means the same number everywhere.
NumberText readFloat(QByteArrayView text, float& value);

// The shortest text that readFloat reads back as `value`, bit for bit ("0.1", "-0", "1e-07").
QByteArray shortestText(float value);

// The same as a QString, as the scene panel and the key frames show a value.
QString floatText(float value);
// `value` as a scene file holds it ("%f": six decimals), without trailing zeros: "0", "-1.1",
// "0.333333". A value that rounds to zero reads "0", whatever its sign.
QString roundedText(float value);
// A value typed into a field: the whole of `text`, blanks around it dropped, read as readFloat
// reads; false when it is not a finite float, with `why` saying what is wrong ("a number is
// needed" when there is nothing).
bool readFloatEntry(const QString& text, float& value, QString* why = nullptr);

// The whole of `text` as a decimal whole number (an optional sign, then digits only) from lo
// to hi. `value` changes only when the result is Ok.
NumberText readWholeNumber(QByteArrayView text, qint64 lo, qint64 hi, qint64& value);

// "not a number", "out of range", "not a finite number", "empty": what is wrong with a text
// that is not Ok.
QString numberFault(NumberText result);
// The same as a sentence's end: "is not a number", ...
QString numberProblem(NumberText result);

// `text` fit to quote in a one-line message: bytes that are no printable character (control
// characters, a NUL, bytes that are not UTF-8) escaped as \n, \t, \r or \xHH, and cut to
// about `max` characters, marked by "...".
QString printable(QByteArrayView text, int max = 60);

// A file name fit for a message: escaped as printable does; a very long one is cut in the
// middle, keeping its end.
QString printableName(const QString& fileName);
