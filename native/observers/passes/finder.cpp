// Pass finding with a rigorous bound between samples.
//
// For a station at ITRF position s with ellipsoid normal u, and the
// satellite at r with ITRF velocity v (d = r - s, ρ = |d|), the elevation
// is at least the mask m exactly when
//     f(t) = d·u − ρ sin m  ≥ 0,        f'(t) = v·u − sin m (d·v)/ρ.
// With a the ITRF acceleration, f'' = a·u − sin m ((|v|² − (d̂·v)²)/ρ + d̂·a),
// so |f''| ≤ (1 + sin m)|a| + sin m v²/ρ =: A.  On an interval of length Δ
// with end values f0, f1 and slopes f0', f1', Taylor's theorem bounds f by
// the two parabolas f0 + f0' s + A s²/2 and f1 − f1'(Δ − s) + A(Δ − s)²/2;
// the smaller of two convex functions peaks at an end or where they cross
// (a linear equation), so max f ≤ max(f0, f1, parabola at the crossing).
// An interval is decided when that bound (or its mirror for the minimum)
// keeps f on one side of zero, or when a sign change comes with a slope
// bounded away from zero (f' ≥ (f0' + f1' − AΔ)/2 > 0: one root); otherwise
// it is halved, with a new sample at its midpoint.  Intervals shrink to 2 ms
// at most, so every pass longer than that holds a sample.
//
// |a| ≤ GM/r_min² + 2ω v_max + ω² r_max (gravity, Coriolis, centrifugal),
// times 1.5 for SGP4's perturbations (J2 is 1e-3 of the central term), from
// the orbit's osculating perigee and apogee widened by the extremes seen on
// the grid; ρ is bounded below on an interval by (ρ0 + ρ1 − v_max Δ)/2 and
// by r_min − |s| (floored at 50 km, for orbits reaching below a station).
//
// Culmination: the highest point of sin(el) = h = d·u/ρ over the pass, by
// branch and bound with |h''| ≤ |a|/ρ + 1.62 v²/ρ² (h'' = u·d̂'', below),
// pruning intervals whose bound is within 1e-5 of the best sample;
// then the root of h' (sign + to −) next to the best sample, to 10 ms.
#include "state/orbel/kepler_bounds.hpp"
#include "observers/passes/finder.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "propagators/analytical/sgp4/propagator/sgp4.hpp"

namespace qv::passes {

namespace {

constexpr double gm = 3.986004418e14;     // m³/s², WGS 84
constexpr double omega_e = 7.2921159e-5;  // rad/s, for the bounds only
constexpr double safety = 1.5;
constexpr std::int64_t min_width = 2'000'000;    // ns: intervals are not halved below this
constexpr std::int64_t root_width = 10'000'000;  // ns: brackets of the refined events
constexpr double culmination_tolerance = 1e-5;   // in sin(el)
constexpr double nodes_per_period = 45.0;         // nodes per orbit
constexpr std::size_t coarse_near = 4;            // nodes per coarse interval, near-Earth sets
constexpr std::size_t coarse_deep = 8;            // and deep-space sets (measured: 3-8 tried)
constexpr double deep_error = 30.0;               // m: the deep-space interpolant's error bound at its step
constexpr double deep_min_step = 30.0;            // s: below this, deep-space sets keep the exact scan

struct State {
    double r[3], v[3];
    bool ok;
};

// What one station sees of one state.
struct Pt {
    std::int64_t t;
    double f, df;       // mask function and its rate
    double h, dh;       // sine of the elevation and its rate
    double e, n, u;     // d in east, north, up
    double rho;
    bool ok;
    // Bounds of the errors of f, f', h and h' (zero for SGP4's own samples,
    // the interpolant's error bound otherwise).
    double ef = 0.0, edf = 0.0, eh = 0.0, edh = 0.0;
};

// An event: its time and the azimuth there (NaN: not yet known).
struct Event {
    std::int64_t t;
    double azimuth;
};

struct Bounds {
    double a_max;    // |a_ITRF| bound, m/s²
    double v_max;    // |v_ITRF| bound, m/s
    double r_min;    // geocentric radius bound, m
};

// Regula falsi with the Illinois modification on [a, b] until it is 1 ms
// wide: `at(t)` evaluates a point, `value` its function (of opposite signs at
// a and b), `right(q)` tells whether q replaces b (else a).  When the same
// end is replaced twice running, the other end's value is halved.
template <class At, class Value, class Right>
void illinois(Pt& a, Pt& b, At at, Value value, Right right) {
    double fa = value(a), fb = value(b);
    int side = 0;
    for (int iter = 0; iter < 60 && b.t - a.t > 1'000'000; ++iter) {
        double w = fa / (fa - fb);
        if (!(w > 0.0 && w < 1.0)) w = 0.5;
        std::int64_t t = a.t + static_cast<std::int64_t>(w * static_cast<double>(b.t - a.t));
        t = std::clamp(t, a.t + 1, b.t - 1);
        Pt q = at(t);
        if (right(q)) {
            b = q;
            fb = value(q);
            if (side == 1) fa *= 0.5;
            side = 1;
        } else {
            a = q;
            fa = value(q);
            if (side == -1) fb *= 0.5;
            side = -1;
        }
    }
}

// Upper bound of a function on [0, Δ] from end values and slopes and a bound
// `c` on its second derivative.
double upper_bound(double f0, double d0, double f1, double d1, double delta, double c) {
    double top = std::max(f0, f1);
    // p(s) − q(s) = (d0 − d1 + cΔ) s + (f0 − f1 + d1Δ − cΔ²/2)
    double k = d0 - d1 + c * delta;
    if (k > 0.0) {
        double s = -(f0 - f1 + d1 * delta - 0.5 * c * delta * delta) / k;
        if (s > 0.0 && s < delta) top = std::max(top, f0 + d0 * s + 0.5 * c * s * s);
    }
    return top;
}

// A crossing found on the interpolant of node interval i (between q0 and
// q1), waiting for SGP4's confirmation around `guess`.
struct Pending {
    std::int64_t guess;
    std::size_t i;
    Pt q0, q1;
    bool rising;
};

// A pass whose culmination waits for SGP4's confirmation around `guess`
// (ready: the interpolant gave one), with what the fallback search needs.
struct Culmination {
    Pass pass;
    std::int64_t guess, ta, tb;
    std::size_t node_lo, node_hi;
    bool ready;  // a guess waits for SGP4's samples around it
    bool done;   // confirmed
};

// An interval of the culmination search where the interpolant's h has one
// hump, with the bound of h there.
struct Hump {
    double bound;
    std::size_t i0, i1;
};

// The Earth's rotation at a node time: the grid interval k and weight w it
// falls at, the cosine and sine of the interpolated angle and its rate.
struct Frame {
    double w, c, s, omega;
    std::size_t k;
};

// The cubic Hermite interpolant of node interval i in power form, as the
// station sees it: d(x) = Σ c[k] x^k − s for x = (t − t_i)/H in [0, 1],
// with  c0 = r0, c1 = H v0, c2 = 3(r1 − r0) − H(2v0 + v1),
// c3 = 2(r0 − r1) + H(v0 + v1).  Root finding on it needs only Horner
// steps: the mask function f and the numerator of h' with their
// derivatives in x (the same roots as in t).
struct Segment {
    double c[3][4];
    double up[3];
    double H;

    // f = u·d − ρ sin m and df/dx.
    double f(double x, double sin_mask, double& df) const {
        double d[3], dd[3];
        eval(x, d, dd);
        const double u = dot(up, d), du = dot(up, dd);
        if (sin_mask == 0.0) {
            df = du;
            return u;
        }
        const double rho = std::sqrt(dot(d, d));
        df = du - sin_mask * dot(d, dd) / rho;
        return u - rho * sin_mask;
    }

    // P = (u·d')(d·d) − (u·d)(d·d') (h' ρ³ / H, the sign of h') and dP/dx.
    double hp(double x, double& dp) const {
        double d[3], dd[3], d2[3];
        eval(x, d, dd);
        for (int k = 0; k < 3; ++k) d2[k] = 6.0 * c[k][3] * x + 2.0 * c[k][2];
        const double ud = dot(up, d), udd = dot(up, dd), ud2 = dot(up, d2);
        const double rr = dot(d, d), rd = dot(d, dd);
        dp = ud2 * rr + udd * rd - ud * (dot(dd, dd) + dot(d, d2));
        return udd * rr - ud * rd;
    }

    void eval(double x, double* d, double* dd) const {
        for (int k = 0; k < 3; ++k) {
            d[k] = ((c[k][3] * x + c[k][2]) * x + c[k][1]) * x + c[k][0];
            dd[k] = (3.0 * c[k][3] * x + 2.0 * c[k][2]) * x + c[k][1];
        }
    }

