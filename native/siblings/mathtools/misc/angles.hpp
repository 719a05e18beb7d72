// Angle kernels of quorvane.mathtools.misc.misc (Python-free).
#pragma once

namespace qv::misc {

// The angle of (x, y) in [0, 2*pi).  See angles.cpp for the edge rules.
double atan2_asymmetric(double const y, double const x) noexcept;

}  // namespace qv::misc
