// Array loops over this library's functions, compiled once per instruction
// set (arrays.cpp) for the test and benchmark module.
#pragma once

#include <cstddef>

#include "mathtools/simd/lanes.hpp"

namespace qv::simd {

enum class Op : int { sin, cos, sincos, sincosm1, atan2, rem2pi, cbrt };

inline namespace QV_SIMD_ISA {

// out[i] = f(a[i]) for i < n, or f(a[i], b[i]) for atan2 (a = y, b = x);
// sincos writes the sines to out and the cosines to out2, sincosm1 the
// sines and the cosines minus one.  The arrays are
// contiguous; a tail shorter than the lane count runs in a padded vector.
void apply(Op f, const double* a, const double* b, double* out, double* out2, std::size_t n);

// The lane primitives on a[i], b[i], one row of n results each (row i at
// out + i * n), for tests that every width computes the same: see
// primitives_step in arrays.cpp for the order.  The last row checks
// Two<Widest> against Widest (see paired_agree).
inline constexpr int primitive_rows = 21;
void primitives(const double* a, const double* b, double* out, std::size_t n);

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
