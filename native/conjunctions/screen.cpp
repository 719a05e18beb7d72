// Conjunction screening: grid propagation, Hermite interpolants with error
// bounds, spatial-hash broad phase, Bézier narrow phase, SGP4 refinement.
#include "state/orbel/kepler_bounds.hpp"
#include "conjunctions/screen.hpp"
#include "conjunctions/sweep.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include "propagators/analytical/sgp4/propagator/sgp4.hpp"
#include "runtime/inline.hpp"
#include "runtime/parallel.hpp"

namespace qv::screen {

namespace {

// Earth's gravitational parameter (m³/s²); the bound carries a safety
// factor of 2, far above the spread of the models' values and of the
// non-Keplerian terms.
constexpr double mu = 3.986004418e14;
constexpr double bound_safety = 2.0;
constexpr double bound_floor = 1.0;  // m
constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();

using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A bound of |d⁴r/dt⁴| over the Keplerian orbit through (r, v).
inline double fourth_derivative_bound(const double* r, const double* v) {
    return qv::orbel::fourth_derivative_bound(r, v, mu);
}

inline void bezier(const double* r0, const double* v0, const double* r1, const double* v1, double H, double P[4][3]) {
    for (int x = 0; x < 3; ++x) {
        P[0][x] = r0[x];
        P[1][x] = r0[x] + v0[x] * (H / 3.0);
        P[2][x] = r1[x] - v1[x] * (H / 3.0);
        P[3][x] = r1[x];
    }
}

// True when the cubic with control points D stays further than R from the
// origin: the boxes of its control polygon, halved `depth` times, all lie
// beyond R (the curve lies in its control points' convex hull).
bool beyond(const double D[4][3], double R, int depth) {
    double d2 = 0.0;
    for (int x = 0; x < 3; ++x) {
        double lo = std::min(std::min(D[0][x], D[1][x]), std::min(D[2][x], D[3][x]));
        double hi = std::max(std::max(D[0][x], D[1][x]), std::max(D[2][x], D[3][x]));
        double g = lo > 0.0 ? lo : hi < 0.0 ? -hi : 0.0;
        d2 += g * g;
    }
    if (d2 > R * R) return true;
    if (depth == 0) return false;
    double L[4][3], Rt[4][3];
    for (int x = 0; x < 3; ++x) {
        double p01 = 0.5 * (D[0][x] + D[1][x]), p12 = 0.5 * (D[1][x] + D[2][x]), p23 = 0.5 * (D[2][x] + D[3][x]);
        double p012 = 0.5 * (p01 + p12), p123 = 0.5 * (p12 + p23), m = 0.5 * (p012 + p123);
        L[0][x] = D[0][x];
        L[1][x] = p01;
        L[2][x] = p012;
        L[3][x] = m;
        Rt[0][x] = m;
        Rt[1][x] = p123;
        Rt[2][x] = p23;
        Rt[3][x] = D[3][x];
    }
    return beyond(L, R, depth - 1) && beyond(Rt, R, depth - 1);
}

// A cheaper sufficient test first: the cubic is its chord (control points
// D0, (2D0+D3)/3, (D0+2D3)/3, D3) plus a cubic with control points
// (0, e1, e2, 0), no longer than max(|e1|, |e2|) (convex hull); so the
// curve stays beyond R when the chord's distance from the origin less that
// exceeds R (a metre of margin for the rounding of both).
bool chord_beyond(const double D[4][3], double R) {
    constexpr double third = 1.0 / 3.0;  // rounding covered by the margin
    double c[3], e1 = 0.0, e2 = 0.0, cc = 0.0, dc = 0.0;
    for (int x = 0; x < 3; ++x) {
        c[x] = D[3][x] - D[0][x];
        const double a = D[1][x] - (2.0 * D[0][x] + D[3][x]) * third, b = D[2][x] - (D[0][x] + 2.0 * D[3][x]) * third;
        e1 += a * a;
        e2 += b * b;
        cc += c[x] * c[x];
        dc += D[0][x] * c[x];
    }
    double t = cc > 0.0 ? std::min(std::max(-dc / cc, 0.0), 1.0) : 0.0;
    double d2 = 0.0;
    for (int x = 0; x < 3; ++x) {
        const double y = D[0][x] + t * c[x];
        d2 += y * y;
    }
    return std::sqrt(d2) - std::sqrt(std::max(e1, e2)) > R + 1.0;
}

// The objects of one run: primaries (source a), then secondaries (b).
struct Objects {
    const Source& a;
    const Source* b;
    std::size_t na, n;
    Objects(const Source& a_, const Source* b_) : a(a_), b(b_), na(a_.n), n(a_.n + (b_ ? b_->n : 0)) {}
    const void* sat(std::size_t o) const { return o < na ? a.sat(o) : b->sat(o - na); }
    std::int64_t epoch(std::size_t o) const { return o < na ? a.epochs[o] : b->epochs[o - na]; }
    std::int64_t satno(std::size_t o) const { return o < na ? a.satno[o] : b->satno[o - na]; }
};

struct Candidate {
    std::uint64_t pair;  // primary << 32 | secondary
    std::int64_t sub;    // global sub-step index
};

// One sample of both objects of a pair.
struct PairState {
    double rp[3], vp[3], rs[3], vs[3];
    double g;
    bool ok;
};

void pair_state(const Objects& obj, const Kernels& k, std::uint32_t p, std::uint32_t s, std::int64_t t,
                PairState* out) {
    std::int8_t ep = 0, es = 0;
    k.sample(obj.sat(p), sgp4::minutes_between(obj.epoch(p), t), out->rp, out->vp, &ep);
    k.sample(obj.sat(s), sgp4::minutes_between(obj.epoch(s), t), out->rs, out->vs, &es);
    out->ok = ep == 0 && es == 0;
    double g = 0.0;
    for (int x = 0; x < 3; ++x) g += (out->rs[x] - out->rp[x]) * (out->vs[x] - out->vp[x]);
    out->g = g;
    out->ok = out->ok && std::isfinite(g);
}

// The root of g in the bracket [a, b] (g(a) < 0 ≤ g(b)), in integer
// nanoseconds: first at `guess` (when inside) and 32 µs past it toward the
// root, then false position with the Illinois modification, bisection
// whenever a step fails to halve the bracket over two steps; stops at a
// width of 1 µs with g < 0 a microsecond before the right end, and returns it
// (the earliest instant known with g ≥ 0), whose states are left in *at.  A
// function of the bracket and its end states alone.
std::int64_t root(const Objects& obj, const Kernels& k, std::uint32_t p, std::uint32_t s, std::int64_t a,
                  std::int64_t b, double ga, PairState* at_b, std::int64_t guess, bool* ok) {
    double gb = at_b->g;
    int side = 0;
    std::int64_t width_before = b - a;
    int iteration = 0;
    *ok = true;
    constexpr std::int64_t near = 32000;  // ns
    const std::int64_t a0 = a, b0 = b;
    while (b - a > 1000) {
        std::int64_t x;
        bool bisect = iteration >= 3 && (b - a) * 2 > width_before;
        if (iteration % 2 == 0) width_before = b - a;
        ++iteration;
        const bool guessed = guess > a0 && guess < b0;
        if (iteration == 1 && guessed) {
            x = guess;
        } else if (iteration == 2 && guessed) {
            // A step of `near` past the guess, toward the root: the guess is
            // within microseconds of it, mostly.
            x = side == -1 ? a + near : b - near;
        } else if (!bisect && gb > ga) {
            double f = ga / (ga - gb);
            double off = f * static_cast<double>(b - a);
            x = a + static_cast<std::int64_t>(off);
        } else {
            x = a + (b - a) / 2;
        }
        if (x <= a || x >= b) x = a + (b - a) / 2;
        PairState st;
        pair_state(obj, k, p, s, x, &st);
        if (!st.ok) {
            *ok = false;
            return b;
        }
        if (st.g < 0.0) {
            a = x;
            ga = st.g;
            if (side == -1) gb *= 0.5;
            side = -1;
        } else {
            b = x;
            gb = st.g;
            *at_b = st;
            if (side == 1) ga *= 0.5;
            side = 1;
        }
    }
    // g < 0 a microsecond before the root returned: in slow encounters g
    // wavers at the level of rounding near its root, and another sign change
    // may lie within a microsecond before the one found; the root then moves
    // back a microsecond at a time.
    for (std::int64_t x = b - 1000; b - a != 1000 && x > a0; x = b - 1000) {
        PairState st;
        pair_state(obj, k, p, s, x, &st);
        if (!st.ok) {
            *ok = false;
            return b;
        }
        if (st.g < 0.0) break;
        b = x;
        *at_b = st;
        a = a0;
    }
    return b;
}

void make_event(std::uint32_t p, std::uint32_t s, std::int64_t m, std::int64_t t, const PairState& st, Event* e) {
    e->primary = p;
    e->secondary = s;
    e->bracket = m;
    e->tca = t;
    double dr[3], dv[3];
    for (int x = 0; x < 3; ++x) {
        dr[x] = st.rs[x] - st.rp[x];
        dv[x] = st.vs[x] - st.vp[x];
    }
    e->miss = std::sqrt(dr[0] * dr[0] + dr[1] * dr[1] + dr[2] * dr[2]);
    e->speed = std::sqrt(dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2]);
    // The primary's radial, along-track and cross-track directions.
    const double* r = st.rp;
    const double* v = st.vp;
    double rn = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    double R[3] = {r[0] / rn, r[1] / rn, r[2] / rn};
    double h[3] = {r[1] * v[2] - r[2] * v[1], r[2] * v[0] - r[0] * v[2], r[0] * v[1] - r[1] * v[0]};
    double hn = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
    double N[3] = {h[0] / hn, h[1] / hn, h[2] / hn};
    double T[3] = {N[1] * R[2] - N[2] * R[1], N[2] * R[0] - N[0] * R[2], N[0] * R[1] - N[1] * R[0]};
    e->rtn[0] = dr[0] * R[0] + dr[1] * R[1] + dr[2] * R[2];
    e->rtn[1] = dr[0] * T[0] + dr[1] * T[1] + dr[2] * T[2];
    e->rtn[2] = dr[0] * N[0] + dr[1] * N[1] + dr[2] * N[2];
}


// Grid steps a slow object's coarse segment spans, at most (a power of 2).
constexpr int max_stride = 8;
// Cells of a slab of the broad phase's grid in z: thicker slabs enter fewer
// boxes twice, thinner ones give shorter runs to test.
constexpr double slab_cells = 4.0;
// Cells per axis of the broad phase's grid, at most.
constexpr std::int64_t cell_range = std::int64_t{1} << 18;

// Value of the polynomial c[0] + c[1] x + ... + c[d] x^d.
inline double poly(const double* c, int d, double x) {
    double y = c[d];
    for (int i = d - 1; i >= 0; --i) y = y * x + c[i];
    return y;
}

// The roots of a polynomial of degree d ≤ 4 within the open interval
// (lo, hi), ascending: the roots of its derivative cut the interval into
// pieces where it is monotonic, and each piece whose ends differ in sign
// holds one root, found by bisection.  Returns their count.
int poly_roots(const double* c, int d, double lo, double hi, double* out) {
    while (d > 0 && c[d] == 0.0) --d;
    if (d == 0) return 0;
    if (d == 1) {
        double x = -c[0] / c[1];
        if (x > lo && x < hi) {
            out[0] = x;
            return 1;
        }
        return 0;
    }
    double dc[4];
    for (int i = 1; i <= d; ++i) dc[i - 1] = i * c[i];
    double cut[6];
    int nc = 0;
    cut[nc++] = lo;
    nc += poly_roots(dc, d - 1, lo, hi, cut + 1);
    cut[nc++] = hi;
    int n = 0;
    for (int i = 0; i + 1 < nc; ++i) {
        double a = cut[i], b = cut[i + 1];
        double fa = poly(c, d, a), fb = poly(c, d, b);
        if (fb == 0.0 && i + 2 < nc) {
            out[n++] = b;  // an interior cut that is itself a root
            continue;
        }
        if (!((fa < 0.0 && fb > 0.0) || (fa > 0.0 && fb < 0.0))) continue;
        for (int it = 0; it < 60 && b - a > 1e-13; ++it) {
            double m = 0.5 * (a + b), fm = poly(c, d, m);
            if ((fm < 0.0) == (fa < 0.0)) {
                a = m;
                fa = fm;
            } else {
                b = m;
            }
        }
        out[n++] = 0.5 * (a + b);
    }
    return n;
}

// Critical points of g within the piece τ ∈ (ta, tb) of a grid segment, for
// the relative cubic Hermite interpolant d(τ) of the states at its ends
// (segment of H seconds, τ ∈ [0, 1]): roots of (d·d')' = d'·d' + d·d''
// (degree 4).  Between two roots of g there is one of these.
// The relative cubic Hermite interpolant d(τ) = a[x][0] + a[x][1] τ +
// a[x][2] τ² + a[x][3] τ³ of two pair states H seconds apart (τ ∈ [0, 1]).
void relative_cubic(const PairState& e0, const PairState& e1, double H, double a[3][4]) {
    for (int x = 0; x < 3; ++x) {
        const double r0 = e0.rs[x] - e0.rp[x], r1 = e1.rs[x] - e1.rp[x];
        const double w0 = H * (e0.vs[x] - e0.vp[x]), w1 = H * (e1.vs[x] - e1.vp[x]);
        a[x][0] = r0;
        a[x][1] = w0;
        a[x][2] = 3.0 * (r1 - r0) - 2.0 * w0 - w1;
        a[x][3] = 2.0 * (r0 - r1) + w0 + w1;
    }
}

int critical_points(const PairState& e0, const PairState& e1, double H, double ta, double tb, double* tau) {
    double G[5] = {0, 0, 0, 0, 0};
    double a[3][4];
    relative_cubic(e0, e1, H, a);
    for (int x = 0; x < 3; ++x) {
        const double a0 = a[x][0], a1 = a[x][1], a2 = a[x][2], a3 = a[x][3];
        // d' = b0 + b1 τ + b2 τ², d'' = c0 + c1 τ.
        const double b0 = a1, b1 = 2.0 * a2, b2 = 3.0 * a3, c0 = 2.0 * a2, c1 = 6.0 * a3;
        G[0] += b0 * b0 + a0 * c0;
        G[1] += 2.0 * b0 * b1 + a0 * c1 + a1 * c0;
        G[2] += b1 * b1 + 2.0 * b0 * b2 + a1 * c1 + a2 * c0;
        G[3] += 2.0 * b1 * b2 + a2 * c1 + a3 * c0;
        G[4] += b2 * b2 + a3 * c1;
    }
    return poly_roots(G, 4, ta, tb, tau);
}

// The root of the interpolated g in the bracket [A, B] (g < 0 at A, ≥ 0 at
// B; B − A = H seconds, h_ns nanoseconds): the relative cubic Hermite of
// the two end states, its g = d·d' solved by false position with the
// Illinois modification to 1e-9 of the bracket.  A first guess for root():
// within the interpolation error over the bracket (milliseconds for a
// sub-step), where the bracket alone is up to a sub-step wide.
std::int64_t interpolated_root(const PairState& A, const PairState& B, double H, std::int64_t ta, std::int64_t h_ns) {
    double a[3][4];
    relative_cubic(A, B, H, a);
    auto g = [&](double t) {
        double sum = 0.0;
        for (int x = 0; x < 3; ++x) {
            const double d = ((a[x][3] * t + a[x][2]) * t + a[x][1]) * t + a[x][0];
            const double dd = (3.0 * a[x][3] * t + 2.0 * a[x][2]) * t + a[x][1];
            sum += d * dd;
        }
        return sum;
    };
    double lo = 0.0, hi = 1.0, glo = g(lo), ghi = g(hi);
    if (!(glo < 0.0) || !(ghi >= 0.0)) return ta + h_ns / 2;
    int side = 0;
    for (int it = 0; it < 60 && hi - lo > 1e-9; ++it) {
        double x = lo + (hi - lo) * (glo / (glo - ghi));
        if (!(x > lo && x < hi)) x = 0.5 * (lo + hi);
        const double gx = g(x);
        if (gx < 0.0) {
            lo = x;
            glo = gx;
            if (side == -1) ghi *= 0.5;
            side = -1;
        } else {
            hi = x;
            ghi = gx;
            if (side == 1) glo *= 0.5;
            side = 1;
        }
    }
    return ta + std::llround(0.5 * (lo + hi) * static_cast<double>(h_ns));
}

// Weights of the Bézier control points of the piece τ ∈ [ta, tb] of a
// segment's cubic Hermite interpolant, column-major: control point i is
// w[i]·r0 + w[4+i]·H v0 + w[8+i]·r1 + w[12+i]·H v1 (the Hermite basis and
// its derivative at ta and tb).
void piece_weights(double ta, double tb, double w[16]) {
    const double tt[2] = {ta, tb};
    double hb[2][4], dh[2][4];
    for (int e = 0; e < 2; ++e) {
        const double t = tt[e], t2 = t * t, t3 = t2 * t;
        hb[e][0] = 2.0 * t3 - 3.0 * t2 + 1.0;
        hb[e][1] = t3 - 2.0 * t2 + t;
        hb[e][2] = -2.0 * t3 + 3.0 * t2;
        hb[e][3] = t3 - t2;
        dh[e][0] = 6.0 * t2 - 6.0 * t;
        dh[e][1] = 3.0 * t2 - 4.0 * t + 1.0;
        dh[e][2] = -6.0 * t2 + 6.0 * t;
        dh[e][3] = 3.0 * t2 - 2.0 * t;
    }
    const double wd = (tb - ta) / 3.0;
    for (int c = 0; c < 4; ++c) {
        w[4 * c + 0] = hb[0][c];
        w[4 * c + 1] = hb[0][c] + wd * dh[0][c];
        w[4 * c + 2] = hb[1][c] - wd * dh[1][c];
        w[4 * c + 3] = hb[1][c];
    }
}

// The Hermite bound of a segment of H seconds from the larger of its ends'
// fourth-derivative bounds.
inline double bound_of(double c, double H) {
    double h2 = H * H;
    return bound_safety * h2 * h2 / 384.0 * c + bound_floor;
}

// Buffers of one thread's propagation: times, states, fourth-derivative
// bounds and error codes of a block of objects.
struct Buffers {
    std::vector<double> ts, r, v, f;
    std::vector<std::int8_t> err;
};

// Scratch of one thread's broad phase.
struct Scratch {
    std::vector<double> box;   // 8 per slot: the bounds, the satellite number's bits, padding
    // By slot, 16 doubles (two cache lines): the piece's control points (12),
    // its interpolation bound, the object's index (bits).
    std::vector<double> ctrl;
    std::vector<double> sorted[7];  // the boxes' bounds and columns in cell order
    std::vector<std::int64_t> satno;  // satellite numbers in cell order
    std::vector<std::uint64_t> hits;
    std::vector<std::uint64_t> key, tmp_key;
    std::vector<std::uint32_t> order, tmp_order;
    std::vector<std::uint32_t> counts;  // the radix sort's digit counts, every pass
    std::vector<std::uint32_t> extent_counts;  // boxes by size (extent_bucket)
    std::vector<std::uint32_t> oversize;       // slots of the boxes larger than a cell
    std::vector<std::uint64_t> pairs;
};

}  // namespace

