// Vector kernels whose results can carry a pending Python exception.
//
// angle and normalize follow the native error convention: after computing
// they test (taking the interpreter lock briefly) whether an exception is
// pending and, if so, add a traceback entry naming themselves.  They call
// nothing that raises, so this only passes on an exception already pending.
#include "mathtools/arqel/kernels.hpp"

#include "mathtools/arqel/arqel.hpp"
#include "runtime/kernel_errors.hpp"

namespace qv::arqel {

double angle(double* a, double* b) {
    double r = angle_value(a, b);
    if (error_pending()) {
        add_traceback("quorvane.mathtools.arqel.arqel.angle");
        return -1.0;
    }
    return r;
}

void normalize(double* a, double* u) {
    normalize_values(a, u);
    if (error_pending()) add_traceback("quorvane.mathtools.arqel.arqel.normalize");
}

}  // namespace qv::arqel
