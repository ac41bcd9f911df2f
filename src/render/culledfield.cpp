#include "render/culledfield.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/raybounds.h"
#include "render/distancefield.h"
#include "render/pow8.h"

namespace {

using namespace bounds;
using namespace thorshapes;

// True when a torus candidate whose in-plane term q lies within [qlo, qhi] is certainly
// greater than `best`, so that it can neither win nor tie. Any p-norm of (q, dz) is at least
// the larger of |q| and |dz|; `scale` bounds the magnitudes the formula rounds.
bool thorBeyond(double qlo, double qhi, double adz, double W, double scale, double best)
{
    const double qAbs = qlo > 0 ? qlo : (qhi < 0 ? -qhi : 0.0);
    const double lower = std::max(qAbs, adz) - W;
    return lower - (kRel * (scale + std::fabs(best)) + kAbs) > best;
}

// The nearer of two candidates for bounding purposes; a not-a-number one is no bound at all.
float nearer(float best, float c)
{
    return c < best ? c : best;
}

} // namespace

CullingField::CullingField(const Scene& scene) : m_scene(scene) {}

float CullingField::operator()(const Vector3D& p, int* numObj, const bool on[5]) const
{
    const Scene& s = m_scene;
    const float inf = std::numeric_limits<float>::infinity();
    // Disabled objects count as kFarAway, as in countMinDist. A skipped object counts as
    // infinity, which changes nothing since it is certainly beyond the winner.
    float cand[5];
    // Spheres are cheap: always exact.
    cand[0] = on[0] ? sphereDistance(s.Sphere1, p) : kFarAway;
    cand[1] = on[1] ? sphereDistance(s.Sphere2, p) : kFarAway;
    // The smallest exact candidate so far; every exact candidate is at least the answer.
    float best = std::isnan(cand[0]) ? cand[1] : nearer(cand[0], cand[1]);

    const Thor* tori[3] = {&s.Thor1, &s.Thor2, &s.Thor3};
    for (int k = 2; k < 5; ++k) {
        if (!on[k]) {
            cand[k] = kFarAway;
            best = nearer(best, kFarAway);
            continue;
        }
        const Thor& t = *tori[k - 2];
        const float dx = p.X - t.PosCen.X, dy = p.Y - t.PosCen.Y, dz = p.Z - t.PosCen.Z;
        const double R = t.Radius, W = t.Width;
        const double adz = std::fabs(static_cast<double>(dz));
        const double m = std::max(std::fabs(static_cast<double>(dx)), std::fabs(static_cast<double>(dy)));
        const double b = best;
        // Infinite inputs are measured exactly: their candidates may be not-a-number.
        const bool finite = std::isfinite(m) && std::isfinite(adz);
        const double spread = k == 4 ? kL8Spread : kL2Spread;
        const double scale = spread * m + std::fabs(R) + adz + std::fabs(W);
        if (finite && thorBeyond(m - R, spread * m - R, adz, W, scale, b)) {
            cand[k] = inf;
            continue;
        }
        // The ring term exactly, then a second, tighter chance before the tube.
        const float q = k == 4 ? squareRing(t, dx, dy, pow8) : roundRing(t, dx, dy);
        if (finite && thorBeyond(q, q, adz, W, scale, b)) {
            cand[k] = inf;
            continue;
        }
        cand[k] = k == 2 ? roundTube(t, q, dz) : squareTube(t, q, dz, pow8);
        best = nearer(best, cand[k]);
    }

    return nearestOf(cand, numObj);
}