double hermite_bound(const double* r0, const double* v0, const double* r1, const double* v1, double H) {
    return bound_of(std::max(fourth_derivative_bound(r0, v0), fourth_derivative_bound(r1, v1)), H);
}

void start_bounds(const Source& a, const Source* b, const Kernels& k, std::int64_t start, int threads, double* out) {
    Objects obj(a, b);
    const std::size_t block = 256;
    parallel_for((obj.n + block - 1) / block, threads, [&](std::size_t blk) {
        for (std::size_t o = blk * block; o < std::min(obj.n, (blk + 1) * block); ++o) {
            double r[3], v[3];
            std::int8_t e = 0;
            k.sample(obj.sat(o), sgp4::minutes_between(obj.epoch(o), start), r, v, &e);
            out[o] = e != 0 ? std::nan("") : fourth_derivative_bound(r, v);
        }
    });
}

std::int64_t choose_step(const double* bounds, std::size_t n, int substeps, double target, double min_step,
                         double max_step) {
    double c = 0.0;
    for (std::size_t o = 0; o < n; ++o)
        if (std::isfinite(bounds[o])) c = std::max(c, bounds[o]);
    double H = max_step;
    if (c > 0.0) H = std::pow(384.0 * (target - bound_floor) / (bound_safety * c), 0.25);
    H = std::min(std::max(H, min_step), max_step);
    std::int64_t whole = static_cast<std::int64_t>(H) / substeps * substeps;
    if (whole < substeps) whole = substeps;
    return whole * 1000000000LL;
}

