// Geodetic coordinates from Earth-centred Cartesian positions and back, over
// the lane types of native/mathtools/simd (Python-free).  Written once as
// templates over the lane type V, so every vector width gives the same bits.
//
// Cartesian to geodetic: the closed form of H. Vermeille, "An analytical
// method to transform geocentric into geodetic coordinates", J. Geodesy 85
// (2011) 105-117, valid everywhere, inside the evolute of the meridian
// ellipse included.  With p = (x^2 + y^2)/a^2, q = (1 - e^2) z^2 / a^2 and
// r = (p + q - e^4)/6, the root u of Vermeille's cubic is
//   outside the evolute (8 r^3 + e^4 p q > 0), Cardano's form:
//     c = cbrt(sqrt(e^4 p q) + sqrt(8 r^3 + e^4 p q)),
//     u = r + c^2/2 + 2 r^2 / c^2;
//   inside (8 r^3 + e^4 p q <= 0, so r <= 0), the trigonometric form:
//     g = atan2(sqrt(e^4 p q), sqrt(-(8 r^3 + e^4 p q)) + sqrt(-8 r^3)),
//     u = -4 r sin(2g/3) cos(2g/3 + pi/6);
// then v = sqrt(u^2 + e^4 q), w = e^2 (u + v - q)/(2v),
// k = sqrt(u + v + w^2) - w (taken as (u + v)/(sqrt(u + v + w^2) + w) when
// w >= 0, free of cancellation; both formed with one division, see the
// kernel), D = k sqrt(x^2 + y^2)/(k + e^2),
// latitude atan2(z, D) and height (k + e^2 - 1)/k sqrt(D^2 + z^2) (both
// formed without D, see the kernel).
// The two forms meet continuously on the evolute (both give u = |r|).
//
// One region needs its limit: the disc of the equatorial plane inside the
// evolute (q = 0, p <= e^4), where u = v = k = 0 (the same formula, giving
// latitude 0 and h = rho - a, also serves the equator out to p = 2 e^4, so
// that no lane near the cusp p = e^4 divides by a vanishing v).  There the nearest points
// of the meridian ellipse are the two at latitude +-phi with
// tan phi = sqrt((e^4 - p) / ((1 - e^2) p)) (the normal at phi meets the
// equatorial plane at N e^2 cos phi from the axis); the northern one is
// taken (the southern for z < 0), and h = rho cos phi - a sqrt(1 - e^2
// sin^2 phi), negative.  The centre gives latitude pi/2 and h = -b.  Lanes
// with q below 1e-200 (|z| below about 1e-93 m) inside the evolute take this
// limit, whose latitude differs from the exact one by about |z| / (a e^2)
// rad, so that no square underflows into subnormal numbers.
//
// Between 0.8 a and 1e8 a from the centre (off the polar axis) a cheaper
// fast path stands in for the closed form, to about an ulp (geodetic_lanes
// below); the closed form serves the rest, the evolute and the centre.
//
// Longitude atan2(y, x) in (-pi, pi] (-pi is returned as pi).  A NaN
// coordinate gives NaN latitude and height (and longitude where x or y is
// NaN).
//
// Latitude and longitude take this header's own arctangent (geodetic_atan2
// below: one division, one short polynomial, a few ulp) rather than the lane
// library's correctly rounded atan2, which costs about three times as much;
// the tested bounds (0.1 mm, 1e-11 rad) are some 10^5 times wider than its
// error.  A = e^2 sqrt(p q) is formed as e^2 sqrt(1 - e^2) rho |z| / a^2,
// reusing rho instead of a square root of its own.
#pragma once

#include <cmath>

#include "mathtools/simd/lanes.hpp"
#include "runtime/inline.hpp"

