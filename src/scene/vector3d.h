#pragma once

#include <cmath>

// A point, a direction, a colour (X red, Y green, Z blue) or a per-channel coefficient.
// Every component is a 32-bit float and every result is rounded to float when stored.
class Vector3D {
public:
    float X;
    float Y;
    float Z;

    Vector3D() : X(0.0f), Y(0.0f), Z(0.0f) {}
    Vector3D(float x, float y, float z) : X(x), Y(y), Z(z) {}

    Vector3D operator+(const Vector3D& V) const { return Vector3D(X + V.X, Y + V.Y, Z + V.Z); }
    // Adds in place but returns a copy, so `r = a += b` gives an r independent of a.
    Vector3D operator+=(const Vector3D& V)
    {
        X += V.X;
        Y += V.Y;
        Z += V.Z;
        return *this;
    }
    Vector3D operator*(float t) const { return Vector3D(X * t, Y * t, Z * t); }
    Vector3D operator-(const Vector3D& V) const { return Vector3D(X - V.X, Y - V.Y, Z - V.Z); }
    Vector3D operator-() const { return Vector3D(-X, -Y, -Z); }
    // Dot product.
    float operator*(const Vector3D& V) const { return X * V.X + Y * V.Y + Z * V.Z; }

    // Square root (double library function) of the float sum of squares, rounded to float.
    // Float sum of squares, double square root, stored back as float.
    float Length() const { return static_cast<float>(std::sqrt(static_cast<double>(SqrLen()))); }
    float SqrLen() const { return X * X + Y * Y + Z * Z; }
    // This vector divided by its Length(); the zero vector gives not-a-number components.
    Vector3D NormVect() const
    {
        const float d = Length();
        return Vector3D(X / d, Y / d, Z / d);
    }

    bool operator==(const Vector3D& V) const { return X == V.X && Y == V.Y && Z == V.Z; }
    bool operator!=(const Vector3D& V) const { return !(*this == V); }
};

// A start point and a unit direction.
class Ray {
public:
    Vector3D Start;
    Vector3D Direction;

    Ray() = default;
    // Starts at Start0 and points from Look towards Start0 (not-a-number when they are equal).
    Ray(const Vector3D& Start0, const Vector3D& Look) : Start(Start0), Direction(((-Look) + Start).NormVect()) {}

    // The squared length of the direction, not its length.
    float GetDirLen() const { return Direction.SqrLen(); }
    Vector3D GetDir() const { return Direction; }
};
