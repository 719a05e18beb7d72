// Binding native exports of other extension modules.  Header-only, so the
// same code serves the package's modules and extensions outside the package
// (shipped as <quorvane/runtime/bind.hpp>, beside <quorvane/runtime/ref.hpp>).
//
// Exporters keep a dict `__pyx_capi__` from each kernel's or variable's name
// to a capsule whose pointer is its address and whose capsule name is its
// signature string.  Import the exporter once, while your module imports,
// bind by name and expected signature, and keep the pointer for the life of
// the process:
//
//     static qv::orbel::AnomalyKernel* eca_from_mea;
//     qv::Ref orbel = qv::import_module("quorvane.state.orbel");
//     if (!orbel || qv::bind_kernel(orbel.get(), "quorvane.state.orbel", "c_eca_from_mea",
//                                   &eca_from_mea, qv::orbel::sig_anomaly) < 0)
//         return nullptr;  // exception pending
//
// Failures, in these words:
//   ImportError "<module> does not export expected C function|variable <name>"
//   TypeError   "C function|variable <module>.<name> has wrong signature (expected ..., got ...)"
//   TypeError   "<module>.<name> is not a type object"
//   ValueError  "<module>.<name> size changed, may indicate binary incompatibility. ..."
#pragma once

#include <cstddef>
#include <cstdio>

#include "runtime/ref.hpp"

namespace qv {

// Import `path`; a new reference, or null with the exception pending.
inline Ref import_module(const char* path) { return Ref::steal(PyImport_ImportModule(path)); }

// Look `name` up in the exporter's table (`kind` is "function" or
// "variable"); -1 with the exception pending.
inline int bind_capsule(PyObject* exporter, const char* path, const char* name, const char* kind, void** pointer,
                        const char* signature) {
    Ref table = Ref::steal(PyObject_GetAttrString(exporter, "__pyx_capi__"));
    if (!table) return -1;
    PyObject* capsule = PyDict_Check(table.get()) ? PyDict_GetItemString(table.get(), name) : nullptr;  // borrowed
    if (!capsule) {
        PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %s %.200s", path, kind, name);
        return -1;
    }
    if (!PyCapsule_IsValid(capsule, signature)) {
        const char* got = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : "(not a capsule)";
        PyErr_Format(PyExc_TypeError, "C %s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)", kind,
                     path, name, signature, got ? got : "(null)");
        return -1;
    }
    *pointer = PyCapsule_GetPointer(capsule, signature);
    return *pointer ? 0 : -1;
}

template <class F>
int bind_kernel(PyObject* exporter, const char* path, const char* name, F** fn, const char* signature) {
    void* pointer = nullptr;
    if (bind_capsule(exporter, path, name, "function", &pointer, signature) < 0) return -1;
    *fn = reinterpret_cast<F*>(pointer);
    return 0;
}

template <class T>
int bind_pointer(PyObject* exporter, const char* path, const char* name, T** address, const char* signature) {
    void* pointer = nullptr;
    if (bind_capsule(exporter, path, name, "variable", &pointer, signature) < 0) return -1;
    *address = static_cast<T*>(pointer);
    return 0;
}

enum class OnLarger { warn, accept };

// Bind a type attribute of an imported module, checking that its instances
// are at least `size` bytes (the layout in the exporter's header).  Returns a
// new reference to the type, or null with the exception pending.
inline PyTypeObject* bind_type(PyObject* exporter, const char* path, const char* name, std::size_t size,
                               OnLarger on_larger = OnLarger::warn) {
    Ref attr = Ref::steal(PyObject_GetAttrString(exporter, name));
    if (!attr) return nullptr;
    if (!PyType_Check(attr.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", path, name);
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(attr.get());
    Py_ssize_t basic = type->tp_basicsize;
    if (static_cast<std::size_t>(basic + type->tp_itemsize) < size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, "
                     "got %zd from PyObject",
                     path, name, static_cast<Py_ssize_t>(size), basic + type->tp_itemsize);
        return nullptr;
    }
    if (on_larger == OnLarger::warn && static_cast<std::size_t>(basic) > size) {
        char message[1024];
        std::snprintf(message, sizeof message,
                      "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd from C header, "
                      "got %zd from PyObject",
                      path, name, static_cast<Py_ssize_t>(size), basic);
        if (PyErr_WarnEx(nullptr, message, 0) < 0) return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(attr.release());
}

// The native method table a type publishes under `__pyx_vtable__`.
inline void* get_vtable(PyTypeObject* type) {
    Ref capsule = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__pyx_vtable__"));
    if (!capsule) return nullptr;
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (!table && !PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    return table;
}

// An imported exporter with its dotted path, binding into process-wide
// slots.  A slot for a type keeps a reference; a retried import replaces it.
//
//     qv::Exporter misc("quorvane.mathtools.misc.misc");
//     if (!misc || misc.kernel(&atan2_asymmetric, "atan2_asymmetric", signature) < 0) return -1;
struct Exporter {
    const char* path;
    Ref module;

    explicit Exporter(const char* p) : path(p), module(import_module(p)) {}
    explicit operator bool() const { return static_cast<bool>(module); }

    int type(PyTypeObject** slot, const char* name, std::size_t size, OnLarger on_larger = OnLarger::accept) {
        return keep(slot, bind_type(module.get(), path, name, size, on_larger));
    }
    // A type together with the native method table it must carry.
    template <class V>
    int type(PyTypeObject** slot, V** vtable, const char* name, std::size_t size) {
        if (type(slot, name, size) < 0) return -1;
        *vtable = static_cast<V*>(get_vtable(*slot));
        return *vtable ? 0 : -1;
    }
    template <class T>
    int variable(T** slot, const char* name, const char* signature) {
        return bind_pointer(module.get(), path, name, slot, signature);
    }
    template <class F>
    int kernel(F** slot, const char* name, const char* signature) {
        return bind_kernel(module.get(), path, name, slot, signature);
    }
};

}  // namespace qv
