// Native export tables between extension modules (the exporting side; the
// binding side is bind.hpp).
//
// An exporting module keeps a dict `__pyx_capi__` mapping each kernel's or
// variable's name to a capsule whose pointer is its address and whose capsule
// name is its signature string.  Importers look names up and accept a capsule
// only when its name equals the signature string they expect, letter for
// letter.  Native method tables travel as a capsule in the type dict under
// `__pyx_vtable__`.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "runtime/bind.hpp"
#include "runtime/ref.hpp"

namespace qv {

// Publish a function or variable address under `name` in the module's
// `__pyx_capi__` (created on first use).  `signature` must outlive the process
// (a string literal or constexpr constant).
int export_function(PyObject* module, const char* name, void (*fn)(), const char* signature);
int export_variable(PyObject* module, const char* name, void* address, const char* signature);

// One row of an export table: name, address, signature string.
struct Export {
    const char* name;
    void (*fn)();
    const char* signature;

    template <class F>
    Export(const char* n, F* f, const char* sig) : name(n), fn(reinterpret_cast<void (*)()>(f)), signature(sig) {}
};

// Publish a table of functions in order.
int export_functions(PyObject* module, std::initializer_list<Export> table);

template <class F>
int export_kernel(PyObject* module, const char* name, F* fn, const char* signature) {
    return export_function(module, name, reinterpret_cast<void (*)()>(fn), signature);
}

// Publish a type's native method table under `__pyx_vtable__`.
int set_vtable(PyTypeObject* type, void* vtable);

}  // namespace qv
