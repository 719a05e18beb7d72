#include "runtime/capi.hpp"


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

int set_vtable(PyTypeObject* type, void* vtable) {
    Ref capsule = Ref::steal(PyCapsule_New(vtable, nullptr, nullptr));
    if (!capsule) return -1;
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__pyx_vtable__", capsule.get());
}

}  // namespace qv
