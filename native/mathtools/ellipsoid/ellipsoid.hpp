// quorvane.mathtools.ellipsoid.ellipsoid: reference ellipsoids.  WGS84,
// WGS72 and GRS80 are native variables pointing at Ellipsoid instances: each
// capsule in __pyx_capi__ holds the address of an `EllipsoidObject*` variable,
// named by the signature string below; importers read the pointer after the
// module's import has completed.  Ellipsoid publishes EllipsoidVTable under
// __pyx_vtable__ and every instance's `vtab` points at it.
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

// Native method table.  The entry raises nothing and needs no interpreter lock.
struct EllipsoidVTable {
    // Earth-centred Cartesian position (m) of geodetic latitude and longitude
    // (rad) and height above the ellipsoid (m), into r[3].
    void (*ecef_from_geodetic)(EllipsoidObject* self, double lat, double lon, double alt, double* r);
};

inline constexpr const char* ellipsoid_signature = "struct qv_ellipsoid_Ellipsoid *";

// Exported kernel "c_geodetic_from_cartesian": geodetic latitude, longitude
// (rad) and height (m) of n Earth-centred positions r (rows of three, m) on
// the ellipsoid of equatorial radius a (m) and first eccentricity squared e2
// (the fields of an EllipsoidObject), by Vermeille's closed form (2011) and,
// from 0.8 a to 1e8 a from the centre, its fast stand-in (geodetic.hpp), at
// the widest vector width the processor supports (every width gives the same
// bits).  Raises nothing; needs no interpreter lock; r and the outputs must
// not overlap.
using GeodeticKernel = void(double a, double e2, double const* r, size_t n, double* lat, double* lon, double* h);
inline constexpr const char* geodetic_signature =
    "void (double, double, double const *, size_t, double *, double *, double *)";

}  // namespace qv::ellipsoid
