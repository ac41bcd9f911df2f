#include "render/raybounds.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace bounds;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Unit roundoff of float arithmetic.
constexpr double kU = 0x1p-24;
// One step, temp += D * len, rounds the product and the sum in each of three components. The
// sum's result is a measured point, below 32 in every component, so it errs by at most half an
// ulp of 16..32, 2^-20: sqrt(3) * 2^-20 in length. The product errs by at most kU * |D| * len,
// and the steps add up to at most the way along the ray, tOut.
constexpr double kStepDrift = 1.7320508075688775 * 0x1p-20;
// A candidate as computed differs from its exact value (in reals, at the same float point) by at
// most gamma(8) times the sum of the magnitudes in its formula: 3 float differences, the ring
// rounded to float, the ring radius subtracted in float, the result rounded to float, the
// double roots and powers below 2^-50 each. 1e-6 >= gamma(16) covers that twice over.
constexpr double kRelFormula = 1e-6;
// |(x, y)|_2 <= 2^(3/8) |(x, y)|_8: 1.29683955... rounded up.
constexpr double kL8Widen = 1.2968396;

double dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool finite(const Vector3D& v)
{
    return std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.Z);
}

// The drift of the measured points from the exact ray when at most `chord / s + 2` steps are
// taken, adding up to at most tOut.
double driftFor(double chord, double tOut, double s)
{
    return (std::floor(chord / s) + 2) * kStepDrift + kU * kDirLenHi * tOut * (1 + 1e-6);
}

} // namespace

ClearanceTest::ClearanceTest(const Scene& scene) : m_scene(scene), m_camera(scene.CamPos)
{
    m_finite[0] = finite(scene.Sphere1.Position) && std::isfinite(scene.Sphere1.Radius);
    m_finite[1] = finite(scene.Sphere2.Position) && std::isfinite(scene.Sphere2.Radius);
    const Thor* tori[3] = {&scene.Thor1, &scene.Thor2, &scene.Thor3};
    for (int k = 0; k < 3; ++k)
        m_finite[k + 2] = finite(tori[k]->PosCen) && std::isfinite(tori[k]->Radius) && std::isfinite(tori[k]->Width);
    const float W1 = 1.0f / static_cast<float>(scene.Wid);
    if (!(W1 > 0) || !std::isfinite(W1) || !finite(m_camera))
        return;
    // The step floor: above W1, and small enough to widen the test little, yet large enough to
    // keep the number of steps across the ball, and so their drift, small.
    m_floor = std::max(0.01, 2.0 * W1);

    const double rb = kBall + kBallDrift;
    const double chord = 2 * rb / kDirLenLo;
    if (!(driftFor(chord, chord, m_floor) <= kBallDrift))
        return;
    makeRegions(m_ball, chord, chord, rb, 0);
    // From the camera the ray runs at most |camera| + rb to the ball's far side.
    const double cam = std::sqrt(double(m_camera.X) * m_camera.X + double(m_camera.Y) * m_camera.Y +
                                 double(m_camera.Z) * m_camera.Z);
    m_usable = true;
    // The measured points lie within the ball; the ray's points near them within the drift.
    // A camera far away lets the first step drift by up to kU of its length: up to 1 allowed.
    const double tCam = (cam + kBall + 1) / kDirLenLo;
    const double chordCam = 2 * (kBall + 1) / kDirLenLo;
    // At least the drift of the ball's regions, so that a camera region holds the ball region of
    // the same object (see mayMeetFromCamera).
    const double eCam = std::max(driftFor(chordCam, tCam, m_floor), driftFor(chord, chord, m_floor));
    m_camUsable = eCam <= 1;
    m_camBall = kBall + eCam;
    makeRegions(m_camRegion, chordCam, tCam, std::max({cam, rb, m_camBall}), eCam);
    // What mayMeetFromCamera asks of each region for every tile: where it lies from the camera,
    // and how far outside a side of the tile's pyramid its ball must lie.
    const double C[3] = {m_camera.X, m_camera.Y, m_camera.Z};
    for (int k = 0; k < 5; ++k) {
        const Region& g = m_camRegion[k];
        double* o = m_camOffset[k];
        for (int a = 0; a < 3; ++a)
            o[a] = g.c[a] - C[a];
        const double rad = std::sqrt(g.rad2);
        // A ray's float direction may stray by kDirAngle, moving its points sideways by that
        // much of their distance from the camera.
        const double reach = rad + kDirAngle * (std::sqrt(dot(o, o)) + rad);
        m_camBeyond[k] = reach * (1 + kGeomSlack) + kGeomSlack * std::sqrt(dot(o, o));
    }
}

