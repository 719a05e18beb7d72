// Array loops of the geodetic conversions (Python-free), compiled once per
// instruction set (kernels.cpp); run_for() picks one by lane count.  Every
// width gives the same bits (geodetic.hpp).
#pragma once

#include <cstddef>

#include "mathtools/simd/dispatch.hpp"

#include "mathtools/ellipsoid/geodetic.hpp"

namespace qv::ellipsoid {

// r: n rows of three (x, y, z, m); lat, lon (rad) and h (m): n each.
using GeodeticRun = void (*)(const Shape& s, const double* r, std::size_t n, double* lat, double* lon,
                             double* h) noexcept;
// lat, lon (rad), h (m): n each; r: n rows of three (m).
using CartesianRun = void (*)(const Shape& s, const double* lat, const double* lon, const double* h, std::size_t n,
                              double* r) noexcept;

#define QV_ELLIPSOID_LOOPS(isa)                                                                              \
    namespace loops::isa {                                                                                   \
    void geodetic(const Shape& s, const double* r, std::size_t n, double* lat, double* lon, double* h) noexcept; \
    void geodetic_exact(const Shape& s, const double* r, std::size_t n, double* lat, double* lon,              \
                        double* h) noexcept;                                                                 \
    void cartesian(const Shape& s, const double* lat, const double* lon, const double* h, std::size_t n,    \
                   double* r) noexcept;                                                                      \
    }
QV_SIMD_EACH_ISA(QV_ELLIPSOID_LOOPS)
#undef QV_ELLIPSOID_LOOPS

GeodeticRun geodetic_run_for(int lanes) noexcept;
// The closed form alone, without the fast path (for the tests).
GeodeticRun geodetic_exact_run_for(int lanes) noexcept;
CartesianRun cartesian_run_for(int lanes) noexcept;

// The geodetic conversion of n positions at the widest instruction set the
// processor supports (no interpreter lock needed; the exported kernel).
void geodetic_from_cartesian(double a, double e2, const double* r, std::size_t n, double* lat, double* lon,
                             double* h) noexcept;

}  // namespace qv::ellipsoid
