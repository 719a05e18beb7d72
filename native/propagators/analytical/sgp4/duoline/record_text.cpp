// The text pieces of a DUOLINE record: the heading and the body that the
// presentation base class Representable assembles into the printed form.
//
// The body is the two stored lines, a form with the epoch and the frame, and
// two tables of elements in SI and operational units.  The "{fence}" lines
// are placeholders that Representable fills; the record only puts them in.
#include "propagators/analytical/sgp4/duoline/bound.hpp"
#include "runtime/runtime.hpp"

namespace qv::duoline {

namespace {

DuolineObject* as_record(PyObject* o) { return reinterpret_cast<DuolineObject*>(o); }

// format(value, ".<precision>f") followed by a unit suffix.
Ref format_fixed(double value, int precision, const char* suffix) {
    char* digits = PyOS_double_to_string(value, 'f', precision, 0, nullptr);
    if (!digits) return {};
    Ref text = Ref::steal(PyUnicode_FromFormat("%s%s", digits, suffix));
    PyMem_Free(digits);
    return text;
}

int set_fixed(PyObject* dict, const char* key, double value, int precision, const char* suffix) {
    Ref text = format_fixed(value, precision, suffix);
    if (!text) return -1;
    return PyDict_SetItemString(dict, key, text.get());
}

// One row of an element table: the value in SI units and, divided by
// `unit`, in operational units.
struct Row {
    const char* key;
    double si;
    const char* si_suffix;
    double unit;
    const char* op_suffix;
    int precision;
};

// {"SI units": {...}, "Op. units": {...}}, rows in the order given.
Ref element_table(const Row* rows, int count) {
    Ref si = Ref::steal(PyDict_New());
    Ref op = Ref::steal(PyDict_New());
    if (!si || !op) return {};
    for (int i = 0; i < count; ++i) {
        const Row& row = rows[i];
        if (set_fixed(si.get(), row.key, row.si, row.precision, row.si_suffix) < 0 ||
            set_fixed(op.get(), row.key, row.si / row.unit, row.precision, row.op_suffix) < 0) {
            return {};
        }
    }
    Ref table = Ref::steal(PyDict_New());
    if (!table || PyDict_SetItemString(table.get(), "SI units", si.get()) < 0 ||
        PyDict_SetItemString(table.get(), "Op. units", op.get()) < 0) {
        return {};
    }
    return table;
}

// The form of the epoch and the frame in which the elements are given.
Ref epoch_and_frame(DuolineObject* r) {
    Ref utc = Ref::steal(PyObject_GetAttr(r->epoch, names.utc));
    if (!utc) return {};
    Ref epoch = Ref::steal(PyObject_CallMethodNoArgs(utc.get(), names.repr));
    if (!epoch) return {};
    PyObject* teme = reinterpret_cast<PyObject*>(*bound.TEME);
    if (!teme) {
        PyErr_SetString(PyExc_RuntimeError, "quorvane.frames.frames.TEME is not initialised");
        return {};
    }
    Ref frame = Ref::steal(PyObject_GetAttr(teme, names.name));
    if (!frame) return {};
    Ref form = Ref::steal(PyDict_New());
    if (!form || PyDict_SetItemString(form.get(), "epoch", epoch.get()) < 0 ||
        PyDict_SetItemString(form.get(), "frame", frame.get()) < 0) {
        return {};
    }
    return form;
}

Ref call_base(PyObject* self, PyObject* method, PyObject* argument) {
    return Ref::steal(PyObject_CallMethodOneArg(self, method, argument));
}

Ref call_base(PyObject* self, PyObject* method, const char* text) {
    Ref argument = Ref::steal(PyUnicode_FromString(text));
    if (!argument) return {};
    return call_base(self, method, argument.get());
}

PyObject* get_header(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (check_self(args[0], bound.DUOLINE, "_get_header") < 0) return nullptr;
    if (bind_no_arguments("_get_header", nargs - 1, kwnames) < 0) return nullptr;
    return PyUnicode_FromString("Two-line Elements (DUOLINE)");
}

PyObject* get_body(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, bound.DUOLINE, "_get_body") < 0) return nullptr;
    if (bind_no_arguments("_get_body", nargs - 1, kwnames) < 0) return nullptr;
    DuolineObject* r = as_record(self);

