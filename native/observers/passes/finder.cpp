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
// branch and bound with |h''| ≤ 2|a|/ρ + 3v²/ρ² (from d̂'' = (a − d̂ρ'')/ρ −
// 2d̂'ρ'/ρ), pruning intervals whose bound is within 1e-5 of the best sample;
// then the root of h' (sign + to −) next to the best sample, to 10 ms.
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
};

struct Bounds {
    double a_max;    // |a_ITRF| bound, m/s²
    double v_max;    // |v_ITRF| bound, m/s
    double r_min;    // geocentric radius bound, m
};

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
    std::vector<std::int64_t> node_t_;
    std::vector<State> nodes_;
    std::vector<std::int64_t> rises_, sets_;  // events of the current station, in order

    void rotate(std::size_t k, double w, const double* rt, const double* vt, State& s) const;
    State state_at(std::int64_t t) const;
    Pt look(std::int64_t t, const State& s) const;
    Pt at(std::int64_t t) const { return look(t, state_at(t)); }

    double f_bound(const Pt& p0, const Pt& p1) const;
    double h_bound(const Pt& p0, const Pt& p1) const;
    double rho_floor(const Pt& p0, const Pt& p1) const;

    void scan(const Pt& p0, const Pt& p1, int depth);
    std::int64_t refine_event(Pt a, Pt b);
    Pt hump(std::vector<Pt>& pts, std::size_t k);
    void culminate(const Pt& first, const Pt& last, std::size_t node_lo, std::size_t node_hi, Pass& pass);
};

void Finder::rotate(std::size_t k, double w, const double* rt, const double* vt, State& s) const {
    const double* th = grid_.theta;
    std::size_t k1 = k + 1 < grid_.n ? k + 1 : k;
    double span = static_cast<double>(grid_.t[k1] - grid_.t[k]) * 1e-9;
    double omega = span > 0.0 ? (th[k1] - th[k]) / span : omega_e;
    double theta = w == 0.0 ? th[k] : th[k] + w * (th[k1] - th[k]);
    double c = std::cos(theta), sn = std::sin(theta);
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
    s.ok = err == 0 && std::isfinite(rt[0]);
    if (!s.ok) return s;
    const std::int64_t* g = grid_.t;
    std::size_t k = static_cast<std::size_t>(std::upper_bound(g, g + grid_.n, t) - g);
    k = k == 0 ? 0 : k - 1;
    if (k >= grid_.n - 1) k = grid_.n >= 2 ? grid_.n - 2 : 0;
    double w = grid_.n >= 2 ? static_cast<double>(t - g[k]) / static_cast<double>(g[k + 1] - g[k]) : 0.0;
    rotate(k, w, rt, vt, s);
    return s;
}

Pt Finder::look(std::int64_t t, const State& s) const {
    Pt p{};
    p.t = t;
    p.ok = s.ok;
    if (!s.ok) {
        p.f = p.h = -INFINITY;
        return p;
    }
    const Station& st = *st_;
    double d[3] = {s.r[0] - st.r[0], s.r[1] - st.r[1], s.r[2] - st.r[2]};
    const double* up = st.enu[2];
    p.e = st.enu[0][0] * d[0] + st.enu[0][1] * d[1] + st.enu[0][2] * d[2];
    p.n = st.enu[1][0] * d[0] + st.enu[1][1] * d[1] + st.enu[1][2] * d[2];
    p.u = up[0] * d[0] + up[1] * d[1] + up[2] * d[2];
    double vu = up[0] * s.v[0] + up[1] * s.v[1] + up[2] * s.v[2];
    double dv = d[0] * s.v[0] + d[1] * s.v[1] + d[2] * s.v[2];
    p.rho = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    p.f = p.u - p.rho * sin_mask_;
    p.df = vu - sin_mask_ * dv / p.rho;
    p.h = p.u / p.rho;
    p.dh = vu / p.rho - p.u * dv / (p.rho * p.rho * p.rho);
    return p;
}

double Finder::rho_floor(const Pt& p0, const Pt& p1) const {
    double delta = static_cast<double>(p1.t - p0.t) * 1e-9;
    double global = std::max(bounds_.r_min - st_->radius, 50e3);
    return std::max(global, 0.5 * (p0.rho + p1.rho - bounds_.v_max * delta));
}

// Upper bound of |f''| on [p0, p1].
double Finder::f_bound(const Pt& p0, const Pt& p1) const {
    double c = (1.0 + sin_mask_) * bounds_.a_max;
    if (sin_mask_ > 0.0) c += sin_mask_ * bounds_.v_max * bounds_.v_max / rho_floor(p0, p1);
    return c;
}

