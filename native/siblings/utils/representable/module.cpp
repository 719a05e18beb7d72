// quorvane.utils.representable: the presentation base class Representable.
//
// Printed form of an instance (repr and str are the same text):
//
//     <header>
//     =========================   (rule of '=')
//     <body, where every line that is exactly "{fence}" becomes a rule of '-'>
//
// Both rules are as wide as the widest line of the header and the body, fence
// lines not counted (widths in code points).  Only whole lines "{fence}" are
// replaced; braces elsewhere in the text are left alone.  An empty body gives
// the header and its rule only.  A class without _get_header/_get_body prints
// as a plain object.
#include <structmember.h>

#include "runtime/runtime.hpp"
#include "siblings/utils/representable/representable.hpp"

namespace {

using qv::Ref;
using qv::representable::RepresentableObject;

constexpr const char* module_path = "quorvane.utils.representable";

PyTypeObject* representable_type = nullptr;

// --- Type slots -------------------------------------------------------------

PyObject* representable_new(PyTypeObject* type, PyObject*, PyObject*) { return type->tp_alloc(type, 0); }

int representable_init(PyObject*, PyObject*, PyObject*) { return 0; }

int representable_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<RepresentableObject*>(self)->dict);
    return 0;
}

int representable_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<RepresentableObject*>(self)->dict);
    return 0;
}

void representable_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    representable_clear(self);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// --- Text helpers -------------------------------------------------------------

// str(obj) padded with blanks to `width` on the right (left-aligned) or left.
Ref justify(PyObject* obj, Py_ssize_t width, bool left) {
    Ref text = Ref::steal(PyObject_Str(obj));
    if (!text) return {};
    return Ref::steal(PyObject_CallMethod(text.get(), left ? "ljust" : "rjust", "n", width));
}

Ref repeat(const char* c, Py_ssize_t n) {
    Ref one = Ref::steal(PyUnicode_FromString(c));
    return one ? Ref::steal(PySequence_Repeat(one.get(), n < 0 ? 0 : n)) : Ref{};
}

Ref join_lines(PyObject* lines) {
    Ref newline = Ref::steal(PyUnicode_FromString("\n"));
    return newline ? Ref::steal(PyUnicode_Join(newline.get(), lines)) : Ref{};
}

// Widest str() of the items of a list.
int widest(PyObject* list, Py_ssize_t* width) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        Ref text = Ref::steal(PyObject_Str(item.get()));
        if (!text) return -1;
        if (PyUnicode_GET_LENGTH(text.get()) > *width) *width = PyUnicode_GET_LENGTH(text.get());
    }
    return 0;
}

// The caller's dicts are read through snapshots (new lists holding strong
// references): str() and hash() of their keys and values run the caller's
// code, which may change or clear the dict while it is being formatted.

int require_dict(PyObject* value, const char* function, const char* argument) {
    if (PyDict_Check(value)) return 0;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be dict, not %.200s", function, argument,
                 Py_TYPE(value)->tp_name);
    return -1;
}

int require_instance(PyObject* self, const char* function) {
    if (PyObject_TypeCheck(self, representable_type)) return 0;
    PyErr_Format(PyExc_TypeError, "descriptor '%s' requires a 'Representable' object but received '%.200s'",
                 function, Py_TYPE(self)->tp_name);
    return -1;
}

// Bind the one argument of a method; args[0] is the instance.
PyObject* one_argument(qv::Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[1];
    if (qv::bind_arguments(f->def->params, args + 1, nargs - 1, kwnames, bound) < 0) return nullptr;
    if (require_instance(args[0], f->def->params.function) < 0) return nullptr;
    return bound[0];
}

// --- Methods ------------------------------------------------------------------

// "label : text" per entry, labels left-aligned to the widest one.
PyObject* create_formatted_form(qv::Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* form = one_argument(f, args, nargs, kwnames);
    if (!form || require_dict(form, "_create_formatted_form", "form") < 0) return nullptr;
    Ref labels = Ref::steal(PyDict_Keys(form));
    Ref texts = Ref::steal(PyDict_Values(form));
    if (!labels || !texts) return nullptr;
    Py_ssize_t width = 0;
    if (widest(labels.get(), &width) < 0) return nullptr;
    Py_ssize_t n = PyList_GET_SIZE(labels.get());
    Ref lines = Ref::steal(PyList_New(n));
    if (!lines) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref padded = justify(PyList_GET_ITEM(labels.get(), i), width, true);
        if (!padded) return nullptr;
        Ref value = Ref::steal(PyObject_Str(PyList_GET_ITEM(texts.get(), i)));
        if (!value) return nullptr;
        PyObject* line = PyUnicode_FromFormat("%U : %U", padded.get(), value.get());
        if (!line) return nullptr;
        PyList_SET_ITEM(lines.get(), i, line);
    }
    return join_lines(lines.get()).release();
}

