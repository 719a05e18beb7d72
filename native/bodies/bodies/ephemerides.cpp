#include "bodies/bodies/ephemerides.hpp"

#include <cmath>
#include <numbers>

#include <cstddef>

namespace qv::bodies {

namespace {

constexpr double deg = std::numbers::pi / 180.0;
constexpr double j2000 = 2451545.0;
constexpr double seconds_per_century = 36525.0 * 86400.0;

// One periodic term c * sin(a + b T) (or cos), a and c in degrees, b in
// degrees per Julian century.
struct Term {
    double c, a, b;
};

constexpr Term longitude_terms[] = {
    {6.29, 134.9, 477198.85},  {-1.27, 259.2, -413335.38}, {0.66, 235.7, 890534.23},
    {0.21, 269.9, 954397.70},  {-0.19, 357.5, 35999.05},   {-0.11, 186.6, 966404.05},
};
constexpr Term latitude_terms[] = {
    {5.13, 93.3, 483202.03},
    {0.28, 228.2, 960400.87},
    {-0.28, 318.3, 6003.18},
    {-0.17, 217.6, -407332.20},
};
constexpr Term parallax_terms[] = {
    {0.0518, 134.9, 477198.85},
    {0.0095, 259.2, -413335.38},
    {0.0078, 235.7, 890534.23},
    {0.0028, 269.9, 954397.70},
};

// Sum of sine terms and of their derivatives with respect to T (degrees and
// degrees per century).
template <std::size_t N>
void sine_series(const Term (&terms)[N], double T, double* value, double* rate) {
    for (const Term& t : terms) {
        double arg = (t.a + t.b * T) * deg;
        *value += t.c * std::sin(arg);
        *rate += t.c * t.b * deg * std::cos(arg);
    }
}
template <std::size_t N>
void cosine_series(const Term (&terms)[N], double T, double* value, double* rate) {
    for (const Term& t : terms) {
        double arg = (t.a + t.b * T) * deg;
        *value += t.c * std::cos(arg);
        *rate -= t.c * t.b * deg * std::sin(arg);
    }
}

}  // namespace

void sun_position(double jd, double* r) noexcept {
    double n = jd - j2000;
    double mean_longitude = std::fmod(280.460 + 0.9856474 * n, 360.0);
    double anomaly = std::fmod(357.528 + 0.9856003 * n, 360.0) * deg;
    double longitude = (mean_longitude + 1.915 * std::sin(anomaly) + 0.020 * std::sin(2.0 * anomaly)) * deg;
    double obliquity = (23.439 - 0.0000004 * n) * deg;
    double distance = (1.00014 - 0.01671 * std::cos(anomaly) - 0.00014 * std::cos(2.0 * anomaly)) * astronomical_unit;
    r[0] = distance * std::cos(longitude);
    r[1] = distance * std::cos(obliquity) * std::sin(longitude);
    r[2] = distance * std::sin(obliquity) * std::sin(longitude);
}

void moon_state(double jd, double* r, double* v) noexcept {
    double T = (jd - j2000) / 36525.0;
    // Ecliptic longitude and latitude, horizontal parallax (degrees), and
    // their rates (degrees per century).
    double lon = 218.32 + 481267.8813 * T, lon_rate = 481267.8813;
    double lat = 0.0, lat_rate = 0.0;
    double par = 0.9508, par_rate = 0.0;
    sine_series(longitude_terms, T, &lon, &lon_rate);
    sine_series(latitude_terms, T, &lat, &lat_rate);
    cosine_series(parallax_terms, T, &par, &par_rate);
    double eps = 23.439291 - 0.0130042 * T, eps_rate = -0.0130042;

    double sl = std::sin(lon * deg), cl = std::cos(lon * deg);
    double sb = std::sin(lat * deg), cb = std::cos(lat * deg);
    double se = std::sin(eps * deg), ce = std::cos(eps * deg);
    double sp = std::sin(par * deg), cp = std::cos(par * deg);

    double dist = earth_re / sp;
    double dist_rate = -earth_re * cp / (sp * sp) * par_rate * deg;
    double u[3] = {cb * cl, ce * cb * sl - se * sb, se * cb * sl + ce * sb};
    double du_lon[3] = {-cb * sl, ce * cb * cl, se * cb * cl};
    double du_lat[3] = {-sb * cl, -ce * sb * sl - se * cb, -se * sb * sl + ce * cb};
    double du_eps[3] = {0.0, -se * cb * sl - ce * sb, ce * cb * sl - se * sb};
    for (int i = 0; i < 3; ++i) {
        r[i] = dist * u[i];
        double du = (du_lon[i] * lon_rate + du_lat[i] * lat_rate + du_eps[i] * eps_rate) * deg;
        v[i] = (dist_rate * u[i] + dist * du) / seconds_per_century;
    }
}

}  // namespace qv::bodies
