#include "runtime/module_frame.hpp"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "runtime/capi.hpp"
#include "runtime/numpy_api.hpp"

namespace qv {

namespace {

// Interpreter that first loaded any module of this extension.
int64_t main_interpreter_id = -1;

// The frame of this extension.  The runtime is linked into every extension
// with hidden visibility and each extension holds one module, so this is
// that module's frame.  The exec slot must not find it through the module
// object: PyModule_ExecDef may hand it any module (a plain ModuleType has no
// definition at all, another extension's module has that extension's).
ModuleFrame* this_frame = nullptr;

ModuleFrame* frame_of(PyModuleDef* def) {
    return reinterpret_cast<ModuleFrame*>(reinterpret_cast<char*>(def) - offsetof(ModuleFrame, def_));
}

int check_single_interpreter() {
    int64_t current = PyInterpreterState_GetID(PyThreadState_Get()->interp);
    if (main_interpreter_id == -1) {
        main_interpreter_id = current;
        return current == -1 ? -1 : 0;
    }
    if (current != main_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return -1;
    }
    return 0;
}

int copy_spec_attr(PyObject* module_spec, PyObject* dict, const char* from, const char* to, bool allow_none) {
    Ref value = Ref::steal(PyObject_GetAttrString(module_spec, from));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    if (!allow_none && value.get() == Py_None) return 0;
    return PyDict_SetItemString(dict, to, value.get());
}

// Warn when the module runs under another Python minor version than it was
// compiled for.
int check_binary_version(const char* name) {
    const char* rt = Py_GetVersion();
    int rt_major = 0, rt_minor = 0;
    if (std::sscanf(rt, "%d.%d", &rt_major, &rt_minor) != 2) return 0;
    if (rt_major == PY_MAJOR_VERSION && rt_minor == PY_MINOR_VERSION) return 0;
    char message[200];
    std::snprintf(message, sizeof message, "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, name, "does not match", rt_major, rt_minor);
    return PyErr_WarnEx(nullptr, message, 1);
}

int read_debug_flag(bool* flag) {
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    PyObject* debug = builtins ? PyDict_GetItemString(builtins, "__debug__") : nullptr;
    if (!debug) {
        *flag = true;
        return 0;
    }
    int truth = PyObject_IsTrue(debug);
    if (truth < 0) return -1;
    *flag = truth != 0;
    return 0;
}

}  // namespace

PyObject* ModuleFrame::create_slot(PyObject* module_spec, PyModuleDef* def) {
    ModuleFrame* frame = frame_of(def);
    if (check_single_interpreter() < 0) return nullptr;
    if (frame->module) return Py_NewRef(frame->module);

    Ref modname = Ref::steal(PyObject_GetAttrString(module_spec, "name"));
    if (!modname) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(modname.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());  // borrowed
    if (copy_spec_attr(module_spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attr(module_spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attr(module_spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attr(module_spec, dict, "submodule_search_locations", "__path__", false) < 0) {
        return nullptr;
    }
    return module.release();
}

int ModuleFrame::exec_slot(PyObject* module) {
    ModuleFrame* frame = this_frame;
    if (frame->module) {
        if (frame->module == module) return 0;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.", frame->name);
        return -1;
    }
    frame->module = Py_NewRef(module);
    bool ok = check_binary_version(frame->name) == 0 && read_debug_flag(&frame->assertions) == 0 &&
              (!frame->uses_numpy || import_numpy_api() == 0) && frame->steps(module) == 0;
    if (ok) return 0;
    Py_CLEAR(frame->module);
    if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "init %s", frame->path);
    return -1;
}

PyObject* ModuleFrame::init() {
    this_frame = this;
    slots_[0] = {Py_mod_create, reinterpret_cast<void*>(&ModuleFrame::create_slot)};
    slots_[1] = {Py_mod_exec, reinterpret_cast<void*>(&ModuleFrame::exec_slot)};
    slots_[2] = {0, nullptr};
    def_ = PyModuleDef{PyModuleDef_HEAD_INIT, name, doc, 0, nullptr, slots_, nullptr, nullptr, nullptr};
    return PyModuleDef_Init(&def_);
}

int module_add(PyObject* module, const char* name, PyObject* value) {
    return PyObject_SetAttrString(module, name, value);
}

PyTypeObject* add_type(PyObject* module, PyType_Spec* type_spec, PyTypeObject* base, void* vtable) {
    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, type_spec, reinterpret_cast<PyObject*>(base)));
    if (!type) return nullptr;
    if (vtable && set_vtable(reinterpret_cast<PyTypeObject*>(type.get()), vtable) < 0) return nullptr;
    const char* dot = std::strrchr(type_spec->name, '.');
    if (module_add(module, dot ? dot + 1 : type_spec->name, type.get()) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

int module_import_as(PyObject* module, const char* path, const char* as) {
    Ref imported = Ref::steal(PyImport_ImportModule(path));
    if (!imported) return -1;
    return module_add(module, as, imported.get());
}

Ref import_from(const char* path, const char* name) {
    Ref fromlist = Ref::steal(Py_BuildValue("(s)", name));
    if (!fromlist) return {};
    Ref imported = Ref::steal(PyImport_ImportModuleLevel(path, nullptr, nullptr, fromlist.get(), 0));
    if (!imported) return {};
    Ref value = Ref::steal(PyObject_GetAttrString(imported.get(), name));
    if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        Ref pyname = Ref::steal(PyUnicode_FromString(name));
        if (pyname) PyErr_Format(PyExc_ImportError, "cannot import name %S", pyname.get());
    }
    return value;
}

}  // namespace qv
