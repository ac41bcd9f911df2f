#include "render/lanes.h"
#include "render/lanes_testing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/raybounds.h"
#include "render/distancefield.h"
#include "render/pow8.h"
#include "render/tracer.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMIVEX_LANES 1
#include <immintrin.h>
#endif

namespace {

// countMinDist's choice among the five candidates, disabled ones at kFarAway.
float select(const float cand[5], const bool on[5], int* numObj)
{
    float c[5];
    for (int k = 0; k < 5; ++k)
        c[k] = on[k] ? cand[k] : kFarAway;
    return nearestOf(c, numObj);
}

// The eighth-power chains differ from the library's by a few double ulps; 2^-44 leaves ample room.
constexpr double kChainSlack = 0x1p-44;

// The same kernel in plain vector code that any CPU and compiler build: element by element
// where the others use an instruction. Every host runs and tests it.
namespace portable {
constexpr int W = 4;
template <typename V>
inline V vsqrt(V x)
{
    for (int k = 0; k < int(sizeof x / sizeof x[0]); ++k)
        x[k] = std::sqrt(x[k]);
    return x;
}
template <typename M>
inline bool every(M m)
{
    for (int k = 0; k < W; ++k)
        if (!m[k])
            return false;
    return true;
}
template <typename M>
inline bool none(M m)
{
    for (int k = 0; k < W; ++k)
        if (m[k])
            return false;
    return true;
}
template <typename M>
inline unsigned bitsOf(M m)
{
    unsigned bits = 0;
    for (int k = 0; k < W; ++k)
        bits |= (m[k] != 0 ? 1u : 0u) << k;
    return bits;
}
// table[at[l]] in every lane l, at from 0 to 7.
typedef float Floats __attribute__((vector_size(4 * W)));
template <typename I>
inline Floats lookup(const float* table, I at)
{
    Floats v;
    for (int k = 0; k < W; ++k)
        v[k] = table[at[k] & 7];
    return v;
}
// `old` with the lanes `bits` (bit l for lane l) replaced by src[0], src[1], ... in order.
template <typename V, typename T>
inline V spread(V old, unsigned bits, const T* src)
{
    for (int k = 0; k < W; ++k)
        if ((bits >> k) & 1)
            old[k] = *src++;
    return old;
}
typedef double Doubles __attribute__((vector_size(8 * W)));
typedef int Ints __attribute__((vector_size(4 * W)));
inline Doubles widen(Floats x)
{
    return __builtin_convertvector(x, Doubles);
}
template <typename Q>
inline Ints mask32(Q m)
{
    return __builtin_convertvector(m, Ints);
}
#include "render/lanekernel.inc"
} // namespace portable

#ifdef LUMIVEX_LANES

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int W = 4;
// GCC converts between vectors of 4 floats and 4 doubles by halves.
inline double __attribute__((vector_size(32))) widen(float __attribute__((vector_size(16))) x)
{
    return reinterpret_cast<double __attribute__((vector_size(32)))>(_mm256_cvtps_pd(reinterpret_cast<__m128>(x)));
}
inline int __attribute__((vector_size(16))) mask32(long long __attribute__((vector_size(32))) m)
{
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    return reinterpret_cast<int __attribute__((vector_size(16)))>(
        _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(m), evens)));
}
inline double __attribute__((vector_size(32))) vsqrt(double __attribute__((vector_size(32))) x)
{
    return reinterpret_cast<double __attribute__((vector_size(32)))>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(x)));
}
inline float __attribute__((vector_size(16))) vsqrt(float __attribute__((vector_size(16))) x)
{
    return reinterpret_cast<float __attribute__((vector_size(16)))>(_mm_sqrt_ps(reinterpret_cast<__m128>(x)));
}
inline bool every(int __attribute__((vector_size(16))) m)
{
    return _mm_movemask_ps(reinterpret_cast<__m128>(m)) == 0xf;
}
inline bool none(int __attribute__((vector_size(16))) m)
{
    return _mm_movemask_ps(reinterpret_cast<__m128>(m)) == 0;
}
inline unsigned bitsOf(int __attribute__((vector_size(16))) m)
{
    return unsigned(_mm_movemask_ps(reinterpret_cast<__m128>(m)));
}
inline float __attribute__((vector_size(16))) lookup(const float* table, int __attribute__((vector_size(16))) at)
{
    const __m256 t = _mm256_loadu_ps(table);
    return reinterpret_cast<float __attribute__((vector_size(16)))>(
        _mm256_castps256_ps128(_mm256_permutevar8x32_ps(t, _mm256_castsi128_si256(reinterpret_cast<__m128i>(at)))));
}
// For each choice of lanes (bit l for lane l), the entry each lane takes and the lanes as a mask.
struct Spreading {
    __m128i from[16], mask[16];
    Spreading()
    {
        for (unsigned bits = 0; bits < 16; ++bits) {
            alignas(16) int f[4], m[4];
            for (int l = 0; l < 4; ++l) {
                f[l] = __builtin_popcount(bits & ((1u << l) - 1));
                m[l] = (bits >> l) & 1 ? -1 : 0;
            }
            from[bits] = _mm_load_si128(reinterpret_cast<const __m128i*>(f));
            mask[bits] = _mm_load_si128(reinterpret_cast<const __m128i*>(m));
        }
    }
};
const Spreading spreading;
inline float __attribute__((vector_size(16))) spread(float __attribute__((vector_size(16))) old, unsigned bits,
                                                     const float* src)
{
    const __m128 moved = _mm_permutevar_ps(_mm_loadu_ps(src), spreading.from[bits]);
    return reinterpret_cast<float __attribute__((vector_size(16)))>(
        _mm_blendv_ps(reinterpret_cast<__m128>(old), moved, _mm_castsi128_ps(spreading.mask[bits])));
}
inline int __attribute__((vector_size(16))) spread(int __attribute__((vector_size(16))) old, unsigned bits,
                                                   const int* src)
{
    return reinterpret_cast<int __attribute__((vector_size(16)))>(
        spread(reinterpret_cast<float __attribute__((vector_size(16)))>(old), bits, reinterpret_cast<const float*>(src)));
}
#include "render/lanekernel.inc"
} // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
// With the 256-bit forms (VL): the packet's floats fill 256-bit vectors, whose comparisons then
// set mask registers instead of making masks to blend by (11% a frame).
#pragma GCC target("avx512f,avx512vl")
namespace avx512 {
constexpr int W = 8;
inline double __attribute__((vector_size(64))) widen(float __attribute__((vector_size(32))) x)
{
    return reinterpret_cast<double __attribute__((vector_size(64)))>(_mm512_cvtps_pd(reinterpret_cast<__m256>(x)));
}
inline int __attribute__((vector_size(32))) mask32(long long __attribute__((vector_size(64))) m)
{
    return reinterpret_cast<int __attribute__((vector_size(32)))>(_mm512_cvtepi64_epi32(reinterpret_cast<__m512i>(m)));
}
inline double __attribute__((vector_size(64))) vsqrt(double __attribute__((vector_size(64))) x)
{
    return reinterpret_cast<double __attribute__((vector_size(64)))>(_mm512_sqrt_pd(reinterpret_cast<__m512d>(x)));
}
inline float __attribute__((vector_size(32))) vsqrt(float __attribute__((vector_size(32))) x)
{
    return reinterpret_cast<float __attribute__((vector_size(32)))>(_mm256_sqrt_ps(reinterpret_cast<__m256>(x)));
}
inline bool every(int __attribute__((vector_size(32))) m)
{
    return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) == 0xff;
}
inline bool none(int __attribute__((vector_size(32))) m)
{
    return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) == 0;
}
inline unsigned bitsOf(int __attribute__((vector_size(32))) m)
{
    return unsigned(_mm256_movemask_ps(reinterpret_cast<__m256>(m)));
}
inline float __attribute__((vector_size(32))) lookup(const float* table, int __attribute__((vector_size(32))) at)
{
    return reinterpret_cast<float __attribute__((vector_size(32)))>(
        _mm256_permutevar8x32_ps(_mm256_loadu_ps(table), reinterpret_cast<__m256i>(at)));
}
inline float __attribute__((vector_size(32))) spread(float __attribute__((vector_size(32))) old, unsigned bits,
                                                     const float* src)
{
    return reinterpret_cast<float __attribute__((vector_size(32)))>(
        _mm256_mask_expandloadu_ps(reinterpret_cast<__m256>(old), __mmask8(bits), src));
}
inline int __attribute__((vector_size(32))) spread(int __attribute__((vector_size(32))) old, unsigned bits,
                                                   const int* src)
{
    return reinterpret_cast<int __attribute__((vector_size(32)))>(
        _mm256_mask_expandloadu_epi32(reinterpret_cast<__m256i>(old), __mmask8(bits), src));
}
#include "render/lanekernel.inc"
} // namespace avx512
#pragma GCC pop_options