// A table: a first column of row labels (left-aligned; rows in order of first
// appearance over the columns), then one right-aligned column per heading,
// columns two blanks apart, a missing cell blank, trailing blanks removed.
PyObject* create_formatted_frame(qv::Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* frame = one_argument(f, args, nargs, kwnames);
    if (!frame || require_dict(frame, "_create_formatted_frame", "frame") < 0) return nullptr;
    Ref headings = Ref::steal(PyDict_Keys(frame));
    Ref columns = Ref::steal(PyDict_Values(frame));
    Ref rows = Ref::steal(PyDict_New());  // row label -> None, in order of first appearance
    if (!headings || !columns || !rows) return nullptr;
    Py_ssize_t ncol = PyList_GET_SIZE(columns.get());
    for (Py_ssize_t c = 0; c < ncol; ++c) {
        PyObject* column = PyList_GET_ITEM(columns.get(), c);
        if (require_dict(column, "_create_formatted_frame", "frame") < 0) return nullptr;
        Ref column_labels = Ref::steal(PyDict_Keys(column));
        if (!column_labels) return nullptr;
        for (Py_ssize_t r = 0; r < PyList_GET_SIZE(column_labels.get()); ++r) {
            if (PyDict_SetDefault(rows.get(), PyList_GET_ITEM(column_labels.get(), r), Py_None) == nullptr) {
                return nullptr;
            }
        }
    }
    // Cell texts, column by column, and each column's width.
    Ref labels = Ref::steal(PyDict_Keys(rows.get()));
    if (!labels) return nullptr;
    Py_ssize_t label_width = 0;
    if (widest(labels.get(), &label_width) < 0) return nullptr;
    Py_ssize_t nrow = PyList_GET_SIZE(labels.get());
    Ref empty = Ref::steal(PyUnicode_FromString(""));
    if (!empty) return nullptr;
    Ref lines = Ref::steal(PyList_New(nrow + 1));
    if (!lines) return nullptr;
    for (Py_ssize_t r = 0; r <= nrow; ++r) {
        Ref start = r == 0 ? repeat(" ", label_width) : justify(PyList_GET_ITEM(labels.get(), r - 1), label_width, true);
        if (!start) return nullptr;
        PyList_SET_ITEM(lines.get(), r, start.release());
    }
    for (Py_ssize_t c = 0; c < ncol; ++c) {
        PyObject* column = PyList_GET_ITEM(columns.get(), c);
        Ref texts = Ref::steal(PyList_New(nrow + 1));
        if (!texts) return nullptr;
        Py_ssize_t width = 0;
        for (Py_ssize_t r = 0; r <= nrow; ++r) {
            Ref source;
            if (r == 0) {
                source = Ref::borrow(PyList_GET_ITEM(headings.get(), c));
            } else {
                // Held from here on: its str() may remove it from the column.
                source = Ref::borrow(PyDict_GetItemWithError(column, PyList_GET_ITEM(labels.get(), r - 1)));
                if (!source && PyErr_Occurred()) return nullptr;
            }
            PyObject* text = source ? PyObject_Str(source.get()) : Py_NewRef(empty.get());
            if (!text) return nullptr;
            PyList_SET_ITEM(texts.get(), r, text);
            if (PyUnicode_GET_LENGTH(text) > width) width = PyUnicode_GET_LENGTH(text);
        }
        for (Py_ssize_t r = 0; r <= nrow; ++r) {
            Ref cell = justify(PyList_GET_ITEM(texts.get(), r), width, false);
            if (!cell) return nullptr;
            PyObject* line = PyList_GET_ITEM(lines.get(), r);
            Ref joined = Ref::steal(PyUnicode_FromFormat("%U  %U", line, cell.get()));
            if (!joined) return nullptr;
            PyList_SetItem(lines.get(), r, joined.release());
        }
    }
    for (Py_ssize_t r = 0; r <= nrow; ++r) {
        Ref stripped = Ref::steal(PyObject_CallMethod(PyList_GET_ITEM(lines.get(), r), "rstrip", nullptr));
        if (!stripped) return nullptr;
        PyList_SetItem(lines.get(), r, stripped.release());
    }
    return join_lines(lines.get()).release();
}

// The heading on its own line, underlined with '~' of the same width.
PyObject* format_as_property(qv::Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* heading = one_argument(f, args, nargs, kwnames);
    if (!heading) return nullptr;
    Ref text = Ref::steal(PyObject_Str(heading));
    if (!text) return nullptr;
    Ref rule = repeat("~", PyUnicode_GET_LENGTH(text.get()));
    return rule ? PyUnicode_FromFormat("%U\n%U", text.get(), rule.get()) : nullptr;
}

// --- Printed form -------------------------------------------------------------

// self.<hook>() as str, or null (TypeError when the hook returns another type).
Ref call_hook(PyObject* self, const char* hook) {
    Ref text = Ref::steal(PyObject_CallMethod(self, hook, nullptr));
    if (text && !PyUnicode_Check(text.get())) {
        PyErr_Format(PyExc_TypeError, "%s() must return str, not %.200s", hook, Py_TYPE(text.get())->tp_name);
        return {};
    }
    return text;
}

// Whether the instance's class provides `hook` (looked up on the type, so a
// failing hook is reported rather than taken as missing).
int has_hook(PyObject* self, const char* hook) {
    return PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), hook);
}

