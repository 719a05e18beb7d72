// quorvane.mathtools.misc.misc: the angle function atan2_asymmetric, as a
// native kernel in __pyx_capi__ and as a Python function.
#include "runtime/runtime.hpp"
#include "siblings/mathtools/misc/angles.hpp"
#include "siblings/mathtools/misc/misc.hpp"

namespace {

constexpr const char* module_path = "quorvane.mathtools.misc.misc";

PyObject* py_atan2_asymmetric(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[2];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, bound) < 0) return nullptr;
    double y = PyFloat_AsDouble(bound[0]);
    if (y == -1.0 && PyErr_Occurred()) return nullptr;
    double x = PyFloat_AsDouble(bound[1]);
    if (x == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(qv::misc::atan2_asymmetric(y, x));
}

const qv::FunctionDef atan2_def{
    "atan2_asymmetric",
    "atan2_asymmetric(y: float, x: float) -> float\n"
    "\n"
    "Angle of the direction (x, y) in radians, in [0, 2*pi).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "y : float\n"
    "    Second coordinate (the sine side).\n"
    "x : float\n"
    "    First coordinate (the cosine side).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float\n"
    "    atan2(y, x), plus 2*pi when negative.  Never 2*pi itself and never -0.0;\n"
    "    NaN when either argument is NaN.\n",
    py_atan2_asymmetric,
    {"atan2_asymmetric", {"y", "x"}, 2, 2},
};

int steps(PyObject* module) {
    if (qv::export_kernel(module, "atan2_asymmetric", &qv::misc::atan2_asymmetric,
                          qv::misc::atan2_asymmetric_signature) < 0) {
        return -1;
    }
    qv::Ref annotations = qv::make_annotations({{"y", "float"}, {"x", "float"}, {"return", "float"}});
    if (!annotations) return -1;
    return qv::add_function(module, &atan2_def, module_path, annotations.get());
}

qv::ModuleFrame frame{"misc", module_path, "Small numeric helpers: the [0, 2*pi) angle function atan2_asymmetric.",
                      steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_misc() { return frame.init(); }
