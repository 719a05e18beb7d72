// The mathematical functions of the lane types (see lanes.hpp).
//
// Each function is written once, as a template over the lane type, from
// operations that round identically in every register width; the overloads
// at the end instantiate it for double, Avx2 and Avx512.  Choices a lane
// makes (quadrant, polynomial, special value) are selections on that lane's
// own value, never on its neighbours', and the few lanes that need a slow
// path (huge arguments) take it one lane at a time through the same scalar
// code in every width.  So a lane's result is a function of its argument
// alone.  Where a result is NaN it is a NaN argument made quiet, or the
// invalid-operation NaN of x - x for an infinite x; never a payload that
// depends on operand order.
//
// Accuracy (measured on 10^7 arguments per range, see docs/decisions.md):
// sin, cos at most 0.78 ulp for any finite double; vector for |x| < 1.5 *
// 2^20 ~ 1.57e6, beyond that a per-lane Payne-Hanek reduction.  sincosm1
// (|x| <= pi/4 only) sin below 0.72 ulp, cos - 1 below 1.5 ulp.  atan2 at most
// 0.55 ulp, with C's special values.  rem2pi equals C's fmod(x, 2pi) exactly,
// 2pi being the double nearest it; vector for |x| < 6.5e6, beyond per lane.
// cbrt at most 0.501 ulp.
#pragma once

#include <cmath>
#include <limits>

#include "mathtools/simd/constants.hpp"
#include "mathtools/simd/lanes.hpp"
#include "mathtools/simd/reduce.hpp"
#include "runtime/inline.hpp"

