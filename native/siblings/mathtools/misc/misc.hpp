// quorvane.mathtools.misc.misc: small numeric helpers for native code.
//
// Native importers bind `atan2_asymmetric` through the module's __pyx_capi__
// (capsule name = the signature string below) and call it by pointer.
#pragma once

namespace qv::misc {

// Four-quadrant angle of the direction (x, y), in [0, 2*pi): never negative,
// never equal to the double nearest 2*pi, +0.0 rather than -0.0, NaN in, NaN out.
// It raises no Python exception.
inline constexpr const char* atan2_asymmetric_signature = "double (double const , double const )";
using Atan2Asymmetric = double(double, double);

}  // namespace qv::misc