void interpolation_check(const Source& a, const Kernels& k, std::int64_t start, std::int64_t step, std::size_t count,
                         double* error, double* bound, int threads) {
    const double H = static_cast<double>(step) * 1e-9;
    parallel_for(a.n, threads, [&](std::size_t i) {
        std::vector<double> ts(2 * count + 1), r(3 * (2 * count + 1)), v(3 * (2 * count + 1));
        std::vector<std::int8_t> err(2 * count + 1);
        for (std::size_t j = 0; j <= 2 * count; ++j)
            ts[j] = sgp4::minutes_between(a.epochs[i], start + static_cast<std::int64_t>(j) * (step / 2));
        k.run_times(a.sat(i), ts.data(), ts.size(), r.data(), v.data(), err.data(), k.lanes);
        for (std::size_t s = 0; s < count; ++s) {
            double* out_e = error + i * count + s;
            double* out_b = bound + i * count + s;
            std::size_t j0 = 2 * s, jm = j0 + 1, j1 = j0 + 2;
            if (err[j0] || err[jm] || err[j1]) {
                *out_e = *out_b = std::nan("");
                continue;
            }
            double P[4][3];
            bezier(&r[3 * j0], &v[3 * j0], &r[3 * j1], &v[3 * j1], H, P);
            double d2 = 0.0;
            for (int x = 0; x < 3; ++x) {
                double m = 0.125 * (P[0][x] + 3.0 * P[1][x] + 3.0 * P[2][x] + P[3][x]);
                double d = m - r[3 * jm + x];
                d2 += d * d;
            }
            *out_e = std::sqrt(d2);
            *out_b = hermite_bound(&r[3 * j0], &v[3 * j0], &r[3 * j1], &v[3 * j1], H);
        }
    });
}