    Ref form_dict = epoch_and_frame(r);
    if (!form_dict) return nullptr;
    Ref form = call_base(self, names.create_formatted_form, form_dict.get());
    if (!form) return nullptr;

    const double km = *bound.km, deg = *bound.deg, hour = *bound.hour, rev = *bound.rev, day = *bound.day;
    // Classical elements in the order of the ORBEL_t record.
    const Row orbital_rows[] = {
        {"ecc", r->ecc, "", 1.0, "", 5},
        {"sma", r->sma, " m", km, " km", 3},
        {"inc", r->inc, " rad", deg, " deg", 3},
        {"raa", r->raa, " rad", deg, " deg", 3},
        {"arp", r->arp, " rad", deg, " deg", 3},
        {"tra", r->tra, " rad", deg, " deg", 3},
    };
    Ref orbital_dict = element_table(orbital_rows, 6);
    if (!orbital_dict) return nullptr;
    Ref orbital = call_base(self, names.create_formatted_frame, orbital_dict.get());
    if (!orbital) return nullptr;

    const Row derived_rows[] = {
        {"orp", r->orp, " s", hour, " hour", 3},
        {"mnm", r->mnm, " rad/s", rev / day, " rev/day", 3},
        {"mea", r->mea, " rad", deg, " deg", 3},
        {"eca", r->eca, " rad", deg, " deg", 3},
        {"pge", r->pge, " m", km, " km", 3},
        {"apg", r->apg, " m", km, " km", 3},
    };
    Ref derived_dict = element_table(derived_rows, 6);
    if (!derived_dict) return nullptr;
    Ref derived = call_base(self, names.create_formatted_frame, derived_dict.get());
    if (!derived) return nullptr;

    Ref orbital_heading = call_base(self, names.format_as_property, "Orbital Elements:");
    if (!orbital_heading) return nullptr;
    Ref derived_heading = call_base(self, names.format_as_property, "Derived Elements:");
    if (!derived_heading) return nullptr;

    Ref line1 = Ref::steal(PyObject_GetAttr(self, names.line1));
    if (!line1) return nullptr;
    Ref line2 = Ref::steal(PyObject_GetAttr(self, names.line2));
    if (!line2) return nullptr;

    // Each piece converted to str as an f-string would (format with "").
    PyObject* values[] = {line1.get(), line2.get(), form.get(), orbital_heading.get(), orbital.get(),
                          derived_heading.get(), derived.get()};
    Ref text[7];
    for (int i = 0; i < 7; ++i) {
        text[i] = Ref::steal(PyObject_Format(values[i], names.empty));
        if (!text[i]) return nullptr;
    }
    Ref newline = Ref::steal(PyUnicode_FromString("\n"));
    Ref fence = Ref::steal(PyUnicode_FromString("\n{fence}\n"));
    if (!newline || !fence) return nullptr;
    PyObject* pieces[] = {text[0].get(), newline.get(), text[1].get(), fence.get(),   text[2].get(),
                          fence.get(),   text[3].get(), newline.get(), text[4].get(), fence.get(),
                          text[5].get(), newline.get(), text[6].get()};
    constexpr Py_ssize_t count = sizeof pieces / sizeof pieces[0];
    Ref tuple = Ref::steal(PyTuple_New(count));
    if (!tuple) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(pieces[i]));
    return PyUnicode_Join(names.empty, tuple.get());
}

const FunctionDef header_def{"DUOLINE._get_header", "DUOLINE._get_header(self) -> str", get_header,
                             {"_get_header", {}, 0, 0}, true};
const FunctionDef body_def{"DUOLINE._get_body", "DUOLINE._get_body(self) -> str", get_body,
                           {"_get_body", {}, 0, 0}, true};

}  // namespace

int add_duoline_functions() {
    PyObject* type = reinterpret_cast<PyObject*>(bound.DUOLINE);
    for (const FunctionDef* def : {&header_def, &body_def}) {
        Ref annotations = make_annotations({{"return", "str"}});
        if (!annotations || add_function(type, def, module_path, annotations.get()) < 0) return -1;
    }
    return refuse_pickling(bound.DUOLINE, "DUOLINE", module_path);
}

}  // namespace qv::duoline
