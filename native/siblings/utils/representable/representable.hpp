// quorvane.utils.representable: the presentation base class Representable.
//
// Native subclasses (DUOLINE, ELSET) embed RepresentableObject as their first
// member; its layout is part of the binary interface and must not change.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qv::representable {

struct RepresentableObject {
    PyObject_HEAD
    PyObject* dict;  // per-instance attribute dictionary (tp_dictoffset)
};

}  // namespace qv::representable
