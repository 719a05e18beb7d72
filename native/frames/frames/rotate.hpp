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

namespace qv::frames {

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

}  // namespace qv::frames
