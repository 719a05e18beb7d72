// The common start-up of every extension module.
//
// A module defines one ModuleFrame with its name, its dotted path and its own
// start-up steps, and returns frame.init() from its PyInit_<name>.  Each
// extension (shared library) holds one module and so one frame: the exec
// slot finds it through the library, whatever module object it is handed.  The frame
// implements multi-phase initialisation with these rules:
//   create: one interpreter per process; once executed, creating the module
//           again hands back the same module object;
//   exec:   executing again on that object is a no-op, on another object a
//           RuntimeError; then the version warning, the assertions flag read
//           from the builtin __debug__, NumPy's C API, and the module's steps.
// Any failure discards the module and raises the pending exception, else
// ImportError "init <path>".
#pragma once

#include "runtime/ref.hpp"

namespace qv {

struct ModuleFrame {
    using Steps = int (*)(PyObject* module);

    const char* name;     // "orbel"
    const char* path;     // "quorvane.state.orbel"
    const char* doc;      // module docstring or nullptr
    Steps steps;          // the module's own start-up, run by exec
    bool uses_numpy = true;

    // Written during import only, read-only afterwards.
    PyObject* module = nullptr;  // the executed module object (owned)
    bool assertions = true;      // builtin __debug__ at import

    PyObject* init();

    // Implementation; public so the slot trampolines can reach it.
    PyModuleDef def_{};
    PyModuleDef_Slot slots_[4]{};
    static PyObject* create_slot(PyObject* module_spec, PyModuleDef* def);
    static int exec_slot(PyObject* module);
};

// Set attribute `name` of the module (steals nothing; -1 on failure).
int module_add(PyObject* module, const char* name, PyObject* value);
// Create a heap type from `type_spec` (deriving from `base` when given, with
// its native method table published under __pyx_vtable__ when `vtable` is
// given) and bind it as the module attribute named by the last component of
// its dotted name.  Returns a new reference, which callers keep for the life
// of the process; null with the exception pending.
PyTypeObject* add_type(PyObject* module, PyType_Spec* type_spec, PyTypeObject* base = nullptr,
                       void* vtable = nullptr);
// Import a module by dotted path and bind it as attribute `as` of `module`.
int module_import_as(PyObject* module, const char* path, const char* as);
// `from <path> import <name>`: ImportError "cannot import name %S" when missing.
Ref import_from(const char* path, const char* name);

}  // namespace qv
