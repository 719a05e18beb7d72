// What the duoline module binds at import and shares between its sources.
//
// Everything here is written while the module imports and only read
// afterwards.  The signature strings are this module's own copies of the
// text the exporters publish, so a changed export is caught at import.
#pragma once

#include "propagators/analytical/sgp4/duoline/duoline.hpp"
#include "bodies/bodies/bodies.hpp"
#include "frames/frames/frames.hpp"
#include "mathtools/ellipsoid/ellipsoid.hpp"

namespace qv::duoline {

inline constexpr const char* sig_double = "double";
inline constexpr const char* sig_d_dc_d = "double (double const , double)";
inline constexpr const char* sig_d_dc_dc = "double (double const , double const )";
inline constexpr const char* sig_d_dc_dc_dc = "double (double const , double const , double const )";

using Kernel2 = double(double, double);
using Kernel3 = double(double, double, double);

struct Bound {
    // Types (new references, kept for the process).
    PyTypeObject* Representable;
    PyTypeObject* Time;
    PyTypeObject* CelestialBody;
    PyTypeObject* Earth;
    PyTypeObject* Sun;
    PyTypeObject* Moon;
    PyTypeObject* Ellipsoid;
    PyTypeObject* Frame;
    PyTypeObject* GCRF_type;
    PyTypeObject* ITRF_type;
    PyTypeObject* TEME_type;
    PyTypeObject* ENU;
    // Native method tables of the bound types that carry one.
    bodies::SunVTable* Sun_vtab;
    bodies::MoonVTable* Moon_vtab;
    void* Ellipsoid_vtab;
    void* GCRF_vtab;
    void* ITRF_vtab;
    void* TEME_vtab;
    void* ENU_vtab;
    // Native variables, by address.
    ellipsoid::EllipsoidObject** WGS84;
    ellipsoid::EllipsoidObject** WGS72;
    ellipsoid::EllipsoidObject** GRS80;
    frames::GCRFObject** GCRF;
    frames::ITRFObject** ITRF;
    frames::TEMEObject** TEME;
    double* twopi;
    double *s, *sec, *second, *minute, *hour, *day, *sday, *m, *km, *rad, *deg, *rev, *kg;
    // orbel kernels.
    Kernel2* c_orp_from_sma;
    Kernel2* c_sma_from_mnm;
    Kernel2* c_eca_from_mea;
    Kernel2* c_tra_from_eca;
    Kernel3* c_pge_from_sma_ecc;
    Kernel3* c_apg_from_sma_ecc;
    // This module's classes.
    PyTypeObject* DUOLINE;
    PyTypeObject* ELSET;
    // Builtin __debug__ at import: whether the element-set assertion runs.
    bool assertions;
};

extern Bound bound;

// Interned names and cached objects used on every construction.
struct Names {
    PyObject* GM;
    PyObject* Re;
    PyObject* jd;          // attribute name "jd", also the value of format=
    PyObject* format_kw;   // ("format",), keyword names of the second Time call
    PyObject* utc;
    PyObject* repr;        // "__repr__"
    PyObject* name;
    PyObject* int64;
    PyObject* size;
    PyObject* satno;
    PyObject* satname;     // "_satname"
    PyObject* satname_attribute;  // "satname"
    PyObject* line1;
    PyObject* line2;
    PyObject* strip;
    PyObject* upper;
    PyObject* empty;       // ""
    PyObject* create_formatted_form;
    PyObject* create_formatted_frame;
    PyObject* format_as_property;
    PyObject* sort;
    PyObject* key_kw;          // ("key",)
    PyObject* shape_dtype_kw;  // ("shape", "dtype")
    PyObject* numpy_zeros;
    PyObject* numpy_int64;
    PyObject* numpy_double;
    PyObject* by_epoch;    // operator.attrgetter("epoch"), the sort key
};

extern Names names;

// Class preparation (start-up step 3) and the type-dict functions of the
// module body (step 5).
PyTypeObject* prepare_duoline(PyObject* module);
PyTypeObject* prepare_elset(PyObject* module);
int add_duoline_functions();
int add_elset_functions();

// A native subclass of the bound Representable (the base part first).
PyTypeObject* make_subclass(PyType_Spec* spec);

// The TypeError of a method called on an instance of another class.
int check_self(PyObject* self, PyTypeObject* type, const char* method);

}  // namespace qv::duoline
