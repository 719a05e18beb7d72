// Look angles of positions seen from a site (Python-free).
//
// For an Earth-fixed position r (m) and velocity v (m/s) and a site at
// `origin` whose east, north and up unit vectors (ITRF) are the rows of
// `rot`: d = r - origin, (e, n, u) = rot d,
//   azimuth    atan2(e, n) from north through east, in [0, 2pi) (a negative
//              angle that would round up to 2pi gives the largest double below
//              it; -0 gives +0)
//   elevation  atan2(u, sqrt(e^2 + n^2)), geometric, from the ellipsoid normal
//   range      sqrt(e^2 + n^2 + u^2)
//   range rate (d . v) / range, the site fixed in ITRF (NaN without v).
// Written over the lane types of native/mathtools/simd, so every vector width
// gives the same bits.
#pragma once

#include <cstddef>

#include "mathtools/simd/dispatch.hpp"

#include "mathtools/simd/lanes.hpp"

namespace qv::observers {

namespace lanes = qv::simd;

struct Site {
    double origin[3];
    double rot[3][3];
};

inline constexpr double two_pi = 0x1.921fb54442d18p+2;             // the double nearest 2pi
inline constexpr double below_two_pi = 0x1.921fb54442d17p+2;  // the largest double below it

template <class V>
inline void look_lanes(const Site& s, V x, V y, V z, V& az, V& el, V& range, V& dx, V& dy, V& dz) {
    dx = x - s.origin[0];
    dy = y - s.origin[1];
    dz = z - s.origin[2];
    V e = s.rot[0][0] * dx + s.rot[0][1] * dy + s.rot[0][2] * dz;
    V n = s.rot[1][0] * dx + s.rot[1][1] * dy + s.rot[1][2] * dz;
    V u = s.rot[2][0] * dx + s.rot[2][1] * dy + s.rot[2][2] * dz;
    V horizontal2 = e * e + n * n;
    V a = lanes::atan2(e, n);
    a = lanes::select(a < 0.0, a + two_pi, a);
    az = lanes::select(a >= two_pi, V(below_two_pi), a) + 0.0;
    el = lanes::atan2(u, lanes::sqrt(horizontal2));
    range = lanes::sqrt(horizontal2 + u * u);
}

// r (and v, or null) rows of three; az, el, range, rate n each.
using LookRun = void (*)(const Site& s, const double* r, const double* v, std::size_t n, double* az, double* el,
                         double* range, double* rate) noexcept;

#define QV_OBSERVERS_LOOPS(isa)                                                                                \
    namespace loops::isa {                                                                                     \
    void look(const Site& s, const double* r, const double* v, std::size_t n, double* az, double* el,         \
              double* range, double* rate) noexcept;                                                           \
    }
QV_SIMD_EACH_ISA(QV_OBSERVERS_LOOPS)
#undef QV_OBSERVERS_LOOPS

LookRun look_run_for(int lanes) noexcept;

}  // namespace qv::observers
