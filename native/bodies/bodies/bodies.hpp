// quorvane.bodies.bodies: celestial bodies.  Earth carries the class
// attributes GM = 3.986004418e14 m^3/s^2 and Re = 6378137.0 m (WGS 84), as
// Python floats that may be replaced on the class.  Sun and Moon publish the
// native method tables below in their type dicts under __pyx_vtable__; every
// instance's `vtab` points at its type's table.  The entries run without a
// Python exception and need not hold the interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qv::bodies {

struct CelestialBodyObject {
    PyObject_HEAD
    void* vtab;  // native method table of the concrete body, or null
};
struct EarthObject {
    CelestialBodyObject base;
};
struct SunObject;
struct MoonObject;

// Native method tables (published under __pyx_vtable__).
struct SunVTable {
    // Geocentric position of the Sun at Julian date jd, metres, into r[3].
    void (*calculate_position)(SunObject* self, double jd, double* r);
};
struct MoonVTable {
    // Geocentric GCRF state of the Moon at Julian date jd: r[3] in m, v[3] in m/s.
    void (*calculate_state_GCRF)(MoonObject* self, double jd, double* r, double* v);
};
struct SunObject {
    CelestialBodyObject base;
};
struct MoonObject {
    CelestialBodyObject base;
};

// A class attribute of Earth (`name` is "GM" or "Re") as a double, read
// afresh each time: the attributes may be replaced on the class.  -1 with
// the exception pending.
inline int earth_constant(PyTypeObject* earth, PyObject* name, double* value) {
    PyObject* attr = PyObject_GetAttr(reinterpret_cast<PyObject*>(earth), name);
    if (!attr) return -1;
    *value = PyFloat_AsDouble(attr);
    Py_DECREF(attr);
    return *value == -1.0 && PyErr_Occurred() ? -1 : 0;
}
inline int earth_constant(PyTypeObject* earth, const char* name, double* value) {
    PyObject* key = PyUnicode_InternFromString(name);
    if (!key) return -1;
    const int result = earth_constant(earth, key, value);
    Py_DECREF(key);
    return result;
}

}  // namespace qv::bodies
