// quorvane.bodies.bodies: the celestial-body types CelestialBody, Earth, Sun
// and Moon.  Earth carries GM and Re; Sun and Moon carry native method tables
// with low-precision analytic ephemerides (ephemerides.hpp).
#include <cstring>

#include "runtime/runtime.hpp"
#include "bodies/bodies/bodies.hpp"
#include "bodies/bodies/ephemerides.hpp"

namespace {

using namespace qv::bodies;

// Types created at import, read-only afterwards.
PyTypeObject* celestial_body_type = nullptr;
PyTypeObject* sun_type = nullptr;
PyTypeObject* moon_type = nullptr;

void sun_calculate_position(SunObject*, double jd, double* r) { sun_position(jd, r); }
void moon_calculate_state_gcrf(MoonObject*, double jd, double* r, double* v) { moon_state(jd, r, v); }

SunVTable sun_vtable{sun_calculate_position};
MoonVTable moon_vtable{moon_calculate_state_gcrf};

const char* short_name(PyTypeObject* type) {
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot ? dot + 1 : type->tp_name;
}

// Bodies take no constructor arguments; the instance's vtab is its type's
// native method table (inherited by subclasses).
PyObject* body_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    qv::Params params{short_name(type), {}, 0, 0};
    PyObject* unused[1];
    if (qv::bind_arguments(params, args, kwargs, unused) < 0) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* body = reinterpret_cast<CelestialBodyObject*>(self);
    if (PyType_IsSubtype(type, sun_type)) {
        body->vtab = &sun_vtable;
    } else if (PyType_IsSubtype(type, moon_type)) {
        body->vtab = &moon_vtable;
    } else {
        body->vtab = nullptr;
    }
    return self;
}

void body_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot celestial_body_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(body_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(body_dealloc)},
    {Py_tp_doc, const_cast<char*>("Base class of the celestial bodies.")},
    {0, nullptr},
};
PyType_Slot earth_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Earth.  Class attributes: GM (m^3/s^2) and Re, the equatorial radius (m).")},
    {0, nullptr},
};
PyType_Slot sun_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Sun.  Native method: calculate_position (low-precision geocentric position).")},
    {0, nullptr},
};
PyType_Slot moon_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Moon.  Native method: calculate_state_GCRF (low-precision geocentric state).")},
    {0, nullptr},
};

constexpr unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
PyType_Spec celestial_body_spec{"quorvane.bodies.bodies.CelestialBody", sizeof(CelestialBodyObject), 0, flags,
                                celestial_body_slots};
PyType_Spec earth_spec{"quorvane.bodies.bodies.Earth", sizeof(EarthObject), 0, flags, earth_slots};
PyType_Spec sun_spec{"quorvane.bodies.bodies.Sun", sizeof(SunObject), 0, flags, sun_slots};
PyType_Spec moon_spec{"quorvane.bodies.bodies.Moon", sizeof(MoonObject), 0, flags, moon_slots};

int set_float(PyTypeObject* type, const char* name, double value) {
    qv::Ref number = qv::Ref::steal(PyFloat_FromDouble(value));
    if (!number) return -1;
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, number.get());
}

int steps(PyObject* module) {
    celestial_body_type = qv::add_type(module, &celestial_body_spec, nullptr);
    if (!celestial_body_type) return -1;
    PyTypeObject* earth_type = qv::add_type(module, &earth_spec, celestial_body_type);
    if (!earth_type || set_float(earth_type, "GM", earth_gm) < 0 || set_float(earth_type, "Re", earth_re) < 0) {
        return -1;
    }
    sun_type = qv::add_type(module, &sun_spec, celestial_body_type);
    if (!sun_type || qv::set_vtable(sun_type, &sun_vtable) < 0) return -1;
    moon_type = qv::add_type(module, &moon_spec, celestial_body_type);
    if (!moon_type || qv::set_vtable(moon_type, &moon_vtable) < 0) return -1;
    return 0;
}

qv::ModuleFrame frame{"bodies", "quorvane.bodies.bodies",
                      "Celestial bodies: Earth constants and low-precision ephemerides of the Sun and the Moon.",
                      steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_bodies() { return frame.init(); }
