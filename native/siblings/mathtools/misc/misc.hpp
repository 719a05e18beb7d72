// quorvane.mathtools.misc.misc: small numeric helpers for native code.
#pragma once

namespace qv::misc {

// Four-quadrant angle of the direction (x, y), in [0, 2*pi).
inline constexpr const char* atan2_asymmetric_signature = "double (double const , double const )";
using Atan2Asymmetric = double(double, double);

}  // namespace qv::misc