void ClearanceTest::makeRegions(Region out[5], double chord, double tOut, double pMax, double minDrift) const
{
    const double s = m_floor;
    const double e = std::max(driftFor(chord, tOut, s), minDrift);
    // A point that leaves a region by this much is cleared by the next test there.
    const double gap = 0.25 * s + 1e-4;
    const Sphere* spheres[2] = {&m_scene.Sphere1, &m_scene.Sphere2};
    const Thor* tori[3] = {&m_scene.Thor1, &m_scene.Thor2, &m_scene.Thor3};
    for (int k = 0; k < 5; ++k) {
        Region& g = out[k];
        g = Region();
        const Vector3D cv = k < 2 ? spheres[k]->Position : tori[k - 2]->PosCen;
        g.c[0] = cv.X;
        g.c[1] = cv.Y;
        g.c[2] = cv.Z;
        const double cAbs = std::sqrt(dot(g.c, g.c));
        if (k < 2) {
            // Where the candidate is below s: |x - c| < r + s + M.
            const double r = spheres[k]->Radius;
            const double M = kRelFormula * (pMax + cAbs + std::fabs(r) + s);
            double rad = r + s + M + e;
            if (!(rad > 0))
                continue;
            rad += kGeomSlack * (pMax + cAbs + rad);
            g.empty = false;
            g.rad2 = rad * rad;
            g.outSphere = rad + gap;
            continue;
        }
        // Any p-norm of (q, dz) is at least the larger of |q| and |dz|, so where the candidate
        // is below s: |dz| < h and |ring - R| < h, with h = W + s + M. The ring's Euclidean
        // radius in the plane then lies in (R - h, R + h), or (R - h, 2^(3/8) (R + h)) for the
        // eighth-power ring.
        const Thor& t = *tori[k - 2];
        const double R = t.Radius, W = t.Width;
        const double scale = 2 * (pMax + cAbs) + std::fabs(R) + std::fabs(W) + s;
        const double h = W + s + kRelFormula * scale;
        if (!(h > 0) || !(R + h > 0))
            continue;
        const double slack = kGeomSlack * (scale + e);
        g.empty = false;
        g.hz = h + e + slack;
        const double rhoHi = (k == 4 ? kL8Widen : 1.0) * (R + h) + e + slack;
        const double rhoLo = R - h - e - slack;
        g.rhoHi2 = rhoHi * rhoHi;
        g.rhoLo2 = rhoLo > 0 ? rhoLo * rhoLo : -1;
        g.rad2 = g.hz * g.hz + g.rhoHi2;
        g.outSphere = g.hz + gap;
        g.outRho = rhoHi + gap;
    }
}

