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

#include <cfloat>

#include "mathtools/simd/lanes.hpp"
#include "mathtools/simd/vmath.hpp"
#include "propagators/analytical/sgp4/propagator/sgp4.hpp"

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

// Mean elements of a sample on their way through the deep-space terms.
template <class V>
struct Mean {
    V em, argpm, inclm, mm, nodem, nm;
};

// The resonance integrator at a whole step: time (minutes from epoch, 0 for
// none), mean longitude and mean motion there.  A caller that propagates
// one set at a run of times may hand the state of one sample to the next:
// resuming from a whole step gives the same bits as integrating from epoch
// (the same steps in the same order), so results never depend on it.
template <class V>
struct Resonance {
    V atime = V(0.0), xli = V(0.0), xni = V(0.0);
};

// Lunar-solar secular rates and resonance of the deep-space extension: the
// resonance integrates the mean motion and longitude from epoch (or from
// the whole step in `state`, when it lies between epoch and t) in steps of
// 720 minutes (Euler-Maclaurin), then to the sample's time from the last
// whole step.
template <class V>
inline void deep_secular(const Satellite& s, V t, Mean<V>& m, Resonance<V>& state) {
    constexpr double fasx2 = 0.13130908, fasx4 = 2.8843198, fasx6 = 0.37448087;
    constexpr double g22 = 5.7686396, g32 = 0.95240898, g44 = 1.8014998, g52 = 1.0508330, g54 = 4.4108898;
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
    V delt = lanes::select(t > V(0.0), V(stepp), V(stepn));
    V xndt, xldot, xnddt;
    for (;;) {
        if (s.irez != 2) {
            V a1 = xli - fasx2, a2 = 2.0 * (xli - fasx4), a3 = 3.0 * (xli - fasx6);
            V s1, c1, s2, c2, s3, c3;
            lanes::sincos(a1, &s1, &c1);
            lanes::sincos(a2, &s2, &c2);
            lanes::sincos(a3, &s3, &c3);
            xndt = s.del1 * s1 + s.del2 * s2 + s.del3 * s3;
            xldot = xni + s.xfact;
            xnddt = s.del1 * c1 + 2.0 * s.del2 * c2 + 3.0 * s.del3 * c3;
            xnddt = xnddt * xldot;
        } else {
            V xomi = s.argpo + s.argpdot * atime;
            V x2omi = xomi + xomi;
            V x2li = xli + xli;
            V sa, ca, sb, cb, sc, cc, sd, cd, se, ce, sf, cf, sg, cg, sh, ch, si, ci, sj, cj;
            lanes::sincos(x2omi + xli - g22, &sa, &ca);
            lanes::sincos(xli - g22, &sb, &cb);
            lanes::sincos(xomi + xli - g32, &sc, &cc);
            lanes::sincos(-xomi + xli - g32, &sd, &cd);
            lanes::sincos(x2omi + x2li - g44, &se, &ce);
            lanes::sincos(x2li - g44, &sf, &cf);
            lanes::sincos(xomi + xli - g52, &sg, &cg);
            lanes::sincos(-xomi + xli - g52, &sh, &ch);
            lanes::sincos(xomi + x2li - g54, &si, &ci);
            lanes::sincos(-xomi + x2li - g54, &sj, &cj);
            xndt = s.d2201 * sa + s.d2211 * sb + s.d3210 * sc + s.d3222 * sd + s.d4410 * se + s.d4422 * sf +
                   s.d5220 * sg + s.d5232 * sh + s.d5421 * si + s.d5433 * sj;
            xldot = xni + s.xfact;
            xnddt = s.d2201 * ca + s.d2211 * cb + s.d3210 * cc + s.d3222 * cd + s.d5220 * cg + s.d5232 * ch +
                    2.0 * (s.d4410 * ce + s.d4422 * cf + s.d5421 * ci + s.d5433 * cj);
            xnddt = xnddt * xldot;
        }
        auto more = lanes::abs(t - atime) >= V(stepp);
        if (!lanes::any(more)) break;
        xli = lanes::select(more, xli + xldot * delt + xndt * step2, xli);
        xni = lanes::select(more, xni + xndt * delt + xnddt * step2, xni);
        atime = lanes::select(more, atime + delt, atime);
    }
    state.atime = atime;
    state.xli = xli;
    state.xni = xni;
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

// Periodic elements after the lunar-solar periodics.
template <class V>
struct Periodic {
    V ep, inclp, nodep, argpp, mp;
};

template <class V>
inline void deep_periodics(const Satellite& s, V t, Periodic<V>& p) {
    constexpr double zns = 1.19459e-5, zes = 0.01675, znl = 1.5835218e-4, zel = 0.05490;

    V zm = s.zmos + zns * t;
    V zf = zm + 2.0 * zes * lanes::sin(zm);
    V sinzf, coszf;
    lanes::sincos(zf, &sinzf, &coszf);
    V f2 = 0.5 * sinzf * sinzf - 0.25;
    V f3 = -0.5 * sinzf * coszf;
    V ses = s.se2 * f2 + s.se3 * f3;
    V sis = s.si2 * f2 + s.si3 * f3;
    V sls = s.sl2 * f2 + s.sl3 * f3 + s.sl4 * sinzf;
    V sghs = s.sgh2 * f2 + s.sgh3 * f3 + s.sgh4 * sinzf;
    V shs = s.sh2 * f2 + s.sh3 * f3;
    zm = s.zmol + znl * t;
    zf = zm + 2.0 * zel * lanes::sin(zm);
    lanes::sincos(zf, &sinzf, &coszf);
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

    p.inclp = p.inclp + pinc;
    p.ep = p.ep + pe;
    V sinip, cosip;
    lanes::sincos(p.inclp, &sinip, &cosip);

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
    }
    if (!lanes::all(direct)) {
        V sinop, cosop;
        lanes::sincos(p.nodep, &sinop, &cosop);
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
    V argpdf = s.argpo + s.argpdot * t;
    V nodedf = s.nodeo + s.nodedot * t;
    V t2 = t * t;
    Mean<V> m{V(s.ecco), argpdf, V(s.inclo), xmdf, nodedf + s.nodecf * t2, V(s.no_unkozai)};
    V tempa = 1.0 - s.cc1 * t;
    V tempe = s.bstar * s.cc4 * t;
    V templ = s.t2cof * t2;
    if (!s.simple) {
        V delomg = s.omgcof * t;
        V delmtemp = 1.0 + s.eta * lanes::cos(xmdf);
        V delm = s.xmcof * (delmtemp * delmtemp * delmtemp - s.delmo);
        V temp = delomg + delm;
        m.mm = xmdf + temp;
        m.argpm = argpdf - temp;
        V t3 = t2 * t;
        V t4 = t3 * t;
        tempa = tempa - s.d2 * t2 - s.d3 * t3 - s.d4 * t4;
        tempe = tempe + s.bstar * s.cc5 * (lanes::sin(m.mm) - s.sinmao);
        templ = templ + s.t3cof * t3 + t4 * (s.t4cof + t * s.t5cof);
    }
    if (s.deep) deep_secular(s, t, m, resonance);

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
    V xlm = mm + m.argpm + m.nodem;
    V nodem = lanes::rem2pi(m.nodem);
    V argpm = lanes::rem2pi(m.argpm);
    xlm = lanes::rem2pi(xlm);
    mm = lanes::rem2pi(xlm - argpm - nodem);

    // Lunar-solar periodics and the long-period terms that depend on the
    // perturbed inclination.
    Periodic<V> p{em, m.inclm, nodem, argpm, mm};
    V sinip(s.sinio), cosip(s.cosio), aycof(s.aycof), xlcof(s.xlcof);
    V con41(s.con41), x1mth2(s.x1mth2), x7thm1(s.x7thm1);
    if (s.deep) {
        deep_periodics(s, t, p);
        M negative = p.inclp < V(0.0);
        p.inclp = lanes::select(negative, -p.inclp, p.inclp);
        p.nodep = lanes::select(negative, p.nodep + pi, p.nodep);
        p.argpp = lanes::select(negative, p.argpp - pi, p.argpp);
        flag(code, !((p.ep >= V(0.0)) & (p.ep <= V(1.0))), perturbed_ecc);
        lanes::sincos(p.inclp, &sinip, &cosip);
        aycof = -0.5 * g.j3oj2 * sinip;
        V den = lanes::select(lanes::abs(cosip + 1.0) > V(1.5e-12), 1.0 + cosip, V(temp4));
        xlcof = -0.25 * g.j3oj2 * sinip * (3.0 + 5.0 * cosip) / den;
        V cosisq = cosip * cosip;
        con41 = 3.0 * cosisq - 1.0;
        x1mth2 = 1.0 - cosisq;
        x7thm1 = 7.0 * cosisq - 1.0;
    }
    V sinargp, cosargp;
    lanes::sincos(p.argpp, &sinargp, &cosargp);
    V axnl = p.ep * cosargp;
    V temp = 1.0 / (am * (1.0 - p.ep * p.ep));
    V aynl = p.ep * sinargp + temp * aycof;
    V xl = p.mp + p.argpp + p.nodep + temp * xlcof * axnl;

    // Kepler's equation for the eccentric longitude, at most ten steps,
    // each correction limited to 0.95 rad.
    V u = lanes::rem2pi(xl - p.nodep);
    V eo1 = u, tem5(9999.9), sineo1(0.0), coseo1(0.0);
    for (int ktr = 1; ktr <= 10; ++ktr) {
        M active = lanes::abs(tem5) >= V(1.0e-12);
        if (!lanes::any(active)) break;
        V sn, cs;
        lanes::sincos(eo1, &sn, &cs);
        sineo1 = lanes::select(active, sn, sineo1);
        coseo1 = lanes::select(active, cs, coseo1);
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
    V rdotl = lanes::sqrt(am) * esine / rl;
    V rvdotl = lanes::sqrt(pl) / rl;
    V betal = lanes::sqrt(1.0 - el2);
    temp = esine / (1.0 + betal);
    V sinu = am / rl * (sineo1 - aynl - axnl * temp);
    V cosu = am / rl * (coseo1 - axnl + aynl * temp);
    V su = lanes::atan2(sinu, cosu);
    V sin2u = (cosu + cosu) * sinu;
    V cos2u = 1.0 - 2.0 * sinu * sinu;
    temp = 1.0 / pl;
    V temp1 = 0.5 * g.j2 * temp;
    V temp2 = temp1 * temp;

    V mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
    su = su - 0.25 * temp2 * x7thm1 * sin2u;
    V xnode = p.nodep + 1.5 * temp2 * cosip * sin2u;
    V xinc = p.inclp + 1.5 * temp2 * cosip * sinip * cos2u;
    V mvt = rdotl - nm * temp1 * x1mth2 * sin2u / g.xke;
    V rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) / g.xke;

    // Orientation vectors, then position and velocity.
    V sinsu, cossu, snod, cnod, sini, cosi;
    lanes::sincos(su, &sinsu, &cossu);
    lanes::sincos(xnode, &snod, &cnod);
    lanes::sincos(xinc, &sini, &cosi);
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
    M finite = V(0.0) == V(0.0);
    for (int k = 0; k < 3; ++k) finite = finite & (lanes::abs(out.r[k]) <= V(DBL_MAX)) & (lanes::abs(out.v[k]) <= V(DBL_MAX));
    flag(code, !finite, eccentricity);
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
