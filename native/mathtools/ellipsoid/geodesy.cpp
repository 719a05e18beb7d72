#include "mathtools/ellipsoid/geodesy.hpp"

#include <cmath>

namespace qv::ellipsoid {

void ecef_from_geodetic(double a, double e2, double lat, double lon, double alt, double* r) noexcept {
    double sp = std::sin(lat), cp = std::cos(lat);
    double n = a / std::sqrt(1.0 - e2 * sp * sp);
    r[0] = (n + alt) * cp * std::cos(lon);
    r[1] = (n + alt) * cp * std::sin(lon);
    r[2] = (n * (1.0 - e2) + alt) * sp;
}

}  // namespace qv::ellipsoid
