#define QUORVANE_NUMPY_API_DEFINITION
#include "runtime/numpy_api.hpp"

namespace qv {

int import_numpy_api() {
    if (PyArray_ImportNumPyAPI() < 0) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
        }
        return -1;
    }
    return 0;
}

}  // namespace qv
