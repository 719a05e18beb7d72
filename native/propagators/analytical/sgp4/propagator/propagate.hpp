// One SGP4/SDP4 sample, written once over the lane type V of the vector
// kernels (mathtools/simd/lanes.hpp): V = double computes one time, the
// vector types four or eight times of the same element set together.  Every
// lane does exactly the operations the one-lane form does for its time, in
// the same order; branches that depend on the time become masks and
// selections, loops whose length depends on the time run until every lane
// is done while finished lanes keep their values.  So the bits of a result
// never depend on the width that ran it.  No C library mathematics on V.
//
// Units inside: earth radii, minutes, radians; outputs in km and km/s, as
// the published algorithm states them.
#pragma once

#include "mathtools/simd/lanes.hpp"
#include "mathtools/simd/vmath.hpp"
#include "propagators/analytical/sgp4/propagator/sgp4.hpp"
#include "runtime/inline.hpp"

namespace qv::sgp4 {
inline namespace QV_SIMD_ISA {

namespace lanes = qv::simd;

inline constexpr double pi = 3.14159265358979323846;
inline constexpr double twopi = 2.0 * pi;

template <class V>
struct State {
    V r[3];  // km
    V v[3];  // km/s
    V code;  // error code per lane (an Error value, as a double)
};

// code ← k in the lanes where `bad` holds and no earlier check failed.
template <class V>
inline void flag(V& code, lanes::Mask<V> bad, double k) {
    code = lanes::select(bad & (code == V(0.0)), V(k), code);
}

// Angles that differ from one whose sine and cosine are known by a small
// amount d get theirs by the angle-sum identities instead of a full sin/cos
// with argument reduction: sin(a + d) = sin a + (sin a (cos d - 1) +
// cos a sin d), likewise the cosine.  Up to d = pi/4 the lane library's
// sincosm1 needs no reduction; lanes beyond (or with d not a number) take
// the full functions of the angle itself, `angle()`.  The choice is each
// lane's own, so a lane's bits never depend on its neighbours.
inline constexpr double small_angle = 0.78539816339744828;  // pi/4, rounded down

template <class V>
QV_FORCE_INLINE inline void turn(V& s, V& c, V d) {
    V sd, cm1;
    lanes::sincosm1(d, &sd, &cm1);
    V turned = s + (s * cm1 + c * sd);
    c = c + (c * cm1 - s * sd);
    s = turned;
}

template <class V, class Angle>
QV_FORCE_INLINE inline void turn_or_eval(V& s, V& c, V d, lanes::Mask<V> far, Angle angle) {
    far = far | !(lanes::abs(d) <= V(small_angle));
    turn(s, c, lanes::select(far, V(0.0), d));
    if (lanes::any(far)) {
        V fs, fc;
        lanes::sincos(angle(), &fs, &fc);
        s = lanes::select(far, fs, s);
        c = lanes::select(far, fc, c);
    }
}

template <class V, class Angle>
QV_FORCE_INLINE inline void turn_or_eval(V& s, V& c, V d, Angle angle) {
    turn_or_eval(s, c, d, V(0.0) != V(0.0), angle);
}

// Mean elements of a sample on their way through the deep-space terms.
template <class V>
struct Mean {
    V em, argpm, inclm, mm, nodem, nm;
};

// The resonance integrator at a whole step: time (minutes from epoch, 0 for
// none), mean longitude and mean motion there, and the rates at that state
// (xndt, xnddt).  A caller that propagates one set at a run of times may
// hand the state of one sample to the next: resuming from a whole step
// gives the same bits as integrating from epoch (the same steps in the same
// order), and the rates are a function of the state alone, so results never
// depend on it.
template <class V>
struct Resonance {
    V atime = V(0.0), xli = V(0.0), xni = V(0.0), xndt = V(0.0), xnddt = V(0.0);
};

// sin and cos of a - b from those of a and b.
template <class V>
QV_FORCE_INLINE inline void difference(V sa, V ca, double sb, double cb, V& s, V& c) {
    s = sa * cb - ca * sb;
    c = ca * cb + sa * sb;
}

// sin and cos of 2a, 3a from those of a.
template <class V>
QV_FORCE_INLINE inline void twice(V sa, V ca, V& s, V& c) {
    s = 2.0 * sa * ca;
    c = (ca - sa) * (ca + sa);
}

// The resonance rates at mean longitude xli and time atime: dn/dt (xndt)
// and d²n/dt² over dλ/dt (xnddt before the factor xldot).  Each term is the
// sine or cosine of a combination of λ, ω and a phase; they come from one
// sincos of λ (and one of ω) through the angle-sum identities.
template <class V>
QV_FORCE_INLINE inline void resonance_rates(const Satellite& s, V atime, V xli, V& xndt, V& xnddt) {
    const double* ps = s.phase_sin;
    const double* pc = s.phase_cos;
    V sl, cl;
    lanes::sincos(xli, &sl, &cl);
    if (s.irez != 2) {
        // One-day resonance: λ - fasx2, 2(λ - fasx4), 3(λ - fasx6).
        V s1, c1, s4, c4, s2, c2, s6, c6;
        difference(sl, cl, ps[0], pc[0], s1, c1);
        difference(sl, cl, ps[1], pc[1], s4, c4);
        twice(s4, c4, s2, c2);
        difference(sl, cl, ps[2], pc[2], s6, c6);
        V s3 = s6 * (3.0 - 4.0 * s6 * s6), c3 = c6 * (4.0 * c6 * c6 - 3.0);
        xndt = s.del1 * s1 + s.del2 * s2 + s.del3 * s3;
        xnddt = s.del1 * c1 + 2.0 * s.del2 * c2 + 3.0 * s.del3 * c3;
        return;
    }
    // Half-day resonance: combinations of ω and λ (ω = argpo + argpdot t).
    V so, co;
    lanes::sincos(s.argpo + s.argpdot * atime, &so, &co);
    V s2l, c2l, s2o, c2o;
    twice(sl, cl, s2l, c2l);
    twice(so, co, s2o, c2o);
    V sp = so * cl + co * sl, cp = co * cl - so * sl;          // ω + λ
    V sm = sl * co - cl * so, cm = cl * co + sl * so;          // λ - ω
    V s2ol = s2o * cl + c2o * sl, c2ol = c2o * cl - s2o * sl;  // 2ω + λ
    V s2p, c2p;                                                // 2ω + 2λ
    twice(sp, cp, s2p, c2p);
    V so2l = so * c2l + co * s2l, co2l = co * c2l - so * s2l;  // ω + 2λ
    V s2lo = s2l * co - c2l * so, c2lo = c2l * co + s2l * so;  // 2λ - ω
    V sa, ca, sb, cb, sc, cc, sd, cd, se, ce, sf, cf, sg, cg, sh, ch, si, ci, sj, cj;
    difference(s2ol, c2ol, ps[0], pc[0], sa, ca);
    difference(sl, cl, ps[0], pc[0], sb, cb);
    difference(sp, cp, ps[1], pc[1], sc, cc);
    difference(sm, cm, ps[1], pc[1], sd, cd);
    difference(s2p, c2p, ps[2], pc[2], se, ce);
    difference(s2l, c2l, ps[2], pc[2], sf, cf);
    difference(sp, cp, ps[3], pc[3], sg, cg);
    difference(sm, cm, ps[3], pc[3], sh, ch);
    difference(so2l, co2l, ps[4], pc[4], si, ci);
    difference(s2lo, c2lo, ps[4], pc[4], sj, cj);
    xndt = s.d2201 * sa + s.d2211 * sb + s.d3210 * sc + s.d3222 * sd + s.d4410 * se + s.d4422 * sf + s.d5220 * sg +
           s.d5232 * sh + s.d5421 * si + s.d5433 * sj;
    xnddt = s.d2201 * ca + s.d2211 * cb + s.d3210 * cc + s.d3222 * cd + s.d5220 * cg + s.d5232 * ch +
            2.0 * (s.d4410 * ce + s.d4422 * cf + s.d5421 * ci + s.d5433 * cj);
}

// Lunar-solar secular rates and resonance of the deep-space extension: the
// resonance integrates the mean motion and longitude from epoch (or from
// the whole step in `state`, when it lies between epoch and t) in steps of
// 720 minutes (Euler-Maclaurin), then to the sample's time from the last
// whole step.
template <class V>
inline void deep_secular(const Satellite& s, V t, Mean<V>& m, Resonance<V>& state) {
    constexpr double rptim = 4.37526908801129966e-3;
    constexpr double stepp = 720.0, stepn = -720.0, step2 = 259200.0;

    V theta = lanes::rem2pi(s.gsto + t * rptim);
    m.em = m.em + s.dedt * t;
    m.inclm = m.inclm + s.didt * t;
    m.argpm = m.argpm + s.domdt * t;
    m.nodem = m.nodem + s.dnodt * t;
    m.mm = m.mm + s.dmdt * t;
    if (s.irez == 0) return;

    auto resume = (state.atime != V(0.0)) & (t * state.atime > V(0.0)) & !(lanes::abs(t) < lanes::abs(state.atime));
    V atime = lanes::select(resume, state.atime, V(0.0));
    V xni = lanes::select(resume, state.xni, V(s.no_unkozai));
    V xli = lanes::select(resume, state.xli, V(s.xlamo));
    V xndt = state.xndt, xnddt = state.xnddt;
    V delt = lanes::select(t > V(0.0), V(stepp), V(stepn));
    V xldot = xni + s.xfact;
    auto fresh = !resume;  // lanes whose rates at their state are still to be computed
    for (;;) {
        if (lanes::any(fresh)) {
            V a, b;
            resonance_rates(s, atime, xli, a, b);
            xndt = lanes::select(fresh, a, xndt);
            xnddt = lanes::select(fresh, b * xldot, xnddt);
        }
        auto more = lanes::abs(t - atime) >= V(stepp);
        if (!lanes::any(more)) break;
        xli = lanes::select(more, xli + xldot * delt + xndt * step2, xli);
        xni = lanes::select(more, xni + xndt * delt + xnddt * step2, xni);
        atime = lanes::select(more, atime + delt, atime);
        xldot = xni + s.xfact;
        fresh = more;
    }
    state.atime = atime;
    state.xli = xli;
    state.xni = xni;
    state.xndt = xndt;
    state.xnddt = xnddt;
    V ft = t - atime;
    V nm = xni + xndt * ft + xnddt * ft * ft * 0.5;
    V xl = xli + xldot * ft + xndt * ft * ft * 0.5;
    if (s.irez != 1)
        m.mm = xl - 2.0 * m.nodem + 2.0 * theta;
    else
        m.mm = xl - m.nodem - m.argpm + theta;
    V dndt = nm - s.no_unkozai;
    m.nm = s.no_unkozai + dndt;
}

// Periodic elements after the lunar-solar periodics, with the sine and
// cosine of the inclination and those of the node as a known direction
// (sinnode, cosnode) turned by the angle nodeoff: the epoch node and the
// node's change since, or, where the Lyddane modification gave the node as
// the direction of a vector, that direction and 0.  Lanes without
// `node_known` take the node's sine and cosine in full.
template <class V>
struct Periodic {
    V ep, inclp, nodep, argpp, mp;
    V sinip, cosip, sinnode, cosnode, nodeoff;
    lanes::Mask<V> node_known;
};

// One body's periodic terms depend on its mean anomaly zm = zm0 + rate t and
// on zf = zm + 2 e sin zm.  sin and cos of zm: those of zm0 (the set's
// constants) turned by rate t, in full where that exceeds the small-angle
// range; of zf: those of zm turned by 2 e sin zm (below 0.11 rad).
template <class V>
QV_FORCE_INLINE inline void body_anomaly(double zm0, double sin0, double cos0, double rate, double e, V t,
                                                 V& sinzf, V& coszf) {
    V zm = zm0 + rate * t;
    V sn(sin0), cs(cos0);
    turn_or_eval(sn, cs, rate * t, [&] { return zm; });
    turn(sn, cs, 2.0 * e * sn);
    sinzf = sn;
    coszf = cs;
}

template <class V>
inline void deep_periodics(const Satellite& s, V t, Periodic<V>& p) {
    constexpr double zns = 1.19459e-5, zes = 0.01675, znl = 1.5835218e-4, zel = 0.05490;

    V sinzf, coszf;
    body_anomaly(s.zmos, s.sinzmos, s.coszmos, zns, zes, t, sinzf, coszf);
    V f2 = 0.5 * sinzf * sinzf - 0.25;
    V f3 = -0.5 * sinzf * coszf;
    V ses = s.se2 * f2 + s.se3 * f3;
    V sis = s.si2 * f2 + s.si3 * f3;
    V sls = s.sl2 * f2 + s.sl3 * f3 + s.sl4 * sinzf;
    V sghs = s.sgh2 * f2 + s.sgh3 * f3 + s.sgh4 * sinzf;
    V shs = s.sh2 * f2 + s.sh3 * f3;
    body_anomaly(s.zmol, s.sinzmol, s.coszmol, znl, zel, t, sinzf, coszf);
    f2 = 0.5 * sinzf * sinzf - 0.25;
    f3 = -0.5 * sinzf * coszf;
    V sel = s.ee2 * f2 + s.e3 * f3;
    V sil = s.xi2 * f2 + s.xi3 * f3;
    V sll = s.xl2 * f2 + s.xl3 * f3 + s.xl4 * sinzf;
    V sghl = s.xgh2 * f2 + s.xgh3 * f3 + s.xgh4 * sinzf;
    V shll = s.xh2 * f2 + s.xh3 * f3;
    V pe = ses + sel;
    V pinc = sis + sil;
    V pl = sls + sll;
    V pgh = sghs + sghl;
    V ph = shs + shll;

    // inclp = inclo + didt t + pinc: the epoch inclination's sine and
    // cosine turned by the last two.
    p.inclp = p.inclp + pinc;
    p.ep = p.ep + pe;
    V sinip(s.sinio), cosip(s.cosio);
    turn_or_eval(sinip, cosip, s.didt * t + pinc, [&] { return p.inclp; });
    p.sinip = sinip;
    p.cosip = cosip;

    // Above 0.2 rad the periodics apply to the elements directly; below,
    // through the Lyddane modification (node and perigee as vector sums).
    auto direct = p.inclp >= V(0.2);
    V nodep_d = p.nodep, argpp_d = p.argpp, mp_d = p.mp;
    if (lanes::any(direct)) {
        V phs = ph / sinip;
        V pghs = pgh - cosip * phs;
        argpp_d = p.argpp + pghs;
        nodep_d = p.nodep + phs;
        mp_d = p.mp + pl;
        p.nodeoff = lanes::select(direct, p.nodeoff + phs, p.nodeoff);
    }
    if (!lanes::all(direct)) {
        V sinop = p.sinnode, cosop = p.cosnode;
        turn_or_eval(sinop, cosop, p.nodeoff, [&] { return p.nodep; });
        V alfdp = sinip * sinop;
        V betdp = sinip * cosop;
        V dalf = ph * cosop + pinc * cosip * sinop;
        V dbet = -ph * sinop + pinc * cosip * cosop;
        alfdp = alfdp + dalf;
        betdp = betdp + dbet;
        V nodep = lanes::rem2pi(p.nodep);
        if (s.mode == Mode::afspc) nodep = lanes::select(nodep < V(0.0), nodep + twopi, nodep);
        V xls = p.mp + p.argpp + cosip * nodep;
        V dls = pl + pgh - pinc * nodep * sinip;
        xls = xls + dls;
        V xnoh = nodep;
        nodep = lanes::atan2(alfdp, betdp);
        if (s.mode == Mode::afspc) nodep = lanes::select(nodep < V(0.0), nodep + twopi, nodep);
        auto wrap = lanes::abs(xnoh - nodep) > V(pi);
        nodep = lanes::select(wrap, lanes::select(nodep < xnoh, nodep + twopi, nodep - twopi), nodep);
        V mp = p.mp + pl;
        V argpp = xls - mp - cosip * nodep;
        nodep_d = lanes::select(direct, nodep_d, nodep);
        argpp_d = lanes::select(direct, argpp_d, argpp);
        mp_d = lanes::select(direct, mp_d, mp);
        // The node is the direction of (alfdp, betdp), whole turns aside.
        V hypot = lanes::sqrt(alfdp * alfdp + betdp * betdp);
        V inv = 1.0 / hypot;
        p.sinnode = lanes::select(direct, p.sinnode, alfdp * inv);
        p.cosnode = lanes::select(direct, p.cosnode, betdp * inv);
        p.nodeoff = lanes::select(direct, p.nodeoff, V(0.0));
        p.node_known = direct | ((hypot >= V(1.0e-150)) & (hypot <= V(1.0e150)));
    }
    p.nodep = nodep_d;
    p.argpp = argpp_d;
    p.mp = mp_d;
}

// The state at `t` minutes from epoch.  Times that are not finite or lie
// beyond ±max_tsince give bad_time; every lane whose code is not ok holds NaN.
template <class V>
inline State<V> sample(const Satellite& s, V t, Resonance<V>& resonance) {
    using M = lanes::Mask<V>;
    const GravityModel& g = s.grav;
    constexpr double temp4 = 1.5e-12;
    State<V> out;
    V code(0.0);
    flag(code, !(lanes::abs(t) <= V(max_tsince)), bad_time);
    t = lanes::select(code == V(0.0), t, V(0.0));

    // Secular gravity and atmospheric drag.
    V xmdf = s.mo + s.mdot * t;
    V argpoff = s.argpdot * t;  // argument of perigee and node since epoch (secular)
    V nodeoff = s.nodedot * t;
    V argpdf = s.argpo + argpoff;
    V nodedf = s.nodeo + nodeoff;
    V t2 = t * t;
    Mean<V> m{V(s.ecco), argpdf, V(s.inclo), xmdf, nodedf + s.nodecf * t2, V(s.no_unkozai)};
    nodeoff = nodeoff + s.nodecf * t2;
    V tempa = 1.0 - s.cc1 * t;
    V tempe = s.bstar * s.cc4 * t;
    V templ = s.t2cof * t2;
    // sin and cos of the mean anomaly m.mm, near Earth: they give the
    // eccentric longitude's first guess below.
    V sinmm(0.0), cosmm(1.0);
    if (!s.deep) lanes::sincos(xmdf, &sinmm, &cosmm);
    if (!s.simple) {
        V delomg = s.omgcof * t;
        V delmtemp = 1.0 + s.eta * cosmm;
        V delm = s.xmcof * (delmtemp * delmtemp * delmtemp - s.delmo);
        V temp = delomg + delm;
        m.mm = xmdf + temp;
        m.argpm = argpdf - temp;
        argpoff = argpoff - temp;
        V t3 = t2 * t;
        V t4 = t3 * t;
        tempa = tempa - s.d2 * t2 - s.d3 * t3 - s.d4 * t4;
        turn_or_eval(sinmm, cosmm, temp, [&] { return m.mm; });  // sin(xmdf + temp)
        tempe = tempe + s.bstar * s.cc5 * (sinmm - s.sinmao);
        templ = templ + s.t3cof * t3 + t4 * (s.t4cof + t * s.t5cof);
    }
    if (s.deep) {
        deep_secular(s, t, m, resonance);
        nodeoff = nodeoff + s.dnodt * t;
    }

    flag(code, !(m.nm > V(0.0)), mean_motion);
    V am;
    if (s.irez == 0) {
        // The mean motion is the epoch's: (xke / n)^(2/3) is the set's constant.
        am = s.ao * tempa * tempa;
    } else {
        V c = lanes::cbrt(g.xke / m.nm);
        am = c * c * tempa * tempa;
    }
    V nm = g.xke / (am * lanes::sqrt(am));
    V em = m.em - tempe;
    flag(code, !((em < V(1.0)) & (em >= V(-0.001))), eccentricity);
    em = lanes::select(em < V(1.0e-6), V(1.0e-6), em);
    V mm = m.mm + s.no_unkozai * templ;

    // Lunar-solar periodics and the long-period terms that depend on the
    // perturbed inclination.  The periodics need the angles reduced to one
    // turn; near Earth the node, perigee and mean anomaly enter only through
    // sines and cosines and through u below, which is reduced itself.
    Periodic<V> p{em,           m.inclm,       m.nodem, m.argpm,         mm, V(s.sinio), V(s.cosio),
                  V(s.sinnodeo), V(s.cosnodeo), nodeoff, V(0.0) == V(0.0)};
    V sinip(s.sinio), cosip(s.cosio), aycof(s.aycof), xlcof(s.xlcof);
    V con41(s.con41), x1mth2(s.x1mth2), x7thm1(s.x7thm1);
    if (s.deep) {
        V xlm = mm + m.argpm + m.nodem;
        p.nodep = lanes::rem2pi(m.nodem);
        p.argpp = lanes::rem2pi(m.argpm);
        xlm = lanes::rem2pi(xlm);
        p.mp = lanes::rem2pi(xlm - p.argpp - p.nodep);
        deep_periodics(s, t, p);
        M negative = p.inclp < V(0.0);
        p.inclp = lanes::select(negative, -p.inclp, p.inclp);
        p.nodep = lanes::select(negative, p.nodep + pi, p.nodep);
        p.argpp = lanes::select(negative, p.argpp - pi, p.argpp);
        p.sinip = lanes::select(negative, -p.sinip, p.sinip);
        p.sinnode = lanes::select(negative, -p.sinnode, p.sinnode);
        p.cosnode = lanes::select(negative, -p.cosnode, p.cosnode);
        flag(code, !((p.ep >= V(0.0)) & (p.ep <= V(1.0))), perturbed_ecc);
        sinip = p.sinip;
        cosip = p.cosip;
        aycof = -0.5 * g.j3oj2 * sinip;
        V den = lanes::select(lanes::abs(cosip + 1.0) > V(1.5e-12), 1.0 + cosip, V(temp4));
        xlcof = -0.25 * g.j3oj2 * sinip * (3.0 + 5.0 * cosip) / den;
        V cosisq = cosip * cosip;
        con41 = 3.0 * cosisq - 1.0;
        x1mth2 = 1.0 - cosisq;
        x7thm1 = 7.0 * cosisq - 1.0;
    }
    // Near Earth the perigee's sine and cosine are the epoch's turned by its
    // change since.
    V sinargp, cosargp;
    if (s.deep) {
        lanes::sincos(p.argpp, &sinargp, &cosargp);
    } else {
        sinargp = s.sinargpo;
        cosargp = s.cosargpo;
        turn_or_eval(sinargp, cosargp, argpoff, [&] { return p.argpp; });
    }
    V axnl = p.ep * cosargp;
    V temp = 1.0 / (am * (1.0 - p.ep * p.ep));
    V aynl = p.ep * sinargp + temp * aycof;
    V xlcor = temp * xlcof * axnl;

    // Kepler's equation for the eccentric longitude u = xl - node (reduced
    // to one turn), at most ten steps, each correction limited to 0.95 rad.
    // sin and cos of the first guess u, then of each improved guess by
    // turning the previous ones through the step just taken.  Near Earth u
    // is m.mm + argpp + (no templ + xlcor): the sum of two angles whose sines
    // and cosines are known, turned by a small one.
    V u, eo1, tem5(9999.9), sineo1, coseo1;
    if (s.deep) {
        u = lanes::rem2pi((p.mp + p.argpp + p.nodep + xlcor) - p.nodep);
        lanes::sincos(u, &sineo1, &coseo1);
    } else {
        u = lanes::rem2pi(p.mp + p.argpp + xlcor);
        sineo1 = sinmm * cosargp + cosmm * sinargp;
        coseo1 = cosmm * cosargp - sinmm * sinargp;
        turn_or_eval(sineo1, coseo1, s.no_unkozai * templ + xlcor, [&] { return u; });
    }
    eo1 = u;
    for (int ktr = 1; ktr <= 10; ++ktr) {
        M active = lanes::abs(tem5) >= V(1.0e-12);
        if (!lanes::any(active)) break;
        if (ktr > 1) {
            V sn = sineo1, cs = coseo1;
            turn_or_eval(sn, cs, lanes::select(active, tem5, V(0.0)), [&] { return eo1; });
            sineo1 = lanes::select(active, sn, sineo1);
            coseo1 = lanes::select(active, cs, coseo1);
        }
        V step = 1.0 - coseo1 * axnl - sineo1 * aynl;
        step = (u - aynl * coseo1 + axnl * sineo1 - eo1) / step;
        step = lanes::select(lanes::abs(step) >= V(0.95), lanes::select(step > V(0.0), V(0.95), V(-0.95)), step);
        eo1 = lanes::select(active, eo1 + step, eo1);
        tem5 = lanes::select(active, step, tem5);
    }

    // Short-period periodics.
    V ecose = axnl * coseo1 + aynl * sineo1;
    V esine = axnl * sineo1 - aynl * coseo1;
    V el2 = axnl * axnl + aynl * aynl;
    V pl = am * (1.0 - el2);
    flag(code, !(pl >= V(0.0)), semi_latus);
    V rl = am * (1.0 - ecose);
    V rlinv = 1.0 / rl;
    V rdotl = lanes::sqrt(am) * esine * rlinv;
    V rvdotl = lanes::sqrt(pl) * rlinv;
    V betal = lanes::sqrt(1.0 - el2);
    temp = esine / (1.0 + betal);
    V sinu = am * rlinv * (sineo1 - aynl - axnl * temp);
    V cosu = am * rlinv * (coseo1 - axnl + aynl * temp);
    V sin2u = (cosu + cosu) * sinu;
    V cos2u = 1.0 - 2.0 * sinu * sinu;
    temp = 1.0 / pl;
    V temp1 = 0.5 * g.j2 * temp;
    V temp2 = temp1 * temp;

    V mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
    V dsu = 0.25 * temp2 * x7thm1 * sin2u;
    V dnode = 1.5 * temp2 * cosip * sin2u;
    V xnode = p.nodep + dnode;
    V dinc = 1.5 * temp2 * cosip * sinip * cos2u;
    V mvt = rdotl - nm * temp1 * x1mth2 * sin2u * g.tumin;
    V rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) * g.tumin;

    // Orientation vectors, then position and velocity.
    // su = atan2(sinu, cosu) - dsu: its sine and cosine are (sinu, cosu)
    // made unit, turned by -dsu.  The inclination's are those of inclp
    // turned by dinc.
    V hypot = lanes::sqrt(sinu * sinu + cosu * cosu);
    V inv = 1.0 / hypot;
    V sinsu = sinu * inv, cossu = cosu * inv;
    turn_or_eval(sinsu, cossu, -dsu, !((hypot >= V(1.0e-150)) & (hypot <= V(1.0e150))),
                 [&] { return lanes::atan2(sinu, cosu) - dsu; });
    V sini = sinip, cosi = cosip;
    turn_or_eval(sini, cosi, dinc, [&] { return p.inclp + dinc; });
    V snod = p.sinnode, cnod = p.cosnode;
    turn_or_eval(snod, cnod, p.nodeoff + dnode, !p.node_known, [&] { return xnode; });
    V xmx = -snod * cosi;
    V xmy = cnod * cosi;
    V ux = xmx * sinsu + cnod * cossu;
    V uy = xmy * sinsu + snod * cossu;
    V uz = sini * sinsu;
    V vx = xmx * cossu - cnod * sinsu;
    V vy = xmy * cossu - snod * sinsu;
    V vz = sini * cossu;
    const double vkmpersec = g.radius * g.xke / 60.0;
    out.r[0] = (mrt * ux) * g.radius;
    out.r[1] = (mrt * uy) * g.radius;
    out.r[2] = (mrt * uz) * g.radius;
    out.v[0] = (mvt * ux + rvdot * vx) * vkmpersec;
    out.v[1] = (mvt * uy + rvdot * vy) * vkmpersec;
    out.v[2] = (mvt * uz + rvdot * vz) * vkmpersec;
    flag(code, mrt < V(1.0), decayed);

    // Whatever else went wrong (elements no check above catches) is
    // reported with the first code rather than as a silent NaN.
    // x * 0 is 0 for finite x and NaN otherwise.
    V zero = out.r[0] * 0.0 + out.r[1] * 0.0 + out.r[2] * 0.0 + out.v[0] * 0.0 + out.v[1] * 0.0 + out.v[2] * 0.0;
    flag(code, !(zero == V(0.0)), eccentricity);
    M good = code == V(0.0);
    const V nan(__builtin_nan(""));
    for (int k = 0; k < 3; ++k) {
        out.r[k] = lanes::select(good, out.r[k], nan);
        out.v[k] = lanes::select(good, out.v[k], nan);
    }
    out.code = code;
    return out;
}

}  // namespace QV_SIMD_ISA
}  // namespace qv::sgp4