namespace qv::ellipsoid {

namespace lanes = qv::simd;

// Constants of one ellipsoid for the kernels.
struct Shape {
    double a;   // equatorial radius, m
    double e2;  // first eccentricity squared
};

inline constexpr double geodetic_pi = 3.14159265358979323846;

// Odd minimax polynomial of atan on |t| <= tan(pi/8): atan t = t + t s P(s),
// s = t^2, P's coefficients fitted with mpmath's chebyfit to the relative
// error 5.4e-18 (0.05 ulp) before rounding.
inline constexpr double geodetic_atan_c[11] = {
    -0.3333333333333333,  0.19999999999995516,  -0.14285714284665682, 0.11111111015187018,
    -0.0909090457530649,  0.07692183125376892,  -0.06664510525508936, 0.05858140904866328,
    -0.050854078345894844, 0.03923044778479309, -0.019175404711104935};

// atan2(y, x) in [-pi, pi] for the geodetic kernel only, at most a few ulp
// (measured against mpmath, docs/decisions.md), written once over the lane
// type so every width gives the same bits.  With n = min(|x|, |y|) and
// d = max(|x|, |y|), atan(n/d) in [0, pi/4] is either the polynomial at n/d
// (n/d <= tan(pi/8)) or pi/4 + the polynomial at (n - d)/(n + d), since
// atan a - atan 1 = atan((a - 1)/(a + 1)); the two candidates share one
// division, chosen by selection.  Then pi/2 - theta where |y| > |x|,
// pi - theta where x < 0 and the sign of y (-0 counts as +0 on both
// axes: atan2(+-0, -0) = 0, atan2(-0, x > 0) = +0).  Both zero give 0, both
// infinite the diagonal; a NaN gives NaN.
// The arctangent's polynomial on [-tan(pi/8), tan(pi/8)]: t + t s P(s), s = t².
template <class V>
QV_FORCE_INLINE inline V geodetic_atan_poly(V t) {
    V s = t * t;
    const double* c = geodetic_atan_c;
    V p = c[6] + s * (c[7] + s * (c[8] + s * (c[9] + s * c[10])));
    p = c[0] + s * (c[1] + s * (c[2] + s * (c[3] + s * (c[4] + s * (c[5] + s * p)))));
    return t + t * (s * p);
}

template <class V>
QV_FORCE_INLINE inline V geodetic_atan2(V y, V x) {
    using lanes::select;
    constexpr double inf = __builtin_inf();
    V ax = lanes::abs(x), ay = lanes::abs(y);
    auto swap = ay > ax;
    V n = select(swap, ax, ay), d = select(swap, ay, ax);
    auto infinite = d == inf;
    n = select(infinite, select(n == inf, V(1.0), V(0.0)), n);
    d = select(infinite, V(1.0), d);
    auto upper = n > d * 0.41421356237309503;
    V num = select(upper, n - d, n);
    V den = select(upper, n + d, d);
    den = select(den == 0.0, V(1.0), den);
    V t = num / den;
    V at = geodetic_atan_poly(t);
    V theta = select(upper, 0.78539816339744831 + at, at);
    theta = select(swap, 1.5707963267948966 - theta, theta);
    theta = select(x < 0.0, geodetic_pi - theta, theta);
    theta = select(y < 0.0, -theta, theta);
    theta = select(x != x, x + x, theta);
    return select(y != y, y + y, theta);
}

// Latitude and height by the closed form above (rho2 = x^2 + y^2 and
// rho = sqrt(rho2) given).
template <class V>
QV_FORCE_INLINE inline void geodetic_exact_lanes(const Shape& s, V rho2, V rho, V z, V& lat, V& h) {
    using lanes::select;
    using lanes::sqrt;
    const double a = s.a, e2 = s.e2, e4 = e2 * e2, inv_a2 = 1.0 / (a * a);
    V p = rho2 * inv_a2;
    V q = ((1.0 - e2) * inv_a2) * (z * z);
    V r = (p + q - e4) / 6.0;
    V A = (e2 * std::sqrt(1.0 - e2) * inv_a2) * (rho * lanes::abs(z));
    V evol = 8.0 * (r * r * r) + A * A;

    // Outside the evolute (and harmless elsewhere, replaced below).
    V c = lanes::cbrt(A + sqrt(lanes::max(evol, V(0.0))));
    V c2 = c * c;
    V u = r + 0.5 * c2 + select(c2 > 0.0, 2.0 * (r * r) / c2, V(0.0));
    auto inside = evol <= 0.0;
    if (lanes::any(inside)) {
        V minus8r3 = -8.0 * (r * r * r);
        V g = lanes::atan2(A, sqrt(lanes::max(-evol, V(0.0))) + sqrt(lanes::max(minus8r3, V(0.0))));
        V sn, cs;
        lanes::sincos(g * (2.0 / 3.0), &sn, &cs);
        // cos(x + pi/6) = cos x cos(pi/6) - sin x sin(pi/6); x <= pi/6 here.
        V ui = (-4.0 * r) * sn * (0.86602540378443864676 * cs - 0.5 * sn);
        u = select(inside, ui, u);
    }
    V v = sqrt(u * u + e4 * q);
    // With W = e^2 (u + v - q) = 2 v w and S = sqrt(4 v^2 (u + v) + W^2)
    // = 2 v sqrt(u + v + w^2): k = 2 v (u + v) / (S + W) when W >= 0, else
    // (S - W) / (2 v); one division, chosen by selection.
    V uv = u + v;
    V W = e2 * (uv - q);
    V v2 = 2.0 * v;
    V S = sqrt(v2 * v2 * uv + W * W);
    auto plus = W >= 0.0;
    V k = select(plus, v2 * uv, S - W) / select(plus, S + W, v2);
    // D = k rho / (k + e2) is never formed: with P = k rho and Q = (k + e2) z,
    // latitude atan2(z, D) = atan2(Q, P) and height (k + e2 - 1)/k sqrt(D^2 + z^2)
    // = (k + e2 - 1) sqrt(P^2 + Q^2) / (k (k + e2)): one division instead of three.
    V ke = k + e2;
    V P = k * rho, Q = ke * z;
    V la = geodetic_atan2(Q, P);
    V he = (ke - 1.0) * sqrt(P * P + Q * Q) / (k * ke);

    // The equatorial disc inside the evolute, and the centre.
    auto disc = (q < 1e-200) & (p <= 2.0 * e4);
    if (lanes::any(disc)) {
        V tn = sqrt(lanes::max(V(e4) - p, V(0.0)));
        V tc = sqrt((1.0 - e2) * p);
        V phi = lanes::atan2(tn, tc);
        V sp, cp;
        lanes::sincos(phi, &sp, &cp);
        V hd = rho * cp - a * sqrt(1.0 - e2 * (sp * sp));
        la = select(disc, select(z < 0.0, -phi, phi), la);
        he = select(disc, hd, he);
    }
    lat = la;
    h = he;
}

// Longitude atan2(y, x) in (-pi, pi].
template <class V>
QV_FORCE_INLINE inline V geodetic_longitude(V x, V y) {
    V lo = geodetic_atan2(y, x);
    return lanes::select(lo == -geodetic_pi, V(geodetic_pi), lo);
}

// The closed form alone, everywhere (the reference of the fast path's tests).
template <class V>
QV_FORCE_INLINE inline void geodetic_exact_lanes(const Shape& s, V x, V y, V z, V& lat, V& lon, V& h) {
    V rho2 = x * x + y * y;
    geodetic_exact_lanes(s, rho2, lanes::sqrt(rho2), z, lat, h);
    lon = geodetic_longitude(x, y);
}

// atan(n/d) in [0, pi/2] for finite n >= 0, d > 0: geodetic_atan2's
// arithmetic without its handling of signs, zeros, infinities and NaN.
template <class V>
QV_FORCE_INLINE inline V geodetic_atan_first_quadrant(V n0, V d0) {
    using lanes::select;
    auto swap = n0 > d0;
    V n = select(swap, d0, n0), d = select(swap, n0, d0);
    auto upper = n > d * 0.41421356237309503;
    V t = select(upper, n - d, n) / select(upper, n + d, d);
    V at = geodetic_atan_poly(t);
    V theta = select(upper, 0.78539816339744831 + at, at);
    return select(swap, 1.5707963267948966 - theta, theta);
}

// Geodetic coordinates everywhere: the fast path of the ordinary region
// (from 0.8 a to 1e8 a from the centre, off the polar axis), the closed
// form for every lane outside it (computed only when a group holds one).
//
// The fast path is Fukushima's single Halley correction (T. Fukushima,
// "Transformation from Cartesian to geodetic coordinates accelerated by
// Halley's method", J. Geodesy 79 (2006) 689-693) from Bowring's starting
// value (B. R. Bowring, "The accuracy of geodetic latitude and height
// equations", Survey Review 28 (1985) 202-206), written here in units of a
// (P = rho/a, Z = |z|/a, b' = b/a = sqrt(1 - e^2)) on the reduced latitude
// beta of the foot point (cos beta, b' sin beta) of the meridian ellipse,
// as the homogeneous pair (C, S) ~ (cos beta, sin beta), free of divisions:
//   start   S = b' Z (R + e^2/b'),  C = P R,  R = sqrt(P^2 + Z^2)
//           (tan beta = b' (Z/P)(1 + e'^2 b'/R), within 2e-5 rad);
//   with A = sqrt(S^2 + C^2) and L = P S - b' Z C, the foot-point
//   condition f(t) = sqrt(1 + t^2)(P t - b' Z) - e^2 t = 0 at t = S/C is
//   G = A L - e^2 S C (= C^2 f), F = S L + P A^2 - e^2 C A (= A C f'),
//   H = L C^2 + 2 P S A^2 (= A^3 f''), and Halley's step
//   t' = t - 2 f f' / (2 f'^2 - f f'') is
//   S' = S D - 2 G F A^2,  C' = C D,  D = 2 F^2 A - G H;
//   then tan lat = S'/(b' C') and, with A' = sqrt(S'^2 + C'^2) and
//   N' = sqrt(S'^2 + b'^2 C'^2), cos lat = b' C'/N', sin lat = S'/N' and
//   h = rho cos lat + |z| sin lat - b A'/N' (the distance to the foot
//   point along the normal), rho - a where S' = 0 (z = 0: the formula's
//   exact value there, which the rounding of 1/N' would miss by an ulp).
// Measured against the closed form over dense samples of the region
// (docs/decisions.md): latitude within 1e-15 rad, height within 1e-15 of
// the distance from the centre.  The degrees of S', C' (R^14 in the
// distance) bound the region above; below 0.8 a the start is too far for
// one step.  A lane within 1e-40 a of the axis (S', C' would underflow) and
// NaN lanes take the closed form.
// geodetic_atan2 for finite y, x not both zero, without its handling of
// zeros, infinities and NaN (the same bits there).
template <class V>
QV_FORCE_INLINE inline V geodetic_atan2_finite(V y, V x) {
    using lanes::select;
    V theta = geodetic_atan_first_quadrant(lanes::abs(y), lanes::abs(x));
    theta = select(x < 0.0, geodetic_pi - theta, theta);
    return select(y < 0.0, -theta, theta);
}

// The lanes of the closed form for geodetic_lanes, out of line: the rare
// call keeps the fast path's registers free.  io: x, y, z, rho2, rho in;
// lat, h, lon out (lat and h over rho2 and rho).
template <class V>
[[gnu::noinline]] void geodetic_fallback(const Shape& s, V* io) noexcept {
    V lat, h;
    geodetic_exact_lanes(s, io[3], io[4], io[2], lat, h);
    io[5] = geodetic_atan2(io[1], io[0]);
    io[3] = lat;
    io[4] = h;
}

template <class V>
QV_FORCE_INLINE inline void geodetic_lanes(const Shape& s, V x, V y, V z, V& lat, V& lon, V& h) {
    using lanes::sqrt;
    const double a = s.a, e2 = s.e2, inv_a = 1.0 / a, bp = std::sqrt(1.0 - e2), e2_bp = e2 / bp, b = a * bp;
    V rho2 = x * x + y * y;
    V rho = sqrt(rho2);
    V P = rho * inv_a, Z = lanes::abs(z) * inv_a;
    V R2 = P * P + Z * Z;
    V R = sqrt(R2);
    V S = (bp * Z) * (R + e2_bp), C = P * R;
    V A2 = S * S + C * C;
    V A = sqrt(A2);
    V L = P * S - (bp * Z) * C;
    V G = A * L - e2 * (S * C);
    V F = S * L + P * A2 - e2 * (C * A);
    V H = L * (C * C) + 2.0 * P * (S * A2);
    V D = 2.0 * (F * F) * A - G * H;
    V S1 = S * D - 2.0 * (G * F) * A2;
    V C1 = C * D;
    V Cb = bp * C1;
    V S12 = S1 * S1;
    V A1 = sqrt(S12 + C1 * C1);
    V N1 = sqrt(S12 + Cb * Cb);
    V inv = 1.0 / N1;
    V he = (rho * (Cb * inv) + lanes::abs(z) * (S1 * inv)) - b * (A1 * inv);
    he = lanes::select(S1 == 0.0, rho - a, he);  // the equator, exactly
    V la = geodetic_atan_first_quadrant(S1, Cb);
    la = lanes::select(z < 0.0, -la, la);
    V lo = geodetic_atan2_finite(y, x);
    auto fast = (R2 >= 0.64) & (R2 <= 1e16) & (P >= 1e-40);
    if (!lanes::all(fast)) {
        V io[6] = {x, y, z, rho2, rho, V(0.0)};
        geodetic_fallback(s, io);
        la = lanes::select(fast, la, io[3]);
        he = lanes::select(fast, he, io[4]);
        lo = lanes::select(fast, lo, io[5]);
    }
    lat = la;
    h = he;
    lon = lanes::select(lo == -geodetic_pi, V(geodetic_pi), lo);
}

// Earth-centred Cartesian position of geodetic latitude, longitude (rad) and
// height (m): N = a / sqrt(1 - e^2 sin^2 lat),
// r = ((N + h) cos lat cos lon, (N + h) cos lat sin lon, (N (1 - e^2) + h) sin lat).
template <class V>
inline void cartesian_lanes(const Shape& s, V lat, V lon, V h, V& x, V& y, V& z) {
    V sp, cp, sl, cl;
    lanes::sincos(lat, &sp, &cp);
    lanes::sincos(lon, &sl, &cl);
    V n = s.a / lanes::sqrt(1.0 - s.e2 * (sp * sp));
    V nh = (n + h) * cp;
    x = nh * cl;
    y = nh * sl;
    z = (n * (1.0 - s.e2) + h) * sp;
}

}  // namespace qv::ellipsoid
