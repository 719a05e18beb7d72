// Binding quorvane's exported kernels from an extension module outside the
// package.  Header-only; shipped as <quorvane/capi.hpp>.
//
// Exporting modules keep a dict `__pyx_capi__` from kernel name to a capsule
// whose pointer is the kernel's address and whose capsule name is its
// signature string.  Bind once, while your module imports, and keep the
// pointer for the life of the process:
//
//     static qv::orbel::AnomalyKernel* eca_from_mea;
//     if (quorvane::import_kernel("quorvane.state.orbel", "c_eca_from_mea",
//                                 &eca_from_mea, qv::orbel::sig_anomaly) < 0)
//         return nullptr;  // exception pending
//
// The failures are those of the package's own modules, in the same words:
// ImportError when the name is missing, TypeError when the signature differs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvane {

// Look `name` up in the `__pyx_capi__` of an imported module; `kind` is
// "function" or "variable".  Returns 0, or -1 with the exception pending.
inline int bind_capsule(PyObject* exporter, const char* path, const char* name, const char* kind,
                        const char* signature, void** pointer) {
    PyObject* table = PyObject_GetAttrString(exporter, "__pyx_capi__");
    if (!table) return -1;
    PyObject* capsule = PyDict_Check(table) ? PyDict_GetItemString(table, name) : nullptr;  // borrowed
    int result = -1;
    if (!capsule) {
        PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %s %.200s", path, kind, name);
    } else if (!PyCapsule_IsValid(capsule, signature)) {
        const char* got = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : "(not a capsule)";
        PyErr_Format(PyExc_TypeError, "C %s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)", kind,
                     path, name, signature, got ? got : "(null)");
    } else {
        *pointer = PyCapsule_GetPointer(capsule, signature);
        result = *pointer ? 0 : -1;
    }
    Py_DECREF(table);
    return result;
}

template <class F>
int bind_kernel(PyObject* exporter, const char* path, const char* name, F** fn, const char* signature) {
    void* pointer = nullptr;
    if (bind_capsule(exporter, path, name, "function", signature, &pointer) < 0) return -1;
    *fn = reinterpret_cast<F*>(pointer);
    return 0;
}

template <class T>
int bind_variable(PyObject* exporter, const char* path, const char* name, T** address, const char* signature) {
    void* pointer = nullptr;
    if (bind_capsule(exporter, path, name, "variable", signature, &pointer) < 0) return -1;
    *address = static_cast<T*>(pointer);
    return 0;
}

// Import the module `path` and bind one kernel from it.  The exporter stays
// imported (sys.modules holds it), so the pointer remains valid.
template <class F>
int import_kernel(const char* path, const char* name, F** fn, const char* signature) {
    PyObject* exporter = PyImport_ImportModule(path);
    if (!exporter) return -1;
    int result = bind_kernel(exporter, path, name, fn, signature);
    Py_DECREF(exporter);
    return result;
}

}  // namespace quorvane
