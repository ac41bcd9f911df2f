#pragma once

#include <QByteArray>

// Number text for the scene files. Both directions use the C conventions ("%f", "%d") whatever
// the user's locale, so files read back the same on every machine.

// printf-style formatting in the C locale.
QByteArray formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Parses a decimal int the way "%d" scans it (white space skipped, optional sign). On success
// stores it and moves `text` behind it; a missing or out-of-range number changes nothing.
bool scanInt(const char*& text, int& value);

// Parses a float the way "%f" scans it, rounded straight to float. Same contract as scanInt.
bool scanFloat(const char*& text, float& value);

// Parses up to three blank-separated floats into x, y, z in turn, stopping at the first that
// does not parse; the rest keep their values. Returns how many were read.
int scanFloats3(const char* text, float& x, float& y, float& z);
