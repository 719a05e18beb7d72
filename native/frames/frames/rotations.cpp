#include "frames/frames/rotations.hpp"

#include <cmath>
#include <numbers>

namespace qv::frames {

double gmst_iau82(double jd) noexcept {
    double t = (jd - 2451545.0) / 36525.0;
    double seconds = 67310.54841 + (876600.0 * 3600.0 + 8640184.812866) * t + 0.093104 * t * t - 6.2e-6 * t * t * t;
    double angle = std::fmod(seconds, 86400.0) * (2.0 * std::numbers::pi / 86400.0);
    return angle < 0.0 ? angle + 2.0 * std::numbers::pi : angle;
}

void rotate_z(double angle, double const* in, double* out) noexcept {
    double c = std::cos(angle), s = std::sin(angle);
    double x = in[0], y = in[1], z = in[2];
    out[0] = c * x + s * y;
    out[1] = -s * x + c * y;
    out[2] = z;
}

void enu_rotation(double lat, double lon, double rot[3][3]) noexcept {
    double sp = std::sin(lat), cp = std::cos(lat), sl = std::sin(lon), cl = std::cos(lon);
    double rows[3][3] = {{-sl, cl, 0.0}, {-sp * cl, -sp * sl, cp}, {cp * cl, cp * sl, sp}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rot[i][j] = rows[i][j];
}

void enu_from_ecef(const double rot[3][3], const double* origin, double const* r, double* enu) noexcept {
    double d[3] = {r[0] - origin[0], r[1] - origin[1], r[2] - origin[2]};
    for (int i = 0; i < 3; ++i) enu[i] = rot[i][0] * d[0] + rot[i][1] * d[1] + rot[i][2] * d[2];
}

void ecef_from_enu(const double rot[3][3], const double* origin, double const* enu, double* r) noexcept {
    double e[3] = {enu[0], enu[1], enu[2]};
    for (int j = 0; j < 3; ++j) r[j] = rot[0][j] * e[0] + rot[1][j] * e[1] + rot[2][j] * e[2] + origin[j];
}

}  // namespace qv::frames
