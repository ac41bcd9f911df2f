#pragma once

// Margins of the rigorous lower bounds that let the fast fields skip an object: a bound is
// trusted only by this much more than the float and double roundings inside one candidate's
// formula can add up to, and still far less than the gaps that decide the skips.
namespace bounds {

constexpr double kRel = 1e-5;
constexpr double kAbs = 1e-30;
// The eighth-power norm of a pair exceeds its larger part by at most 2^(1/8); the Euclidean
// norm by at most 2^(1/2). Both rounded well up, so that they stay above when rounded to float.
constexpr double kL8Spread = 1.0906;
constexpr double kL2Spread = 1.41422;

} // namespace bounds
