// quorvane.frames.frames: reference frames.  GCRF, ITRF and TEME are native
// variables pointing at the one instance of _GCRF, _ITRF and _TEME: each
// capsule in __pyx_capi__ holds the address of a `XObject*` variable, named by
// the signature strings below; importers read the pointer after the module's
// import has completed.  _GCRF, _ITRF, _TEME and ENU publish the native
// method tables below under __pyx_vtable__; every instance's `vtab` points at
// its type's table.  Entries returning int give 0, or -1 with a Python
// exception set; they are called with the interpreter lock held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qv::frames {

struct FrameObject {
    PyObject_HEAD
    void* vtab;       // native method table, or null for the abstract Frame
    PyObject* name;   // str, the frame's name
};
struct GCRFObject { FrameObject base; };
struct ITRFObject { FrameObject base; };
struct TEMEObject { FrameObject base; };
struct ENUObject {
    FrameObject base;
    double origin[3];   // ITRF position of the site, m
    double rot[3][3];   // rows: east, north, up unit vectors in ITRF
};

// GCRF to ITRF needs precession, nutation and Earth-orientation data, which
// this module does not carry: the entry raises NotImplementedError.
struct GCRFVTable {
    int (*to_ITRF)(GCRFObject* self, double jd, double const* r, double* out);
};
// ITRF to TEME and back: a rotation about z by the Greenwich mean sidereal
// time (IAU 1982) at Julian date jd, taken as UT1; polar motion is neglected,
// so ITRF stands for the pseudo-Earth-fixed frame (a few metres at the
// surface).  r and out are 3-vectors (any unit) and may be the same memory.
struct ITRFVTable {
    int (*to_TEME)(ITRFObject* self, double jd, double const* r, double* out);
};
struct TEMEVTable {
    int (*to_ITRF)(TEMEObject* self, double jd, double const* r, double* out);
};
// ENU of a site: enu = rot * (r - origin) and back; in and out may alias.
struct ENUVTable {
    void (*from_ITRF)(ENUObject* self, double const* r, double* enu);
    void (*to_ITRF)(ENUObject* self, double const* enu, double* r);
};

inline constexpr const char* gcrf_signature = "struct qv_frames_GCRF *";
inline constexpr const char* itrf_signature = "struct qv_frames_ITRF *";
inline constexpr const char* teme_signature = "struct qv_frames_TEME *";

}  // namespace qv::frames
