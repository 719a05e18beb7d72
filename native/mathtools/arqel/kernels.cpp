// Vector kernels whose results can carry a pending Python exception.
//
// angle and normalize follow the native error convention: after computing
// they test (taking the interpreter lock briefly) whether an exception is
// pending and, if so, add a traceback entry naming themselves.  They call
// nothing that raises, so this only passes on an exception already pending.
#include <cmath>

#include "mathtools/arqel/arqel.hpp"
#include "runtime/kernel_errors.hpp"

namespace qv::arqel {

double norm(double* a) { return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]); }

double angle(double* a, double* b) {
    // Rounding can push the cosine of (nearly) parallel vectors just past +-1,
    // where acos is NaN; the angle of a vector with itself is 0, so the
    // quotient is clamped first.  NaN (zero or non-finite input) passes through.
    double q = (dot(a, b) / norm(a)) / norm(b);
    if (q > 1.0) q = 1.0;
    if (q < -1.0) q = -1.0;
    double r = std::acos(q);
    if (error_pending()) {
        add_traceback("quorvane.mathtools.arqel.arqel.angle");
        return -1.0;
    }
    return r;
}

void normalize(double* a, double* u) {
    // Multiply by the reciprocal of the norm (not a division per component):
    // normalize((3, 4, 0)) is (0.6000000000000001, 0.8, 0).
    double n = norm(a);
    double k = 1.0 / n;
    u[0] = a[0] * k;
    u[1] = a[1] * k;
    u[2] = a[2] * k;
    if (error_pending()) add_traceback("quorvane.mathtools.arqel.arqel.normalize");
}

}  // namespace qv::arqel
