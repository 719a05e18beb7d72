// quorvane.mathtools.ellipsoid.ellipsoid: reference ellipsoids.  WGS84,
// WGS72 and GRS80 are native variables pointing at Ellipsoid instances.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qv::ellipsoid {

struct EllipsoidObject {
    PyObject_HEAD
    void* vtab;   // native method table
    double a;     // equatorial radius, m
    double f;     // flattening
    double b;     // polar radius, m
    double e2;    // first eccentricity squared
    PyObject* name;
};

inline constexpr const char* ellipsoid_signature = "struct qv_ellipsoid_Ellipsoid *";

}  // namespace qv::ellipsoid
