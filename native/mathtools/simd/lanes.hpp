// Lanes of doubles for kernels that must give the same bits whatever vector
// width runs them.
//
// A kernel is written once, as a template over a lane type V, and runs one,
// four or eight doubles at a time.  Every operation offered here is either a
// single IEEE operation per lane (+ - * /, sqrt, comparisons, floor,
// selection), which rounds the same way in scalar and in vector registers, or
// a function of this library (sin, cos, atan2, ...) written once over V from
// such operations.  A lane of any width therefore computes exactly what the
// one-lane type computes, and a result never depends on the width chosen at
// run time.  Kernels never call the C library's mathematics on V values and
// never use fused multiply-add (the build keeps -ffp-contract=off).
//
// Lane types:
//   double   one lane, mask type bool; baseline x86-64, every translation unit
//   Avx2     four lanes; only in translation units compiled with -mavx2
//   Avx512   eight lanes; only in translation units compiled with -mavx512f
//            -mavx512dq
//   Widest   the widest lane type of the translation unit (one of the above)
//   Two<V>   twice the lanes of V as two independent halves (lanes_two.hpp),
//            for kernels bound by the latency of one vector's dependent steps
//
// Every lane type V (M = Mask<V>) offers:
//   V(double)                    broadcast (for double, the value itself)
//   load<V>(const double* p)     `Width<V>` consecutive doubles, any alignment
//   store(double* p, V x)
//   store3(double* p, V x, V y, V z)
//                                x, y, z interleaved: p[3i], p[3i+1], p[3i+2]
//                                = lane i of x, y, z (rows of three)
//   load3(const double* p, V& x, V& y, V& z)
//                                the inverse of store3: rows of three into lanes
//   store_int8(int8_t* p, V x)   the lanes as int8 (integral values in range)
//   + - * / between V values and between V and double, unary -, += -= *= /=
//   < <= > >= == !=              lane-wise comparisons giving M (!= holds for
//                                NaN, the others do not, as in C)
//   m1 & m2, m1 | m2, !m         mask logic
//   select(M m, V a, V b)        a where m holds, else b
//   any(M), all(M)               bool
//   bits(M)                      unsigned, bit i set where lane i holds
//   sqrt, abs, floor, min, max   exact per lane; min(a, b) is a where a < b
//                                holds, else b (max: a > b), as the x86
//                                instructions, so a NaN in either gives b
//   sin, cos, sincos(x, &s, &c), sincosm1(x, &s, &cm1), atan2(y, x),
//   rem2pi(x), cbrt(x)           this library's own functions (vmath.hpp)
//
// A NaN result is NaN at every width.  Which NaN (sign, payload) may differ
// between widths only where two NaN operands meet in + - * / (compilers may
// swap the operands) or floor meets a signalling NaN; the functions of
// vmath.hpp return the same NaN bits at every width.
//
// Mask<double> is bool; Mask<Avx2> and Mask<Avx512> are small wrapper types
// (of __m256d and __mmask8) so that & | ! mean lane-wise logic.
//
// Translation units compiled for different instruction sets each see these
// headers inside their own inline namespace (QV_SIMD_ISA, set per unit by the
// build), so the linker can never mix an AVX-512 copy of an inline function
// into code that runs on a baseline processor.  cmake's
// quorvane_isa_sources(<target> <isa> <files...>) builds such units;
// qv::simd::detect() (dispatch.hpp) chooses among them at run time.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#ifndef QV_SIMD_ISA
#define QV_SIMD_ISA baseline
#endif

namespace qv::simd {
inline namespace QV_SIMD_ISA {

template <class V>
struct LaneTraits;

template <>
struct LaneTraits<double> {
    static constexpr int width = 1;
    using Mask = bool;
};

template <class V>
inline constexpr int Width = LaneTraits<V>::width;
template <class V>
using Mask = typename LaneTraits<V>::Mask;

// ---- one lane: plain double ------------------------------------------------

template <class V>
V load(const double* p) {
    return V::load_from(p);
}
template <>
inline double load<double>(const double* p) {
    return *p;
}
inline void store(double* p, double x) { *p = x; }
inline void store3(double* p, double x, double y, double z) {
    p[0] = x;
    p[1] = y;
    p[2] = z;
}
inline void load3(const double* p, double& x, double& y, double& z) {
    x = p[0];
    y = p[1];
    z = p[2];
}
inline void store_int8(std::int8_t* p, double x) { *p = static_cast<std::int8_t>(x); }

// Without a branch: lanes' conditions follow the data, which a branch
// predictor cannot.
inline double select(bool m, double a, double b) {
    std::uint64_t all = 0 - static_cast<std::uint64_t>(m);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & all) | (std::bit_cast<std::uint64_t>(b) & ~all));
}
inline bool any(bool m) { return m; }
inline bool all(bool m) { return m; }
inline unsigned bits(bool m) { return m ? 1u : 0u; }

inline double sqrt(double x) { return std::sqrt(x); }
inline double abs(double x) { return std::fabs(x); }
inline double floor(double x) { return std::floor(x); }
// As the x86 instructions: the first operand where the comparison holds,
// else the second (so a NaN in either gives the second).
inline double min(double a, double b) { return a < b ? a : b; }
inline double max(double a, double b) { return a > b ? a : b; }

// Bit-level helpers for this library's functions (vmath.hpp), not for
// kernels: each is one exact operation per lane on the IEEE encoding.
namespace detail {
inline std::uint64_t to_bits(double x) { return std::bit_cast<std::uint64_t>(x); }
inline double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
inline double bit_and(double a, double b) { return from_bits(to_bits(a) & to_bits(b)); }
inline double bit_or(double a, double b) { return from_bits(to_bits(a) | to_bits(b)); }
inline double bit_xor(double a, double b) { return from_bits(to_bits(a) ^ to_bits(b)); }
// The biased exponent field of x as a double (0 to 2047).
inline double exponent_field(double x) { return static_cast<double>((to_bits(x) >> 52) & 0x7ff); }
// 2^k for an integral k in [-1022, 1023].
inline double pow2(double k) {
    return from_bits(static_cast<std::uint64_t>(static_cast<std::int64_t>(k) + 1023) << 52);
}
}  // namespace detail

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd

#if defined(__AVX2__)
#include "mathtools/simd/lanes_avx2.hpp"
#endif
#if defined(__AVX512F__) && defined(__AVX512DQ__)
#include "mathtools/simd/lanes_avx512.hpp"
#endif
#include "mathtools/simd/lanes_two.hpp"

namespace qv::simd {
inline namespace QV_SIMD_ISA {
#if defined(__AVX512F__) && defined(__AVX512DQ__)
using Widest = Avx512;
#elif defined(__AVX2__)
using Widest = Avx2;
#else
using Widest = double;
#endif
}  // namespace QV_SIMD_ISA
}  // namespace qv::simd

#include "mathtools/simd/vmath.hpp"