#endif // LUMIVEX_LANES

// The kernels by packet width. Each entry takes its width from its own namespace, so that a
// width can only run the kernel built for it.
struct Kernel {
    int width;
    void (*candidates)(const Scene&, const LanePoints&, float[5][kLanes]);
    void (*clearance)(const ClearanceTest&, const LanePoints&, const float[3][kLanes], Clearance[kLanes], bool,
                      unsigned);
    long long (*strip)(const LaneStrip&);
};
#define LUMIVEX_KERNEL(ns, width) Kernel{width, ns::candidates, ns::clearance, ns::strip}
const Kernel kPortableKernel = LUMIVEX_KERNEL(portable, kPortableLanes);
#ifdef LUMIVEX_LANES
const Kernel kAvx2Kernel = LUMIVEX_KERNEL(avx2, avx2::W);
const Kernel kAvx512Kernel = LUMIVEX_KERNEL(avx512, avx512::W);
#endif
#undef LUMIVEX_KERNEL

// The kernel that `width` runs: the portable one for kPortableLanes and for widths not built
// here, null for the scalar measurements (0) where the caller has them.
const Kernel* kernelFor(int width)
{
#ifdef LUMIVEX_LANES
    if (width == 8)
        return &kAvx512Kernel;
    if (width == 4)
        return &kAvx2Kernel;
#endif
    return width == 0 ? nullptr : &kPortableKernel;
}

} // namespace

