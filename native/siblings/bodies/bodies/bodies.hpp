// quorvane.bodies.bodies: celestial bodies.  Earth carries the class
// attributes GM (m^3/s^2) and Re (equatorial radius, m).
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

}  // namespace qv::bodies
