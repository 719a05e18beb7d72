// Initialisation of one element set: the Brouwer mean motion recovered from
// the Kozai one, the secular gravity and drag coefficients, and for periods
// of 225 minutes or more the lunar-solar terms and the resonance set-up of
// the deep-space extension.  Runs once per set, so it uses the C library's
// mathematics; nothing here depends on the vector width of the samples.
#include <cmath>
#include <cstring>

#include "propagators/analytical/sgp4/propagator/sgp4.hpp"
#include "time/time/instants.hpp"

namespace qv::sgp4 {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double twopi = 2.0 * pi;
constexpr double x2o3 = 2.0 / 3.0;
constexpr double deg2rad = pi / 180.0;

// Greenwich mean sidereal time (IAU-82) of a UT1 Julian date, in [0, 2π).
double gstime(double jdut1) {
    double tut1 = (jdut1 - 2451545.0) / 36525.0;
    double temp = -6.2e-6 * tut1 * tut1 * tut1 + 0.093104 * tut1 * tut1 +
                  (876600.0 * 3600 + 8640184.812866) * tut1 + 67310.54841;  // seconds of time
    temp = std::fmod(temp * deg2rad / 240.0, twopi);
    if (temp < 0.0) temp += twopi;
    return temp;
}

// The operational code's sidereal time at epoch: its own series in days
// since 1970.
double gsto_afspc(double epoch) {
    double ts70 = epoch - 7305.0;
    double ds70 = std::floor(ts70 + 1.0e-8);
    double tfrac = ts70 - ds70;
    constexpr double c1 = 1.72027916940703639e-2;
    constexpr double thgr70 = 1.7321343856509374;
    constexpr double fk5r = 5.07551419432269442e-15;
    constexpr double c1p2p = c1 + twopi;
    double g = std::fmod(thgr70 + c1 * ds70 + c1p2p * tfrac + ts70 * ts70 * fk5r, twopi);
    if (g < 0.0) g += twopi;
    return g;
}

double pow4(double x) { return x * x * x * x; }

// Lunar and solar terms: the quantities the deep-space set-up shares
// between the periodic terms and the secular rates.
// The terms of one perturbing body (the Sun, then the Moon).
struct Body {
    double s1, s2, s3, s4, s5, s6, s7;
    double z1, z2, z3, z11, z12, z13, z21, z22, z23, z31, z32, z33;
};

struct Common {
    double snodm, cnodm, sinim, cosim, sinomm, cosomm, emsq, rtemsq;
    Body sun, moon;
};

// Coefficients of one body's periodic terms (eccentricity, inclination,
// mean longitude, perigee, node), `ze` its eccentricity constant.
struct PeriodicCoefficients {
    double e2, e3, i2, i3, l2, l3, l4, gh2, gh3, gh4, h2, h3;
};

PeriodicCoefficients periodic_coefficients(const Body& b, double emsq, double ze) {
    return {2.0 * b.s1 * b.s6,
            2.0 * b.s1 * b.s7,
            2.0 * b.s2 * b.z12,
            2.0 * b.s2 * (b.z13 - b.z11),
            -2.0 * b.s3 * b.z2,
            -2.0 * b.s3 * (b.z3 - b.z1),
            -2.0 * b.s3 * (-21.0 - 9.0 * emsq) * ze,
            2.0 * b.s4 * b.z32,
            2.0 * b.s4 * (b.z33 - b.z31),
            -18.0 * b.s4 * ze,
            -2.0 * b.s2 * b.z22,
            -2.0 * b.s2 * (b.z23 - b.z21)};
}

void dscom(double epoch, double ep, double argpp, double tc, double inclp, double nodep, double np, Common& c,
           Satellite& s) {
    constexpr double zes = 0.01675, zel = 0.05490;
    constexpr double c1ss = 2.9864797e-6, c1l = 4.7968065e-7;
    constexpr double zsinis = 0.39785416, zcosis = 0.91744867;
    constexpr double zcosgs = 0.1945905, zsings = -0.98088458;

    double nm = np, em = ep;
    c.snodm = std::sin(nodep);
    c.cnodm = std::cos(nodep);
    c.sinomm = std::sin(argpp);
    c.cosomm = std::cos(argpp);
    c.sinim = std::sin(inclp);
    c.cosim = std::cos(inclp);
    c.emsq = em * em;
    double betasq = 1.0 - c.emsq;
    c.rtemsq = std::sqrt(betasq);

    double day = epoch + 18261.5 + tc / 1440.0;
    double xnodce = std::fmod(4.5236020 - 9.2422029e-4 * day, twopi);
    double stem = std::sin(xnodce), ctem = std::cos(xnodce);
    double zcosil = 0.91375164 - 0.03568096 * ctem;
    double zsinil = std::sqrt(1.0 - zcosil * zcosil);
    double zsinhl = 0.089683511 * stem / zsinil;
    double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
    double gam = 5.8351514 + 0.0019443680 * day;
    double zx = 0.39785416 * stem / zsinil;
    double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;
    zx = std::atan2(zx, zy);
    zx = gam + zx - xnodce;
    double zcosgl = std::cos(zx), zsingl = std::sin(zx);

    // Sun first, then Moon.
    double zcosg = zcosgs, zsing = zsings, zcosi = zcosis, zsini = zsinis;
    double zcosh = c.cnodm, zsinh = c.snodm, cc = c1ss;
    double xnoi = 1.0 / nm;
    for (int lsflg = 1; lsflg <= 2; ++lsflg) {
        Body& b = lsflg == 1 ? c.sun : c.moon;
        double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
        double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
        double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
        double a8 = zsing * zsini;
        double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
        double a10 = zcosg * zsini;
        double a2 = c.cosim * a7 + c.sinim * a8;
        double a4 = c.cosim * a9 + c.sinim * a10;
        double a5 = -c.sinim * a7 + c.cosim * a8;
        double a6 = -c.sinim * a9 + c.cosim * a10;

        double x1 = a1 * c.cosomm + a2 * c.sinomm;
        double x2 = a3 * c.cosomm + a4 * c.sinomm;
        double x3 = -a1 * c.sinomm + a2 * c.cosomm;
        double x4 = -a3 * c.sinomm + a4 * c.cosomm;
        double x5 = a5 * c.sinomm;
        double x6 = a6 * c.sinomm;
        double x7 = a5 * c.cosomm;
        double x8 = a6 * c.cosomm;

        b.z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
        b.z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
        b.z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
        b.z1 = 3.0 * (a1 * a1 + a2 * a2) + b.z31 * c.emsq;
        b.z2 = 6.0 * (a1 * a3 + a2 * a4) + b.z32 * c.emsq;
        b.z3 = 3.0 * (a3 * a3 + a4 * a4) + b.z33 * c.emsq;
        b.z11 = -6.0 * a1 * a5 + c.emsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
        b.z12 = -6.0 * (a1 * a6 + a3 * a5) + c.emsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
        b.z13 = -6.0 * a3 * a6 + c.emsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
        b.z21 = 6.0 * a2 * a5 + c.emsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
        b.z22 = 6.0 * (a4 * a5 + a2 * a6) + c.emsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
        b.z23 = 6.0 * a4 * a6 + c.emsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
        b.z1 = b.z1 + b.z1 + betasq * b.z31;
        b.z2 = b.z2 + b.z2 + betasq * b.z32;
        b.z3 = b.z3 + b.z3 + betasq * b.z33;
        b.s3 = cc * xnoi;
        b.s2 = -0.5 * b.s3 / c.rtemsq;
        b.s4 = b.s3 * c.rtemsq;
        b.s1 = -15.0 * em * b.s4;
        b.s5 = x1 * x3 + x2 * x4;
        b.s6 = x2 * x3 + x1 * x4;
        b.s7 = x2 * x4 - x1 * x3;

        if (lsflg == 1) {
            zcosg = zcosgl;
            zsing = zsingl;
            zcosi = zcosil;
            zsini = zsinil;
            zcosh = zcoshl * c.cnodm + zsinhl * c.snodm;
            zsinh = c.snodm * zcoshl - c.cnodm * zsinhl;
            cc = c1l;
        }
    }

    s.zmol = std::fmod(4.7199672 + 0.22997150 * day - gam, twopi);
    s.zmos = std::fmod(6.2565837 + 0.017201977 * day, twopi);
    s.sinzmol = std::sin(s.zmol);
    s.coszmol = std::cos(s.zmol);
    s.sinzmos = std::sin(s.zmos);
    s.coszmos = std::cos(s.zmos);

    PeriodicCoefficients sun = periodic_coefficients(c.sun, c.emsq, zes);
    PeriodicCoefficients moon = periodic_coefficients(c.moon, c.emsq, zel);
    s.se2 = sun.e2, s.se3 = sun.e3, s.si2 = sun.i2, s.si3 = sun.i3, s.sl2 = sun.l2, s.sl3 = sun.l3;
    s.sl4 = sun.l4, s.sgh2 = sun.gh2, s.sgh3 = sun.gh3, s.sgh4 = sun.gh4, s.sh2 = sun.h2, s.sh3 = sun.h3;
    s.ee2 = moon.e2, s.e3 = moon.e3, s.xi2 = moon.i2, s.xi3 = moon.i3, s.xl2 = moon.l2, s.xl3 = moon.l3;
    s.xl4 = moon.l4, s.xgh2 = moon.gh2, s.xgh3 = moon.gh3, s.xgh4 = moon.gh4, s.xh2 = moon.h2, s.xh3 = moon.h3;
}

// Secular lunar-solar rates and the resonance coefficients.
void dsinit(const Common& c, double eccsq, double xpidot, Satellite& s) {
    constexpr double q22 = 1.7891679e-6, q31 = 2.1460748e-6, q33 = 2.2123015e-7;
    constexpr double root22 = 1.7891679e-6, root44 = 7.3636953e-9, root54 = 2.1765803e-9;
    constexpr double rptim = 4.37526908801129966e-3;  // Earth's rotation, rad/min
    constexpr double root32 = 3.7393792e-7, root52 = 1.1428639e-7;
    constexpr double znl = 1.5835218e-4, zns = 1.19459e-5;

    double nm = s.no_unkozai, em = s.ecco, emsq = c.emsq, inclm = s.inclo;
    double sinim = c.sinim, cosim = c.cosim;

    s.irez = 0;
    if (nm < 0.0052359877 && nm > 0.0034906585) s.irez = 1;
    if (nm >= 8.26e-3 && nm <= 9.24e-3 && em >= 0.5) s.irez = 2;

    // Sun.
    double ses = c.sun.s1 * zns * c.sun.s5;
    double sis = c.sun.s2 * zns * (c.sun.z11 + c.sun.z13);
    double sls = -zns * c.sun.s3 * (c.sun.z1 + c.sun.z3 - 14.0 - 6.0 * emsq);
    double sghs = c.sun.s4 * zns * (c.sun.z31 + c.sun.z33 - 6.0);
    double shs = -zns * c.sun.s2 * (c.sun.z21 + c.sun.z23);
    // Near 0 or 180 degrees the node rate is left out.
    if (inclm < 5.2359877e-2 || inclm > pi - 5.2359877e-2) shs = 0.0;
    if (sinim != 0.0) shs = shs / sinim;
    double sgs = sghs - cosim * shs;

    // Moon.
    s.dedt = ses + c.moon.s1 * znl * c.moon.s5;
    s.didt = sis + c.moon.s2 * znl * (c.moon.z11 + c.moon.z13);
    s.dmdt = sls - znl * c.moon.s3 * (c.moon.z1 + c.moon.z3 - 14.0 - 6.0 * emsq);
    double sghl = c.moon.s4 * znl * (c.moon.z31 + c.moon.z33 - 6.0);
    double shll = -znl * c.moon.s2 * (c.moon.z21 + c.moon.z23);
    if (inclm < 5.2359877e-2 || inclm > pi - 5.2359877e-2) shll = 0.0;
    s.domdt = sgs + sghl;
    s.dnodt = shs;
    if (sinim != 0.0) {
        s.domdt = s.domdt - cosim / sinim * shll;
        s.dnodt = s.dnodt + shll / sinim;
    }

    if (s.irez == 0) return;
    for (int k = 0; k < 5; ++k) {
        s.phase_sin[k] = std::sin(resonance_phases[s.irez - 1][k]);
        s.phase_cos[k] = std::cos(resonance_phases[s.irez - 1][k]);
    }
    double theta = std::fmod(s.gsto, twopi);  // at epoch (tc = 0)
    double aonv = std::pow(nm / s.grav.xke, x2o3);

    if (s.irez == 2) {
        // Half-day resonance (Molniya-like orbits); the coefficients use the
        // epoch eccentricity.
        double cosisq = cosim * cosim;
        em = s.ecco;
        emsq = eccsq;
        double eoc = em * emsq;
        double g201 = -0.306 - (em - 0.64) * 0.440;
        double g211, g310, g322, g410, g422, g520, g521, g532, g533;
        if (em <= 0.65) {
            g211 = 3.616 - 13.2470 * em + 16.2900 * emsq;
            g310 = -19.302 + 117.3900 * em - 228.4190 * emsq + 156.5910 * eoc;
            g322 = -18.9068 + 109.7927 * em - 214.6334 * emsq + 146.5816 * eoc;
            g410 = -41.122 + 242.6940 * em - 471.0940 * emsq + 313.9530 * eoc;
            g422 = -146.407 + 841.8800 * em - 1629.014 * emsq + 1083.4350 * eoc;
            g520 = -532.114 + 3017.977 * em - 5740.032 * emsq + 3708.2760 * eoc;
        } else {
            g211 = -72.099 + 331.819 * em - 508.738 * emsq + 266.724 * eoc;
            g310 = -346.844 + 1582.851 * em - 2415.925 * emsq + 1246.113 * eoc;
            g322 = -342.585 + 1554.908 * em - 2366.899 * emsq + 1215.972 * eoc;
            g410 = -1052.797 + 4758.686 * em - 7193.992 * emsq + 3651.957 * eoc;
            g422 = -3581.690 + 16178.110 * em - 24462.770 * emsq + 12422.520 * eoc;
            if (em > 0.715)
                g520 = -5149.66 + 29936.92 * em - 54087.36 * emsq + 31324.56 * eoc;
            else
                g520 = 1464.74 - 4664.75 * em + 3763.64 * emsq;
        }
        if (em < 0.7) {
            g533 = -919.22770 + 4988.6100 * em - 9064.7700 * emsq + 5542.21 * eoc;
            g521 = -822.71072 + 4568.6173 * em - 8491.4146 * emsq + 5337.524 * eoc;
            g532 = -853.66600 + 4690.2500 * em - 8624.7700 * emsq + 5341.4 * eoc;
        } else {
            g533 = -37995.780 + 161616.52 * em - 229838.20 * emsq + 109377.94 * eoc;
            g521 = -51752.104 + 218913.95 * em - 309468.16 * emsq + 146349.42 * eoc;
            g532 = -40023.880 + 170470.89 * em - 242699.48 * emsq + 115605.82 * eoc;
        }
        double sini2 = sinim * sinim;
        double f220 = 0.75 * (1.0 + 2.0 * cosim + cosisq);
        double f221 = 1.5 * sini2;
        double f321 = 1.875 * sinim * (1.0 - 2.0 * cosim - 3.0 * cosisq);
        double f322 = -1.875 * sinim * (1.0 + 2.0 * cosim - 3.0 * cosisq);
        double f441 = 35.0 * sini2 * f220;
        double f442 = 39.3750 * sini2 * sini2;
        double f522 = 9.84375 * sinim *
                      (sini2 * (1.0 - 2.0 * cosim - 5.0 * cosisq) + 0.33333333 * (-2.0 + 4.0 * cosim + 6.0 * cosisq));
        double f523 = sinim * (4.92187512 * sini2 * (-2.0 - 4.0 * cosim + 10.0 * cosisq) +
                               6.56250012 * (1.0 + 2.0 * cosim - 3.0 * cosisq));
        double f542 = 29.53125 * sinim * (2.0 - 8.0 * cosim + cosisq * (-12.0 + 8.0 * cosim + 10.0 * cosisq));
        double f543 = 29.53125 * sinim * (-2.0 - 8.0 * cosim + cosisq * (12.0 + 8.0 * cosim - 10.0 * cosisq));
        double xno2 = nm * nm;
        double ainv2 = aonv * aonv;
        double temp1 = 3.0 * xno2 * ainv2;
        double temp = temp1 * root22;
        s.d2201 = temp * f220 * g201;
        s.d2211 = temp * f221 * g211;
        temp1 = temp1 * aonv;
        temp = temp1 * root32;
        s.d3210 = temp * f321 * g310;
        s.d3222 = temp * f322 * g322;
        temp1 = temp1 * aonv;
        temp = 2.0 * temp1 * root44;
        s.d4410 = temp * f441 * g410;
        s.d4422 = temp * f442 * g422;
        temp1 = temp1 * aonv;
        temp = temp1 * root52;
        s.d5220 = temp * f522 * g520;
        s.d5232 = temp * f523 * g532;
        temp = 2.0 * temp1 * root54;
        s.d5421 = temp * f542 * g521;
        s.d5433 = temp * f543 * g533;
        s.xlamo = std::fmod(s.mo + s.nodeo + s.nodeo - theta - theta, twopi);
        s.xfact = s.mdot + s.dmdt + 2.0 * (s.nodedot + s.dnodt - rptim) - s.no_unkozai;
    } else {
        // One-day (synchronous) resonance.
        double g200 = 1.0 + emsq * (-2.5 + 0.8125 * emsq);
        double g310 = 1.0 + 2.0 * emsq;
        double g300 = 1.0 + emsq * (-6.0 + 6.60937 * emsq);
        double f220 = 0.75 * (1.0 + cosim) * (1.0 + cosim);
        double f311 = 0.9375 * sinim * sinim * (1.0 + 3.0 * cosim) - 0.75 * (1.0 + cosim);
        double f330 = 1.0 + cosim;
        f330 = 1.875 * f330 * f330 * f330;
        s.del1 = 3.0 * nm * nm * aonv * aonv;
        s.del2 = 2.0 * s.del1 * f220 * g200 * q22;
        s.del3 = 3.0 * s.del1 * f330 * g300 * q33 * aonv;
        s.del1 = s.del1 * f311 * g310 * q31 * aonv;
        s.xlamo = std::fmod(s.mo + s.nodeo + s.argpo - theta, twopi);
        s.xfact = s.mdot + xpidot - rptim + s.dmdt + s.domdt + s.dnodt - s.no_unkozai;
    }
}

}  // namespace