// Upper bound of |h''| on [p0, p1].
double Finder::h_bound(const Pt& p0, const Pt& p1) const {
    double rho = rho_floor(p0, p1);
    return 2.0 * bounds_.a_max / rho + 3.0 * bounds_.v_max * bounds_.v_max / (rho * rho);
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
            (up1 ? rises_ : sets_).push_back(refine_event(p0, p1));
            return;
        }
    }
    if (width <= min_width || depth > 60) {
        if (up0 != up1) (up1 ? rises_ : sets_).push_back(refine_event(p0, p1));
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

void Finder::run(const Station* stations, std::size_t n_stations, std::vector<Pass>& out) {
    // The satellite's own coarse grid: every m-th node, m from the period.
    std::size_t n = grid_.n;
    double rt[3], vt[3];
    std::int8_t err = 0;
    prop_.sample(sat_, sgp4::minutes_between(epoch_, grid_.t[0]), rt, vt, &err);
    double base = n >= 2 ? static_cast<double>(grid_.t[1] - grid_.t[0]) * 1e-9 : 1.0;
    double r0 = std::hypot(rt[0], rt[1], rt[2]), v0 = std::hypot(vt[0], vt[1], vt[2]);
    double inv_a = 2.0 / r0 - v0 * v0 / gm;
    std::size_t m = 1;
    double sma = NAN, ecc = NAN;
    if (err == 0 && inv_a > 0.0 && std::isfinite(inv_a)) {
        sma = 1.0 / inv_a;
        double period = 2.0 * std::numbers::pi * std::sqrt(sma * sma * sma / gm);
        double step = std::clamp(period / 60.0, base, 1200.0);
        m = std::max<std::size_t>(1, static_cast<std::size_t>(step / base));
        // |e| from the eccentricity vector.
        double rv = rt[0] * vt[0] + rt[1] * vt[1] + rt[2] * vt[2];
        double ev[3];
        for (int i = 0; i < 3; ++i) ev[i] = ((v0 * v0 - gm / r0) * rt[i] - rv * vt[i]) / gm;
        ecc = std::hypot(ev[0], ev[1], ev[2]);
    }
    node_t_.clear();
    for (std::size_t k = 0; k < n; k += m) node_t_.push_back(grid_.t[k]);
    if (node_t_.back() != grid_.t[n - 1]) node_t_.push_back(grid_.t[n - 1]);
    std::size_t nn = node_t_.size();
    std::vector<double> tsince(nn), r(3 * nn), v(3 * nn);
    std::vector<std::int8_t> errs(nn);
    for (std::size_t i = 0; i < nn; ++i) tsince[i] = sgp4::minutes_between(epoch_, node_t_[i]);
    prop_.run_times(sat_, tsince.data(), nn, r.data(), v.data(), errs.data(), prop_.lanes);
    nodes_.assign(nn, State{});
    double r_lo = INFINITY, r_hi = 0.0, v_hi = 0.0;
    for (std::size_t i = 0; i < nn; ++i) {
        State& s = nodes_[i];
        s.ok = errs[i] == 0 && std::isfinite(r[3 * i]);
        if (!s.ok) continue;
        std::size_t k = i * m < n ? i * m : n - 1;
        rotate(k, 0.0, &r[3 * i], &v[3 * i], s);
        double rr = std::hypot(r[3 * i], r[3 * i + 1], r[3 * i + 2]);
        r_lo = std::min(r_lo, rr);
        r_hi = std::max(r_hi, rr);
        v_hi = std::max(v_hi, std::hypot(v[3 * i], v[3 * i + 1], v[3 * i + 2]));
    }
    if (!(r_hi > 0.0)) return;  // never propagated inside the window
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

    for (std::size_t j = 0; j < n_stations; ++j) {
        st_ = &stations[j];
        rises_.clear();
        sets_.clear();
        Pt prev = look(node_t_[0], nodes_[0]);
        for (std::size_t i = 1; i < nn; ++i) {
            Pt cur = look(node_t_[i], nodes_[i]);
            scan(prev, cur, 0);
            prev = cur;
        }
        // Pair events into passes: a set before the first rise (or a
        // window that opens inside a pass) has no rise.
        Pt begin = look(node_t_[0], nodes_[0]);
        std::vector<std::pair<std::int64_t, std::int64_t>> spans;
        std::size_t ir = 0, is = 0;
        bool inside = begin.ok && begin.f >= 0.0;
        std::int64_t open = inside ? nat : 0;
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
        if (inside) spans.emplace_back(open, nat);
        std::size_t node_lo = 0;
        for (auto [rise, set] : spans) {
            Pass pass{};
            pass.station = static_cast<std::int32_t>(j);
            pass.rise = rise;
            pass.set = set;
            Pt a = rise == nat ? look(node_t_[0], nodes_[0]) : at(rise);
            Pt b = set == nat ? look(node_t_[nn - 1], nodes_[nn - 1]) : at(set);
            pass.rise_azimuth = rise == nat ? NAN : azimuth(a);
            pass.set_azimuth = set == nat ? NAN : azimuth(b);
            while (node_lo < nn && node_t_[node_lo] <= a.t) ++node_lo;
            std::size_t node_hi = node_lo;
            while (node_hi < nn && node_t_[node_hi] < b.t) ++node_hi;
            culminate(a, b, node_lo, node_hi, pass);
            out.push_back(pass);
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