Clearance ClearanceTest::operator()(const Vector3D& point, const Vector3D& dir, const bool on[5], unsigned may) const
{
    Clearance never;
    never.retestAt = kInf;
    if (!m_usable)
        return never;
    const double p[3] = {point.X, point.Y, point.Z};
    const double D[3] = {dir.X, dir.Y, dir.Z};
    const double dd = dot(D, D);
    const double pp = dot(p, p);
    if (!(dd > kDirLenLo * kDirLenLo && dd < kDirLenHi * kDirLenHi))
        return never;
    const Region* regions = m_ball;
    double rb = kBall + kBallDrift;
    if (!(pp < kBall * kBall)) {
        if (!m_camUsable || std::memcmp(&point, &m_camera, sizeof point) != 0)
            return never;
        regions = m_camRegion;
        rb = m_camBall;
    }
    for (int k = 0; k < 5; ++k)
        if (on[k] && !m_finite[k])
            return never;

    // The rest of the ray, p + t D for t >= 0, up to where it leaves the ball widened by the
    // drift: every point the march measures lies within the drift of it. Cut there only for the
    // tori's slabs; the rest of the test looks along the whole half-line, which is safe.
    const double invDd = 1 / dd;
    bool clear = true;
    double retestAt = 0;
    const auto block = [&](double t) {
        clear = false;
        retestAt = std::max(retestAt, t);
    };
    // What the tori's slab and annulus need of the ray, worked out for the first torus that
    // needs it.
    bool haveLine = false;
    double tOut = 0, invDz = 0, bb = 0, invBb = 0;
    for (int k = 0; k < 5; ++k) {
        const Region& g = regions[k];
        if (!on[k] || !((may >> k) & 1) || g.empty)
            continue;
        // The ray's nearest approach to the region's ball over [0, tOut].
        const double w[3] = {g.c[0] - p[0], g.c[1] - p[1], g.c[2] - p[2]};
        const double tc = dot(w, D) * invDd;
        const double tNear = std::max(tc, 0.0);
        const double v[3] = {tNear * D[0] - w[0], tNear * D[1] - w[1], tNear * D[2] - w[2]};
        if (dot(v, v) > g.rad2)
            continue;
        if (k < 2) {
            const double u[3] = {tc * D[0] - w[0], tc * D[1] - w[1], tc * D[2] - w[2]};
            block(tc + std::sqrt(std::max(0.0, g.outSphere * g.outSphere - dot(u, u)) * invDd));
            continue;
        }
        // A torus: the slab |dz| < hz as an interval of t.
        if (!haveLine) {
            haveLine = true;
            const double half = dot(p, D) * invDd;
            const double disc = half * half - (pp - rb * rb) * invDd;
            tOut = disc > 0 ? std::max(0.0, (-half + std::sqrt(disc)) * (1 + kGeomSlack)) : 0.0;
            invDz = 1 / D[2];
            bb = D[0] * D[0] + D[1] * D[1];
            invBb = 1 / bb;
        }
        const double dz0 = -w[2];
        double ta = -kInf, tb = kInf;
        if (D[2] != 0) {
            ta = (-g.hz - dz0) * invDz;
            tb = (g.hz - dz0) * invDz;
            if (ta > tb)
                std::swap(ta, tb);
        } else if (!(std::fabs(dz0) < g.hz)) {
            continue;
        }
        const double t1 = std::max(ta, 0.0), t2 = std::min(tb, tOut);
        if (t1 > t2)
            continue;
        // The squared in-plane distance from the axis, |a + t b|^2, is convex in t: over [t1, t2]
        // it takes every value between its least (at the nearest point) and the larger end.
        const double a0 = -w[0], a1 = -w[1];
        const auto rho2 = [&](double t) {
            const double x = a0 + t * D[0], y = a1 + t * D[1];
            return x * x + y * y;
        };
        const double mid = -(a0 * D[0] + a1 * D[1]) * invBb;
        const double tm = bb > 0 ? std::min(std::max(mid, t1), t2) : t1;
        if (rho2(tm) >= g.rhoHi2 || std::max(rho2(t1), rho2(t2)) <= g.rhoLo2)
            continue;
        if (D[2] != 0)
            block(std::max(ta, tb) + (g.outSphere - g.hz) * std::fabs(invDz));
        else if (bb > 0)
            // Parallel to the slab: past the annulus for good beyond its outer circle.
            block(mid + std::sqrt(std::max(0.0, g.outRho * g.outRho - rho2(mid)) * invBb));
        else
            block(kInf);
    }
    Clearance result;
    result.clear = clear;
    result.retestAt = clear ? 0 : retestAt;
    return result;
}

unsigned ClearanceTest::mayMeetFromCamera(double x0, double x1, double y0, double y1) const
{
    constexpr unsigned all = 0x1f;
    if (!m_usable || !m_camUsable)
        return all;
    for (bool f : m_finite)
        if (!f)
            return all;
    const double C[3] = {m_camera.X, m_camera.Y, m_camera.Z};
    // The rays through the rectangle fill the pyramid from the camera over it; the rectangle is
    // widened a hair so that a single row or column still spans one.
    if (!(std::fabs(C[2]) > 1e-6))
        return all;
    const double eps = 1e-6 * (1 + std::fabs(x0) + std::fabs(x1) + std::fabs(y0) + std::fabs(y1));
    const double S[4][3] = {{x0 - eps, y0 - eps, -C[2]}, {x1 + eps, y0 - eps, -C[2]}, {x1 + eps, y1 + eps, -C[2]},
                            {x0 - eps, y1 + eps, -C[2]}};
    double mid[3] = {0, 0, 0};
    for (const auto& s : S)
        for (int a = 0; a < 3; ++a)
            mid[a] += 0.25 * (a < 2 ? s[a] - C[a] : s[a]);
    // Corners relative to the camera (S[k][2] already holds 0 - C.z).
    double n[4][3], nLen[4];
    for (int k = 0; k < 4; ++k) {
        const double a[3] = {S[k][0] - C[0], S[k][1] - C[1], S[k][2]};
        const double* bq = S[(k + 1) % 4];
        const double b[3] = {bq[0] - C[0], bq[1] - C[1], bq[2]};
        n[k][0] = a[1] * b[2] - a[2] * b[1];
        n[k][1] = a[2] * b[0] - a[0] * b[2];
        n[k][2] = a[0] * b[1] - a[1] * b[0];
        // Inward: towards the rectangle's middle.
        if (dot(n[k], mid) < 0)
            for (double& x : n[k])
                x = -x;
        nLen[k] = std::sqrt(dot(n[k], n[k]));
        if (!(nLen[k] > 0))
            return all;
    }
    unsigned may = 0;
    for (int k = 0; k < 5; ++k) {
        if (m_camRegion[k].empty)
            continue;
        bool outside = false;
        for (int f = 0; f < 4 && !outside; ++f)
            outside = dot(n[f], m_camOffset[k]) < -m_camBeyond[k] * nLen[f];
        if (!outside)
            may |= 1u << k;
    }
    return may;
}