    static double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
};

// The weights C(m,x) C(n,y) / C(m+n,x+y) by which the Bernstein
// coefficients of two polynomials of degrees m and n multiply into those of
// their product: (Σ a_x B_x^m)(Σ b_y B_y^n) = Σ_k (Σ_{x+y=k} w[x][y] a_x b_y) B_k^{m+n}.
template <int M, int N>
struct BernsteinProduct {
    double w[M + 1][N + 1];
    static constexpr double choose(int n, int k) {
        double c = 1.0;
        for (int j = 1; j <= k; ++j) c = c * (n - k + j) / j;
        return c;
    }
    constexpr BernsteinProduct() : w{} {
        for (int x = 0; x <= M; ++x)
            for (int y = 0; y <= N; ++y) w[x][y] = choose(M, x) * choose(N, y) / choose(M + N, x + y);
    }
};
template <int M, int N>
constexpr BernsteinProduct<M, N> bernstein_product{};

// The root of g in [xa, xb] (g(xa) and g(xb) of opposite signs, `at`
// returning g and g'): Newton's method from the secant point, a step that
// would leave the bracket replaced by bisection, until a step is under
// `tol` (in x) or the bracket is.  NaN: no sign change at the ends.
template <class G>
double bracketed_root(double xa, double xb, double tol, G at) {
    double d;
    double fa = at(xa, d), fb = at(xb, d);
    if (!((fa < 0.0) != (fb < 0.0)) || !std::isfinite(fa) || !std::isfinite(fb)) return NAN;
    double x = xa + fa / (fa - fb) * (xb - xa);
    if (!(x > xa && x < xb)) x = 0.5 * (xa + xb);
    for (int iter = 0; iter < 60; ++iter) {
        double dg = 0.0;
        const double g = at(x, dg);
        if (g == 0.0) return x;
        if ((g < 0.0) == (fa < 0.0))
            xa = x, fa = g;
        else
            xb = x;
        double next = x - g / dg;
        if (!(next > xa && next < xb)) next = 0.5 * (xa + xb);
        const bool done = std::fabs(next - x) < tol || xb - xa < tol;
        x = next;
        if (done) break;
    }
    return x;
}

// The mask function and its rate at a coarse node (ρ: with a mask only).
struct CoarseF {
    double f, df, rho;
    bool ok;
};

// Scratch reused by every satellite a thread handles (a low orbit's week
// of nodes is about a megabyte: allocating it per satellite costs page
// faults).
struct Scratch {
    std::vector<std::int64_t> node_t;
    std::vector<State> nodes;
    std::vector<double> teme, c4, tsince, r, v;
    std::vector<std::int8_t> errs;
    std::vector<Event> rises, sets;
    std::vector<Pt> pts;
    std::vector<std::pair<std::size_t, std::size_t>> stack;
    std::vector<std::size_t> idx;
    std::vector<std::uint32_t> kept;        // the coarse intervals each station keeps, station by station
    std::vector<std::size_t> kept_start;    // where each station's run of `kept` starts
    std::vector<std::uint8_t> want;
    std::vector<CoarseF> coarse;            // one station's f at the coarse nodes
    std::vector<Pending> pending;
    std::vector<Culmination> culms;
    std::vector<Hump> humps;
    // The node frames of the grid `frames_grid`, one list per node step
    // (they depend on time alone: satellites of one step share them).
    std::uint64_t frames_grid = 0;
    std::vector<std::pair<std::int64_t, std::vector<Frame>>> frames;
    std::size_t frames_total = 0;
    std::vector<std::int64_t> probe_t;
    std::vector<State> probe_s;
    std::vector<double> probe_r;
};
thread_local Scratch scratch;

class Finder {
  public:
    Finder(const Propagator& prop, const void* sat, std::int64_t epoch, const EarthGrid& grid, double sin_mask)
        : prop_(prop), sat_(sat), epoch_(epoch), grid_(grid), sin_mask_(sin_mask) {}

    void run(const Station* stations, std::size_t n_stations, std::vector<Pass>& out);

  private:
    const Propagator& prop_;
    const void* sat_;
    std::int64_t epoch_;
    const EarthGrid& grid_;
    double sin_mask_;
    Bounds bounds_{};
    const Station* st_ = nullptr;
    std::vector<std::int64_t>& node_t_ = scratch.node_t;
    std::vector<State>& nodes_ = scratch.nodes;
    std::vector<Event>& rises_ = scratch.rises;  // events of the current station, in order
    std::vector<Event>& sets_ = scratch.sets;
    bool near_ = false;                          // the interpolant's fast path (near-Earth sets, close deep-space ones)
    double c4_rot_ = 0.0;                        // the rotating frame's part of |d⁴r/dt⁴|, m/s⁴
    std::vector<double>& teme_ = scratch.teme;   // TEME r, v of every node (6 each)
    std::vector<double>& c4_ = scratch.c4;       // Keplerian |d⁴r/dt⁴| bound per node (NaN: not yet)
    double c4(std::size_t i) const;
    std::vector<Pt>& pts_ = scratch.pts;         // the culmination's search
    std::vector<std::pair<std::size_t, std::size_t>>& stack_ = scratch.stack;
    std::int64_t step_ns_ = 1;                   // the nodes' spacing

    void make_nodes(const std::vector<std::size_t>& idx);
    const Frame* frames_ = nullptr;  // the rotation at every node time
    const Frame* node_frames();
    bool below_horizon(std::size_t i0, std::size_t i1, const Pt& p0, const Pt& p1);
    void rotate(std::size_t k, double w, const double* rt, const double* vt, State& s) const;
    void rotate_with(std::size_t k, double w, double c, double sn, double omega, const double* rt, const double* vt,
                     State& s) const;
    State state_at(std::int64_t t) const;
    void to_itrf(std::int64_t t, const double* rt, const double* vt, std::int8_t err, State& s) const;
    void states_at(const std::vector<std::int64_t>& ts, std::vector<State>& out);
    std::vector<Pending>& pending_ = scratch.pending;
    void settle_pending();
    Pt look(std::int64_t t, const State& s) const;
    Pt look_f(std::int64_t t, const State& s) const;
    bool look_start(std::int64_t t, const State& s, Pt& p, double d[3], double& vu) const;
    Pt at(std::int64_t t) const { return look(t, state_at(t)); }

    double f_bound(const Pt& p0, const Pt& p1) const;
    double h_bound(const Pt& p0, const Pt& p1) const;
    double rho_floor(const Pt& p0, const Pt& p1) const;
    double f_bound_of(double delta, double rho0, double rho1) const;
    double rho_floor_of(double delta, double rho0, double rho1) const;

