// The module's value functions: published OMM values to the mean and
// derived elements, and columns back to two-line text.
#include <cstring>

#include "propagators/analytical/sgp4/catalogue/format.hpp"
#include "propagators/analytical/sgp4/catalogue/module.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace qv::catalogue {

namespace {

constexpr std::size_t rows_per_task = 2048;               // values converted as one task
constexpr std::size_t parallel_rows = 4 * rows_per_task;  // fewer are converted on one thread

PyObject* from_published(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* format_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// ---------------------------------------------------------------- from_published

const FunctionDef from_published_def{
    "from_published",
    "from_published(inc, raa, ecc, arp, mea, mnm, *, threads=None) -> dict[str, ndarray]\n\n"
    "The six mean elements in SI units and the six derived elements from the published values\n"
    "(degrees, eccentricity, revolutions per day), with the record's arithmetic.",
    from_published,
    {"from_published", {"inc", "raa", "ecc", "arp", "mea", "mnm", "threads"}, 7, 6, 1}};

PyObject* from_published(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[7];
    if (bind_arguments(from_published_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    int threads;
    if (threads_argument(a[6], &threads) < 0) return nullptr;
    Environment env;
    if (environment(&env, false) < 0) return nullptr;
    Ref in[6];
    npy_intp n = 0;
    for (int k = 0; k < 6; ++k) {
        in[k] = Ref::steal(PyArray_FROMANY(a[k], NPY_DOUBLE, 1, 1, NPY_ARRAY_IN_ARRAY));
        if (!in[k]) return nullptr;
        const npy_intp size = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(in[k].get()));
        if (k == 0) n = size;
        if (size != n) {
            PyErr_Format(PyExc_ValueError, "%s has %zd values, inc has %zd", from_published_def.params.names[k],
                         static_cast<Py_ssize_t>(size), static_cast<Py_ssize_t>(n));
            return nullptr;
        }
    }
    const char* names[12] = {"inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "orp", "eca", "tra", "pge", "apg"};
    Ref out[12];
    Columns c{};
    double** slots[12] = {&c.inc, &c.raa, &c.ecc, &c.arp, &c.mea, &c.mnm,
                          &c.sma, &c.orp, &c.eca, &c.tra, &c.pge, &c.apg};
    for (int k = 0; k < 12; ++k) {
        if (!(out[k] = new_array(NPY_DOUBLE, n))) return nullptr;
        *slots[k] = data_of<double>(out[k]);
    }
    const double* p[6];
    for (int k = 0; k < 6; ++k) p[k] = data_of<double>(in[k]);
    Py_BEGIN_ALLOW_THREADS
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t tasks = (rows + rows_per_task - 1) / rows_per_task;
    parallel_for(tasks, threads_for(rows, parallel_rows, threads), [&](std::size_t t) {
        const std::size_t end = (t + 1) * rows_per_task < rows ? (t + 1) * rows_per_task : rows;
        for (std::size_t i = t * rows_per_task; i < end; ++i) {
            const tle::MeanElements e =
                tle::si_elements({p[0][i], p[1][i], p[2][i], p[3][i], p[4][i], p[5][i]}, env.deg, env.rev, env.day);
            store_mean_elements(i, e, c);
            derive_row(i, env, c);
        }
    });
    Py_END_ALLOW_THREADS
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (int k = 0; k < 12; ++k) {
        if (PyDict_SetItemString(dict.get(), names[k], out[k].get()) < 0) return nullptr;
    }
    return dict.release();
}

// ---------------------------------------------------------------- format_tle

const FunctionDef format_tle_def{"format_tle",
                                 "format_tle(columns) -> bytes\n\n"
                                 "Two-line text (line 1, LF, line 2, LF per set) of a dict of columns\n"
                                 "(tle_form optional).",
                                 format_tle,
                                 {"format_tle", {"columns"}, 1, 1}};

// A column of the dict as a contiguous 1-D array of the given type (and item
// size, for byte strings).
Ref column(PyObject* columns, const char* name, int typenum, npy_intp n, int itemsize = 0) {
    PyObject* value = PyDict_GetItemString(columns, name);  // borrowed
    if (!value) {
        PyErr_Format(PyExc_KeyError, "%s", name);
        return Ref();
    }
    Ref array;
    if (typenum == NPY_STRING) {
        auto* a = reinterpret_cast<PyArrayObject*>(value);
        if (!PyArray_Check(value) || PyArray_TYPE(a) != NPY_STRING || PyArray_ITEMSIZE(a) != itemsize ||
            PyArray_NDIM(a) != 1 || !PyArray_IS_C_CONTIGUOUS(a)) {
            PyErr_Format(PyExc_TypeError, "%s must be a contiguous 1-D array of dtype S%d", name, itemsize);
            return Ref();
        }
        array = Ref::borrow(value);
    } else {
        array = Ref::steal(PyArray_FROMANY(value, typenum, 1, 1, NPY_ARRAY_IN_ARRAY));
        if (!array) return Ref();
    }
    if (PyArray_SIZE(reinterpret_cast<PyArrayObject*>(array.get())) != n) {
        PyErr_Format(PyExc_ValueError, "%s has another length than satno", name);
        return Ref();
    }
    return array;
}

PyObject* format_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (bind_arguments(format_tle_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    if (!PyDict_Check(a[0])) {
        PyErr_SetString(PyExc_TypeError, "columns must be a dict");
        return nullptr;
    }
    PyObject* satno_value = PyDict_GetItemString(a[0], "satno");
    if (!satno_value) return PyErr_Format(PyExc_KeyError, "satno");
    Ref satno = Ref::steal(PyArray_FROMANY(satno_value, NPY_INT64, 1, 1, NPY_ARRAY_IN_ARRAY));
    if (!satno) return nullptr;
    const npy_intp n = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(satno.get()));
    const char* int_names[] = {"epoch", "ephemeris_type", "element_number", "rev_number"};
    const char* double_names[] = {"ndot", "nddot", "bstar", "inc", "raa", "ecc", "arp", "mea", "mnm"};
    Ref ints[4], doubles[9];
    for (int k = 0; k < 4; ++k) {
        if (!(ints[k] = column(a[0], int_names[k], NPY_INT64, n))) return nullptr;
    }
    for (int k = 0; k < 9; ++k) {
        if (!(doubles[k] = column(a[0], double_names[k], NPY_DOUBLE, n))) return nullptr;
    }
    Ref classification = column(a[0], "classification", NPY_STRING, n, 1);
    Ref designator = column(a[0], "intl_designator", NPY_STRING, n, 8);
    if (!classification || !designator) return nullptr;
    // The published signs of powers of ten of 0 (none: the default signs).
    Ref signs;
    if (PyDict_GetItemString(a[0], "tle_form") && !(signs = column(a[0], "tle_form", NPY_UINT8, n))) {
        return nullptr;
    }
    Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n) * set_text_size));
    if (!bytes) return nullptr;
    char* out = PyBytes_AS_STRING(bytes.get());
    const Units units{*bound.deg, *bound.rev, *bound.day};
    const char* cls = data_of<char>(classification);
    const char* des = data_of<char>(designator);
    for (npy_intp i = 0; i < n; ++i) {
        char designator_text[9] = {};
        std::memcpy(designator_text, des + i * 8, 8);
        auto d = [&](int k) { return data_of<double>(doubles[k])[i]; };
        auto v = [&](int k) { return data_of<std::int64_t>(ints[k])[i]; };
        const SetValues values{data_of<std::int64_t>(satno)[i],
                               v(0),
                               v(1),
                               v(2),
                               v(3),
                               cls[i],
                               designator_text,
                               d(0),
                               d(1),
                               d(2),
                               d(3),
                               d(4),
                               d(5),
                               d(6),
                               d(7),
                               d(8),
                               signs ? data_of<std::uint8_t>(signs)[i] : std::uint8_t{0}};
        if (const char* field = format_set(values, units, out + i * set_text_size)) {
            const bool epoch = std::strcmp(field, "epoch") == 0;
            return PyErr_Format(PyExc_ValueError, "set %zd: %s cannot be written in the two-line format%s",
                                static_cast<Py_ssize_t>(i), field, epoch ? " (its years are 1957 to 2056)" : "");
        }
    }
    return bytes.release();
}

PyObject* decode_satno_function(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
const FunctionDef decode_def{
    "decode_satno",
    "decode_satno(field: str) -> int\n\n"
    "The satellite number of a satellite-number field: decimal digits, or Alpha-5 (a letter other than\n"
    "I and O, then four digits: A0001 is 100001); 0 for a blank field, -1 for anything else.",
    decode_satno_function,
    {"decode_satno", {"field"}, 1, 1}};

PyObject* decode_satno_function(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (bind_arguments(decode_def.params, args, nargs, kwnames, a) < 0 || check_exact_str(a[0], "field", false) < 0) {
        return nullptr;
    }
    Py_ssize_t n;
    const char* text = PyUnicode_AsUTF8AndSize(a[0], &n);
    if (!text) return nullptr;
    if (n > 5) return PyLong_FromLong(-1);
    char field[6] = {};
    for (Py_ssize_t i = 0; i < n; ++i) {
        field[i] = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
    }
    return PyLong_FromLongLong(tle::decode_satno(field, static_cast<int>(n)));
}

}  // namespace

int add_value_functions(PyObject* module) {
    const FunctionEntry functions[] = {
        {&from_published_def, {Py_None}, 1},
        {&format_tle_def, {}, 0},
        {&decode_def, {}, 0},
    };
    return add_functions(module, functions);
}

}  // namespace qv::catalogue
