// Native export tables between extension modules.
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

// Import `path` and return the module object (new reference) or null.
Ref import_module(const char* path);

// Bind a function or variable from an imported exporter; -1 with ImportError
// (name missing) or TypeError (signature differs) pending.
int bind_function(PyObject* exporter, const char* path, const char* name, void (**fn)(), const char* signature);
int bind_variable(PyObject* exporter, const char* path, const char* name, void** address, const char* signature);

template <class F>
int bind_kernel(PyObject* exporter, const char* path, const char* name, F** fn, const char* signature) {
    void (*raw)() = nullptr;
    if (bind_function(exporter, path, name, &raw, signature) < 0) return -1;
    *fn = reinterpret_cast<F*>(raw);
    return 0;
}
template <class T>
int bind_pointer(PyObject* exporter, const char* path, const char* name, T** address, const char* signature) {
    void* raw = nullptr;
    if (bind_variable(exporter, path, name, &raw, signature) < 0) return -1;
    *address = static_cast<T*>(raw);
    return 0;
}

enum class OnLarger { warn, accept };

// Bind a type attribute of an imported module, checking that its instances
// are at least `size` bytes (the layout in the exporter's header).  Returns a
// new reference to the type, or null with the exception pending.
PyTypeObject* bind_type(PyObject* exporter, const char* path, const char* name, std::size_t size,
                        OnLarger on_larger = OnLarger::warn);

// Native method tables of types.
int set_vtable(PyTypeObject* type, void* vtable);
void* get_vtable(PyTypeObject* type);

}  // namespace qv
