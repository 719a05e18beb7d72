#include "runtime/function.hpp"

#include <structmember.h>

#include <string>

namespace qv {

namespace {

PyTypeObject* function_type = nullptr;

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* f = reinterpret_cast<Function*>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (f->def->method && nargs == 0) {
        PyErr_Format(PyExc_TypeError, "unbound method %.200s() needs an argument", f->def->qualname);
        return nullptr;
    }
    return f->def->impl(f, args, nargs, kwnames);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    Py_VISIT(f->object_defaults);
    return 0;
}

int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->object_defaults);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    auto* f = reinterpret_cast<Function*>(self);
    if (f->weakrefs) PyObject_ClearWeakRefs(self);
    function_clear(self);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    return PyUnicode_FromFormat("<native function %U.%U at %p>", f->module, f->qualname, self);
}

// Every default the holder keeps, for the last parameters in order.
PyObject* all_defaults(Function* f) {
    if (f->object_defaults) return Py_NewRef(f->object_defaults);
    if (f->n_double_defaults == 0) Py_RETURN_NONE;
    Ref tuple = Ref::steal(PyTuple_New(f->n_double_defaults));
    if (!tuple) return nullptr;
    for (Py_ssize_t i = 0; i < f->n_double_defaults; ++i) {
        PyObject* value = PyFloat_FromDouble(f->double_defaults[i]);
        if (!value) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i, value);
    }
    return tuple.release();
}

// As Python functions do: __defaults__ holds the defaults of the
// positional-or-keyword parameters, __kwdefaults__ a dict of those of the
// keyword-only ones (None when there are none).
PyObject* get_defaults(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    Ref all = Ref::steal(all_defaults(f));
    Py_ssize_t keyword_only = f->def->params.keyword_only;
    if (!all || all.get() == Py_None || keyword_only == 0) return all.release();
    Py_ssize_t positional = PyTuple_GET_SIZE(all.get()) - keyword_only;
    if (positional <= 0) Py_RETURN_NONE;
    return PyTuple_GetSlice(all.get(), 0, positional);
}

PyObject* get_kwdefaults(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    const Params& p = f->def->params;
    if (p.keyword_only == 0) Py_RETURN_NONE;
    Ref all = Ref::steal(all_defaults(f));
    if (!all) return nullptr;
    if (all.get() == Py_None) Py_RETURN_NONE;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    Py_ssize_t n = PyTuple_GET_SIZE(all.get());
    for (Py_ssize_t i = p.positional(); i < p.count; ++i) {
        Py_ssize_t d = i - (p.count - n);
        if (d >= 0 && PyDict_SetItemString(dict.get(), p.names[i], PyTuple_GET_ITEM(all.get(), d)) < 0) return nullptr;
    }
    return dict.release();
}

template <PyObject* Function::*Field>
PyObject* get_field(PyObject* self, void*) {
    PyObject* value = reinterpret_cast<Function*>(self)->*Field;
    return Py_NewRef(value ? value : Py_None);
}

template <PyObject* Function::*Field, bool StrOnly>
int set_field(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "this function attribute cannot be deleted");
        return -1;
    }
    if (StrOnly && !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__name__ and __qualname__ must be set to a string object");
        return -1;
    }
    replace(&(reinterpret_cast<Function*>(self)->*Field), Py_NewRef(value));
    return 0;
}

PyObject* get_annotations(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (!f->annotations) {
        f->annotations = PyDict_New();
        if (!f->annotations) return nullptr;
    }
    return Py_NewRef(f->annotations);
}

// inspect.Signature built from the parameter names, the default holder and
// the annotations; methods list `self` first.
PyObject* get_signature(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    Ref inspect = Ref::steal(PyImport_ImportModule("inspect"));
    if (!inspect) return nullptr;
    Ref parameter = Ref::steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    Ref signature = Ref::steal(PyObject_GetAttrString(inspect.get(), "Signature"));
    if (!parameter || !signature) return nullptr;
    Ref positional_kind = Ref::steal(PyObject_GetAttrString(parameter.get(), "POSITIONAL_OR_KEYWORD"));
    Ref keyword_kind = Ref::steal(PyObject_GetAttrString(parameter.get(), "KEYWORD_ONLY"));
    Ref empty = Ref::steal(PyObject_GetAttrString(parameter.get(), "empty"));
    Ref defaults = Ref::steal(all_defaults(f));
    if (!positional_kind || !keyword_kind || !empty || !defaults) return nullptr;
    const Params& p = f->def->params;
    Py_ssize_t ndefaults = defaults.get() == Py_None ? 0 : PyTuple_GET_SIZE(defaults.get());
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    auto add = [&](const char* name, PyObject* default_value, PyObject* kind) -> int {
        Ref pyname = Ref::steal(PyUnicode_FromString(name));
        if (!pyname) return -1;
        PyObject* annotation = f->annotations ? PyDict_GetItemWithError(f->annotations, pyname.get()) : nullptr;
        if (!annotation && PyErr_Occurred()) return -1;
        Ref args = Ref::steal(Py_BuildValue("(OO)", pyname.get(), kind));
        Ref kwargs = Ref::steal(Py_BuildValue("{s:O,s:O}", "default", default_value ? default_value : empty.get(),
                                              "annotation", annotation ? annotation : empty.get()));
        if (!args || !kwargs) return -1;
        Ref param = Ref::steal(PyObject_Call(parameter.get(), args.get(), kwargs.get()));
        if (!param) return -1;
        return PyList_Append(list.get(), param.get());
    };
    if (f->def->method && add("self", nullptr, positional_kind.get()) < 0) return nullptr;
    for (Py_ssize_t i = 0; i < p.count; ++i) {
        Py_ssize_t d = i - (p.count - ndefaults);
        PyObject* kind = i < p.positional() ? positional_kind.get() : keyword_kind.get();
        if (add(p.names[i], d >= 0 ? PyTuple_GET_ITEM(defaults.get(), d) : nullptr, kind) < 0) return nullptr;
    }
    PyObject* ret = f->annotations ? PyDict_GetItemString(f->annotations, "return") : nullptr;
    Ref args = Ref::steal(Py_BuildValue("(O)", list.get()));
    Ref kwargs = Ref::steal(Py_BuildValue("{s:O}", "return_annotation", ret ? ret : empty.get()));
    if (!args || !kwargs) return nullptr;
    return PyObject_Call(signature.get(), args.get(), kwargs.get());
}

