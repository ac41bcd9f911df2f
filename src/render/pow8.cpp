#include "render/pow8.h"

#include <cmath>
#include <cstdint>
#include <cstring>

double pow8(float x)
{
#if !defined(__SIZEOF_INT128__)
    // No 128-bit integers on this compiler: the library's pow, which the fast form equals.
    return std::pow(static_cast<double>(x), 8.0);
#else
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= 0x7fffffffu; // an even power loses the sign
    if (bits == 0)
        return 0.0;
    const std::uint32_t e = bits >> 23;
    if (e == 0 || e == 0xff)
        return std::pow(static_cast<double>(x), 8.0);

    // x = m * 2^(e - 150) with a 24-bit m, so x^8 = m^8 * 2^(8e - 1200) and m^8 < 2^192.
    using u128 = unsigned __int128;
    const std::uint64_t m = (bits & 0x7fffffu) | 0x800000u;
    const u128 m4 = static_cast<u128>(m * m) * (m * m); // 96 bits
    const std::uint64_t H = static_cast<std::uint64_t>(m4 >> 64);
    const std::uint64_t L = static_cast<std::uint64_t>(m4);
    const u128 LL = static_cast<u128>(L) * L;
    const u128 twoHL = (static_cast<u128>(H) * L) << 1; // at most 97 bits
    const u128 HH = static_cast<u128>(H) * H;
    // m^8 = HH * 2^128 + twoHL * 2^64 + LL as three 64-bit limbs r2 r1 r0.
    const std::uint64_t r0 = static_cast<std::uint64_t>(LL);
    const u128 t1 = (LL >> 64) + static_cast<std::uint64_t>(twoHL);
    const std::uint64_t r1 = static_cast<std::uint64_t>(t1);
    const std::uint64_t r2 = static_cast<std::uint64_t>((t1 >> 64) + (twoHL >> 64) + HH);

    // m^8 >= 2^184, so r2 is never 0 and its top bit lies within bits 56..63.
    const int lz = __builtin_clzll(r2);
    std::uint64_t A = r2, B = r1, C = r0;
    if (lz > 0) {
        A = (r2 << lz) | (r1 >> (64 - lz));
        B = (r1 << lz) | (r0 >> (64 - lz));
        C = r0 << lz;
    }
    // A holds the top 64 bits: 53 for the result, then the rounding bit and the sticky rest.
    // The library's pow is not always correctly rounded: it may round the other way when the
    // exact value lies within 0.04 of an ulp of a rounding midpoint. There (remainder within
    // 1/16 ulp of one half, bits 10..7 of A reading 0111 or 1000) its own answer is taken.
    const unsigned top4 = static_cast<unsigned>(A >> 7) & 0xfu;
    if (top4 == 7u || top4 == 8u)
        return std::pow(static_cast<double>(x), 8.0);
    std::uint64_t mant = A >> 11;
    const bool roundBit = (A >> 10) & 1u;
    const bool sticky = (A & 0x3ffu) != 0 || B != 0 || C != 0;
    int exponent = (192 - lz - 53) + 8 * (static_cast<int>(e) - 150); // value = mant * 2^exponent
    if (roundBit && (sticky || (mant & 1u))) {
        ++mant;
        if (mant == (std::uint64_t(1) << 53)) {
            mant >>= 1;
            ++exponent;
        }
    }
    const int field = exponent + 52 + 1023;
    if (field <= 0)
        return std::pow(static_cast<double>(x), 8.0);
    const std::uint64_t out = (static_cast<std::uint64_t>(field) << 52) | (mant & ((std::uint64_t(1) << 52) - 1));
    double d;
    std::memcpy(&d, &out, sizeof d);
    return d;
#endif
}
