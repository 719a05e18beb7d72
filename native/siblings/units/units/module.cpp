// quorvane.units.units: unit constants for native and Python code.
//
// The thirteen constants are exported by address in __pyx_capi__ (signature
// "double") for native importers and are also module attributes as floats.
#include "runtime/runtime.hpp"
#include "siblings/units/units/units.hpp"

namespace {

namespace u = qv::units;

// Exported by address; never written after import.
double s = u::second, sec = u::second, second = u::second, minute = u::minute, hour = u::hour, day = u::day,
       sday = u::sday, m = u::metre, km = u::kilometre, rad = u::radian, deg = u::degree, rev = u::revolution,
       kg = u::kilogram;

struct Entry {
    const char* name;
    double* value;
};
const Entry entries[] = {{"s", &s},     {"sec", &sec},   {"second", &second}, {"minute", &minute}, {"hour", &hour},
                         {"day", &day}, {"sday", &sday}, {"m", &m},           {"km", &km},         {"rad", &rad},
                         {"deg", &deg}, {"rev", &rev},   {"kg", &kg}};

int steps(PyObject* module) {
    for (const Entry& e : entries) {
        if (qv::export_variable(module, e.name, e.value, u::double_signature) < 0) return -1;
    }
    for (const Entry& e : entries) {
        qv::Ref value = qv::Ref::steal(PyFloat_FromDouble(*e.value));
        if (!value || qv::module_add(module, e.name, value.get()) < 0) return -1;
    }
    return 0;
}

qv::ModuleFrame frame{"units", "quorvane.units.units",
                      "Unit constants: the size of each unit in SI units (seconds, metres, radians, kilograms).",
                      steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_units() { return frame.init(); }
