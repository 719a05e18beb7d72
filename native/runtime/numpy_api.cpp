#define QUORVANE_NUMPY_API_DEFINITION
#include "runtime/numpy_api.hpp"

namespace qv {

// NumPy's import_array macros print the underlying error to stderr before
// replacing it with ImportError; a library must not write to the caller's
// stderr, so the table is imported directly and the reason kept as the
// ImportError's cause instead.
int import_numpy_api() {
    if (PyArray_API != nullptr) return 0;
    if (_import_array() == 0) return 0;
    PyArray_API = nullptr;  // a table that failed its checks is not used
    PyObject* cause = PyErr_GetRaisedException();
    if (cause && PyErr_GivenExceptionMatches(cause, PyExc_ImportError)) {
        PyErr_SetRaisedException(cause);  // NumPy itself missing: already the right error
        return -1;
    }
    PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
    if (cause) {
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, Py_NewRef(cause));
        PyException_SetContext(error, cause);
        PyErr_SetRaisedException(error);
    }
    return -1;
}

}  // namespace qv
