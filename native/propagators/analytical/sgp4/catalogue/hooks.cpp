// quorvane._testing.tle_fields: the shared field library's conversions, one
// field at a time, so tests can hold them against the C library and against
// hostile text.  A private test module of its own, outside the reader.
#include <cstring>

#include "propagators/analytical/sgp4/catalogue/convert.hpp"
#include "propagators/analytical/sgp4/catalogue/format.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"
#include "runtime/module_frame.hpp"
#include "runtime/runtime.hpp"

namespace qv::catalogue {

namespace {

constexpr const char* module_path = "quorvane._testing.tle_fields";

// A hook's one bytes argument as NUL-terminated text (its first 255 bytes).
using Text = char[256];
int text_argument(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Text& out) {
    PyObject* value;
    if (bind_arguments(params, args, nargs, kwnames, &value) < 0) return -1;
    if (!PyBytes_Check(value)) {
        PyErr_Format(PyExc_TypeError, "expected bytes, got %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    std::size_t n = static_cast<std::size_t>(PyBytes_GET_SIZE(value));
    if (n > sizeof out - 1) n = sizeof out - 1;
    std::memcpy(out, PyBytes_AS_STRING(value), n);
    out[n] = '\0';
    return 0;
}

PyObject* atof_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* atoi_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* line1_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* encode_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

const FunctionDef atof_def{"_atof", "_atof(text: bytes) -> float: the field library's atof.", atof_hook,
                           {"_atof", {"text"}, 1, 1}};
const FunctionDef atoi_def{"_atoi", "_atoi(text: bytes) -> int: the field library's atoi.", atoi_hook,
                           {"_atoi", {"text"}, 1, 1}};
const FunctionDef line1_def{
    "_line1",
    "_line1(line: bytes) -> tuple: (satno, epoch ns or None, ndot, nddot, bstar, ephemeris type,\n"
    "element number) of a line 1 stored as the record stores it.",
    line1_hook,
    {"_line1", {"line"}, 1, 1}};
const FunctionDef encode_def{"_encode_satno", "_encode_satno(satno: int) -> str | None: the five-character field.",
                             encode_hook, {"_encode_satno", {"satno"}, 1, 1}};

PyObject* atof_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Text text;
    if (text_argument(atof_def.params, args, nargs, kwnames, text) < 0) return nullptr;
    return PyFloat_FromDouble(tle::field_atof(text));
}

PyObject* atoi_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Text text;
    if (text_argument(atoi_def.params, args, nargs, kwnames, text) < 0) return nullptr;
    return PyLong_FromLong(tle::field_atoi(text));
}

PyObject* line1_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Text text;
    if (text_argument(line1_def.params, args, nargs, kwnames, text) < 0) return nullptr;
    char line[stored_size];
    store_line(text, static_cast<std::int64_t>(std::strlen(text)), text + sizeof text, line);
    std::int64_t ns = 0;
    Ref epoch = Ref::steal(tle::epoch_ns(line, &ns) ? PyLong_FromLongLong(ns) : Py_NewRef(Py_None));
    if (!epoch) return nullptr;
    return Py_BuildValue("(LOdddii)", static_cast<long long>(tle::decode_satno(line + tle::col::satno.offset)),
                         epoch.get(), tle::ndot(line), tle::nddot(line), tle::bstar(line),
                         tle::read_int(line, tle::col::ephemeris_type), tle::read_int(line, tle::col::element_number));
}

PyObject* encode_hook(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (bind_arguments(encode_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    long long satno = PyLong_AsLongLong(a[0]);
    if (satno == -1 && PyErr_Occurred()) return nullptr;
    char field[5];
    if (!tle::encode_satno(satno, field)) Py_RETURN_NONE;
    return PyUnicode_FromStringAndSize(field, 5);
}

int steps(PyObject* module) {
    if (!tle::init_c_locale()) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    for (const FunctionDef* def : {&atof_def, &atoi_def, &line1_def, &encode_def}) {
        if (add_function(module, def, module_path, nullptr) < 0) return -1;
    }
    return 0;
}

ModuleFrame frame{"tle_fields", module_path,
                  "The two-line field library's conversions one field at a time, for quorvane's own tests.", steps,
                  false};

}  // namespace

}  // namespace qv::catalogue

PyMODINIT_FUNC PyInit_tle_fields() { return qv::catalogue::frame.init(); }