namespace qv::simd {
inline namespace QV_SIMD_ISA {
namespace detail {

namespace k = constants;

// The hot paths are inlined into their callers whatever their size: a call
// would pass the lanes through memory (references) and cost more than the
// few dozen instructions of a reduction or a kernel.  The rare slow paths
// (huge arguments) stay out of line.
#define QV_SIMD_HOT QV_FORCE_INLINE inline
inline constexpr double max_finite = std::numeric_limits<double>::max();
inline constexpr double infinity = std::numeric_limits<double>::infinity();
inline constexpr double sign_bit = -0.0;

// Nearest integer (ties to even) for |x| < 2^51: 1.5 * 2^52 added and taken
// away leaves no fraction bits.
template <class V>
QV_SIMD_HOT V round_int(V x) {
    return (x + 0x1.8p52) - 0x1.8p52;
}

// s + e = a + b exactly (Knuth).
template <class V>
QV_SIMD_HOT void two_sum(V a, V b, V& s, V& e) {
    s = a + b;
    V bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// p + e = a * b exactly (Dekker, with Veltkamp's split; no fused multiply-add).
template <class V>
QV_SIMD_HOT void two_prod(V a, V b, V& p, V& e) {
    V ca = a * 134217729.0, cb = b * 134217729.0;
    V ah = ca - (ca - a), bh = cb - (cb - b);
    V al = a - ah, bl = b - bh;
    p = a * b;
    e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

// Run f(i) for every lane i set in m, with the lanes stored in arrays.
template <class V, class F>
void each_lane(Mask<V> m, F f) {
    unsigned set = bits(m);
    for (int i = 0; i < Width<V>; ++i) {
        if (set >> i & 1u) f(i);
    }
}

// ---- sin and cos -----------------------------------------------------------

inline constexpr double trig_fast_limit = 0x1.8p20;

// The lanes of `x` at or beyond the fast limit (finite): their reduction,
// one lane at a time, replaces what the vector path computed.
template <class V>
[[gnu::noinline]] void reduce_huge_lanes(V x, V& hi, V& lo, V& q) {
    V ax = abs(x);
    Mask<V> huge = (ax >= trig_fast_limit) & (ax <= max_finite);
    alignas(64) double xs[Width<V>], hs[Width<V>], ls[Width<V>], qs[Width<V>];
    store(xs, x);
    store(hs, hi);
    store(ls, lo);
    store(qs, q);
    each_lane<V>(huge, [&](int i) { qs[i] = reduce_huge(xs[i], &hs[i], &ls[i]); });
    hi = load<V>(hs);
    lo = load<V>(ls);
    q = load<V>(qs);
}

// x = n pi/2 + (hi + lo), |hi + lo| <= pi/4 (plus rounding), q = n mod 4.
// Below the fast limit n < 2^20, so n times each 33-bit part of pi/2 is
// exact and so is x - n * pio2_1 (a multiple of ulp(x) no larger than x);
// the next two parts are taken off with their rounding errors kept.
template <class V>
QV_SIMD_HOT void reduce_pio2(V x, V& hi, V& lo, V& q) {
    V n = round_int(x * k::inv_pio2);
    V t = x - n * k::pio2_1;
    V a, ea, b, eb;
    two_sum(t, -(n * k::pio2_2), a, ea);
    two_sum(a, -(n * k::pio2_3), b, eb);
    V l = (ea + eb) - n * k::pio2_3t;
    hi = b + l;
    lo = l - (hi - b);
    q = n - 4.0 * floor(n * 0.25);  // exact: 0, 1, 2 or 3
    if (any(abs(x) >= trig_fast_limit)) reduce_huge_lanes(x, hi, lo, q);
}

// sin(x + y) for |x| <= pi/4, |y| <= ulp(x): the polynomial plus y cos x,
// summed so that the leading x is added last.
template <class V>
QV_SIMD_HOT V sin_kernel(V x, V y) {
    const double* c = k::sin_c;
    V z = x * x, v = z * x;
    V r = c[1] + z * (c[2] + z * (c[3] + z * (c[4] + z * c[5])));
    return x - ((z * (0.5 * y - v * r) - y) - v * c[0]);
}

// cos(x + y) likewise; 1 - x^2/2 is formed with its rounding error kept.
template <class V>
QV_SIMD_HOT V cos_kernel(V x, V y) {
    const double* c = k::cos_c;
    V z = x * x;
    V r = z * (c[0] + z * (c[1] + z * (c[2] + z * (c[3] + z * (c[4] + z * c[5])))));
    V hz = 0.5 * z, w = 1.0 - hz;
    return w + (((1.0 - w) - hz) + (z * r - x * y));
}

// sin x and cos x from the kernel value k at the reduced argument: the sign
// of the quadrant, then the arguments whose results are not the kernel's.
template <class V>
QV_SIMD_HOT V sin_finish(V x, V q, V k) {
    k = select(q >= 2.0, -k, k);
    V ax = abs(x);
    k = select(ax < 0x1p-26, x, k);  // sin x = x there, -0 and subnormals kept
    return select(ax <= max_finite, k, x - x);
}

template <class V>
QV_SIMD_HOT V cos_finish(V x, V q, V k) {
    k = select((q == 1.0) | (q == 2.0), -k, k);
    return select(abs(x) <= max_finite, k, x - x);
}

// Both kernels, then a selection: a branch on the quadrant would follow the
// data, which a branch predictor cannot, and costs one lane more than the
// second polynomial.
template <bool Cosine, class V>
QV_SIMD_HOT V sin_or_cos(V x) {
    V hi, lo, q;
    reduce_pio2(x, hi, lo, q);
    Mask<V> odd = (q == 1.0) | (q == 3.0);
    V ks = sin_kernel(hi, lo), kc = cos_kernel(hi, lo);
    if constexpr (Cosine) return cos_finish(x, q, select(odd, ks, kc));
    return sin_finish(x, q, select(odd, kc, ks));
}

template <class V>
QV_SIMD_HOT void sincos_impl(V x, V& s, V& c) {
    V hi, lo, q;
    reduce_pio2(x, hi, lo, q);
    V ks = sin_kernel(hi, lo), kc = cos_kernel(hi, lo);
    Mask<V> odd = (q == 1.0) | (q == 3.0);
    s = sin_finish(x, q, select(odd, kc, ks));
    c = cos_finish(x, q, select(odd, ks, kc));
}

// sin x and cos x - 1 for |x| <= pi/4, without reduction: cos x - 1 kept
// apart from the 1 so that it keeps its relative accuracy for small x.  For
// turning a known (sin a, cos a) by a small angle x: sin(a + x) = sin a +
// (sin a (cos x - 1) + cos a sin x).  Up to 2^-10 the Taylor series to x^5
// and x^6 (the next terms are below 2^-72 relative), beyond it the kernels
// at y = 0; each lane takes the form its own |x| calls for, and a vector
// whose lanes all take the short one skips the long one.  sin x below
// 0.72 ulp, cos x - 1 below 1.5 ulp of itself (x^2 and the difference
// are rounded once each).
inline constexpr double tiny_turn = 0x1p-10;

template <class V>
QV_SIMD_HOT void sincosm1_short(V x, V& s, V& cm1) {
    V z = x * x;
    s = x + (z * x) * (-1.0 / 6.0 + z * (1.0 / 120.0));
    s = select(x == 0.0, x, s);  // sin(-0) = -0
    cm1 = (z * z) * (1.0 / 24.0 + z * (-1.0 / 720.0)) - 0.5 * z;
}

template <class V>
QV_SIMD_HOT void sincosm1_impl(V x, V& s, V& cm1) {
    Mask<V> tiny = abs(x) <= tiny_turn;
    if (all(tiny)) return sincosm1_short(x, s, cm1);
    const double* cs = k::sin_c;
    const double* cc = k::cos_c;
    V z = x * x, v = z * x;
    V rs = cs[1] + z * (cs[2] + z * (cs[3] + z * (cs[4] + z * cs[5])));
    V rc = z * (cc[0] + z * (cc[1] + z * (cc[2] + z * (cc[3] + z * (cc[4] + z * cc[5])))));
    s = x + (v * cs[0] + z * (v * rs));
    cm1 = z * rc - 0.5 * z;
    if (any(tiny)) {
        V ts, tc;
        sincosm1_short(x, ts, tc);
        s = select(tiny, ts, s);
        cm1 = select(tiny, tc, cm1);
    }
}

// ---- atan2 -----------------------------------------------------------------

// atan of n/d for 0 <= n <= d, as hi + lo.  The quotient is reduced around
// c = 0, 1/2 or 1 with atan(n/d) = atan(c) + atan((n - c d)/(d + c n)),
// whose numerator is exact (Sterbenz) and whose quotient t + t_lo is carried
// as a double-double: t from one reciprocal, t_lo from the exact remainder,
// so that neither the rounding of a division nor that of the reciprocal
// reaches the result.  Needs n/d >= 2^-400 and d in [2^-500, 2^500], which
// keeps the exact products clear of underflow and overflow.
template <class V>
void atan_ratio(V n, V d, V& hi, V& lo) {
    Mask<V> one = n > d * 0.8125, half = n > d * 0.25;
    V c = select(one, V(1.0), select(half, V(0.5), V(0.0)));
    V num = n - c * d;
    V den, den_lo;
    two_sum(d, c * n, den, den_lo);
    V inv = 1.0 / den;
    V t = num * inv;
    V p, pe;
    two_prod(t, den, p, pe);
    V t_lo = (((num - p) - pe) - t * den_lo) * inv;
    const double* a = k::atan_c;
    V z = t * t;
    V poly = a[5] + z * (a[6] + z * (a[7] + z * a[8]));
    poly = a[0] + z * (a[1] + z * (a[2] + z * (a[3] + z * (a[4] + z * poly))));
    V rest = t * z * poly + (t_lo - t_lo * z);  // atan(t + t_lo) - t
    V base_hi = select(one, V(k::pio4_hi), select(half, V(k::atan_half_hi), V(0.0)));
    V base_lo = select(one, V(k::pio4_lo), select(half, V(k::atan_half_lo), V(0.0)));
    V e;
    two_sum(base_hi, t, hi, e);
    lo = e + (rest + base_lo);
}

template <class V>
V atan2_impl(V y, V x) {
    V ax = abs(x), ay = abs(y);
    Mask<V> swap = ay > ax;
    V num = select(swap, ax, ay), den = select(swap, ay, ax);
    Mask<V> both_infinite = num == infinity;
    // Quotients below 2^-400 (zero and infinite denominators among them)
    // are their own arctangent, the correctly rounded num/den, perhaps
    // subnormal; these rare lanes take one division each.
    Mask<V> tiny = (num < den * 0x1p-400) | (num == 0.0);
    // Elsewhere scale both into [2^-500, 2^500] (exactly, by a power of two).
    V scale = select(den > 0x1p500, V(0x1p-600), select(den < 0x1p-500, V(0x1p600), V(1.0)));
    V n = select(both_infinite, V(1.0), num * scale), d = select(both_infinite, V(1.0), den * scale);
    V hi, lo;
    atan_ratio(n, d, hi, lo);
    if (any(tiny)) {
        alignas(64) double ns[Width<V>], ds[Width<V>], hs[Width<V>], ls[Width<V>];
        store(ns, num);
        store(ds, den);
        store(hs, hi);
        store(ls, lo);
        each_lane<V>(tiny, [&](int i) {
            hs[i] = ns[i] == 0.0 ? 0.0 : ns[i] / ds[i];
            ls[i] = 0.0;
        });
        hi = load<V>(hs);
        lo = load<V>(ls);
    }
    // Quadrants: theta, pi/2 - theta, pi/2 + theta or pi - theta, then the sign of y.
    Mask<V> x_negative = bit_or(bit_and(x, V(sign_bit)), V(1.0)) < 0.0;  // -0 counts
    Mask<V> flip = (swap & (!x_negative)) | (x_negative & (!swap));
    V base_hi = select(swap, V(k::pio2_hi), select(x_negative, V(k::pi_hi), V(0.0)));
    V base_lo = select(swap, V(k::pio2_lo), select(x_negative, V(k::pi_lo), V(0.0)));
    hi = select(flip, -hi, hi);
    lo = select(flip, -lo, lo);
    V r, e;
    two_sum(base_hi, hi, r, e);
    r = r + (e + (base_lo + lo));
    r = bit_xor(r, bit_and(y, V(sign_bit)));
    r = select(x != x, x + x, r);
    return select(y != y, y + y, r);
}

// ---- rem2pi ----------------------------------------------------------------

inline constexpr double rem_fast_limit = 6.5e6;

// r with the lanes of |x| = ax at or beyond the fast limit (finite) replaced
// by C's fmod, which is exact.
template <class V>
[[gnu::noinline]] V rem2pi_huge_lanes(V ax, V r) {
    Mask<V> huge = (ax >= rem_fast_limit) & (ax <= max_finite);
    alignas(64) double as[Width<V>], rs[Width<V>];
    store(as, ax);
    store(rs, r);
    each_lane<V>(huge, [&](int i) { rs[i] = std::fmod(as[i], k::two_pi); });
    return load<V>(rs);
}

// |x| - n 2pi with n = floor(|x| / 2pi): below the limit n < 2^20, so
// n * two_pi_1 (33 bits) and n * two_pi_2 are exact, |x| - n * two_pi_1 is
// exact (a multiple of ulp(x) no larger than |x|), and the last subtraction
// has a representable exact result, so it is exact too.  A quotient off by
// one leaves a remainder just outside [0, 2pi), put back exactly.
template <class V>
QV_SIMD_HOT V rem2pi_impl(V x) {
    V ax = abs(x);
    V n = floor(ax * k::inv_two_pi);
    V r = (ax - n * k::two_pi_1) - n * k::two_pi_2;
    r = select(r < 0.0, r + k::two_pi, r);
    r = select(r >= k::two_pi, r - k::two_pi, r);
    if (any(ax >= rem_fast_limit)) r = rem2pi_huge_lanes(ax, r);
    r = bit_or(r, bit_and(x, V(sign_bit)));
    return select(ax <= max_finite, r, x - x);
}

// ---- cbrt ------------------------------------------------------------------

// |x| = m 2^(3k + j), m in [1, 2): a polynomial gives cbrt(m 2^j) to 2^-17,
// rounded to 17 bits y0 so that y0^3 is exact; then with d = w/y0^3 - 1
// (w - y0^3 exact, Sterbenz), cbrt(w) = y0 (1 + d/3 - d^2/9 + 5 d^3/81).
template <class V>
V cbrt_impl(V x) {
    V ax = abs(x);
    Mask<V> subnormal = ax < 0x1p-1022;
    V a = select(subnormal, ax * 0x1p54, ax);
    V e = exponent_field(a) - 1023.0;
    V m = bit_or(bit_and(a, V(from_bits(0x000fffffffffffff))), V(1.0));
    V kk = round_int((e - 1.0) * (1.0 / 3.0));
    V j = e - 3.0 * kk;
    const double* c = k::cbrt_c;
    V y = c[0] + m * (c[1] + m * (c[2] + m * (c[3] + m * c[4])));
    y = y * select(j == 0.0, V(1.0), select(j == 1.0, V(k::cbrt2), V(k::cbrt4)));
    V w = m * select(j == 0.0, V(1.0), select(j == 1.0, V(2.0), V(4.0)));
    V y0 = (y + 0x1p36) - 0x1p36;
    V y3 = y0 * y0 * y0;
    V d = (w - y3) / y3;
    V r = y0 + y0 * (d * (1.0 / 3.0 + d * (-1.0 / 9.0 + d * (5.0 / 81.0))));
    r = r * pow2(kk - select(subnormal, V(18.0), V(0.0)));
    r = bit_or(r, bit_and(x, V(sign_bit)));
    return select((ax == 0.0) | !(ax <= max_finite), x + x, r);
}

}  // namespace detail

// ---- the functions, for each lane type of this translation unit ------------

#define QV_SIMD_MATH(V)                                                                   \
    QV_SIMD_HOT V sin(V x) { return detail::sin_or_cos<false>(x); }                       \
    QV_SIMD_HOT V cos(V x) { return detail::sin_or_cos<true>(x); }                        \
    QV_SIMD_HOT void sincos(V x, V* s, V* c) { detail::sincos_impl(x, *s, *c); }         \
    /* sin x and cos x - 1 for |x| <= pi/4 (no reduction; see sincosm1_impl) */           \
    QV_SIMD_HOT void sincosm1(V x, V* s, V* cm1) { detail::sincosm1_impl(x, *s, *cm1); } \
    inline V atan2(V y, V x) { return detail::atan2_impl(y, x); }                         \
    /* x - n 2pi, n = trunc(x / 2pi): C's fmod(x, 2pi), sign of x, |r| < 2pi */           \
    QV_SIMD_HOT V rem2pi(V x) { return detail::rem2pi_impl(x); }                               \
    inline V cbrt(V x) { return detail::cbrt_impl(x); }

QV_SIMD_MATH(double)
QV_SIMD_MATH(Two<double>)
QV_SIMD_MATH(Two<Two<double>>)
#if defined(__AVX2__)
QV_SIMD_MATH(Avx2)
QV_SIMD_MATH(Two<Avx2>)
QV_SIMD_MATH(Two<Two<Avx2>>)
#endif
#if defined(__AVX512F__) && defined(__AVX512DQ__)
QV_SIMD_MATH(Avx512)
QV_SIMD_MATH(Two<Avx512>)
QV_SIMD_MATH(Two<Two<Avx512>>)
#endif

#undef QV_SIMD_MATH
#undef QV_SIMD_HOT

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