GravityModel gravity_model(Gravity g) noexcept {
    GravityModel m{};
    switch (g) {
        case Gravity::wgs72old:
            m.mu = 398600.79964;
            m.radius = 6378.135;
            m.xke = 0.0743669161;
            m.j2 = 0.001082616;
            m.j3 = -0.00000253881;
            m.j4 = -0.00000165597;
            break;
        case Gravity::wgs72:
            m.mu = 398600.8;
            m.radius = 6378.135;
            m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
            m.j2 = 0.001082616;
            m.j3 = -0.00000253881;
            m.j4 = -0.00000165597;
            break;
        case Gravity::wgs84:
            m.mu = 398600.5;
            m.radius = 6378.137;
            m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
            m.j2 = 0.00108262998905;
            m.j3 = -0.00000253215306;
            m.j4 = -0.00000161098761;
            break;
    }
    m.tumin = 1.0 / m.xke;
    m.j3oj2 = m.j3 / m.j2;
    return m;
}

double epoch_days(std::int64_t ns) noexcept {
    using time::ns_per_day;
    std::int64_t days = ns / ns_per_day, rest = ns % ns_per_day;
    if (rest < 0) rest += ns_per_day, days -= 1;
    // 1949-12-31 00:00 is 7306 days before 1970-01-01 00:00.
    return static_cast<double>(days + 7306) + static_cast<double>(rest) / static_cast<double>(ns_per_day);
}

