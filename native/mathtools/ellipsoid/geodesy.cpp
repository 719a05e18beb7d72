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

#include "mathtools/ellipsoid/kernels.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace qv::ellipsoid {

GeodeticRun geodetic_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::geodetic;
        case 4: return loops::avx2::geodetic;
        default: return loops::baseline::geodetic;
    }
}

GeodeticRun geodetic_exact_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::geodetic_exact;
        case 4: return loops::avx2::geodetic_exact;
        default: return loops::baseline::geodetic_exact;
    }
}

CartesianRun cartesian_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::cartesian;
        case 4: return loops::avx2::cartesian;
        default: return loops::baseline::cartesian;
    }
}

void geodetic_from_cartesian(double a, double e2, const double* r, std::size_t n, double* lat, double* lon,
                             double* h) noexcept {
    Shape s{a, e2};
    geodetic_run_for(static_cast<int>(simd::supported()))(s, r, n, lat, lon, h);
}

}  // namespace qv::ellipsoid
