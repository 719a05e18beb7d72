// Per-sample frame rotation (Python-free, header-only so that the propagator
// and other modules run the same code).
//
// A transformation between two frames at one time is a rotation matrix R and
// its time derivative Rdot (both 3×3, row-major):
//     r' = R r,    v' = R v + Rdot r.
// The matrices depend on the time alone; they are computed once per time by
// the caller and applied here to every sample (satellite i, time j).
#pragma once

#include <cstddef>

#include "mathtools/simd/lanes.hpp"
#include "runtime/inline.hpp"

namespace qv::frames {
// Each unit's own copy, as the lane library's: the propagator's per-ISA
// sample loops include this header too, and a baseline caller must never be
// linked to their AVX code.
inline namespace QV_SIMD_ISA {

// One sample: r' = R r and, when v is given, v' = R v + Rdot r.  Inputs are
// read before any output is written, so outputs may alias inputs.
inline void rotate_sample(const double* R, const double* Rdot, const double* r, const double* v, double* r_out,
                          double* v_out) noexcept {
    const double x = r[0], y = r[1], z = r[2];
    if (v && v_out) {
        const double a = v[0], b = v[1], c = v[2];
        for (int k = 0; k < 3; ++k) {
            const double* row = R + 3 * k;
            const double* drow = Rdot + 3 * k;
            v_out[k] = (row[0] * a + row[1] * b + row[2] * c) + (drow[0] * x + drow[1] * y + drow[2] * z);
        }
    }
    for (int k = 0; k < 3; ++k) {
        const double* row = R + 3 * k;
        r_out[k] = row[0] * x + row[1] * y + row[2] * z;
    }
}

// Samples [first, last) of n × m samples stored (n, m, 3) C-contiguous
// (sample k is satellite k / m at time k % m): r, v (v may be null), and R,
// Rdot (m, 3, 3).  The arithmetic of a sample does not depend on the split
// into ranges, so results are the same bits for any thread count.
inline void rotate_samples(const double* R, const double* Rdot, std::size_t m, const double* r, const double* v,
                           double* r_out, double* v_out, std::size_t first, std::size_t last) noexcept {
    std::size_t j = first % m;
    for (std::size_t k = first; k < last; ++k) {
        const std::size_t s = 3 * k;
        rotate_sample(R + 9 * j, Rdot + 9 * j, r + s, v ? v + s : nullptr, r_out + s, v ? v_out + s : nullptr);
        if (++j == m) j = 0;
    }
}

// One vector of samples at the consecutive times j, j + 1, ...: (x, y, z)
// and (a, b, c) the TEME position and velocity lanes, the matrices read from
// `soa`, 18 rows of m (element e of R at soa[e m + j] for e = 3 row +
// column, of Rdot at soa[(9 + e) m + j]).  Every lane does rotate_sample's
// operations in its order, so the bits are those of rotate_sample at every
// width.
template <class V>
QV_FORCE_INLINE inline void rotate_lanes(const double* soa, std::size_t m, std::size_t j, V x, V y, V z, V a, V b,
                                         V c, V ro[3], V vo[3]) noexcept {
    namespace lanes = qv::simd;
    const double* at = soa + j;
    auto M = [&](std::size_t e) { return lanes::load<V>(at + e * m); };
    for (std::size_t k = 0; k < 3; ++k) {
        vo[k] = (M(3 * k) * a + M(3 * k + 1) * b + M(3 * k + 2) * c) +
                (M(9 + 3 * k) * x + M(9 + 3 * k + 1) * y + M(9 + 3 * k + 2) * z);
        ro[k] = M(3 * k) * x + M(3 * k + 1) * y + M(3 * k + 2) * z;
    }
}

// One tile of `count` samples at the consecutive times j0, j0 + 1, ... in
// place (r and v rows of three, both required), a vector of lanes at a
// time (rotate_lanes, matrices from `soa`); the samples left over take
// rotate_sample with R and Rdot (m, 3, 3).
template <class V>
inline void rotate_tile_lanes(const double* soa, const double* R, const double* Rdot, std::size_t m, std::size_t j0,
                              double* r, double* v, std::size_t count) noexcept {
    namespace lanes = qv::simd;
    constexpr std::size_t W = lanes::Width<V>;
    std::size_t i = 0;
    for (; i + W <= count; i += W) {
        V x, y, z, a, b, c;
        lanes::load3(r + 3 * i, x, y, z);
        lanes::load3(v + 3 * i, a, b, c);
        V vo[3], ro[3];
        rotate_lanes(soa, m, j0 + i, x, y, z, a, b, c, ro, vo);
        lanes::store3(v + 3 * i, vo[0], vo[1], vo[2]);
        lanes::store3(r + 3 * i, ro[0], ro[1], ro[2]);
    }
    for (; i < count; ++i) {
        const std::size_t j = j0 + i;
        rotate_sample(R + 9 * j, Rdot + 9 * j, r + 3 * i, v + 3 * i, r + 3 * i, v + 3 * i);
    }
}

}  // namespace QV_SIMD_ISA
}  // namespace qv::frames
