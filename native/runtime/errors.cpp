#include "runtime/errors.hpp"

#include <frameobject.h>

namespace qv {

bool error_pending() noexcept {
    // A thread state attached to this thread means the caller holds the
    // lock: ask directly (kernels called from entry points do this once or
    // more per element, and an Ensure/Release pair costs more than the test).
#if PY_VERSION_HEX >= 0x030D0000
    if (PyThreadState_GetUnchecked() != nullptr) return PyErr_Occurred() != nullptr;
#else
    if (_PyThreadState_UncheckedGet() != nullptr) return PyErr_Occurred() != nullptr;
#endif
    PyGILState_STATE state = PyGILState_Ensure();
    bool pending = PyErr_Occurred() != nullptr;
    PyGILState_Release(state);
    return pending;
}

void add_traceback(const char* function) noexcept {
    PyGILState_STATE state = PyGILState_Ensure();
    add_traceback_held(function);
    PyGILState_Release(state);
}

void add_traceback_held(const char* function, const char* filename, int line) {
    // Keep the pending exception aside while the code and frame objects are
    // built, then attach the new frame to its traceback.
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return;
    PyCodeObject* code = PyCode_NewEmpty(filename ? filename : function, function, line);
    Ref globals = Ref::steal(PyDict_New());
    PyFrameObject* frame = nullptr;
    if (code && globals) frame = PyFrame_New(PyThreadState_Get(), code, globals.get(), nullptr);
    if (!frame) {
        // Could not build the entry: keep the original exception, unchanged.
        PyErr_Clear();
        Py_XDECREF(reinterpret_cast<PyObject*>(code));
        PyErr_SetRaisedException(exc);
        return;
    }
    PyErr_SetRaisedException(exc);
    PyTraceBack_Here(frame);
    Py_DECREF(reinterpret_cast<PyObject*>(frame));
    Py_DECREF(reinterpret_cast<PyObject*>(code));
}

int check_exact_str(PyObject* value, const char* argument, bool none_allowed) {
    if (PyUnicode_CheckExact(value) || (none_allowed && value == Py_None)) return 0;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", argument,
                 "str", Py_TYPE(value)->tp_name);
    return -1;
}

void raise_argument_count(const char* function, Py_ssize_t minimum, Py_ssize_t maximum, Py_ssize_t given) {
    const char* how;
    Py_ssize_t expected;
    if (given < minimum) {
        expected = minimum;
        how = "at least";
    } else {
        expected = maximum;
        how = "at most";
    }
    if (minimum == maximum) how = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", function, how,
                 expected, expected == 1 ? "" : "s", given);
}

}  // namespace qv