    void scan(const Pt& p0, const Pt& p1, int depth);
    std::int64_t refine_event(Pt a, Pt b);
    Pt interpolate(std::size_t i, std::int64_t t) const;
    Segment segment(std::size_t i) const;
    std::int64_t segment_time(std::size_t i, double x) const;
    std::int64_t hump_root(std::size_t i, std::int64_t ta, std::int64_t tb) const;
    int shape(std::size_t i, const Pt& p0, const Pt& p1) const;
    void scan_fast(std::size_t i, const Pt& q0, const Pt& q1, int depth);
    void locate(std::size_t i, const Pt& q0, const Pt& q1, bool rising);
    bool confirm(std::int64_t guess, std::int64_t lo, std::int64_t hi, bool rising, Event& ev, const Pt* first);
    bool culminate_fast(std::int64_t ta, std::int64_t tb, std::size_t node_lo, std::size_t node_hi, std::int64_t& guess);
    int culmination_try(const Pt& p, const Pt& q, std::int64_t ta, std::int64_t tb, Pass& pass, const double* teme,
                        std::int64_t& next) const;
    Pt hump(std::vector<Pt>& pts, std::size_t k);
    void culminate(const Pt& first, const Pt& last, std::size_t node_lo, std::size_t node_hi, Pass& pass);
};

void Finder::rotate(std::size_t k, double w, const double* rt, const double* vt, State& s) const {
    const double* th = grid_.theta;
    std::size_t k1 = k + 1 < grid_.n ? k + 1 : k;
    double span = static_cast<double>(grid_.t[k1] - grid_.t[k]) * 1e-9;
    double omega = span > 0.0 ? (th[k1] - th[k]) / span : omega_e;
    double theta = w == 0.0 ? th[k] : th[k] + w * (th[k1] - th[k]);
    rotate_with(k, w, std::cos(theta), std::sin(theta), omega, rt, vt, s);
}

void Finder::rotate_with(std::size_t k, double w, double c, double sn, double omega, const double* rt, const double* vt,
                         State& s) const {
    std::size_t k1 = k + 1 < grid_.n ? k + 1 : k;
    double p[3] = {c * rt[0] + sn * rt[1], -sn * rt[0] + c * rt[1], rt[2]};
    double q[3] = {c * vt[0] + sn * vt[1] + omega * p[1], -sn * vt[0] + c * vt[1] - omega * p[0], vt[2]};
    double m[9];
    const double* w0 = grid_.pom + 9 * k;
    const double* w1 = grid_.pom + 9 * k1;
    for (int i = 0; i < 9; ++i) m[i] = w == 0.0 ? w0[i] : w0[i] + w * (w1[i] - w0[i]);
    for (int i = 0; i < 3; ++i) {
        s.r[i] = m[3 * i] * p[0] + m[3 * i + 1] * p[1] + m[3 * i + 2] * p[2];
        s.v[i] = m[3 * i] * q[0] + m[3 * i + 1] * q[1] + m[3 * i + 2] * q[2];
    }
}

State Finder::state_at(std::int64_t t) const {
    State s{};
    double rt[3], vt[3];
    std::int8_t err = 0;
    prop_.sample(sat_, sgp4::minutes_between(epoch_, t), rt, vt, &err);
    to_itrf(t, rt, vt, err, s);
    return s;
}

// SGP4's states at the times `ts` in one vector call (the same bits as
// state_at at each).
void Finder::states_at(const std::vector<std::int64_t>& ts, std::vector<State>& out) {
    std::size_t m = ts.size();
    out.assign(m, State{});
    if (m == 0) return;
    auto& tsince = scratch.tsince;
    auto& r = scratch.r;
    auto& v = scratch.v;
    auto& errs = scratch.errs;
    tsince.resize(m);
    r.resize(3 * m);
    v.resize(3 * m);
    errs.resize(m);
    for (std::size_t q = 0; q < m; ++q) tsince[q] = sgp4::minutes_between(epoch_, ts[q]);
    prop_.run_times(sat_, tsince.data(), m, r.data(), v.data(), errs.data(), prop_.lanes);
    for (std::size_t q = 0; q < m; ++q) to_itrf(ts[q], &r[3 * q], &v[3 * q], errs[q], out[q]);
}

// The ITRF state at t from SGP4's TEME one (err its code).
void Finder::to_itrf(std::int64_t t, const double* rt, const double* vt, std::int8_t err, State& s) const {
    s.ok = err == 0 && std::isfinite(rt[0]);
    if (!s.ok) return;
    const std::int64_t* g = grid_.t;
    std::size_t k = static_cast<std::size_t>(std::upper_bound(g, g + grid_.n, t) - g);
    k = k == 0 ? 0 : k - 1;
    if (k >= grid_.n - 1) k = grid_.n >= 2 ? grid_.n - 2 : 0;
    double w = grid_.n >= 2 ? static_cast<double>(t - g[k]) / static_cast<double>(g[k + 1] - g[k]) : 0.0;
    rotate(k, w, rt, vt, s);
}

// What look() and look_f() share: p's time and validity (f and h at −∞
// for a failed state, then false), the station-to-satellite vector d, the
// height above the horizon plane p.u and the velocity's up part vu.
bool Finder::look_start(std::int64_t t, const State& s, Pt& p, double d[3], double& vu) const {
    p.t = t;
    p.ok = s.ok;
    if (!s.ok) {
        p.f = p.h = -INFINITY;
        return false;
    }
    const Station& st = *st_;
    for (int x = 0; x < 3; ++x) d[x] = s.r[x] - st.r[x];
    const double* up = st.enu[2];
    p.u = up[0] * d[0] + up[1] * d[1] + up[2] * d[2];
    vu = up[0] * s.v[0] + up[1] * s.v[1] + up[2] * s.v[2];
    return true;
}

Pt Finder::look(std::int64_t t, const State& s) const {
    Pt p{};
    double d[3], vu;
    if (!look_start(t, s, p, d, vu)) return p;
    const Station& st = *st_;
    p.e = st.enu[0][0] * d[0] + st.enu[0][1] * d[1] + st.enu[0][2] * d[2];
    p.n = st.enu[1][0] * d[0] + st.enu[1][1] * d[1] + st.enu[1][2] * d[2];
    double dv = d[0] * s.v[0] + d[1] * s.v[1] + d[2] * s.v[2];
    p.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    // One division: ρ' = d·v/ρ, h = u/ρ, h' = (v·u − h ρ')/ρ.
    const double inv = 1.0 / p.rho;
    const double rate = dv * inv;
    p.f = p.u - p.rho * sin_mask_;
    p.df = vu - sin_mask_ * rate;
    p.h = p.u * inv;
    p.dh = (vu - p.h * rate) * inv;
    return p;
}

// look() reduced to what the node scans read: f, f', the height above the
// horizon plane and the range (h, h', east and north are left zero).  With
// no mask, f = d·u and f' = v·u (the same values): the range is only read
// times the mask's sine, and is left zero too.
Pt Finder::look_f(std::int64_t t, const State& s) const {
    Pt p{};
    double d[3], vu;
    if (!look_start(t, s, p, d, vu)) return p;
    if (sin_mask_ == 0.0) {
        p.f = p.u;
        p.df = vu;
        return p;
    }
    double dv = d[0] * s.v[0] + d[1] * s.v[1] + d[2] * s.v[2];
    p.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    p.f = p.u - p.rho * sin_mask_;
    p.df = vu - sin_mask_ * dv / p.rho;
    return p;
}

double Finder::rho_floor(const Pt& p0, const Pt& p1) const {
    return rho_floor_of(static_cast<double>(p1.t - p0.t) * 1e-9, p0.rho, p1.rho);
}

// The same from the interval's length (s) and the ends' ranges (m).
double Finder::rho_floor_of(double delta, double rho0, double rho1) const {
    double global = std::max(bounds_.r_min - st_->radius, 50e3);
    return std::max(global, 0.5 * (rho0 + rho1 - bounds_.v_max * delta));
}

// Upper bound of |f''| on [p0, p1].
double Finder::f_bound(const Pt& p0, const Pt& p1) const {
    return f_bound_of(static_cast<double>(p1.t - p0.t) * 1e-9, p0.rho, p1.rho);
}

// The same from the interval's length (s) and the ends' ranges (m; zero
// where they were not computed, with no mask).
double Finder::f_bound_of(double delta, double rho0, double rho1) const {
    // f'' = a·u − sin m ρ'' and |ρ''| = ||v⊥|²/ρ + d̂·a| ≤ v²/ρ + |a|, for
    // either sign of the mask.
    double sm = std::fabs(sin_mask_);
    double c = (1.0 + sm) * bounds_.a_max;
    if (sm > 0.0) c += sm * bounds_.v_max * bounds_.v_max / rho_floor_of(delta, rho0, rho1);
    return c;
}

// Upper bound of |h''| on [p0, p1].  h = u·d̂, and with w = v − d̂ρ' (the
// velocity across the line of sight, |w|² + ρ'² = |v|²)
//     d̂'' = (a − (d̂·a)d̂)/ρ − 2ρ'w/ρ² − |w|² d̂/ρ²,
// so |h''| ≤ |a|/ρ + (2|ρ'||w| + |w|²)/ρ² ≤ |a|/ρ + φ v²/ρ², φ = (1 + √5)/2
// the largest eigenvalue of the form 2xy + y².
double Finder::h_bound(const Pt& p0, const Pt& p1) const {
    double rho = rho_floor(p0, p1);
    return bounds_.a_max / rho + 1.62 * bounds_.v_max * bounds_.v_max / (rho * rho);
}

void Finder::scan(const Pt& p0, const Pt& p1, int depth) {
    bool up0 = p0.f >= 0.0, up1 = p1.f >= 0.0;
    std::int64_t width = p1.t - p0.t;
    if (!p0.ok || !p1.ok) {
        // Times SGP4 cannot propagate count as below the mask; a visible
        // end next to one bounds a pass, found by halving.
        if (!up0 && !up1) return;
    } else {
        double delta = static_cast<double>(width) * 1e-9;
        double c = f_bound(p0, p1);
        if (up0 == up1) {
            if (!up0 && upper_bound(p0.f, p0.df, p1.f, p1.df, delta, c) < 0.0) return;
            if (up0 && -upper_bound(-p0.f, -p0.df, -p1.f, -p1.df, delta, c) >= 0.0) return;
        } else if (up1 ? 0.5 * (p0.df + p1.df - c * delta) > 0.0 : 0.5 * (p0.df + p1.df + c * delta) < 0.0) {
            (up1 ? rises_ : sets_).push_back({refine_event(p0, p1), NAN});
            return;
        }
    }
    if (width <= min_width || depth > 60) {
        if (up0 != up1) (up1 ? rises_ : sets_).push_back({refine_event(p0, p1), NAN});
        return;
    }
    Pt mid = at(p0.t + width / 2);
    scan(p0, mid, depth + 1);
    scan(mid, p1, depth + 1);
}

// The crossing of zero by f between a and b (signs differ): a bracket of at
// most 10 ms around it by safeguarded Newton steps, then the secant inside.
std::int64_t Finder::refine_event(Pt a, Pt b) {
    bool rising = b.f >= 0.0;
    auto take = [&](const Pt& p) {
        if ((p.f >= 0.0) == rising)
            b = p;
        else
            a = p;
    };
    auto newton = [&](const Pt& p) -> std::int64_t {
        if (!p.ok || !(p.df != 0.0)) return (a.t + b.t) / 2;
        double step = -p.f / p.df * 1e9;
        if (!(std::fabs(step) < 9e18)) return (a.t + b.t) / 2;
        std::int64_t t = p.t + static_cast<std::int64_t>(std::llround(step));
        if (t <= std::min(a.t, b.t) || t >= std::max(a.t, b.t)) return (a.t + b.t) / 2;
        return t;
    };
    std::int64_t guess = newton(std::fabs(a.f) < std::fabs(b.f) ? a : b);
    for (int iter = 0; iter < 80 && std::llabs(b.t - a.t) > root_width; ++iter) {
        Pt p = at(guess);
        take(p);
        if (std::llabs(b.t - a.t) <= root_width) break;
        std::int64_t next = newton(p);
        if (std::llabs(next - guess) < root_width / 4 && p.ok) {
            // Converged: probe a few ms on either side to close the bracket.
            std::int64_t lo = std::min(a.t, b.t), hi = std::max(a.t, b.t);
            std::int64_t t1 = std::clamp(next - root_width / 4, lo + 1, hi - 1);
            std::int64_t t2 = std::clamp(next + root_width / 4, lo + 1, hi - 1);
            take(at(t1));
            if (std::llabs(b.t - a.t) > root_width) take(at(t2));
            next = (a.t + b.t) / 2;
            if (std::llabs(b.t - a.t) > root_width) {
                Pt q = at(next);
                take(q);
                next = newton(q);
            }
        }
        guess = next;
    }
    if (a.ok && b.ok && a.f != b.f) {
        double w = a.f / (a.f - b.f);
        return a.t + static_cast<std::int64_t>(std::llround(w * static_cast<double>(b.t - a.t)));
    }
    return b.ok ? b.t : a.t;
}

double azimuth(const Pt& p) {
    double az = std::atan2(p.e, p.n);
    return az < 0.0 ? az + 2.0 * std::numbers::pi : az;
}

double elevation(const Pt& p) { return std::atan2(p.u, std::hypot(p.e, p.n)); }

// The local maximum of h next to pts[k] (the pts sorted by time): regula
// falsi on h' (Illinois variant) from the neighbour on the side h' points
// to, down to a 10 ms bracket; every sample is appended to `pts`.
Pt Finder::hump(std::vector<Pt>& pts, std::size_t k) {
    const Pt top = pts[k];
    std::size_t last_i = pts.size() - 1;
    // At an end of the pass with the elevation still rising outwards: only
    // where the window cuts the pass.
    if ((k == 0 && top.dh <= 0.0) || (k == last_i && top.dh >= 0.0) || !top.ok) return top;
    Pt a = top, b = top;
    if (top.dh > 0.0)
        b = pts[k + 1];
    else
        a = pts[k - 1];
    if (!(a.dh > 0.0 && b.dh < 0.0)) {
        a = pts[k == 0 ? 0 : k - 1];
        b = pts[k == last_i ? last_i : k + 1];
    }
    int side = 0;
    double fa = a.dh, fb = b.dh;
    for (int iter = 0; iter < 100 && b.t - a.t > root_width; ++iter) {
        std::int64_t t = (a.t + b.t) / 2;
        if (fa > 0.0 && fb < 0.0) {
            double w = fa / (fa - fb);
            t = a.t + static_cast<std::int64_t>(w * static_cast<double>(b.t - a.t));
            // Keep a step off the ends so the bracket closes from both sides.
            std::int64_t guard = std::min<std::int64_t>(root_width / 4, (b.t - a.t) / 4);
            t = std::clamp(t, a.t + guard, b.t - guard);
        }
        Pt q = at(t);
        if (!q.ok) break;
        pts.push_back(q);
        if (q.dh > 0.0) {
            a = q;
            fa = q.dh;
            if (side == 1) fb *= 0.5;
            side = 1;
        } else {
            b = q;
            fb = q.dh;
            if (side == -1) fa *= 0.5;
            side = -1;
        }
    }
    if (!(a.ok && b.ok && a.dh > 0.0 && b.dh < 0.0)) return a.ok && (!b.ok || a.h >= b.h) ? a : b;
    std::int64_t t = a.t + static_cast<std::int64_t>(std::llround(static_cast<double>(b.t - a.t) * a.dh / (a.dh - b.dh)));
    Pt q = t == a.t ? a : at(t);
    if (q.ok) pts.push_back(q);
    return q.ok ? q : top;
}

// The highest point of the pass between `first` and `last`, with the grid
// nodes node_lo..node_hi (exclusive) inside: refine the hump of the best
// sample, then branch and bound over the pass for a higher one (halving
// every interval whose bound exceeds the best by more than the tolerance
// and which is not monotonic), refining any higher hump found.
void Finder::culminate(const Pt& first, const Pt& last, std::size_t node_lo, std::size_t node_hi, Pass& pass) {
    std::vector<Pt> pts;
    pts.reserve(node_hi - node_lo + 16);
    pts.push_back(first);
    for (std::size_t k = node_lo; k < node_hi; ++k)
        if (node_t_[k] > first.t && node_t_[k] < last.t) pts.push_back(look(node_t_[k], nodes_[k]));
    pts.push_back(last);
    auto by_time = [](const Pt& x, const Pt& y) { return x.t < y.t; };
    auto best_index = [&]() {
        std::size_t k = 0;
        for (std::size_t i = 0; i < pts.size(); ++i)
            if (pts[i].ok && (!pts[k].ok || pts[i].h > pts[k].h)) k = i;
        return k;
    };
    Pt top = hump(pts, best_index());
    for (int round = 0; round < 8; ++round) {
        std::sort(pts.begin(), pts.end(), by_time);
        double best = top.h;
        bool higher = false;
        std::vector<std::pair<Pt, Pt>> stack;
        for (std::size_t i = 0; i + 1 < pts.size(); ++i) stack.emplace_back(pts[i], pts[i + 1]);
        while (!stack.empty()) {
            auto [p0, p1] = stack.back();
            stack.pop_back();
            if (!p0.ok || !p1.ok) continue;
            std::int64_t width = p1.t - p0.t;
            if (width <= min_width) continue;
            double delta = static_cast<double>(width) * 1e-9;
            double c = h_bound(p0, p1);
            // Monotonic on the interval (h' kept off zero by |h''| <= c): its
            // highest point is an end, already a sample.
            if (0.5 * (p0.dh + p1.dh - c * delta) > 0.0 || 0.5 * (p0.dh + p1.dh + c * delta) < 0.0) continue;
            if (upper_bound(p0.h, p0.dh, p1.h, p1.dh, delta, c) <= best + culmination_tolerance) continue;
            Pt mid = at(p0.t + width / 2);
            pts.push_back(mid);
            if (mid.ok && mid.h > best + culmination_tolerance) higher = true;
            stack.emplace_back(mid, p1);
            stack.emplace_back(p0, mid);
        }
        if (!higher) break;
        std::sort(pts.begin(), pts.end(), by_time);
        Pt next = hump(pts, best_index());
        if (next.ok && next.h > top.h) top = next;
    }
    pass.culmination = top.t;
    pass.max_elevation = elevation(top);
}

// The cubic Hermite interpolant of the ITRF state between nodes i and i+1
// at t, seen from the current station, with its error bounds: position
// within δ = 2 H⁴/384 c4 + 1 m and velocity within δv = 4 (√3/216) H³ c4 +
// 0.01 m/s (the Hermite remainder and its derivative's bound, Birkhoff and
// Priver 1967; factors of 2 and 4 over the Keplerian c4, as the screener).
Pt Finder::interpolate(std::size_t i, std::int64_t t) const {
    const State& s0 = nodes_[i];
    const State& s1 = nodes_[i + 1];
    double H = static_cast<double>(node_t_[i + 1] - node_t_[i]) * 1e-9;
    double x = static_cast<double>(t - node_t_[i]) * 1e-9 / H;
    double x2 = x * x, x3 = x2 * x;
    double h00 = 2.0 * x3 - 3.0 * x2 + 1.0, h10 = (x3 - 2.0 * x2 + x) * H, h01 = 3.0 * x2 - 2.0 * x3,
           h11 = (x3 - x2) * H;
    double g00 = (6.0 * x2 - 6.0 * x) / H, g10 = 3.0 * x2 - 4.0 * x + 1.0, g11 = 3.0 * x2 - 2.0 * x;
    State s{};
    s.ok = true;
    for (int k = 0; k < 3; ++k) {
        s.r[k] = h00 * s0.r[k] + h10 * s0.v[k] + h01 * s1.r[k] + h11 * s1.v[k];
        s.v[k] = g00 * (s0.r[k] - s1.r[k]) + g10 * s0.v[k] + g11 * s1.v[k];
    }
    Pt p = look(t, s);
    double H3 = H * H * H;
    double c = std::max(c4(i), c4(i + 1)) + c4_rot_;
    double ep = 2.0 * H3 * H / 384.0 * c + 1.0;
    double ev = 4.0 * std::sqrt(3.0) / 216.0 * H3 * c + 0.01;
    double sm = std::fabs(sin_mask_);
    double rho = std::max(p.rho - ep, 1.0);
    double vm = bounds_.v_max;
    p.ef = ep * (1.0 + sm);
    p.edf = ev * (1.0 + sm) + sm * 2.0 * vm * ep / rho;
    p.eh = 2.0 * ep / rho;
    p.edh = 2.0 * ev / rho + 6.0 * vm * ep / (rho * rho);
    return p;
}

Segment Finder::segment(std::size_t i) const {
    const State& s0 = nodes_[i];
    const State& s1 = nodes_[i + 1];
    Segment g{};
    g.H = static_cast<double>(node_t_[i + 1] - node_t_[i]) * 1e-9;
    for (int k = 0; k < 3; ++k) {
        g.c[k][0] = s0.r[k] - st_->r[k];
        g.c[k][1] = g.H * s0.v[k];
        g.c[k][2] = 3.0 * (s1.r[k] - s0.r[k]) - g.H * (2.0 * s0.v[k] + s1.v[k]);
        g.c[k][3] = 2.0 * (s0.r[k] - s1.r[k]) + g.H * (s0.v[k] + s1.v[k]);
        g.up[k] = st_->enu[2][k];
    }
    return g;
}

// The instant x of node interval i (ns, rounded).
std::int64_t Finder::segment_time(std::size_t i, double x) const {
    return node_t_[i] + static_cast<std::int64_t>(std::llround(x * static_cast<double>(node_t_[i + 1] - node_t_[i])));
}

// The top of the interpolant's h between ta and tb in node interval i (h'
// from + to −): the root of h' by Newton on the power form, to 0.1 ms,
// strictly inside (ta, tb); nat where the ends' signs do not differ there.
std::int64_t Finder::hump_root(std::size_t i, std::int64_t ta, std::int64_t tb) const {
    const Segment g = segment(i);
    const double span = static_cast<double>(node_t_[i + 1] - node_t_[i]);
    const double x = bracketed_root(static_cast<double>(ta - node_t_[i]) / span,
                                    static_cast<double>(tb - node_t_[i]) / span, 1e5 / span,
                                    [&](double y, double& dy) { return g.hp(y, dy); });
    if (!std::isfinite(x) || tb - ta < 2) return nat;
    return std::clamp(segment_time(i, x), ta + 1, tb - 1);
}

// The shape of the interpolant's h = u·d/ρ on [p0, p1] inside node interval
// i, from the sign of h' ρ³ = (u·d')ρ² − (u·d)(d·d'): with d the cubic
// Hermite interpolant, a polynomial of degree 8, whose coefficients in the
// Bernstein basis of [p0, p1] bound its roots there (their sign changes are
// at least its roots, Descartes' rule in the Bernstein form; Farin,
// "Curves and Surfaces for CAGD", 2002).  d's own Bernstein points on the
// interval are b0 = d0, b1 = d0 + L d0'/3, b2 = d1 − L d1'/3, b3 = d1, and
// products multiply as  Σ C(m,i)C(n,j)/C(m+n,i+j) a_i b_j.
// 0: no sign change (h monotonic); 1: one, from + to − at the ends (one
// hump, its top the root of h'); −1: undecided (more changes, or a
// coefficient within rounding of zero).
int Finder::shape(std::size_t i, const Pt& p0, const Pt& p1) const {
    if (!(p0.dh > 0.0 && p1.dh < 0.0) && !(p0.dh >= 0.0 && p1.dh >= 0.0) && !(p0.dh <= 0.0 && p1.dh <= 0.0))
        return -1;
    // d and its derivative in the node interval's x at both ends; L d'(t)
    // = (L/H) dd/dx.
    const Segment g = segment(i);
    const double span = static_cast<double>(node_t_[i + 1] - node_t_[i]);
    const double ratio = static_cast<double>(p1.t - p0.t) / span;
    double d[2][3], v[2][3];
    g.eval(static_cast<double>(p0.t - node_t_[i]) / span, d[0], v[0]);
    g.eval(static_cast<double>(p1.t - node_t_[i]) / span, d[1], v[1]);
    double b[4][3], c[3][3];  // Bernstein points of d (cubic) and of d' = dd/dy (quadratic)
    for (int k = 0; k < 3; ++k) {
        b[0][k] = d[0][k];
        b[1][k] = d[0][k] + ratio * v[0][k] / 3.0;
        b[2][k] = d[1][k] - ratio * v[1][k] / 3.0;
        b[3][k] = d[1][k];
    }
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) c[j][k] = 3.0 * (b[j + 1][k] - b[j][k]);
    const double* up = st_->enu[2];
    auto dot = [](const double* x, const double* y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
    double ud[4], uv[3], rr[7] = {}, dv[6] = {};
    for (int x = 0; x < 4; ++x) ud[x] = dot(up, b[x]);
    for (int x = 0; x < 3; ++x) uv[x] = dot(up, c[x]);
    // d·d (degree 6) from the ten distinct products of d's points, d·d'
    // (degree 5) from the twelve of d's and d''s.
    double bb[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = x; y < 4; ++y) bb[x][y] = bb[y][x] = dot(b[x], b[y]);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) rr[x + y] += bernstein_product<3, 3>.w[x][y] * bb[x][y];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 3; ++y) dv[x + y] += bernstein_product<3, 2>.w[x][y] * dot(b[x], c[y]);
    double q1[9] = {}, q2[9] = {};
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 7; ++y) q1[x + y] += bernstein_product<2, 6>.w[x][y] * uv[x] * rr[y];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 6; ++y) q2[x + y] += bernstein_product<3, 5>.w[x][y] * ud[x] * dv[y];
    // Rounding: every term is at most |d'| L ρ² in size (ρ, |d'| L over the
    // Bernstein points); coefficients within 1e-12 of that are undecided.
    double rho2 = 0.0, vel2 = 0.0;
    for (int x = 0; x < 4; ++x) rho2 = std::max(rho2, bb[x][x]);
    for (int x = 0; x < 3; ++x) vel2 = std::max(vel2, dot(c[x], c[x]));
    const double rho = std::sqrt(rho2), vel = std::sqrt(vel2);
    double eps = 1e-12 * 8.0 * vel * rho * rho;
    int changes = 0, sign = 0;
    for (int k = 0; k <= 8; ++k) {
        double qk = q1[k] - q2[k];
        if (!(std::fabs(qk) > eps)) return -1;
        int sk = qk > 0.0 ? 1 : -1;
        if (sign != 0 && sk != sign) ++changes;
        sign = sk;
    }
    if (changes == 0) return 0;
    if (changes == 1 && q1[0] - q2[0] > 0.0 && p0.dh > 0.0 && p1.dh < 0.0) return 1;
    return -1;
}

