#include "scene/vector3d.h"

#include <cmath>

float Vector3D::Length() const
{
    // Float sum of squares, double square root, stored back as float.
    return static_cast<float>(std::sqrt(static_cast<double>(SqrLen())));
}
