#pragma once

#include "scene/light.h"

// Caps each channel at 255 from above; nothing is capped from below.
inline void capAt255(Vector3D& c)
{
    if (c.X > 255.0f)
        c.X = 255.0f;
    if (c.Y > 255.0f)
        c.Y = 255.0f;
    if (c.Z > 255.0f)
        c.Z = 255.0f;
}

// The colour one light lends to a surface point `Dist` whose colour (0..255 scale, already
// weighted) is `Color` and whose material boosts lights by 1 + `SpeColor`. Only the distance to
// the light matters; each channel is capped at 255 from above.
Vector3D countLites(Vector3D Dist, Vector3D Color, Vector3D SpeColor, const Light& Light0);
