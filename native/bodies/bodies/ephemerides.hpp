// Low-precision analytic ephemerides of the Sun and the Moon (Python-free).
//
// Both series are the "low-precision formulae" of the Astronomical Almanac
// (section C for the Sun, section D for the Moon), as reprinted in
// D. A. Vallado, Fundamentals of Astrodynamics and Applications, 4th ed.,
// Algorithms 29 (SUN) and 31 (MOON).  Stated accuracy: about 0.01 deg for the
// Sun between 1950 and 2050; about 0.3 deg in longitude, 0.2 deg in latitude
// and 1275 km in distance for the Moon.  Results are geocentric, referred to
// the mean equator and equinox of date, which at this accuracy stands in for
// GCRF.  The Julian date is used as given (UTC, UT1 and TDB differ by about a
// minute, far below the series' accuracy).
#pragma once

namespace qv::bodies {

inline constexpr double astronomical_unit = 149597870700.0;  // m (IAU 2012)
inline constexpr double earth_gm = 3.986004418e14;           // m^3/s^2 (WGS 84)
inline constexpr double earth_re = 6378137.0;                // m (WGS 84 equatorial radius)

// Geocentric position of the Sun at Julian date jd, metres, into r[3].
void sun_position(double jd, double* r) noexcept;

// Geocentric position (m) and velocity (m/s) of the Moon at Julian date jd.
// The velocity is the exact time derivative of the position series.
void moon_state(double jd, double* r, double* v) noexcept;

}  // namespace qv::bodies
