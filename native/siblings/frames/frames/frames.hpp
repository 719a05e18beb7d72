// quorvane.frames.frames: reference frames.  GCRF, ITRF and TEME are native
// variables pointing at the one instance of _GCRF, _ITRF and _TEME.
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

inline constexpr const char* gcrf_signature = "struct qv_frames_GCRF *";
inline constexpr const char* itrf_signature = "struct qv_frames_ITRF *";
inline constexpr const char* teme_signature = "struct qv_frames_TEME *";

}  // namespace qv::frames
