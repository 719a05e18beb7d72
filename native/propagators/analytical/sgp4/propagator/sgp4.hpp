// SGP4 with its deep-space extension (SDP4): the analytical propagator of
// two-line element sets, after Hoots & Roehrich, Spacetrack Report No. 3
// (1980), as revised by Vallado, Crawford, Hujsak & Kelso, "Revisiting
// Spacetrack Report #3" (AIAA 2006-6753).
//
// Initialisation (init.cpp) turns one element set into a `Satellite`: the
// constants every sample of that set shares, computed once with the C
// library's mathematics.  A sample (propagate.hpp) is one template over the
// lane type of the vector kernels, so one, four or eight times of one set run
// together with the same bits per lane.  Internally the algorithm works in
// earth radii and minutes; the batch layer converts to metres and m/s.
//
// Plain C++: no Python, no allocation, no shared state between calls.
#pragma once

#include <cstdint>

namespace qv::sgp4 {

// Gravity constants of the published models.  `xke` is sqrt(GM / Re³) in
// 1/min (earth radii, minutes); the old WGS-72 value is the one of the
// original report.
enum class Gravity { wgs72old, wgs72, wgs84 };

struct GravityModel {
    double mu;      // km³/s²
    double radius;  // equatorial radius, km
    double xke;     // 1/min
    double tumin;   // min
    double j2, j3, j4, j3oj2;
};

GravityModel gravity_model(Gravity g) noexcept;

// "improved" is the revised algorithm's choice; "afspc" reproduces the
// operational code (sidereal time at epoch from its own series, node angles
// kept in [0, 2π) in the Lyddane branch).
enum class Mode { improved, afspc };

// Error codes of one sample.  Position and velocity are NaN whenever the
// code is not ok.
enum Error : std::int8_t {
    ok = 0,
    eccentricity = 1,    // mean eccentricity outside [-0.001, 1) (or not a number)
    mean_motion = 2,     // mean motion not positive (or not a number)
    perturbed_ecc = 3,   // perturbed eccentricity outside [0, 1]
    semi_latus = 4,      // semi-latus rectum negative
    suborbital = 5,      // epoch elements sub-orbital (withdrawn in the revised algorithm; never given)
    decayed = 6,         // radius below one earth radius
    bad_time = 7,        // time not finite (NaN, infinity, NaT) or beyond ±max_tsince
};

// Samples further than this from the epoch (minutes, ~1,900 years) get
// bad_time: the resonance integration steps 720 minutes at a time from
// epoch, and no element set means anything that far out.
inline constexpr double max_tsince = 1.0e9;

// What initialisation needs of an element set: the mean elements as the
// record states them (radians, rad/min), B* (1/earth radii) and the epoch
// in days since 1949-12-31 00:00 UT.
struct Elements {
    double epoch;    // days since 1949-12-31 00:00 UT
    double bstar;    // 1/earth radii
    double inclo;    // rad
    double nodeo;    // rad
    double ecco;     // 1
    double argpo;    // rad
    double mo;       // rad
    double no_kozai; // rad/min, Kozai mean motion
};

// Phase constants of the resonance terms (radians): the one-day resonance's
// three (fasx2, fasx4, fasx6), the half-day resonance's five (g22, g32,
// g44, g52, g54).
inline constexpr double resonance_phases[2][5] = {
    {0.13130908, 2.8843198, 0.37448087, 0.0, 0.0},
    {5.7686396, 0.95240898, 1.8014998, 1.0508330, 4.4108898},
};

// Everything a sample of one set reads.  Filled by `initialize`, read-only
// afterwards; trivially copyable.
struct Satellite {
    // Settings and model.
    GravityModel grav;
    Mode mode;
    bool deep;    // period ≥ 225 minutes: SDP4
    bool simple;  // perigee below 220 km (or deep space): drop the higher drag terms
    int irez;     // 0 none, 1 one-day (synchronous), 2 half-day resonance

    // Mean elements at epoch.
    double ecco, inclo, nodeo, argpo, mo, bstar, no_unkozai;
    double ao;            // (xke / no_unkozai)^(2/3), earth radii
    double sinio, cosio;      // of the epoch inclination
    double sinnodeo, cosnodeo;  // of the epoch node
    double sinargpo, cosargpo;  // of the epoch argument of perigee

    // Near-Earth secular and drag terms.
    double aycof, con41, cc1, cc4, cc5, d2, d3, d4, delmo, eta, argpdot, omgcof, sinmao, t2cof, t3cof, t4cof, t5cof,
        x1mth2, x7thm1, mdot, nodedot, xlcof, xmcof, nodecf;

    // Deep space: lunar-solar periodics.
    double e3, ee2, se2, se3, sgh2, sgh3, sgh4, sh2, sh3, si2, si3, sl2, sl3, sl4, xgh2, xgh3, xgh4, xh2, xh3, xi2,
        xi3, xl2, xl3, xl4, zmol, zmos;
    double sinzmos, coszmos, sinzmol, coszmol;  // of zmos and zmol
    // Deep space: sin and cos of the set's resonance phases (resonance_phases[irez - 1]).
    double phase_sin[5], phase_cos[5];
    // Deep space: secular rates and resonance.
    double gsto, dedt, didt, dmdt, dnodt, domdt, d2201, d2211, d3210, d3222, d4410, d4422, d5220, d5232, d5421,
        d5433, del1, del2, del3, xfact, xlamo;
};

// Set up `sat` from the elements.  Never fails: elements that cannot be
// propagated give error codes at every sample.
void initialize(const Elements& el, Gravity gravity, Mode mode, Satellite* sat) noexcept;

// Days since 1949-12-31 00:00 UT of an instant in nanoseconds since 1970
// (UTC, no leap seconds): whole days and the fraction kept apart until the
// last addition.
double epoch_days(std::int64_t ns) noexcept;

// Minutes from `epoch_ns` to `t_ns`, from the exact integer difference:
// below 2^53 ns (104 days) that difference is a double and one division
// rounds the quotient correctly; beyond, whole minutes and the nanoseconds
// left are converted apart (so no difference overflows).
inline double minutes_between_far(std::int64_t epoch_ns, std::int64_t t_ns) noexcept {
    constexpr std::int64_t ns_per_minute = 60LL * 1000000000LL;
    // Whole minutes and nanoseconds of each instant, so no difference overflows.
    std::int64_t qe = epoch_ns / ns_per_minute, re = epoch_ns % ns_per_minute;
    std::int64_t qt = t_ns / ns_per_minute, rt = t_ns % ns_per_minute;
    std::int64_t q = qt - qe, r = rt - re;  // |r| < 2 minutes
    return static_cast<double>(q) + static_cast<double>(r) / 60.0e9;
}

inline double minutes_between(std::int64_t epoch_ns, std::int64_t t_ns) noexcept {
    std::int64_t d;
    constexpr std::int64_t exact = std::int64_t{1} << 53;
    if (__builtin_sub_overflow(t_ns, epoch_ns, &d) || d > exact || d < -exact)
        return minutes_between_far(epoch_ns, t_ns);
    return static_cast<double>(d) / 60.0e9;
}

}  // namespace qv::sgp4