PyObject* representable_repr(PyObject* self) {
    if (!has_hook(self, "_get_header") || !has_hook(self, "_get_body")) return PyBaseObject_Type.tp_repr(self);
    Ref header = call_hook(self, "_get_header");
    if (!header) return nullptr;
    Ref body = call_hook(self, "_get_body");
    if (!body) return nullptr;
    Ref newline = Ref::steal(PyUnicode_FromString("\n"));
    Ref fence = Ref::steal(PyUnicode_FromString("{fence}"));
    if (!newline || !fence) return nullptr;
    Ref header_lines = Ref::steal(PyUnicode_Split(header.get(), newline.get(), -1));
    Ref body_lines = Ref::steal(PyUnicode_Split(body.get(), newline.get(), -1));
    if (!header_lines || !body_lines) return nullptr;
    Py_ssize_t width = 0;
    for (PyObject* lines : {header_lines.get(), body_lines.get()}) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lines); ++i) {
            PyObject* line = PyList_GET_ITEM(lines, i);
            if (PyUnicode_Compare(line, fence.get()) == 0) continue;
            if (PyUnicode_GET_LENGTH(line) > width) width = PyUnicode_GET_LENGTH(line);
        }
    }
    Ref heavy = repeat("=", width);
    Ref light = repeat("-", width);
    if (!heavy || !light) return nullptr;
    if (PyUnicode_GET_LENGTH(body.get()) == 0) return PyUnicode_FromFormat("%U\n%U", header.get(), heavy.get());
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(body_lines.get()); ++i) {
        if (PyUnicode_Compare(PyList_GET_ITEM(body_lines.get(), i), fence.get()) == 0) {
            PyList_SetItem(body_lines.get(), i, light.new_ref());
        }
    }
    Ref filled = join_lines(body_lines.get());
    return filled ? PyUnicode_FromFormat("%U\n%U\n%U", header.get(), heavy.get(), filled.get()) : nullptr;
}

// --- Type ---------------------------------------------------------------------

const qv::FunctionDef form_def{
    "Representable._create_formatted_form",
    "Representable._create_formatted_form(self, form: dict) -> str\n"
    "\n"
    "Lines \"label : text\" for each entry of `form` (label -> text), labels\n"
    "left-aligned to the widest one, in the dict's order.\n",
    create_formatted_form,
    {"_create_formatted_form", {"form"}, 1, 1},
    true,
};
const qv::FunctionDef frame_def{
    "Representable._create_formatted_frame",
    "Representable._create_formatted_frame(self, frame: dict) -> str\n"
    "\n"
    "A table from `frame` (column heading -> {row label -> text}): a first\n"
    "column of row labels, then one right-aligned column per heading, two\n"
    "blanks apart.  Rows appear in order of first appearance; a missing cell\n"
    "is blank.\n",
    create_formatted_frame,
    {"_create_formatted_frame", {"frame"}, 1, 1},
    true,
};
const qv::FunctionDef property_def{
    "Representable._format_as_property",
    "Representable._format_as_property(self, heading: str) -> str\n"
    "\n"
    "A section heading: `heading` on its own line, underlined with '~'.\n",
    format_as_property,
    {"_format_as_property", {"heading"}, 1, 1},
    true,
};

PyMemberDef representable_members[] = {
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(RepresentableObject, dict), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef representable_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot representable_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(representable_new)},
    {Py_tp_init, reinterpret_cast<void*>(representable_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(representable_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(representable_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(representable_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(representable_repr)},
    {Py_tp_members, representable_members},
    {Py_tp_getset, representable_getset},
    {Py_tp_doc, const_cast<char*>("Base class of objects printed from a header and a body.\n\n"
                                  "Subclasses provide _get_header() and _get_body(), both returning str; lines\n"
                                  "\"{fence}\" in the body become rules as wide as the text.")},
    {0, nullptr},
};
PyType_Spec representable_spec{"quorvane.utils.representable.Representable", sizeof(RepresentableObject), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, representable_slots};

int steps(PyObject* module) {
    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, &representable_spec, nullptr));
    if (!type) return -1;
    representable_type = reinterpret_cast<PyTypeObject*>(type.get());
    Ref form_ann = qv::make_annotations({{"form", "dict"}, {"return", "str"}});
    Ref frame_ann = qv::make_annotations({{"frame", "dict"}, {"return", "str"}});
    Ref heading_ann = qv::make_annotations({{"heading", "str"}, {"return", "str"}});
    if (!form_ann || !frame_ann || !heading_ann) return -1;
    if (qv::add_function(type.get(), &form_def, module_path, form_ann.get()) < 0 ||
        qv::add_function(type.get(), &frame_def, module_path, frame_ann.get()) < 0 ||
        qv::add_function(type.get(), &property_def, module_path, heading_ann.get()) < 0 ||
        qv::module_add(module, "Representable", type.get()) < 0) {
        return -1;
    }
    type.release();  // held by representable_type for the process
    return 0;
}

qv::ModuleFrame frame{"representable", module_path,
                      "Representable: the presentation base class (printed form from a header and a body).", steps,
                      false};

}  // namespace

PyMODINIT_FUNC PyInit_representable() { return frame.init(); }
