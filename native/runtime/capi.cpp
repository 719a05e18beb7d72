#include "runtime/capi.hpp"

#include <cstdio>

namespace qv {

namespace {

int export_capsule(PyObject* module, const char* name, void* pointer, const char* signature) {
    Ref table = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!table) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        table = Ref::steal(PyDict_New());
        if (!table || PyObject_SetAttrString(module, "__pyx_capi__", table.get()) < 0) return -1;
    }
    Ref capsule = Ref::steal(PyCapsule_New(pointer, signature, nullptr));
    if (!capsule) return -1;
    return PyDict_SetItemString(table.get(), name, capsule.get());
}

// Look `name` up in the exporter's table; -1 with the exception pending.
int bind_capsule(PyObject* exporter, const char* path, const char* name, const char* kind, void** pointer,
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

}  // namespace

int export_function(PyObject* module, const char* name, void (*fn)(), const char* signature) {
    return export_capsule(module, name, reinterpret_cast<void*>(fn), signature);
}

int export_functions(PyObject* module, std::initializer_list<Export> table) {
    for (const Export& e : table) {
        if (export_function(module, e.name, e.fn, e.signature) < 0) return -1;
    }
    return 0;
}

int export_variable(PyObject* module, const char* name, void* address, const char* signature) {
    return export_capsule(module, name, address, signature);
}

Ref import_module(const char* path) { return Ref::steal(PyImport_ImportModule(path)); }

int bind_function(PyObject* exporter, const char* path, const char* name, void (**fn)(), const char* signature) {
    void* pointer = nullptr;
    if (bind_capsule(exporter, path, name, "function", &pointer, signature) < 0) return -1;
    *fn = reinterpret_cast<void (*)()>(pointer);
    return 0;
}

int bind_variable(PyObject* exporter, const char* path, const char* name, void** address, const char* signature) {
    return bind_capsule(exporter, path, name, "variable", address, signature);
}

PyTypeObject* bind_type(PyObject* exporter, const char* path, const char* name, std::size_t size,
                        OnLarger on_larger) {
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

int set_vtable(PyTypeObject* type, void* vtable) {
    Ref capsule = Ref::steal(PyCapsule_New(vtable, nullptr, nullptr));
    if (!capsule) return -1;
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__pyx_vtable__", capsule.get());
}

void* get_vtable(PyTypeObject* type) {
    Ref capsule = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__pyx_vtable__"));
    if (!capsule) return nullptr;
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (!table && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    }
    return table;
}

}  // namespace qv
