#pragma once

#include "scene/light.h"

// The colour one light lends to a surface point `Dist` whose colour (0..255 scale, already
// weighted) is `Color` and whose material boosts lights by 1 + `SpeColor`. Only the distance to
// the light matters; each channel is capped at 255 from above.
Vector3D countLites(Vector3D Dist, Vector3D Color, Vector3D SpeColor, const Light& Light0);
