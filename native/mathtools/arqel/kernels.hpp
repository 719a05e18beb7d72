// The two vector kernels exported with the native error convention (their
// arithmetic is angle_value and normalize_values in arqel.hpp).
#pragma once

namespace qv::arqel {

double angle(double* a, double* b);
void normalize(double* a, double* u);

}  // namespace qv::arqel
