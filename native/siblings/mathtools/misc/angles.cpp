#include "siblings/mathtools/misc/angles.hpp"

#include <cmath>
#include <numbers>

namespace qv::misc {

// atan2 gives (-pi, pi]; negative angles are moved up by one turn.  Two
// rounding details keep the result inside [0, 2*pi) and its sine on the side
// of y:
//  - a negative angle smaller in magnitude than half an ulp of 2*pi (about
//    4.4e-16) would round to exactly 2*pi.  Such a direction lies just below
//    the +x axis, so the result is the largest double below 2*pi: still in
//    range, still with a negative sine, and still increasing towards 2*pi as
//    y rises to -0.  Mapping it to 0.0 instead would put a point below the
//    axis at the start of the turn.
//  - atan2(-0.0, x > 0) is -0.0, which `+ 0.0` turns into +0.0, so the result
//    never carries a sign bit; every other result is unchanged by that sum.
// NaN in either argument gives NaN (the comparison below is false for NaN).
double atan2_asymmetric(double const y, double const x) noexcept {
    constexpr double two_pi = 2.0 * std::numbers::pi;
    double angle = std::atan2(y, x);
    if (angle < 0.0) {
        angle += two_pi;
        if (angle >= two_pi) angle = std::nextafter(two_pi, 0.0);
        return angle;
    }
    return angle + 0.0;
}

}  // namespace qv::misc