// A bound of |d⁴r/dt⁴| over the Keplerian orbit through node i's TEME
// state: with f = μ/r³, r⁗ = −f''r − 2f'v + f²r and |r⁗| ≤ 21μv²/r⁴ +
// 4μ²/r⁵ (kepler_bounds.hpp, shared with the conjunction screener).
double Finder::c4(std::size_t i) const {
    double& c = c4_[i];
    if (!std::isnan(c)) return c;
    const double* r = &teme_[6 * i];
    return c = qv::orbel::fourth_derivative_bound(r, r + 3, gm);
}

// The exact crossing near `guess` inside (lo, hi): SGP4 at guess ± 5 ms;
// the sign change there is the event (the secant root between the two);
// else one Newton step from the nearer sample and a second try.
bool Finder::confirm(std::int64_t guess, std::int64_t lo, std::int64_t hi, bool rising, Event& ev, const Pt* first) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::int64_t t0 = std::max(guess - root_width / 2, lo);
        std::int64_t t1 = std::min(guess + root_width / 2, hi);
        if (t1 <= t0) return false;
        Pt a = attempt == 0 && first ? first[0] : at(t0), b = attempt == 0 && first ? first[1] : at(t1);
        if (!a.ok || !b.ok) return false;
        if ((a.f >= 0.0) != rising && (b.f >= 0.0) == rising) {
            double w = a.f / (a.f - b.f);
            ev.t = a.t + static_cast<std::int64_t>(std::llround(w * static_cast<double>(b.t - a.t)));
            double e = a.e + w * (b.e - a.e), n = a.n + w * (b.n - a.n);
            double az = std::atan2(e, n);
            ev.azimuth = az < 0.0 ? az + 2.0 * std::numbers::pi : az;
            return true;
        }
        const Pt& p = std::fabs(a.f) < std::fabs(b.f) ? a : b;
        if (!(p.df != 0.0)) return false;
        double step = -p.f / p.df * 1e9;
        if (!(std::fabs(step) < 1e12)) return false;
        guess = p.t + static_cast<std::int64_t>(std::llround(step));
        if (guess <= lo || guess >= hi) return false;
    }
    return false;
}

