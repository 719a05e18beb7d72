// Bounds of the Keplerian motion through a state, for interpolation error
// estimates (Python-free, header-only).  The screener and the pass finder
// bound the error of cubic Hermite interpolation of SGP4 positions with it.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace qv::orbel {

// A bound of |d⁴r/dt⁴| over the Keplerian orbit through (r, v) for the
// gravitational parameter mu.  With f = μ/r³: r'' = −f r, r⁗ = −f'' r −
// 2 f' v + f² r, |f'| ≤ 3μ v/r⁴ and |f''| ≤ 3μ (v²/r + μ/r²)/r⁴ + 12 μ v²/r⁵,
// so |r⁗| ≤ 21 μ v²/r⁴ + 4 μ²/r⁵, largest at perigee (smallest r, largest
// v).  Infinite for states that are no ellipse.
inline double fourth_derivative_bound(const double* r, const double* v, double mu) {
    double rr = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    double inv_a = 2.0 / rr - vv / mu;
    double hx = r[1] * v[2] - r[2] * v[1], hy = r[2] * v[0] - r[0] * v[2], hz = r[0] * v[1] - r[1] * v[0];
    double h2 = hx * hx + hy * hy + hz * hz;
    double e2 = 1.0 - h2 * inv_a / mu;
    if (!(inv_a > 0.0) || !(e2 < 1.0)) return std::numeric_limits<double>::infinity();
    double e = std::sqrt(std::max(e2, 0.0));
    double rp = h2 / (mu * (1.0 + e));
    double vp2 = mu * (2.0 / rp - inv_a);
    double rp4 = rp * rp * rp * rp;
    return 21.0 * mu * vp2 / rp4 + 4.0 * mu * mu / (rp4 * rp);
}

}  // namespace qv::orbel
