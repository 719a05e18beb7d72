// The mathematical functions of the lane types (see lanes.hpp).
//
// INTERIM: these one-lane versions call the C library so that kernels can be
// written and checked against references now; they are being replaced by
// this library's own polynomial versions, written once over every lane type.
#pragma once

#include <cmath>

#include "mathtools/simd/lanes.hpp"

namespace qv::simd {
inline namespace QV_SIMD_ISA {

inline double sin(double x) { return std::sin(x); }
inline double cos(double x) { return std::cos(x); }
inline void sincos(double x, double* s, double* c) {
    *s = std::sin(x);
    *c = std::cos(x);
}
inline double atan2(double y, double x) { return std::atan2(y, x); }
// x - n * 2π with n = trunc(x / 2π): the remainder of C's fmod(x, 2π), sign of x.
inline double rem2pi(double x) { return std::fmod(x, 6.283185307179586); }
inline double cbrt(double x) { return std::cbrt(x); }

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