// One crossing of f certified inside [q0, q1] (interval i): the root of the
// interpolant's f (Newton on its power form, to 0.1 ms; regula falsi on the
// interpolated samples should the ends' signs not differ in that form),
// then confirmed by SGP4; unconfirmed, the exact refinement from the
// interval's ends.
void Finder::locate(std::size_t i, const Pt& q0, const Pt& q1, bool rising) {
    const Segment g = segment(i);
    const double span = static_cast<double>(node_t_[i + 1] - node_t_[i]);
    const double xa = static_cast<double>(q0.t - node_t_[i]) / span, xb = static_cast<double>(q1.t - node_t_[i]) / span;
    const double x = bracketed_root(xa, xb, 1e5 / span,
                                    [&](double y, double& dy) { return g.f(y, sin_mask_, dy); });
    if (std::isfinite(x)) {
        pending_.push_back({std::clamp(segment_time(i, x), q0.t, q1.t), i, q0, q1, rising});
        return;
    }
    Pt a = q0, b = q1;
    illinois(
        a, b, [&](std::int64_t t) { return interpolate(i, t); }, [](const Pt& q) { return q.f; },
        [&](const Pt& q) { return (q.f >= 0.0) == rising; });
    pending_.push_back({a.t + (b.t - a.t) / 2, i, q0, q1, rising});
}

// The pending crossings confirmed by SGP4 at guess ± 5 ms, all in one vector
// call; unconfirmed, the exact refinement from the interval's ends.  The
// events are then put back in time order (each lies inside its own
// interval, so this is the order of a one-by-one search).
void Finder::settle_pending() {
    auto& ts = scratch.probe_t;
    auto& ss = scratch.probe_s;
    ts.clear();
    for (const Pending& p : pending_) {
        std::int64_t t0 = std::max(p.guess - root_width / 2, p.q0.t);
        std::int64_t t1 = std::min(p.guess + root_width / 2, p.q1.t);
        if (t1 > t0) ts.push_back(t0), ts.push_back(t1);
    }
    states_at(ts, ss);
    std::size_t k = 0;
    for (const Pending& p : pending_) {
        std::int64_t t0 = std::max(p.guess - root_width / 2, p.q0.t);
        std::int64_t t1 = std::min(p.guess + root_width / 2, p.q1.t);
        Pt first[2];
        bool have = t1 > t0;
        if (have) {
            first[0] = look(t0, ss[k]);
            first[1] = look(t1, ss[k + 1]);
            k += 2;
        }
        Event ev{};
        if (confirm(p.guess, p.q0.t, p.q1.t, p.rising, ev, have ? first : nullptr)) {
            (p.rising ? rises_ : sets_).push_back(ev);
            continue;
        }
        Pt e0 = p.q0.ef == 0.0 ? p.q0 : at(p.q0.t), e1 = p.q1.ef == 0.0 ? p.q1 : at(p.q1.t);
        scan(e0, e1, 0);
    }
    pending_.clear();
    auto by_time = [](const Event& x, const Event& y) { return x.t < y.t; };
    std::stable_sort(rises_.begin(), rises_.end(), by_time);
    std::stable_sort(sets_.begin(), sets_.end(), by_time);
}

// The node interval i between q0 and q1 decided with the interpolant and
// its error bounds: the two-parabola bound of f (|f''| ≤ A holds for the
// true f; end values and slopes widened by their error bounds) excludes a
// crossing or certifies f monotonic over the piece, with a crossing found on
// the interpolant and confirmed by SGP4; else the piece is halved, down to
// 1 s, where SGP4 samples at its ends take over (the exact scan).  Events
// are appended in time order.
void Finder::scan_fast(std::size_t i, const Pt& q0, const Pt& q1, int depth) {
    std::int64_t width = q1.t - q0.t;
    double delta = static_cast<double>(width) * 1e-9;
    double c = f_bound(q0, q1);
    double f0u = q0.f + q0.ef, f0l = q0.f - q0.ef, f1u = q1.f + q1.ef, f1l = q1.f - q1.ef;
    if (f0u < 0.0 && f1u < 0.0 && upper_bound(f0u, q0.df + q0.edf, f1u, q1.df - q1.edf, delta, c) < 0.0) return;
    if (f0l >= 0.0 && f1l >= 0.0 && -upper_bound(-f0l, -q0.df + q0.edf, -f1l, -q1.df - q1.edf, delta, c) >= 0.0)
        return;
    if (f0u < 0.0 && f1l >= 0.0 && 0.5 * (q0.df - q0.edf + q1.df - q1.edf - c * delta) > 0.0)
        return locate(i, q0, q1, true);
    if (f0l >= 0.0 && f1u < 0.0 && 0.5 * (q0.df + q0.edf + q1.df + q1.edf + c * delta) < 0.0)
        return locate(i, q0, q1, false);
    if (width <= 1'000'000'000 || depth > 16) {
        Pt e0 = q0.ef == 0.0 ? q0 : at(q0.t), e1 = q1.ef == 0.0 ? q1 : at(q1.t);
        return scan(e0, e1, 0);
    }
    Pt mid = interpolate(i, q0.t + width / 2);
    scan_fast(i, q0, mid, depth + 1);
    scan_fast(i, mid, q1, depth + 1);
}