PyObject* function_reduce(PyObject* self, PyObject*) {
    return Py_NewRef(reinterpret_cast<Function*>(self)->qualname);
}

PyGetSetDef function_getset[] = {
    {"__name__", get_field<&Function::name>, set_field<&Function::name, true>, nullptr, nullptr},
    {"__qualname__", get_field<&Function::qualname>, set_field<&Function::qualname, true>, nullptr, nullptr},
    {"__module__", get_field<&Function::module>, set_field<&Function::module, false>, nullptr, nullptr},
    {"__doc__", get_field<&Function::doc>, set_field<&Function::doc, false>, nullptr, nullptr},
    {"__annotations__", get_annotations, set_field<&Function::annotations, false>, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef function_members[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weakrefs), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(Function, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_getset, function_getset},
    {Py_tp_methods, function_methods},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "quorvane.native_function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

PyTypeObject* get_function_type() {
    if (!function_type) {
        function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    }
    return function_type;
}

// Pickling refusal shared by the classes with a native constructor.  The
// arguments are bound first (args[0] is the instance), so a wrong count gets
// the usual argument-count TypeError before the refusal.
PyObject* refuse_reduce(Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[Params::max_params];
    if (bind_arguments(f->def->params, args + 1, nargs - 1, kwnames, bound) < 0) return nullptr;
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

}  // namespace

Ref make_function(const FunctionDef* def, const char* module_path, PyObject* annotations) {
    PyTypeObject* type = get_function_type();
    if (!type) return {};
    Ref self = Ref::steal(reinterpret_cast<PyObject*>(PyObject_GC_New(Function, type)));
    if (!self) return {};
    auto* f = reinterpret_cast<Function*>(self.get());
    f->vectorcall = function_vectorcall;
    f->def = def;
    f->name = f->qualname = f->module = f->doc = f->annotations = f->dict = f->weakrefs = nullptr;
    f->object_defaults = nullptr;
    f->n_double_defaults = 0;
    PyObject_GC_Track(self.get());
    f->name = PyUnicode_FromString(def->params.function);
    f->qualname = PyUnicode_FromString(def->qualname);
    f->module = PyUnicode_FromString(module_path);
    f->doc = def->doc ? PyUnicode_FromString(def->doc) : Py_NewRef(Py_None);
    f->annotations = annotations ? Py_NewRef(annotations) : PyDict_New();
    if (!f->name || !f->qualname || !f->module || !f->doc || !f->annotations) return {};
    return self;
}

Ref make_annotations(std::initializer_list<std::pair<const char*, const char*>> items) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    for (const auto& [name, text] : items) {
        Ref value = Ref::steal(PyUnicode_FromString(text));
        if (!value || PyDict_SetItemString(dict.get(), name, value.get()) < 0) return {};
    }
    return dict;
}

void set_object_defaults(PyObject* function, PyObject* defaults_tuple) {
    replace(&reinterpret_cast<Function*>(function)->object_defaults, Py_NewRef(defaults_tuple));
}

void set_double_default(PyObject* function, double value) {
    auto* f = reinterpret_cast<Function*>(function);
    f->double_defaults[f->n_double_defaults++] = value;
}

int add_function(PyObject* target, const FunctionDef* def, const char* module_path, PyObject* annotations) {
    Ref function = make_function(def, module_path, annotations);
    if (!function) return -1;
    if (PyType_Check(target)) {
        auto* type = reinterpret_cast<PyTypeObject*>(target);
        if (PyDict_SetItemString(type->tp_dict, def->params.function, function.get()) < 0) return -1;
        PyType_Modified(type);
        return 0;
    }
    return PyObject_SetAttrString(target, def->params.function, function.get());
}

int refuse_pickling(PyTypeObject* type, const char* type_name, const char* module_path) {
    // The definitions live as long as the process; one pair per type.
    auto* reduce = new FunctionDef{nullptr, nullptr, refuse_reduce, {"__reduce__", {}, 0, 0}, true};
    auto* setstate =
        new FunctionDef{nullptr, nullptr, refuse_reduce, {"__setstate__", {"state"}, 1, 1}, true};
    auto* names = new std::string[2]{std::string(type_name) + ".__reduce__", std::string(type_name) + ".__setstate__"};
    reduce->qualname = names[0].c_str();
    setstate->qualname = names[1].c_str();
    if (add_function(reinterpret_cast<PyObject*>(type), reduce, module_path, nullptr) < 0) return -1;
    return add_function(reinterpret_cast<PyObject*>(type), setstate, module_path, nullptr);
}

}  // namespace qv