CpuFeatures cpuFeatures()
{
    CpuFeatures cpu;
#ifdef LUMIVEX_LANES
    cpu.avx2 = __builtin_cpu_supports("avx2");
    cpu.avx512f = __builtin_cpu_supports("avx512f");
    cpu.avx512vl = __builtin_cpu_supports("avx512vl");
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
    cpu.neon = true;
#endif
    return cpu;
}

int laneWidthFor(const CpuFeatures& cpu)
{
    // The 8-lane kernel works in 256-bit registers with AVX-512's masks (VL) and AVX2's
    // permutes, so it needs all three.
    if (cpu.avx2 && cpu.avx512f && cpu.avx512vl)
        return 8;
    if (cpu.avx2)
        return 4;
    // The portable kernel in 128-bit vectors: 1.7 times the scalar path's speed where x86 builds
    // it for SSE2 alone, which NEON matches in width and instructions.
    return cpu.neon ? kPortableLanes : 0;
}

int laneWidthAvailable()
{
    static const int width = laneWidthFor(cpuFeatures());
    return width;
}

int laneWidthChosen(int requested, int widest)
{
    if (requested == 1)
        return 0;
    if (requested == kPortableLanes)
        return kPortableLanes;
    if (requested == 4 && widest >= 4)
        return 4;
    return widest;
}

int laneKernelRun(int width)
{
    const Kernel* kernel = kernelFor(width);
    return kernel ? kernel->width : 0;
}

void laneField(const Scene& scene, const LanePoints& points, float len[kLanes], int numObj[kLanes], int width)
{
    float cand[5][kLanes];
    if (const Kernel* kernel = kernelFor(width)) {
        kernel->candidates(scene, points, cand);
    } else {
        for (int l = 0; l < kLanes; ++l) {
            const Vector3D p(points.x[l], points.y[l], points.z[l]);
            for (int k = 0; k < 5; ++k)
                cand[k][l] = objectDistance(scene, k, p);
        }
    }
    for (int l = 0; l < kLanes; ++l) {
        float c[5];
        for (int k = 0; k < 5; ++k)
            c[k] = cand[k][l];
        len[l] = select(c, points.on[l], &numObj[l]);
    }
}

void clearanceInLanes(const ClearanceTest& test, const LanePoints& points, const float dir[3][kLanes],
                      Clearance out[kLanes], int width, bool fromCamera, unsigned may)
{
    const Kernel* kernel = kernelFor(width);
    (kernel ? kernel : &kPortableKernel)->clearance(test, points, dir, out, fromCamera, may);
}

long long renderStripInLanes(const LaneStrip& strip, int width)
{
    const Kernel* kernel = kernelFor(width);
    return (kernel ? kernel : &kPortableKernel)->strip(strip);
}