// The culmination of a near-Earth pass over [ta, tb] from the interpolant:
// branch and bound for the highest h (samples from the interpolant, bounds
// widened by its error, intervals pruned when monotonic or not above the
// best by more than 1e-5 plus the best's error, or decided by shape() as
// monotonic or one hump, else halved down to 0.25 s), the root of h' in
// each one-hump interval that could hold the top (hump_root), and the root
// of the interpolant's h' next to the best sample: `guess`, the time around
// which SGP4 is to confirm the sign change of h' (culmination_try).  False:
// undecided.
bool Finder::culminate_fast(std::int64_t ta, std::int64_t tb, std::size_t node_lo, std::size_t node_hi,
                            std::int64_t& guess) {
    // Nodes are step_ns_ apart from the window's start (the last interval shorter).
    auto seg = [&](std::int64_t t) {
        std::size_t k = static_cast<std::size_t>(std::max<std::int64_t>(t - node_t_[0], 0) / step_ns_);
        return std::min(k, node_t_.size() - 2);
    };
    auto point = [&](std::int64_t t) { return interpolate(seg(t), t); };
    pts_.clear();
    if (!nodes_[seg(ta)].ok || !nodes_[seg(ta) + 1].ok || !nodes_[seg(tb)].ok || !nodes_[seg(tb) + 1].ok) return false;
    pts_.push_back(point(ta));
    for (std::size_t k = node_lo; k < node_hi; ++k) {
        if (node_t_[k] <= ta || node_t_[k] >= tb) continue;
        if (!nodes_[k].ok) return false;
        pts_.push_back(look(node_t_[k], nodes_[k]));
    }
    pts_.push_back(point(tb));
    std::size_t best = 0;
    for (std::size_t k = 1; k < pts_.size(); ++k)
        if (pts_[k].h > pts_[best].h) best = k;
    double top = pts_[best].h;
    auto& stack = stack_;
    stack.clear();
    auto& humps = scratch.humps;
    humps.clear();
    std::size_t n0 = pts_.size();
    for (std::size_t k = 0; k + 1 < n0; ++k) stack.emplace_back(k, k + 1);
    while (!stack.empty()) {
        auto [i0, i1] = stack.back();
        stack.pop_back();
        const Pt& p0 = pts_[i0];
        const Pt& p1 = pts_[i1];
        std::int64_t width = p1.t - p0.t;
        if (width <= 250'000'000) continue;
        double delta = static_cast<double>(width) * 1e-9;
        double c = h_bound(p0, p1);
        double lo0 = p0.dh - p0.edh, hi0 = p0.dh + p0.edh, lo1 = p1.dh - p1.edh, hi1 = p1.dh + p1.edh;
        if (0.5 * (lo0 + lo1 - c * delta) > 0.0 || 0.5 * (hi0 + hi1 + c * delta) < 0.0) continue;
        double ub = upper_bound(p0.h + p0.eh, hi0, p1.h + p1.eh, lo1, delta, c);
        if (ub <= top + culmination_tolerance + pts_[best].eh) continue;
        // The interpolant's h on the interval: monotonic (its highest point
        // an end, already a sample) or one hump (found below).
        int form = shape(seg(p0.t), p0, p1);
        if (form == 0) continue;
        if (form == 1) {
            humps.push_back({ub, i0, i1});
            continue;
        }
        if (pts_.size() > 400 + 4 * n0) return false;
        std::int64_t tm = p0.t + width / 2;
        Pt pm = point(tm);
        pts_.push_back(pm);
        std::size_t im = pts_.size() - 1;
        if (pts_[im].h > top) {
            top = pts_[im].h;
            best = im;
        }
        stack.emplace_back(im, i1);
        stack.emplace_back(i0, im);
    }
    // Each one-hump interval that could top the best: its root by Newton on
    // the interpolant's h' in power form (hump_root), the sample there kept;
    // should that fail, regula falsi on interpolated samples (Illinois, each
    // step kept a quarter of the bracket or 2.5 ms off its ends, so that it
    // closes from both sides on a bracket as long as a node interval), to
    // 1 ms, every sample kept.  The highest bound first, so the others are
    // mostly pruned.
    std::sort(humps.begin(), humps.end(), [](const Hump& x, const Hump& y) { return x.bound > y.bound; });
    for (const Hump& hp : humps) {
        if (hp.bound <= top + culmination_tolerance + pts_[best].eh) continue;
        Pt a = pts_[hp.i0], z = pts_[hp.i1];
        std::size_t k = seg(a.t);
        const std::int64_t top_t = hump_root(k, a.t, z.t);
        if (top_t != nat) {
            pts_.push_back(interpolate(k, top_t));
            if (pts_.back().h > top) {
                top = pts_.back().h;
                best = pts_.size() - 1;
            }
            continue;
        }
        double fa = a.dh, fz = z.dh;
        int side = 0;
        for (int iter = 0; iter < 100 && z.t - a.t > 1'000'000; ++iter) {
            double w = fa / (fa - fz);
            if (!(w > 0.0 && w < 1.0)) w = 0.5;
            std::int64_t t = a.t + static_cast<std::int64_t>(w * static_cast<double>(z.t - a.t));
            std::int64_t guard = std::min<std::int64_t>(root_width / 4, (z.t - a.t) / 4);
            t = std::clamp(t, a.t + guard, z.t - guard);
            pts_.push_back(interpolate(k, t));
            const Pt& q = pts_.back();
            if (q.h > top) {
                top = q.h;
                best = pts_.size() - 1;
            }
            if (q.dh > 0.0) {
                a = q;
                fa = q.dh;
                if (side == 1) fz *= 0.5;
                side = 1;
            } else {
                z = q;
                fz = q.dh;
                if (side == -1) fa *= 0.5;
                side = -1;
            }
        }
    }
    // The neighbours of the best sample in time.
    const Pt b = pts_[best];
    Pt lo{}, hi{};
    bool has_lo = false, has_hi = false;
    for (const Pt& p : pts_) {
        if (p.t < b.t && (!has_lo || p.t > lo.t)) lo = p, has_lo = true;
        if (p.t > b.t && (!has_hi || p.t < hi.t)) hi = p, has_hi = true;
    }
    if (!has_lo || !has_hi) return false;  // highest at an end (a pass the window cuts)
    Pt a = b.dh > 0.0 ? b : lo, z = b.dh > 0.0 ? hi : b;
    if (!(a.dh > 0.0 && z.dh < 0.0)) return false;
    std::size_t k = seg(a.t);
    if (z.t > node_t_[k + 1]) {
        // The bracket spans a node: keep the half with the sign change.
        Pt m = look(node_t_[k + 1], nodes_[k + 1]);
        if (m.dh > 0.0) a = m; else z = m;
        k = seg(a.t);
    }
    guess = hump_root(k, a.t, z.t);
    if (guess != nat) return true;
    illinois(
        a, z, [&](std::int64_t t) { return interpolate(k, t); }, [](const Pt& q) { return q.dh; },
        [](const Pt& q) { return !(q.dh > 0.0); });
    guess = a.t + (z.t - a.t) / 2;
    return true;
}

// One try of a culmination's confirmation from SGP4's samples p and q at
// guess ± 5 ms (`teme`: their TEME positions, two rows): the sign change of
// h' between them is the culmination (the secant root; sin el = h + h'τ/2;
// its position between the two rows, within |a|(5 ms)²/8, a few 10 µm,
// for the pass's sunlight).  1: settled; 0: no sign change, `next` the
// secant step's guess to try; -1: undecided.
int Finder::culmination_try(const Pt& p, const Pt& q, std::int64_t ta, std::int64_t tb, Pass& pass,
                            const double* teme, std::int64_t& next) const {
    if (!p.ok || !q.ok) return -1;
    if (p.dh > 0.0 && q.dh <= 0.0) {
        double w = p.dh / (p.dh - q.dh);
        double tau = w * static_cast<double>(q.t - p.t) * 1e-9;
        pass.culmination = p.t + static_cast<std::int64_t>(std::llround(w * static_cast<double>(q.t - p.t)));
        double h = std::clamp(p.h + 0.5 * p.dh * tau, -1.0, 1.0);
        pass.max_elevation = std::asin(h);
        for (int x = 0; x < 3; ++x) pass.culmination_teme[x] = teme[x] + w * (teme[3 + x] - teme[x]);
        return 1;
    }
    // One secant step on h' from the two samples.
    if (!(p.dh != q.dh)) return -1;
    double w = p.dh / (p.dh - q.dh);
    if (!(std::fabs(w) < 1e6)) return -1;
    next = p.t + static_cast<std::int64_t>(std::llround(w * static_cast<double>(q.t - p.t)));
    if (next <= ta || next >= tb) return -1;
    return 0;
}

// The rotation at every node time (the nodes of the current step), from the
// thread's cache or computed into it: the angle and polar motion
// interpolated as rotate() does, so the states are the same bits.  The
// cache is emptied for a new grid, or when it would pass 500,000 frames
// (20 MB).
const Frame* Finder::node_frames() {
    if (scratch.frames_grid != grid_.id) {
        scratch.frames.clear();
        scratch.frames_total = 0;
        scratch.frames_grid = grid_.id;
    }
    std::size_t nn = node_t_.size();
    for (auto& [step, list] : scratch.frames)
        if (step == step_ns_ && list.size() == nn) return list.data();
    if (scratch.frames_total + nn > 500'000) {
        scratch.frames.clear();
        scratch.frames_total = 0;
    }
    std::vector<Frame> list(nn);
    const std::int64_t* g = grid_.t;
    const double* th = grid_.theta;
    std::size_t k = 0;
    for (std::size_t i = 0; i < nn; ++i) {
        while (k + 2 < grid_.n && g[k + 1] <= node_t_[i]) ++k;
        Frame& f = list[i];
        f.k = k;
        f.w = static_cast<double>(node_t_[i] - g[k]) / static_cast<double>(g[k + 1] - g[k]);
        std::size_t k1 = k + 1 < grid_.n ? k + 1 : k;
        double span = static_cast<double>(grid_.t[k1] - grid_.t[k]) * 1e-9;
        f.omega = span > 0.0 ? (th[k1] - th[k]) / span : omega_e;
        double theta = f.w == 0.0 ? th[k] : th[k] + f.w * (th[k1] - th[k]);
        f.c = std::cos(theta);
        f.s = std::sin(theta);
    }
    scratch.frames_total += nn;
    scratch.frames.emplace_back(step_ns_, std::move(list));
    return scratch.frames.back().second.data();
}