void screen(const Source& a, const Source* b, const Kernels& k, const Window& w, std::vector<Event>* events,
            std::vector<Failure>* failures, Stats* stats) {
    Objects obj(a, b);
    const std::size_t n = obj.n;
    const bool against = b != nullptr;
    const SweepRun sweep = sweep_run_for(k.lanes);
    const PieceBuild build_pieces = piece_build_for(k.lanes);
    const int q = w.substeps;
    const std::int64_t h_ns = w.step / q;
    const double H = static_cast<double>(w.step) * 1e-9;
    const double half = 0.5 * w.threshold;
    std::vector<std::int64_t> fail_segment(n, never);
    std::vector<std::int32_t> first_bad(n);  // each object's first failing sample of the chunk (or the count)
    std::vector<Event> found;
    // Chunk buffers, allocated once at the largest chunk's size.
    // A chunk of c steps propagates c + 1 samples per object, in vectors of
    // `group` times (the tail padded and its lanes dropped): chunks of
    // group·m − 1 steps waste none (38 steps at 16 lanes computed 48).
    const std::int64_t group = 4 * static_cast<std::int64_t>(k.lanes);
    std::int64_t chunk_steps = w.chunk_steps;
    if (chunk_steps + 1 >= group) chunk_steps = (chunk_steps + 1) / group * group - 1;
    const std::size_t most = static_cast<std::size_t>(std::min(chunk_steps, std::max<std::int64_t>(w.last - w.first, 1)));
    // Not zeroed: every entry read is written first (a chunk's rows by its
    // propagation), and the pages are touched first by the threads that fill them.
    auto R = std::make_unique_for_overwrite<double[]>(n * (most + 1) * 3);
    auto V = std::make_unique_for_overwrite<double[]>(n * (most + 1) * 3);
    auto eps = std::make_unique_for_overwrite<double[]>(n * most);
    auto E = std::make_unique_for_overwrite<std::int8_t[]>(n * (most + 1));
    // Slow objects (their interpolation bound over 2, 4 or 8 grid steps within
    // the target at the window's start: GEO, MEO, most of HEO away from LEO)
    // are propagated every `stride` grid steps only, on the global grid
    // t_k, k a multiple of the stride, so every chunk and every Dask task
    // sees the same samples.  Their pieces are pieces of the longer cubic,
    // with its bound; refinement uses SGP4 itself for every object alike.
    std::vector<std::int64_t> satno(n);
    for (std::size_t o = 0; o < n; ++o) satno[o] = obj.satno(o);
    std::vector<std::uint8_t> stride(n, 1);
    std::vector<std::uint32_t> slow_of(n, 0);
    std::size_t slow = 0;
    std::vector<double> own_bounds;
    const double* start_f = w.bounds;
    if (!start_f) {
        own_bounds.resize(n);
        start_bounds(a, b, k, w.start, w.threads, own_bounds.data());
        start_f = own_bounds.data();
    }
    for (std::size_t o = 0; o < n; ++o) {
        const double f = start_f[o];
        if (std::isnan(f)) continue;  // SGP4 failed at the start
        for (int m = max_stride; m > 1; m /= 2)
            if (bound_of(f, m * H) <= interpolation_target) {
                stride[o] = static_cast<std::uint8_t>(m);
                slow_of[o] = static_cast<std::uint32_t>(slow++);
                break;
            }
    }
    // A slow object's coarse samples of a chunk, `held` at most, by object.
    const std::size_t held = most / 2 + 3;
    auto RS = std::make_unique_for_overwrite<double[]>(slow * held * 3);
    auto VS = std::make_unique_for_overwrite<double[]>(slow * held * 3);
    auto epsS = std::make_unique_for_overwrite<double[]>(slow * held);
    auto ES = std::make_unique_for_overwrite<std::int8_t[]>(slow * held);
    // Piece weights of the slow objects: stride m, grid step k within the
    // coarse segment (k mod m), sub-step u.
    std::vector<double> weights_of[max_stride + 1];
    const double* slow_weights[max_stride + 1] = {};
    for (int m = 2; m <= max_stride; m *= 2) {
        weights_of[m].resize(static_cast<std::size_t>(m * q) * 16);
        for (int off = 0; off < m; ++off)
            for (int u = 0; u < q; ++u) {
                piece_weights((off + static_cast<double>(u) / q) / m, (off + static_cast<double>(u + 1) / q) / m,
                              &weights_of[m][static_cast<std::size_t>(off * q + u) * 16]);
            }
        slow_weights[m] = weights_of[m].data();
    }

    for (std::int64_t k0 = w.first; k0 < w.last; k0 += chunk_steps) {
        const std::int64_t k1 = std::min(w.last, k0 + chunk_steps);
        const std::size_t segs = static_cast<std::size_t>(k1 - k0), cnt = segs + 1;

        // 1. Propagation at the chunk's grid times, and each segment's bound,
        // stored time-major (sample j of object o at j·n + o) so that the
        // phases below read each time's objects in one sweep.
        auto t0 = Clock::now();
        const std::size_t block = 64;
        // The body takes the thread's buffers as a parameter, out of line
        // (as the broad phase's below).
        auto propagate_block = [&](Buffers& buffers, std::size_t blk) QV_OPAQUE {
            std::vector<double>& ts = buffers.ts;
            std::vector<double>& r = buffers.r;
            std::vector<double>& v = buffers.v;
            std::vector<double>& f = buffers.f;  // each sample's fourth-derivative bound
            std::vector<std::int8_t>& err = buffers.err;
            const std::size_t most_samples = std::max(cnt, held);
            ts.resize(most_samples);
            r.resize(3 * cnt * block + 3 * most_samples);
            v.resize(3 * cnt * block + 3 * most_samples);
            f.resize(cnt * block);
            err.resize(cnt * block + most_samples);
            const std::size_t o0 = blk * block, o1 = std::min(n, (blk + 1) * block);
            for (std::size_t o = o0; o < o1; ++o) {
                const std::int64_t epoch = obj.epoch(o);
                std::size_t b = o - o0;
                if (stride[o] > 1) {
                    const std::int64_t m = stride[o], c0 = k0 / m, c1 = (k1 + m - 1) / m;
                    const std::size_t count = static_cast<std::size_t>(c1 - c0 + 1), so = slow_of[o];
                    for (std::size_t i = 0; i < count; ++i)
                        ts[i] = sgp4::minutes_between(epoch, w.start + (c0 + static_cast<std::int64_t>(i)) * m * w.step);
                    double* rs = &r[3 * cnt * b];
                    double* vs = &v[3 * cnt * b];
                    std::int8_t* es = &err[cnt * b];
                    k.run_times(obj.sat(o), ts.data(), count, rs, vs, es, k.lanes);
                    first_bad[o] = static_cast<std::int32_t>(std::find_if(es, es + count, [](std::int8_t e) { return e != 0; }) - es);
                    // Stored sample-major like the grid samples: row i holds
                    // every slow object's i-th coarse sample of the chunk.
                    double before = fourth_derivative_bound(rs, vs);
                    for (std::size_t i = 0; i < count; ++i) {
                        std::memcpy(&RS[3 * (i * slow + so)], &rs[3 * i], 3 * sizeof(double));
                        std::memcpy(&VS[3 * (i * slow + so)], &vs[3 * i], 3 * sizeof(double));
                        ES[i * slow + so] = es[i];
                        if (i + 1 == count) break;
                        const double after = fourth_derivative_bound(&rs[3 * (i + 1)], &vs[3 * (i + 1)]);
                        epsS[i * slow + so] = bound_of(std::max(before, after), static_cast<double>(m) * H);
                        before = after;
                    }
                    continue;
                }
                for (std::size_t j = 0; j < cnt; ++j)
                    ts[j] = sgp4::minutes_between(epoch, w.start + (k0 + static_cast<std::int64_t>(j)) * w.step);
                k.run_times(obj.sat(o), ts.data(), cnt, &r[3 * cnt * b], &v[3 * cnt * b], &err[cnt * b], k.lanes);
                const std::int8_t* eo = &err[cnt * b];
                first_bad[o] = static_cast<std::int32_t>(std::find_if(eo, eo + cnt, [](std::int8_t e) { return e != 0; }) - eo);
                for (std::size_t j = 0; j < cnt; ++j)
                    f[cnt * b + j] = fourth_derivative_bound(&r[3 * (cnt * b + j)], &v[3 * (cnt * b + j)]);
            }
            for (std::size_t j = 0; j < cnt; ++j)
                for (std::size_t o = o0; o < o1; ++o) {
                    if (stride[o] > 1) continue;
                    std::size_t b = o - o0;
                    std::memcpy(&R[3 * (j * n + o)], &r[3 * (cnt * b + j)], 3 * sizeof(double));
                    std::memcpy(&V[3 * (j * n + o)], &v[3 * (cnt * b + j)], 3 * sizeof(double));
                    E[j * n + o] = err[cnt * b + j];
                    if (j + 1 < cnt)
                        eps[j * n + o] = bound_of(std::max(f[cnt * b + j], f[cnt * b + j + 1]), H);
                }
        };
        parallel_for((n + block - 1) / block, w.threads, [&](std::size_t blk) {
            thread_local Buffers buffers;
            propagate_block(buffers, blk);
        });
        // 2. An object whose sample t_k fails is screened no more from the
        // segment [t_k-1, t_k] on (a slow object: from the coarse segment
        // that ends there).
        for (std::size_t o = 0; o < n; ++o) {
            if (fail_segment[o] != never) continue;
            const std::int64_t i = first_bad[o];
            if (stride[o] > 1) {
                const std::int64_t m = stride[o], c0 = k0 / m, c1 = (k1 + m - 1) / m;
                if (i > c1 - c0) continue;
                const std::int64_t c = c0 + i;
                fail_segment[o] = std::max<std::int64_t>((c - 1) * m, 0);
                failures->push_back({static_cast<std::uint32_t>(o), fail_segment[o], w.start + c * m * w.step,
                                     ES[static_cast<std::size_t>(i) * slow + slow_of[o]]});
                continue;
            }
            if (i >= static_cast<std::int64_t>(cnt)) continue;
            const std::int64_t kk = k0 + i;
            fail_segment[o] = std::max<std::int64_t>(kk - 1, 0);
            failures->push_back({static_cast<std::uint32_t>(o), fail_segment[o], w.start + kk * w.step,
                                 E[static_cast<std::size_t>(i) * n + o]});
        }
        for (std::size_t o = 0; o < n; ++o)
            stats->samples += stride[o] > 1 ? static_cast<std::uint64_t>((k1 + stride[o] - 1) / stride[o] - k0 / stride[o] + 1)
                                            : static_cast<std::uint64_t>(cnt);
        auto t1 = Clock::now();
        stats->propagation += seconds(t0, t1);

        // 3-4. Broad and narrow phases per sub-step.
        const std::size_t nsub = segs * static_cast<std::size_t>(q);
        std::vector<std::vector<Candidate>> cands(nsub);
        std::mutex time_lock;
        double broad_time = 0.0, narrow_time = 0.0;
        // The body takes the thread's scratch as a parameter (QV_OPAQUE).
        auto sub_step = [&](Scratch& sc, std::size_t js) QV_OPAQUE {
            auto b0 = Clock::now();
            const std::size_t s = js / static_cast<std::size_t>(q);
            const int u = static_cast<int>(js % static_cast<std::size_t>(q));
            const std::int64_t kseg = k0 + static_cast<std::int64_t>(s);
            const double ta = static_cast<double>(u) / q, tb = static_cast<double>(u + 1) / q;
            // Boxes of the live objects, by slot.
            sc.box.resize(8 * n);
            sc.ctrl.resize(16 * n);
            // Control points of the piece τ ∈ [ta, tb] of every segment's
            // cubic are fixed combinations of its end states.
            double At[16];
            piece_weights(ta, tb, At);
            sc.extent_counts.assign(extent_buckets, 0);
            const PieceInputs in{n, obj.na, kseg, k0, q, u, H, half, fail_segment.data(), stride.data(),
                                 slow_of.data(), slow, R.get(), V.get(), eps.get(), E.get(), s * n,
                                 RS.get(), VS.get(), epsS.get(), ES.get(), satno.data(), At, slow_weights,
                                 sc.extent_counts.data()};
            PieceBoxes pb;
            build_pieces(in, sc.box.data(), sc.ctrl.data(), &pb);
            const std::size_t live = pb.live, live_a = pb.live_a;
            const double extent = pb.extent, *cmin = pb.cmin, *cmax = pb.cmax, ztop = pb.ztop;
            // Columns of a uniform grid in x and y, cells larger than every
            // box, so two boxes can overlap only when the columns of their
            // lower corners are neighbours; and slabs of `slab_cells` cells in
            // z.  A box enters each slab its z range meets (one or two): two
            // boxes that overlap in z share a slab.  Entries are radix-sorted
            // by (slab, column, z of the lower corner in 1/64 of a cell), one
            // empty column of padding around so that neighbouring columns
            // never alias.  Each entry is tested against the forward half of
            // its neighbourhood within its slab (sweep.hpp); a pair met in a
            // slab where both boxes also entered the slab below is dropped,
            // as it is met there.  Every overlapping pair is kept exactly once.
            std::size_t entries = 0, parts = 0;
            std::uint64_t tested = 0;
            sc.pairs.clear();
            if (live >= 2) {
                // The cell: the size of all but about one box in a thousand
                // (from the boxes' size buckets); the larger boxes are cut
                // into parts no larger (below).  A few fast or eccentric
                // objects would otherwise set the cell for all.
                const std::uint32_t* counts_by_size = sc.extent_counts.data();
                const std::size_t allowed = live / 1024;
                std::size_t above = 0;
                int cut = extent_buckets - 1;
                while (cut > 0 && above + counts_by_size[cut] <= allowed) above += counts_by_size[cut--];
                double split = cut == extent_buckets - 1 ? extent : std::min(extent, extent_bucket_top(cut));
                double C = split * (1.0 + 1e-6) + 1e-3;
                // The grid's lower corners: boxes' and parts' (a part's lies
                // within its box, below cmax + extent).
                double hmax[3];
                for (int x = 0; x < 3; ++x) hmax[x] = cmax[x] + extent;
                for (int x = 0; x < 3; ++x) C = std::max(C, (hmax[x] - cmin[x]) / static_cast<double>(cell_range));
                split = std::max(split, (C - 1e-3) / (1.0 + 1e-6));  // parts no larger than split fit a cell
                const double inv = 1.0 / C;
                constexpr double fine = 64.0;  // z quanta a cell
                const double invz = fine / C;
                const double S = slab_cells * C, invs = 1.0 / S;
                std::uint64_t dim[2];
                for (int x = 0; x < 2; ++x)
                    dim[x] = static_cast<std::uint64_t>(std::floor((hmax[x] - cmin[x]) * inv)) + 3;
                const std::uint64_t DY = dim[1], columns = dim[0] * DY;
                const std::uint64_t slabs = static_cast<std::uint64_t>(std::floor((ztop - cmin[2]) * invs)) + 1;
                // z quanta from two cells below the slab's bottom: an entry's
                // lower corner lies at most a cell below it.
                const std::uint64_t zspan = static_cast<std::uint64_t>((slab_cells + 2.0) * fine) + 4;
                int zbits = 1;
                while ((std::uint64_t{1} << zbits) < zspan) ++zbits;
                const std::uint64_t top = slabs * columns << zbits;
                int bits = 1;
                while (bits < 64 && (std::uint64_t{1} << bits) < top) ++bits;
                sc.key.resize(2 * live + 1);
                sc.tmp_key.resize(2 * live + 1);
                sc.order.resize(2 * live);
                sc.tmp_order.resize(2 * live);
                // Entries of box record `rec` (a slot's box, or a part after
                // them): order = rec << 1 | 1 where it also entered the slab below.
                std::uint64_t* keys = sc.key.data();
                std::uint32_t* orders = sc.order.data();
                auto enter = [&](std::size_t rec, const double* bx) {
                    const std::uint64_t cx = static_cast<std::uint64_t>((bx[0] - cmin[0]) * inv) + 1;
                    const std::uint64_t cy = static_cast<std::uint64_t>((bx[1] - cmin[1]) * inv) + 1;
                    const std::uint64_t s0 = static_cast<std::uint64_t>((bx[2] - cmin[2]) * invs);
                    const std::uint64_t s1 = static_cast<std::uint64_t>((bx[5] - cmin[2]) * invs);
                    for (std::uint64_t sl = s0; sl <= s1 && sl <= s0 + 1; ++sl) {
                        const double base = cmin[2] + static_cast<double>(sl) * S - 2.0 * C;
                        const std::uint64_t zq = static_cast<std::uint64_t>((bx[2] - base) * invz);
                        keys[entries] = (sl * columns + cx * DY + cy) << zbits | zq;
                        orders[entries] = static_cast<std::uint32_t>(rec << 1 | (sl != s0 ? 1u : 0u));
                        ++entries;
                    }
                };
                sc.oversize.clear();
                for (std::size_t slot = 0; slot < live; ++slot) {
                    const double* bx = &sc.box[8 * slot];
                    if (bx[3] - bx[0] > split || bx[4] - bx[1] > split || bx[5] - bx[2] > split) {
                        sc.oversize.push_back(static_cast<std::uint32_t>(slot));
                        continue;
                    }
                    enter(slot, bx);
                }
                if (!sc.oversize.empty()) {
                    // Each larger box cut into k_x·k_y·k_z equal parts no larger
                    // than `split`, each a record after the slots' (bounds,
                    // satellite number, slot; the pair filter below keeps a
                    // pair in one part only).
                    std::size_t records = live;
                    for (const std::uint32_t slot : sc.oversize) {
                        int k[3];
                        for (int x = 0; x < 3; ++x) {
                            const double side = sc.box[8 * slot + 3 + x] - sc.box[8 * slot + x];
                            k[x] = std::max(1, static_cast<int>(std::ceil(side / split)));
                        }
                        const std::size_t parts = static_cast<std::size_t>(k[0]) * k[1] * k[2];
                        if (sc.box.size() < 8 * (records + parts)) sc.box.resize(8 * (records + parts) + 8 * 64);
                        const double* bx = &sc.box[8 * slot];
                        for (int i = 0; i < k[0]; ++i)
                            for (int j = 0; j < k[1]; ++j)
                                for (int l = 0; l < k[2]; ++l) {
                                    const int at[3] = {i, j, l};
                                    double* part = &sc.box[8 * records];
                                    for (int x = 0; x < 3; ++x) {
                                        const double lo = bx[x], side = bx[3 + x] - bx[x];
                                        part[x] = at[x] == 0 ? lo : lo + side * at[x] / k[x];
                                        part[3 + x] = at[x] + 1 == k[x] ? bx[3 + x] : lo + side * (at[x] + 1) / k[x];
                                    }
                                    part[6] = bx[6];
                                    part[7] = std::bit_cast<double>(static_cast<std::uint64_t>(slot));
                                    ++records;
                                }
                    }
                    sc.key.resize(2 * records + 1);
                    sc.tmp_key.resize(2 * records + 1);
                    sc.order.resize(2 * records);
                    sc.tmp_order.resize(2 * records);
                    keys = sc.key.data();
                    orders = sc.order.data();
                    for (std::size_t rec = live; rec < records; ++rec) enter(rec, &sc.box[8 * rec]);
                    parts = records - live;
                }
                // LSD radix sort of (key, entry), at most 12 bits a pass (the
                // counts of a pass fit the first-level cache), as few passes
                // as that allows, the counts of every pass taken in one read
                // of the keys; stable, so equal keys stay in entry order.
                // Passes alternate between the two buffers; the result ends
                // in sc.key / sc.order.
                const int passes = (bits + 11) / 12, digit = (bits + passes - 1) / passes;
                const std::size_t radix = std::size_t{1} << digit;
                sc.counts.assign(radix * static_cast<std::size_t>(passes), 0);
                std::uint32_t* counts = sc.counts.data();
                for (std::size_t i = 0; i < entries; ++i) {
                    const std::uint64_t key = sc.key[i];
                    for (int ps = 0; ps < passes; ++ps) ++counts[radix * ps + ((key >> (digit * ps)) & (radix - 1))];
                }
                std::uint64_t *from_key = sc.key.data(), *to_key = sc.tmp_key.data();
                std::uint32_t *from_order = sc.order.data(), *to_order = sc.tmp_order.data();
                for (int ps = 0; ps < passes; ++ps) {
                    std::uint32_t* count = counts + radix * ps;
                    std::uint32_t sum = 0;
                    for (std::size_t d = 0; d < radix; ++d) {
                        const std::uint32_t c = count[d];
                        count[d] = sum;
                        sum += c;
                    }
                    const int shift = digit * ps;
                    for (std::size_t i = 0; i < entries; ++i) {
                        const std::uint64_t key = from_key[i];
                        const std::uint32_t to = count[(key >> shift) & (radix - 1)]++;
                        to_key[to] = key;
                        to_order[to] = from_order[i];
                    }
                    std::swap(from_key, to_key);
                    std::swap(from_order, to_order);
                }
                if (passes % 2 == 1) {  // the buffers are the same size
                    std::swap(sc.key, sc.tmp_key);
                    std::swap(sc.order, sc.tmp_order);
                }
                sc.key[entries] = std::numeric_limits<std::uint64_t>::max();  // sentinel
                // The boxes in sorted order, one array per bound and their
                // (slab, column), padded for the sweep's vector loads.
                constexpr std::size_t pad_boxes = 3 * 8;  // the sweep's three leading blocks of 8 lanes
                for (int x = 0; x < 7; ++x) sc.sorted[x].resize(entries + pad_boxes);
                sc.satno.resize(entries);
                constexpr std::size_t ahead = 16;  // prefetch distance of the gathers below
                {
                    const double* records = sc.box.data();
                    const std::uint32_t* order = sc.order.data();
                    const std::uint64_t* key = sc.key.data();
                    double* to[7];
                    for (int x = 0; x < 7; ++x) to[x] = sc.sorted[x].data();
                    std::int64_t* to_satno = sc.satno.data();
                    for (std::size_t i = 0; i < entries; ++i) {
                        if (i + ahead < entries) __builtin_prefetch(records + 8 * (order[i + ahead] >> 1));
                        const double* bx = records + 8 * (order[i] >> 1);
                        for (int x = 0; x < 6; ++x) to[x][i] = bx[x];
                        to[6][i] = static_cast<double>(key[i] >> zbits);
                        to_satno[i] = std::bit_cast<std::int64_t>(bx[6]);
                    }
                }
                for (std::size_t i = entries; i < entries + pad_boxes; ++i) {
                    for (int x = 0; x < 6; ++x) sc.sorted[x][i] = 0.0;
                    sc.sorted[6][i] = std::numeric_limits<double>::infinity();
                }
                const SweepBoxes boxes{sc.sorted[0].data(), sc.sorted[1].data(), sc.sorted[2].data(),
                                       sc.sorted[3].data(), sc.sorted[4].data(), sc.sorted[5].data(),
                                       sc.sorted[6].data(), sc.key.data(), entries, DY, zbits,
                                       static_cast<std::uint64_t>(fine) + 2};  // a cell, and rounding
                const std::int64_t* SN = sc.satno.data();
                sc.hits.resize(std::max<std::size_t>(4 * entries, 1024));
                auto owner = [&](std::uint32_t rec) {
                    return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(sc.box[8 * rec + 7]));
                };
                // True unless record `rec` is a part of box `w` that does not
                // hold the lower corner of the intersection of boxes w and o.
                auto holds_corner = [&](std::uint32_t rec, std::uint32_t w, std::uint32_t o) {
                    if (rec < live) return true;
                    const double *P = &sc.box[8 * rec], *W = &sc.box[8 * w], *O = &sc.box[8 * o];
                    for (int x = 0; x < 3; ++x) {
                        const double corner = std::max(W[x], O[x]);
                        if (!(P[x] <= corner && (corner < P[3 + x] || P[3 + x] == W[3 + x]))) return false;
                    }
                    return true;
                };
                std::size_t next = 0, start = 0;
                const std::uint64_t* hits = sc.hits.data();
                const std::uint32_t* sorted_order = sc.order.data();
                while (next < entries) {
                    const std::size_t found = sweep(boxes, &next, &start, sc.hits.data(), sc.hits.size(), &tested);
                    for (std::size_t h = 0; h < found; ++h) {
                        const std::uint32_t a = static_cast<std::uint32_t>(hits[h] >> 32),
                                            j = static_cast<std::uint32_t>(hits[h]);
                        const std::uint32_t oa = sorted_order[a], ob = sorted_order[j];
                        if (oa & ob & 1u) continue;  // met in the slab below
                        std::uint32_t ra = oa >> 1, rb = ob >> 1;
                        if (ra >= live || rb >= live) {
                            // Met through parts of a larger box: kept in the parts
                            // that hold the lower corner of the whole boxes'
                            // intersection only (parts are closed below, and above
                            // only at their box's top), so exactly once.
                            const std::uint32_t wa = ra < live ? ra : owner(ra), wb = rb < live ? rb : owner(rb);
                            if (wa == wb) continue;  // two parts of one box
                            if (!holds_corner(ra, wa, wb) || !holds_corner(rb, wb, wa)) continue;
                            ra = wa;
                            rb = wb;
                        }
                        const std::uint32_t sa = std::min(ra, rb), sb = std::max(ra, rb);
                        if (against && !(sa < live_a && sb >= live_a)) continue;
                        if (SN[a] >= 0 && SN[a] == SN[j]) continue;
                        sc.pairs.push_back(static_cast<std::uint64_t>(sa) << 32 | sb);
                    }
                }
            }
            auto b1 = Clock::now();
            // Narrow phase on the relative cubic of each pair.
            std::vector<Candidate>& out = cands[js];
            const std::int64_t sub = kseg * q + u;
            const std::size_t npairs = sc.pairs.size();
            const std::uint64_t* pairs = sc.pairs.data();
            const double* ctrl = sc.ctrl.data();
            for (std::size_t ip = 0; ip < npairs; ++ip) {
                if (ip + 8 < npairs) {
                    // Both objects' records: 128 bytes, up to three cache lines each.
                    const std::uint64_t later = pairs[ip + 8];
                    const double* la = ctrl + 16 * static_cast<std::size_t>(later >> 32);
                    const double* lb = ctrl + 16 * static_cast<std::size_t>(static_cast<std::uint32_t>(later));
                    for (int at = 0; at < 16; at += 8) {
                        __builtin_prefetch(la + at);
                        __builtin_prefetch(lb + at);
                    }
                    __builtin_prefetch(la + 15);
                    __builtin_prefetch(lb + 15);
                }
                const std::uint64_t pr = pairs[ip];
                std::uint32_t sa = static_cast<std::uint32_t>(pr >> 32), sb = static_cast<std::uint32_t>(pr);
                // The relative piece: differences of the control points the
                // boxes were built from.
                double D[4][3];
                const double* ca = ctrl + 16 * static_cast<std::size_t>(sa);
                const double* cb = ctrl + 16 * static_cast<std::size_t>(sb);
                for (int i = 0; i < 4; ++i)
                    for (int x = 0; x < 3; ++x) D[i][x] = cb[4 * x + i] - ca[4 * x + i];
                double Rr = w.threshold + ca[12] + cb[12];
                if (!chord_beyond(D, Rr) && !beyond(D, Rr, 3))
                    out.push_back({std::bit_cast<std::uint64_t>(ca[13]) << 32 | std::bit_cast<std::uint64_t>(cb[13]), sub});
            }
            auto b2 = Clock::now();
            std::lock_guard<std::mutex> lock(time_lock);
            broad_time += seconds(b0, b1);
            stats->tested += tested;
            stats->overlaps += sc.pairs.size();
            stats->entries += entries;
            stats->parts += parts;
            stats->boxes += live;
            narrow_time += seconds(b1, b2);
        };
        parallel_for(nsub, w.threads, [&](std::size_t js) {
            thread_local Scratch tls;
            sub_step(tls, js);
        });
        auto t2 = Clock::now();
        // Shares of the wall time of this stage, by the threads' time in each part.
        double total = broad_time + narrow_time;
        double wall = seconds(t1, t2);
        if (total > 0.0) {
            stats->broad += wall * broad_time / total;
            stats->narrow += wall * narrow_time / total;
        }

        // 5. Candidate sub-steps of each pair, merged into intervals.
        std::vector<Candidate> all;
        for (auto& c : cands) {
            stats->candidates += c.size();
            all.insert(all.end(), c.begin(), c.end());
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const Candidate& x, const Candidate& y) { return x.pair < y.pair; });
        struct Interval {
            std::uint64_t pair;
            std::int64_t j0, j1;
        };
        std::vector<Interval> intervals;
        for (std::size_t i = 0; i < all.size();) {
            std::size_t e = i + 1;
            while (e < all.size() && all[e].pair == all[i].pair && all[e].sub == all[e - 1].sub + 1) ++e;
            intervals.push_back({all[i].pair, all[i].sub, all[e - 1].sub});
            i = e;
        }
        stats->intervals += intervals.size();

        // 6. Refinement with SGP4, for m from one sub-step before the
        // interval to its end: the sub-step [s_m, s_m+1] cut at the critical
        // points of the interpolated g (so that a minimum and a maximum of
        // the distance within one sub-step are seen), and every piece with
        // g < 0 at its start and g ≥ 0 at its end refined.  The cuts come
        // from the cubic Hermite interpolant of the SGP4 states at the
        // sub-step's ends alone.
        const double h_s = static_cast<double>(h_ns) * 1e-9;
        std::vector<std::vector<Event>> per(intervals.size());
        std::vector<std::uint64_t> nbrackets(intervals.size(), 0);
        parallel_for(intervals.size(), w.threads, [&](std::size_t iv) {
            const Interval& I = intervals[iv];
            std::uint32_t p = static_cast<std::uint32_t>(I.pair >> 32), s = static_cast<std::uint32_t>(I.pair);
            std::vector<PairState> st(static_cast<std::size_t>(I.j1 - I.j0 + 3));
            for (std::int64_t m = I.j0 - 1; m <= I.j1 + 1; ++m)
                pair_state(obj, k, p, s, w.start + m * h_ns, &st[static_cast<std::size_t>(m - (I.j0 - 1))]);
            for (std::int64_t m = I.j0 - 1; m <= I.j1; ++m) {
                const std::int64_t sa = w.start + m * h_ns, sb = sa + h_ns;
                const PairState& first = st[static_cast<std::size_t>(m - (I.j0 - 1))];
                const PairState& last = st[static_cast<std::size_t>(m - (I.j0 - 1)) + 1];
                PairState pts[6];
                std::int64_t times[6];
                int np = 0;
                pts[np] = first;
                times[np++] = sa;
                if (first.ok && last.ok) {
                    double tau[4];
                    const int nc = critical_points(first, last, h_s, 0.0, 1.0, tau);
                    for (int c = 0; c < nc; ++c) {
                        const std::int64_t t = sa + static_cast<std::int64_t>(std::llround(tau[c] * static_cast<double>(h_ns)));
                        if (t <= times[np - 1] || t >= sb) continue;
                        pair_state(obj, k, p, s, t, &pts[np]);
                        times[np++] = t;
                    }
                }
                pts[np] = last;
                times[np++] = sb;
                for (int c = 0; c + 1 < np; ++c) {
                    const PairState& A = pts[c];
                    const PairState& B = pts[c + 1];
                    if (!A.ok || !B.ok || !(A.g < 0.0) || !(B.g >= 0.0)) continue;
                    ++nbrackets[iv];
                    PairState at = B;
                    bool ok = true;
                    const std::int64_t width = times[c + 1] - times[c];
                    const std::int64_t guess = interpolated_root(A, B, static_cast<double>(width) * 1e-9, times[c], width);
                    std::int64_t t = root(obj, k, p, s, times[c], times[c + 1], A.g, &at, guess, &ok);
                    if (!ok || t < w.start || t > w.stop) continue;
                    Event ev;
                    make_event(p, s, m, t, at, &ev);
                    if (ev.miss < w.threshold) per[iv].push_back(ev);
                }
            }
        });
        for (std::size_t iv = 0; iv < per.size(); ++iv) {
            stats->brackets += nbrackets[iv];
            found.insert(found.end(), per[iv].begin(), per[iv].end());
        }
        stats->refinement += seconds(t2, Clock::now());
    }
    std::sort(found.begin(), found.end(), [](const Event& x, const Event& y) {
        if (x.primary != y.primary) return x.primary < y.primary;
        if (x.secondary != y.secondary) return x.secondary < y.secondary;
        if (x.bracket != y.bracket) return x.bracket < y.bracket;
        return x.tca < y.tca;
    });
    // A sub-step next to a chunk's edge may be refined by both chunks, with
    // the same bits.
    for (const Event& e : found)
        if (events->empty() || events->back().primary != e.primary || events->back().secondary != e.secondary ||
            events->back().bracket != e.bracket || events->back().tca != e.tca)
            events->push_back(e);
}

}  // namespace qv::screen