void initialize(const Elements& el, Gravity gravity, Mode mode, Satellite* out) noexcept {
    Satellite s;
    std::memset(&s, 0, sizeof s);
    s.grav = gravity_model(gravity);
    s.mode = mode;
    const GravityModel& g = s.grav;
    s.ecco = el.ecco;
    s.inclo = el.inclo;
    s.nodeo = el.nodeo;
    s.argpo = el.argpo;
    s.mo = el.mo;
    s.bstar = el.bstar;

    constexpr double temp4 = 1.5e-12;
    double ss = 78.0 / g.radius + 1.0;
    double qzms2t = pow4((120.0 - 78.0) / g.radius);

    // Brouwer mean motion and semi-major axis from the Kozai mean motion.
    double eccsq = s.ecco * s.ecco;
    double omeosq = 1.0 - eccsq;
    double rteosq = std::sqrt(omeosq);
    double cosio = std::cos(s.inclo);
    double cosio2 = cosio * cosio;
    double ak = std::pow(g.xke / el.no_kozai, x2o3);
    double d1 = 0.75 * g.j2 * (3.0 * cosio2 - 1.0) / (rteosq * omeosq);
    double del = d1 / (ak * ak);
    double adel = ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
    del = d1 / (adel * adel);
    s.no_unkozai = el.no_kozai / (1.0 + del);
    double ao = std::pow(g.xke / s.no_unkozai, x2o3);
    double sinio = std::sin(s.inclo);
    s.ao = ao;
    s.sinio = sinio;
    s.cosio = cosio;
    s.sinnodeo = std::sin(s.nodeo);
    s.cosnodeo = std::cos(s.nodeo);
    s.sinargpo = std::sin(s.argpo);
    s.cosargpo = std::cos(s.argpo);
    double po = ao * omeosq;
    double con42 = 1.0 - 5.0 * cosio2;
    s.con41 = -con42 - cosio2 - cosio2;
    double posq = po * po;
    double rp = ao * (1.0 - s.ecco);

    s.gsto = mode == Mode::afspc ? gsto_afspc(el.epoch) : gstime(el.epoch + 2433281.5);

    if (omeosq >= 0.0 || s.no_unkozai >= 0.0) {
        s.simple = rp < 220.0 / g.radius + 1.0;
        // Atmospheric density parameter, lowered for perigees below 156 km.
        double sfour = ss, qzms24 = qzms2t;
        double perige = (rp - 1.0) * g.radius;
        if (perige < 156.0) {
            sfour = perige - 78.0;
            if (perige < 98.0) sfour = 20.0;
            qzms24 = pow4((120.0 - sfour) / g.radius);
            sfour = sfour / g.radius + 1.0;
        }
        double pinvsq = 1.0 / posq;
        double tsi = 1.0 / (ao - sfour);
        s.eta = ao * s.ecco * tsi;
        double etasq = s.eta * s.eta;
        double eeta = s.ecco * s.eta;
        double psisq = std::fabs(1.0 - etasq);
        double coef = qzms24 * std::pow(tsi, 4.0);
        double coef1 = coef / std::pow(psisq, 3.5);
        double cc2 = coef1 * s.no_unkozai *
                     (ao * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                      0.375 * g.j2 * tsi / psisq * s.con41 * (8.0 + 3.0 * etasq * (8.0 + etasq)));
        s.cc1 = s.bstar * cc2;
        double cc3 = 0.0;
        if (s.ecco > 1.0e-4) cc3 = -2.0 * coef * tsi * g.j3oj2 * s.no_unkozai * sinio / s.ecco;
        s.x1mth2 = 1.0 - cosio2;
        s.cc4 = 2.0 * s.no_unkozai * coef1 * ao * omeosq *
                (s.eta * (2.0 + 0.5 * etasq) + s.ecco * (0.5 + 2.0 * etasq) -
                 g.j2 * tsi / (ao * psisq) *
                     (-3.0 * s.con41 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
                      0.75 * s.x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * s.argpo)));
        s.cc5 = 2.0 * coef1 * ao * omeosq * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
        double cosio4 = cosio2 * cosio2;
        double temp1 = 1.5 * g.j2 * pinvsq * s.no_unkozai;
        double temp2 = 0.5 * temp1 * g.j2 * pinvsq;
        double temp3 = -0.46875 * g.j4 * pinvsq * pinvsq * s.no_unkozai;
        s.mdot = s.no_unkozai + 0.5 * temp1 * rteosq * s.con41 +
                 0.0625 * temp2 * rteosq * (13.0 - 78.0 * cosio2 + 137.0 * cosio4);
        s.argpdot = -0.5 * temp1 * con42 + 0.0625 * temp2 * (7.0 - 114.0 * cosio2 + 395.0 * cosio4) +
                    temp3 * (3.0 - 36.0 * cosio2 + 49.0 * cosio4);
        double xhdot1 = -temp1 * cosio;
        s.nodedot = xhdot1 + (0.5 * temp2 * (4.0 - 19.0 * cosio2) + 2.0 * temp3 * (3.0 - 7.0 * cosio2)) * cosio;
        double xpidot = s.argpdot + s.nodedot;
        s.omgcof = s.bstar * cc3 * std::cos(s.argpo);
        s.xmcof = 0.0;
        if (s.ecco > 1.0e-4) s.xmcof = -x2o3 * coef * s.bstar / eeta;
        s.nodecf = 3.5 * omeosq * xhdot1 * s.cc1;
        s.t2cof = 1.5 * s.cc1;
        // Guard against division by zero at 180 degrees inclination.
        if (std::fabs(cosio + 1.0) > 1.5e-12)
            s.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / (1.0 + cosio);
        else
            s.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / temp4;
        s.aycof = -0.5 * g.j3oj2 * sinio;
        double delmotemp = 1.0 + s.eta * std::cos(s.mo);
        s.delmo = delmotemp * delmotemp * delmotemp;
        s.sinmao = std::sin(s.mo);
        s.x7thm1 = 7.0 * cosio2 - 1.0;

        if (twopi / s.no_unkozai >= 225.0) {
            s.deep = true;
            s.simple = true;
            Common c;
            dscom(el.epoch, s.ecco, s.argpo, 0.0, s.inclo, s.nodeo, s.no_unkozai, c, s);
            dsinit(c, eccsq, xpidot, s);
        }

        if (!s.simple) {
            double cc1sq = s.cc1 * s.cc1;
            s.d2 = 4.0 * ao * tsi * cc1sq;
            double temp = s.d2 * tsi * s.cc1 / 3.0;
            s.d3 = (17.0 * ao + sfour) * temp;
            s.d4 = 0.5 * temp * ao * tsi * (221.0 * ao + 31.0 * sfour) * s.cc1;
            s.t3cof = s.d2 + 2.0 * cc1sq;
            s.t4cof = 0.25 * (3.0 * s.d3 + s.cc1 * (12.0 * s.d2 + 10.0 * cc1sq));
            s.t5cof = 0.2 * (3.0 * s.d4 + 12.0 * s.cc1 * s.d3 + 6.0 * s.d2 * s.d2 + 15.0 * cc1sq * (2.0 * s.d2 + cc1sq));
        }
    }
    *out = s;
}

}  // namespace qv::sgp4