// Propagates the nodes listed in `idx` (increasing) in one vector call and
// turns them to ITRF.
void Finder::make_nodes(const std::vector<std::size_t>& idx) {
    std::size_t m = idx.size();
    if (m == 0) return;
    auto& tsince = scratch.tsince;
    auto& r = scratch.r;
    auto& v = scratch.v;
    auto& errs = scratch.errs;
    tsince.resize(m);
    r.resize(3 * m);
    v.resize(3 * m);
    errs.resize(m);
    for (std::size_t q = 0; q < m; ++q) tsince[q] = sgp4::minutes_between(epoch_, node_t_[idx[q]]);
    prop_.run_times(sat_, tsince.data(), m, r.data(), v.data(), errs.data(), prop_.lanes);
    for (std::size_t q = 0; q < m; ++q) {
        std::size_t i = idx[q];
        State& s = nodes_[i];
        for (int x = 0; x < 3; ++x) teme_[6 * i + x] = r[3 * q + x], teme_[6 * i + 3 + x] = v[3 * q + x];
        s.ok = errs[q] == 0 && std::isfinite(r[3 * q]);
        if (!s.ok) continue;
        const Frame& f = frames_[i];
        rotate_with(f.k, f.w, f.c, f.s, f.omega, &r[3 * q], &v[3 * q], s);
    }
}

// Whether f < 0 throughout [node i0, node i1] for the current station, from
// the cubic Hermite interpolant between the two nodes (SGP4's states): the
// height above the station's horizon plane d·u is within δ (the Hermite
// remainder, as in interpolate()) of the cubic g through the ends' values
// and rates, whose maximum on the interval is at an end or at a root of g'.
// Then f = d·u − ρ sin m ≤ max g + δ − ρ sin m, with ρ bounded on the
// interval by the ends' ranges and the speed bound.
bool Finder::below_horizon(std::size_t i0, std::size_t i1, const Pt& p0, const Pt& p1) {
    const double* up = st_->enu[2];
    const State& s0 = nodes_[i0];
    const State& s1 = nodes_[i1];
    double L = static_cast<double>(node_t_[i1] - node_t_[i0]) * 1e-9;
    double a0 = p0.u, a1 = p1.u;
    double b0 = L * (up[0] * s0.v[0] + up[1] * s0.v[1] + up[2] * s0.v[2]);
    double b1 = L * (up[0] * s1.v[0] + up[1] * s1.v[1] + up[2] * s1.v[2]);
    // g(x) = a0 + b0 x + c2 x² + c3 x³ on x ∈ [0, 1].
    double c2 = 3.0 * (a1 - a0) - 2.0 * b0 - b1, c3 = 2.0 * (a0 - a1) + b0 + b1;
    double top = std::max(a0, a1);
    auto at_x = [&](double x) {
        if (x > 0.0 && x < 1.0) top = std::max(top, a0 + x * (b0 + x * (c2 + x * c3)));
    };
    // g'(x) = b0 + 2 c2 x + 3 c3 x².
    if (c3 != 0.0) {
        double disc = c2 * c2 - 3.0 * c3 * b0;
        if (disc >= 0.0) {
            double sq = std::sqrt(disc);
            at_x((-c2 + sq) / (3.0 * c3));
            at_x((-c2 - sq) / (3.0 * c3));
        }
    } else if (c2 != 0.0) {
        at_x(-b0 / (2.0 * c2));
    }
    double H3 = L * L * L;
    double c = std::max(c4(i0), c4(i1)) + c4_rot_;
    double ep = 2.0 * H3 * L / 384.0 * c + 1.0;
    double bound = top + ep + 1.0;  // 1 m more for the rounding of g
    if (sin_mask_ >= 0.0)
        bound -= rho_floor(p0, p1) * sin_mask_;
    else
        bound -= 0.5 * (p0.rho + p1.rho + bounds_.v_max * L) * sin_mask_;
    return bound < 0.0;
}

