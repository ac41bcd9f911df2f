#include "render/lighting.h"

Vector3D countLites(Vector3D Dist, Vector3D Color, Vector3D SpeColor, const Light& Light0)
{
    const float t = (Dist - Light0.GetPos()).Length();
    // Both partial terms are rounded to float before they are added.
    const float tt = t * t;
    const float lin = Light0.GetLinear() * t + Light0.GetConst();
    const float p = 1.0f / (Light0.GetQuadric() * tt + lin);
    const Vector3D lc = Light0.GetColor();
    Vector3D Col(lc.X * p * (SpeColor.X + 1.0f) * Color.X,
                 lc.Y * p * (SpeColor.Y + 1.0f) * Color.Y,
                 lc.Z * p * (SpeColor.Z + 1.0f) * Color.Z);
    capAt255(Col);
    return Col;
}
