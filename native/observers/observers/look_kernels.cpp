// The look-angle loop, compiled once per instruction set: a vector of the
// widest lane type of the unit at a time, the tail padded with its last
// sample (whose lanes are computed and dropped).
#include <cmath>
#include <cstring>
#include <limits>

#include "observers/observers/look.hpp"

namespace qv::observers::loops::QV_SIMD_ISA {

namespace {
using V = lanes::Widest;
constexpr std::size_t W = lanes::Width<V>;

// Lanes from rows of three, samples 0 .. W - 1 (the last of `count` repeated).
inline void gather(const double* r, double (&c)[3][W], std::size_t count) {
    for (std::size_t j = 0; j < W; ++j) {
        std::size_t k = 3 * (j < count ? j : count - 1);
        c[0][j] = r[k];
        c[1][j] = r[k + 1];
        c[2][j] = r[k + 2];
    }
}

inline void block(const Site& s, const double* r, const double* v, std::size_t count, double* az, double* el,
                  double* range, double* rate) {
    double c[3][W];
    gather(r, c, count);
    V a, e, rg, dx, dy, dz;
    look_lanes(s, lanes::load<V>(c[0]), lanes::load<V>(c[1]), lanes::load<V>(c[2]), a, e, rg, dx, dy, dz);
    V rr(std::numeric_limits<double>::quiet_NaN());
    if (v) {
        gather(v, c, count);
        rr = (dx * lanes::load<V>(c[0]) + dy * lanes::load<V>(c[1]) + dz * lanes::load<V>(c[2])) / rg;
    }
    if (count == W) {
        lanes::store(az, a);
        lanes::store(el, e);
        lanes::store(range, rg);
        lanes::store(rate, rr);
        return;
    }
    double t[4][W];
    lanes::store(t[0], a);
    lanes::store(t[1], e);
    lanes::store(t[2], rg);
    lanes::store(t[3], rr);
    std::memcpy(az, t[0], count * sizeof(double));
    std::memcpy(el, t[1], count * sizeof(double));
    std::memcpy(range, t[2], count * sizeof(double));
    std::memcpy(rate, t[3], count * sizeof(double));
}
}  // namespace

void look(const Site& s, const double* r, const double* v, std::size_t n, double* az, double* el, double* range,
          double* rate) noexcept {
    for (std::size_t i = 0; i < n; i += W) {
        std::size_t count = n - i < W ? n - i : W;
        block(s, r + 3 * i, v ? v + 3 * i : nullptr, count, az + i, el + i, range + i, rate + i);
    }
}

}  // namespace qv::observers::loops::QV_SIMD_ISA
