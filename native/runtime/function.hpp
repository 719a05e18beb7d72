// The native function object used for every Python-callable function and for
// the methods placed in type dicts.
//
// It carries what Python code and tools expect of a function: __name__,
// __qualname__, __module__, __doc__, __annotations__, __defaults__ (computed
// from the function's default holder), __kwdefaults__ (None), binding as a
// method when found on a class, pickling by qualified name, and a
// __signature__ for inspect.signature.  Calls go straight to the C
// implementation through vectorcall.
#pragma once

#include "runtime/args.hpp"
#include "runtime/ref.hpp"

namespace qv {

struct Function;
using FunctionImpl = PyObject* (*)(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

struct FunctionDef {
    const char* qualname;  // "mnm_from_sma", or "DUOLINE._get_header" for methods
    const char* doc;       // docstring, or nullptr
    FunctionImpl impl;
    Params params;         // parameters after `self` for methods; params.function is the __name__
    bool method = false;   // first positional argument is the instance
};

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionDef* def;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* annotations;
    PyObject* dict;
    PyObject* weakrefs;
    // Default holder: either a tuple of objects kept as they were captured,
    // or up to two doubles handed out as new floats on each read.
    PyObject* object_defaults;
    double double_defaults[2];
    Py_ssize_t n_double_defaults;
};

// Create a function object.  `annotations` is borrowed (may be null).
Ref make_function(const FunctionDef* def, const char* module_path, PyObject* annotations);

// Annotations dict from pairs of C strings, terminated by a null name.
Ref make_annotations(std::initializer_list<std::pair<const char*, const char*>> items);

// Default holders.  Defaults belong to the last parameters.
void set_object_defaults(PyObject* function, PyObject* defaults_tuple);
void set_double_default(PyObject* function, double value);

// Define a function as attribute of the module (or a type dict entry).
int add_function(PyObject* target, const FunctionDef* def, const char* module_path, PyObject* annotations);

// Install __reduce__ and __setstate__ functions that refuse pickling and
// copying, for types whose native constructor cannot be replayed.
int refuse_pickling(PyTypeObject* type, const char* type_name, const char* module_path);

}  // namespace qv
