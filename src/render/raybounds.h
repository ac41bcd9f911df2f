#pragma once

#include "scene/scene.h"

// Rigorous bounds that let the fast paths do less work without changing a single bit of the
// picture: an object may be skipped at a step when it is certainly farther than another
// (culledfield, lanes), and a pixel may stop marching when it can certainly meet nothing more
// (ClearanceTest).
namespace bounds {

// Margins of the skip tests: a bound is trusted only by this much more than the float and
// double roundings inside one candidate's formula can add up to (at most 8 roundings of
// unit 2^-24, gamma(8) < 5e-7), and still far less than the gaps that decide the skips.
constexpr double kRel = 1e-5;
constexpr double kAbs = 1e-30;
// The eighth-power norm of a pair exceeds its larger part by at most 2^(1/8); the Euclidean
// norm by at most 2^(1/2). Both rounded well up, so that they stay above when rounded to float.
constexpr double kL8Spread = 1.0906;
constexpr double kL2Spread = 1.41422;

// Every point the march measures after its start passed the range test, Length < 30; Length
// carries at most 5 float roundings plus one of the root (gamma(6) < 4e-7 relative), so the
// point lies within 30 * (1 + 4e-7) < 30.0001 of the origin.
constexpr double kBall = 30.0001;
// The drift allowed for points within the ball: with the step floor of at least 0.01 it comes
// to at most (2 * 30.05 / 0.99 / 0.01 + 2) * kStepDrift + kU * 1.01 * 61 < 0.0101, checked in
// the ClearanceTest constructor.
constexpr double kBallDrift = 0.05;
// The test's own double arithmetic, a few dozen operations of unit 2^-53, relative to the
// magnitudes involved.
constexpr double kGeomSlack = 1e-12;
// A ray's direction is the float difference of screen point and camera divided by its float
// length: at most 4 roundings per component, so it points within 4e-7 radians of the exact
// direction (1e-6 allowed), and it is a unit vector within 1e-6.
constexpr double kDirAngle = 1e-6;
constexpr double kDirLenLo = 0.99, kDirLenHi = 1.01;
// A test that failed is not repeated before the ray has marched at least this much further.
constexpr double kMinRetest = 0.01;

} // namespace bounds

// The outcome of a ClearanceTest at one marching point.
struct Clearance {
    // True when no step from this point on can be a hit: the pixel's colour is final.
    bool clear = false;
    // Otherwise, how far the march must travel (the sum of its step lengths) before a new test
    // at the point reached may succeed; infinity when none will.
    double retestAt = 0;
};

// Proves that a pixel's march can meet nothing more. Between hits a step is longer than W1,
// so the marching point only moves forward along the ray's direction D; a hit needs an enabled
// object's candidate at or below W1. The test shows that along the rest of the ray, widened by
// the float drift of the marching point, every enabled object's candidate stays at or above a
// step floor s > W1, which also bounds the number of remaining steps and so the drift itself.
// Each margin is derived at the code. Objects with infinite or not-a-number values, and rays
// whose direction is not a unit vector, are never cleared.
class ClearanceTest {
public:
    explicit ClearanceTest(const Scene& scene);

    // At the marching point p of a ray with direction D, with the objects `on` still enabled,
    // before the step from p. p is the camera or a point the march kept (within 30 of the
    // origin); at any other point the answer is "not clear, never". At the camera only, `may`
    // from mayMeetFromCamera for the ray's tile leaves out the objects it rules out: together
    // the two tests cover every object along the whole march. Further on, the march may have
    // drifted farther than mayMeetFromCamera allowed for, and every enabled object is tested.
    Clearance operator()(const Vector3D& p, const Vector3D& D, const bool on[5], unsigned may = 0x1f) const;

    // The objects (bit k for object k, 0 Sphere1 .. 4 Thor3) whose candidates may fall below the
    // step floor near a ray from the camera through the screen rectangle [x0, x1] x [y0, y1]
    // (in the plane z = 0). 0: no ray through it can meet anything, its pixels are black.
    unsigned mayMeetFromCamera(double x0, double x1, double y0, double y1) const;

    // Where an object's candidate may be below the step floor, widened by the drift: a ball,
    // or for a torus a slab across its axis cut by an annulus around it, and a ball around that.
    struct Region {
        bool empty = true;
        double c[3] = {0, 0, 0};
        double rad2 = 0;             // squared radius of the ball (spheres) or of the bounding ball (tori)
        double hz = 0;               // tori: half thickness of the slab
        double rhoLo2 = 0, rhoHi2 = 0; // tori: squared radii of the annulus (rhoLo2 < 0: none inside)
        double outSphere = 0, outRho = 0; // how far beyond the ball or the annulus a retest succeeds
    };

    // What the test reads, for its vector form (lanes), which works the same formulas for
    // several rays at once. The regions for points within the ball of radius kBall, whose rays
    // are cut at ballReach(); and those for the camera, wherever it stands, cut at cameraReach().
    bool usable() const { return m_usable; }
    bool cameraUsable() const { return m_camUsable; }
    bool finiteObject(int k) const { return m_finite[k]; }
    const Region* ballRegions() const { return m_ball; }
    const Region* cameraRegions() const { return m_camRegion; }
    static constexpr double ballReach() { return bounds::kBall + bounds::kBallDrift; }
    double cameraReach() const { return m_camBall; }

private:
    // The regions for points whose march has at most `chord` left inside the ball, started at
    // most `tOut` along the ray, with no point beyond `pMax` of the origin, widened by the drift
    // of such a march, at least `minDrift`.
    void makeRegions(Region out[5], double chord, double tOut, double pMax, double minDrift) const;

    const Scene& m_scene;
    Vector3D m_camera;
    bool m_usable = false, m_camUsable = false;
    double m_camBall = 0; // radius of the ball the ray from the camera is cut to
    bool m_finite[5];
    double m_floor = 0;
    Region m_ball[5];   // for points within the ball
    Region m_camRegion[5]; // for the camera, wherever it stands
    double m_camOffset[5][3] = {}; // the camera regions' centres from the camera
    double m_camBeyond[5] = {};    // how far outside a side of a tile's pyramid a region lies clear of it
};
