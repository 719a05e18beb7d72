// The fraction of the Sun's disc seen past the Earth (Python-free).
//
// Conical shadow of a spherical Earth of radius earth_re, no atmosphere,
// after O. Montenbruck and E. Gill, Satellite Orbits (Springer 2000),
// section 3.4.2: with s the vector from the satellite to the Sun,
//   a = asin(R_sun / |s|)      apparent radius of the Sun,
//   b = asin(R_earth / |r|)    apparent radius of the Earth,
//   c = angle between -r and s (apparent separation of the centres),
// the visible fraction is 1 for c >= a + b, 0 for c <= b - a (umbra),
// 1 - b^2/a^2 for c <= a - b (the Earth's disc inside the Sun's), and
// otherwise 1 - A / (pi a^2) with the overlap of the two discs
//   x = (c^2 + a^2 - b^2) / (2c), y = sqrt(a^2 - x^2),
//   A = a^2 acos(x/a) + b^2 acos((c - x)/b) - c y.
// The arcsines and arccosines are taken as atan2 of the matching legs
// (acos(x/a) = atan2(y, x), acos((c - x)/b) = atan2(y, c - x)) and c as
// atan2(|r x s|, -r . s), accurate for small angles.  A point inside the
// Earth sees it as a disc of radius pi/2 (half the sky).  Written over the
// lane types of native/mathtools/simd: every width gives the same bits.
// A NaN coordinate gives NaN.
#pragma once

#include <cstddef>

#include "mathtools/simd/dispatch.hpp"

#include "mathtools/simd/lanes.hpp"

namespace qv::bodies {

namespace lanes = qv::simd;

inline constexpr double sun_radius = 695700e3;  // m, IAU 2015 Resolution B3 nominal solar radius
inline constexpr double shadow_earth_radius = 6378137.0;  // m, WGS 84 equatorial radius
inline constexpr double shadow_pi = 3.14159265358979323846;

template <class V>
inline V sunlit_fraction(V rx, V ry, V rz, V sx, V sy, V sz) {
    using lanes::select;
    using lanes::sqrt;
    // s: satellite to Sun.
    sx = sx - rx;
    sy = sy - ry;
    sz = sz - rz;
    V r2 = rx * rx + ry * ry + rz * rz;
    V s2 = sx * sx + sy * sy + sz * sz;
    constexpr double rs2 = sun_radius * sun_radius, re2 = shadow_earth_radius * shadow_earth_radius;
    V a = lanes::atan2(V(sun_radius), sqrt(lanes::max(s2 - rs2, V(0.0))));
    V b = lanes::atan2(V(shadow_earth_radius), sqrt(lanes::max(r2 - re2, V(0.0))));
    V cx = ry * sz - rz * sy, cy = rz * sx - rx * sz, cz = rx * sy - ry * sx;
    V c = lanes::atan2(sqrt(cx * cx + cy * cy + cz * cz), -(rx * sx + ry * sy + rz * sz));
    V a2 = a * a, b2 = b * b;
    V x = (c * c + a2 - b2) / (2.0 * c);
    V y = sqrt(lanes::max(a2 - x * x, V(0.0)));
    V area = a2 * lanes::atan2(y, x) + b2 * lanes::atan2(y, c - x) - c * y;
    V partial = 1.0 - area / (shadow_pi * a2);
    V annular = 1.0 - b2 / a2;
    return select(c >= a + b, V(1.0), select(c <= b - a, V(0.0), select(c <= a - b, annular, partial)));
}

// r: rows of three, samples first .. first + count - 1 of a run whose sample
// i is at time i % m; sun: m rows of three; out: count values.
using ShadowRun = void (*)(const double* r, const double* sun, std::size_t m, std::size_t first, std::size_t count,
                           double* out) noexcept;

#define QV_BODIES_LOOPS(isa)                                                                                   \
    namespace loops::isa {                                                                                     \
    void shadow(const double* r, const double* sun, std::size_t m, std::size_t first, std::size_t count,      \
                double* out) noexcept;                                                                         \
    }
QV_SIMD_EACH_ISA(QV_BODIES_LOOPS)
#undef QV_BODIES_LOOPS

ShadowRun shadow_run_for(int lanes) noexcept;

}  // namespace qv::bodies
