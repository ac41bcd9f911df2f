#pragma once

// pow(x, 8.0) for a float x, bit for bit, in a fraction of its time: x^8 is formed exactly in
// integers and rounded to the nearest double, which is the library's answer except within a
// hair of a rounding midpoint; there, and where the result would be subnormal, for infinities
// and for not-a-number, the library is asked. bench/pow8_exhaustive checks every float.
double pow8(float x);
