// quorvane.utils.representable: the presentation base class Representable.
//
// Native subclasses (DUOLINE, ELSET) embed RepresentableObject as their first
// member; its layout is part of the binary interface and must not change.
//
// What a native subclass may rely on:
//  - tp_new accepts any positional and keyword arguments and only allocates
//    (type->tp_alloc); tp_init accepts anything and does nothing.
//  - Instances have an attribute dict at RepresentableObject::dict
//    (tp_dictoffset), created on first use.
//  - The type is a GC heap type.  Its tp_traverse visits the instance's type
//    and the dict, so a subclass's traverse visits its own fields, then calls
//    the base traverse and does NOT visit its type itself.  Its tp_clear
//    clears the dict.  Its tp_dealloc untracks the object, releases the dict,
//    frees the object with Py_TYPE(self)->tp_free and drops the instance's
//    reference to its (heap) type: a subclass's dealloc releases its own
//    fields and then calls the base dealloc as its last step.
//  - Printing (repr and str) calls self._get_header() and self._get_body();
//    see module.cpp for the layout.  The class defines no pickling hooks.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qv::representable {

struct RepresentableObject {
    PyObject_HEAD
    PyObject* dict;  // per-instance attribute dictionary (tp_dictoffset)
};

}  // namespace qv::representable