void Finder::run(const Station* stations, std::size_t n_stations, std::vector<Pass>& out) {
    // The satellite's own grid: a whole-second step from its period
    // (period/45, 1 s to 1200 s; deep-space sets closer where that makes
    // their interpolant good), the window's stop last.
    std::int64_t start = grid_.t[0], stop = grid_.t[grid_.n - 1];
    double rt[3], vt[3];
    std::int8_t err = 0;
    prop_.sample(sat_, sgp4::minutes_between(epoch_, start), rt, vt, &err);
    double r0 = std::hypot(rt[0], rt[1], rt[2]), v0 = std::hypot(vt[0], vt[1], vt[2]);
    double inv_a = 2.0 / r0 - v0 * v0 / gm;
    double step = 1200.0;
    double sma = NAN, ecc = NAN, period = INFINITY;
    if (err == 0 && inv_a > 0.0 && std::isfinite(inv_a)) {
        sma = 1.0 / inv_a;
        period = 2.0 * std::numbers::pi * std::sqrt(sma * sma * sma / gm);
        step = std::clamp(std::floor(period / nodes_per_period), 1.0, 1200.0);
        double rv = rt[0] * vt[0] + rt[1] * vt[1] + rt[2] * vt[2];
        double ev[3];
        for (int i = 0; i < 3; ++i) ev[i] = ((v0 * v0 - gm / r0) * rt[i] - rv * vt[i]) / gm;
        ecc = std::hypot(ev[0], ev[1], ev[2]);
    }
    near_ = period < 225.0 * 60.0;
    if (!near_ && std::isfinite(period)) {
        // Deep-space sets take the interpolant's fast path too where it is
        // close enough: nodes no farther apart than the step at which the
        // Hermite error bound is `deep_error` (m), estimated here from the
        // osculating orbit (the bounds used later are computed anew).
        double c = qv::orbel::fourth_derivative_bound(rt, vt, gm);
        double rp = sma * (1.0 - ecc), vp = std::sqrt(gm * (2.0 / rp - 1.0 / sma)), w = omega_e;
        c += 16.0 * w * gm * vp / (rp * rp * rp) + 6.0 * w * w * gm / (rp * rp) + 4.0 * w * w * w * vp +
             w * w * w * w * sma * (1.0 + ecc);
        double h = std::floor(std::sqrt(std::sqrt(deep_error * 384.0 / (2.0 * c))));
        if (h >= deep_min_step) {
            near_ = true;
            step = std::min(step, h);
        }
    }
    std::int64_t step_ns = static_cast<std::int64_t>(step) * 1'000'000'000;
    step_ns_ = step_ns;
    node_t_.clear();
    for (std::int64_t t = start; t < stop; t += step_ns) node_t_.push_back(t);
    node_t_.push_back(stop);
    std::size_t nn = node_t_.size();
    nodes_.assign(nn, State{});
    frames_ = node_frames();
    teme_.resize(6 * nn);
    c4_.assign(nn, NAN);
    // Coarse nodes (every `coarse_factor`-th node and the stop) first: SGP4's
    // own states, on which each station rules out the coarse intervals where
    // it cannot see the satellite.  The nodes between are propagated only
    // inside the intervals some station keeps.
    const std::size_t coarse_factor = period < 225.0 * 60.0 ? coarse_near : coarse_deep;
    std::size_t nc = (nn - 1 + coarse_factor - 1) / coarse_factor;  // coarse intervals
    auto coarse_node = [&](std::size_t c) { return std::min(c * coarse_factor, nn - 1); };
    auto& idx = scratch.idx;
    idx.clear();
    for (std::size_t c = 0; c <= nc; ++c) idx.push_back(coarse_node(c));
    make_nodes(idx);
    double r_lo = INFINITY, r_hi = 0.0, v_hi = 0.0;
    // Squared extremes of |r| and the largest |v|² over the nodes propagated.
    auto extremes = [&](std::size_t i) {
        if (!nodes_[i].ok) return;
        const double* ri = &teme_[6 * i];
        const double* vi = ri + 3;
        double rr = ri[0] * ri[0] + ri[1] * ri[1] + ri[2] * ri[2];
        r_lo = std::min(r_lo, rr);
        r_hi = std::max(r_hi, rr);
        v_hi = std::max(v_hi, vi[0] * vi[0] + vi[1] * vi[1] + vi[2] * vi[2]);
    };
    for (std::size_t i : idx) extremes(i);
    if (!(r_hi > 0.0)) {
        // No coarse node propagated: try every node before giving up.
        idx.clear();
        for (std::size_t i = 0; i < nn; ++i)
            if (i % coarse_factor != 0 && i != nn - 1) idx.push_back(i);
        make_nodes(idx);
        for (std::size_t i = 0; i < nn; ++i) extremes(i);
        if (!(r_hi > 0.0)) return;  // never propagated inside the window
    }
    r_lo = std::sqrt(r_lo);
    r_hi = std::sqrt(r_hi);
    v_hi = std::sqrt(v_hi);
    if (std::isfinite(sma) && ecc < 1.0) {
        r_lo = std::min(r_lo, sma * (1.0 - ecc));
        r_hi = std::max(r_hi, sma * (1.0 + ecc));
    }
    // Short-period terms move the osculating radius by tens of km.
    r_lo = std::max(0.97 * r_lo - 30e3, 6.0e6 * 0.5);
    r_hi = 1.03 * r_hi + 30e3;
    double v_in = std::sqrt(gm * (2.0 / r_lo - (std::isfinite(sma) && sma > 0.0 ? 1.0 / (1.03 * sma + 30e3) : 0.0)));
    v_in = std::max(v_in, 1.05 * v_hi + 50.0);
    bounds_.r_min = r_lo;
    bounds_.v_max = v_in + omega_e * r_hi;
    bounds_.a_max = safety * (gm / (r_lo * r_lo) + 2.0 * omega_e * bounds_.v_max + omega_e * omega_e * r_hi);
    // The rotating frame adds 4ω|r‴| + 6ω²|r''| + 4ω³|v| + ω⁴|r| to the
    // inertial |d⁴r/dt⁴| (c4 per node), |r‴| ≤ 4μv/r³, |r''| ≤ μ/r².
    {
        double rl = r_lo, vv = v_in, w = omega_e;
        c4_rot_ = 16.0 * w * gm * vv / (rl * rl * rl) + 6.0 * w * w * gm / (rl * rl) + 4.0 * w * w * w * vv +
                  w * w * w * w * r_hi;
    }

    // Which coarse intervals each station keeps: all but those where f stays
    // below zero, by the two-parabola bound on SGP4's states at both ends
    // (the exact scan's own exclusion test) or by the cubic Hermite
    // interpolant between them with its error bound (below_horizon).
    // Intervals with an end SGP4 cannot propagate are kept.
    double rate = (1.0 + std::fabs(sin_mask_)) * bounds_.v_max;  // |f'| bound
    auto& kept = scratch.kept;
    auto& kept_start = scratch.kept_start;
    kept.clear();
    kept_start.assign(n_stations + 1, 0);
    auto& want = scratch.want;
    want.assign(nc, 0);
    auto& coarse = scratch.coarse;
    coarse.resize(nc + 1);
    for (std::size_t j = 0; j < n_stations; ++j) {
        st_ = &stations[j];
        kept_start[j] = kept.size();
        // f, f' (and ρ with a mask) at every coarse node, as look_f gives them.
        const Station& sj = stations[j];
        const double* up = sj.enu[2];
        for (std::size_t c = 0; c <= nc; ++c) {
            const State& sn = nodes_[coarse_node(c)];
            CoarseF& q = coarse[c];
            q.ok = sn.ok;
            if (!sn.ok) continue;
            double d[3];
            for (int x = 0; x < 3; ++x) d[x] = sn.r[x] - sj.r[x];
            const double u = up[0] * d[0] + up[1] * d[1] + up[2] * d[2];
            const double vu = up[0] * sn.v[0] + up[1] * sn.v[1] + up[2] * sn.v[2];
            if (sin_mask_ == 0.0) {
                q.f = u;
                q.df = vu;
                q.rho = 0.0;
                continue;
            }
            const double dv = d[0] * sn.v[0] + d[1] * sn.v[1] + d[2] * sn.v[2];
            q.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            q.f = u - q.rho * sin_mask_;
            q.df = vu - sin_mask_ * dv / q.rho;
        }
        for (std::size_t c = 0; c < nc; ++c) {
            const CoarseF& q0 = coarse[c];
            const CoarseF& q1 = coarse[c + 1];
            bool drop = false;
            if (q0.ok && q1.ok && q0.f < 0.0 && q1.f < 0.0) {
                const std::size_t i0 = coarse_node(c), i1 = coarse_node(c + 1);
                const double delta = static_cast<double>(node_t_[i1] - node_t_[i0]) * 1e-9;
                // First the rate bound alone (|f'| ≤ rate: f ≤ (f0 + f1 + rate Δ)/2
                // throughout), which rules out most intervals far below the horizon.
                drop = q0.f + q1.f + rate * delta < 0.0 ||
                       upper_bound(q0.f, q0.df, q1.f, q1.df, delta, f_bound_of(delta, q0.rho, q1.rho)) < 0.0 ||
                       below_horizon(i0, i1, look_f(node_t_[i0], nodes_[i0]), look_f(node_t_[i1], nodes_[i1]));
            }
            if (!drop) {
                kept.push_back(static_cast<std::uint32_t>(c));
                want[c] = 1;
            }
        }
    }
    kept_start[n_stations] = kept.size();
    idx.clear();
    for (std::size_t c = 0; c < nc; ++c)
        if (want[c])
            for (std::size_t i = coarse_node(c) + 1; i < coarse_node(c + 1); ++i) idx.push_back(i);
    make_nodes(idx);

    for (std::size_t j = 0; j < n_stations; ++j) {
        st_ = &stations[j];
        // |f''| bound over the window (f_bound with the global ρ floor).
        double a_global = (1.0 + std::fabs(sin_mask_)) * bounds_.a_max;
        if (sin_mask_ != 0.0)
            a_global += std::fabs(sin_mask_) * bounds_.v_max * bounds_.v_max / std::max(bounds_.r_min - st_->radius, 50e3);
        rises_.clear();
        sets_.clear();
        for (std::size_t q = kept_start[j]; q < kept_start[j + 1]; ++q) {
            const std::size_t c = kept[q];
            std::size_t lo = coarse_node(c), hi = coarse_node(c + 1);
            Pt prev = look_f(node_t_[lo], nodes_[lo]);
            for (std::size_t i = lo + 1; i <= hi; ++i) {
                // Below the mask by more than f can climb (|f'| ≤ rate) before
                // the next node: skip every node the bound covers.
                if (prev.ok && prev.f < 0.0 && nodes_[i].ok) {
                    // f ≤ f0 + f0'τ + Aτ²/2 and f ≤ f0 + rate·τ: below the mask
                    // until the later of their crossings; skip the nodes before.
                    double tau = std::max(-prev.f / rate, (-prev.df + std::sqrt(prev.df * prev.df -
                                                                                 2.0 * a_global * prev.f)) /
                                                              a_global);
                    double reach = static_cast<double>(prev.t) + tau * 1e9;
                    if (reach > static_cast<double>(node_t_[i])) {
                        std::size_t jn = i;
                        while (jn + 1 <= hi && static_cast<double>(node_t_[jn + 1]) < reach && nodes_[jn + 1].ok)
                            ++jn;
                        prev = look_f(node_t_[jn], nodes_[jn]);
                        i = jn;
                        continue;
                    }
                }
                Pt cur = look_f(node_t_[i], nodes_[i]);
                if (near_ && prev.ok && cur.ok)
                    scan_fast(i - 1, prev, cur, 0);
                else
                    scan(prev, cur, 0);
                prev = cur;
            }
        }
        settle_pending();
        // Pair events into passes: a set before the first rise (or a
        // window that opens inside a pass) has no rise.
        Pt begin = look_f(node_t_[0], nodes_[0]);
        std::vector<std::pair<Event, Event>> spans;
        const Event none{nat, NAN};
        std::size_t ir = 0, is = 0;
        bool inside = begin.ok && begin.f >= 0.0;
        Event open = none;
        while (ir < rises_.size() || is < sets_.size()) {
            if (inside) {
                if (is < sets_.size()) {
                    spans.emplace_back(open, sets_[is++]);
                    inside = false;
                } else {
                    break;
                }
            } else {
                if (ir < rises_.size()) {
                    open = rises_[ir++];
                    inside = true;
                } else {
                    break;
                }
            }
        }
        if (inside) spans.emplace_back(open, none);
        std::size_t node_lo = 0;
        auto& culms = scratch.culms;
        culms.clear();
        for (auto [rise, set] : spans) {
            Pass pass{};
            pass.station = static_cast<std::int32_t>(j);
            for (double& x : pass.culmination_teme) x = NAN;
            pass.rise = rise.t;
            pass.set = set.t;
            std::int64_t ta = rise.t == nat ? node_t_[0] : rise.t;
            std::int64_t tb = set.t == nat ? node_t_[nn - 1] : set.t;
            // The first node after ta: nodes are step_ns_ apart from the
            // window's start (the last one, the stop, closer).
            node_lo = std::max(node_lo, std::min(static_cast<std::size_t>((ta - node_t_[0]) / step_ns_), nn));
            while (node_lo > 0 && node_t_[node_lo - 1] > ta) --node_lo;
            while (node_lo < nn && node_t_[node_lo] <= ta) ++node_lo;
            std::size_t node_hi = node_lo;
            while (node_hi < nn && node_t_[node_hi] < tb) ++node_hi;
            pass.rise_azimuth = rise.t == nat ? NAN : std::isnan(rise.azimuth) ? azimuth(at(rise.t)) : rise.azimuth;
            pass.set_azimuth = set.t == nat ? NAN : std::isnan(set.azimuth) ? azimuth(at(set.t)) : set.azimuth;
            std::int64_t guess = 0;
            bool ready = near_ && culminate_fast(ta, tb, node_lo, node_hi, guess);
            culms.push_back({pass, guess, ta, tb, node_lo, node_hi, ready, false});
        }
        // The culminations' confirmations: SGP4 at guess ± 5 ms for all in
        // one vector call; those whose pair holds no sign change of h' try
        // again at the secant step's guess, all in a second call; then the
        // exact search for those still undecided.
        auto& ts = scratch.probe_t;
        auto& ss = scratch.probe_s;
        auto& teme = scratch.probe_r;
        for (int round = 0; round < 2; ++round) {
            ts.clear();
            for (const Culmination& c : culms) {
                std::int64_t t0 = std::max(c.guess - root_width / 2, c.ta), t1 = std::min(c.guess + root_width / 2, c.tb);
                if (c.ready && t1 > t0) ts.push_back(t0), ts.push_back(t1);
            }
            if (ts.empty()) break;
            states_at(ts, ss);
            // Their TEME positions (states_at leaves them in scratch.r): the
            // culminations' own, between two of them.
            teme.assign(scratch.r.begin(), scratch.r.begin() + static_cast<std::ptrdiff_t>(3 * ts.size()));
            std::size_t k = 0;
            for (Culmination& c : culms) {
                if (!c.ready) continue;
                std::int64_t t0 = std::max(c.guess - root_width / 2, c.ta), t1 = std::min(c.guess + root_width / 2, c.tb);
                c.ready = false;
                if (t1 <= t0) continue;
                const Pt p = look(t0, ss[k]), q = look(t1, ss[k + 1]);
                const double* rows = &teme[3 * k];
                k += 2;
                std::int64_t next = 0;
                const int settled = culmination_try(p, q, c.ta, c.tb, c.pass, rows, next);
                if (settled == 1) c.done = true;
                if (settled == 0 && round == 0) c.guess = next, c.ready = true;
            }
        }
        for (Culmination& c : culms) {
            if (!c.done) {
                Pt a = c.pass.rise == nat ? look(node_t_[0], nodes_[0]) : at(c.pass.rise);
                Pt b = c.pass.set == nat ? look(node_t_[nn - 1], nodes_[nn - 1]) : at(c.pass.set);
                culminate(a, b, c.node_lo, c.node_hi, c.pass);
            }
            out.push_back(c.pass);
        }
    }
}

}  // namespace

void find_passes(const Propagator& prop, const void* sat, std::int64_t epoch_ns, const EarthGrid& grid,
                 const Station* stations, std::size_t n_stations, double sin_mask, std::vector<Pass>& out) {
    if (grid.n < 2) return;
    Finder finder(prop, sat, epoch_ns, grid, sin_mask);
    finder.run(stations, n_stations, out);
}

}  // namespace qv::passes
