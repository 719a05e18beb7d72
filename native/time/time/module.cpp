// quorvane.time.time: the time class Time (see time.hpp for the encoding and
// calendar.hpp for the text and Julian-date conversions).
#include <cstring>

#include "runtime/numpy_api.hpp"
// After Python.h, which numpy_api.hpp brings in.
#include <datetime.h>

#include "runtime/runtime.hpp"
#include "time/time/calendar.hpp"
#include "time/time/time.hpp"

namespace {

using qv::Ref;
using namespace qv::time;

constexpr const char* module_path = "quorvane.time.time";

PyTypeObject* time_type = nullptr;  // created at import
PyTypeObject* utc_type = nullptr;

// The UTC view of a Time: its repr (and str) is the ISO 8601 text.
struct UTCObject {
    PyObject_HEAD
    PyObject* time;
};

bool is_array(PyObject* self) { return reinterpret_cast<TimeObject*>(self)->array != nullptr; }
PyArrayObject* array_of(PyObject* self) { return reinterpret_cast<PyArrayObject*>(reinterpret_cast<TimeObject*>(self)->array); }
Py_ssize_t size_of(PyObject* self) { return PyArray_DIM(array_of(self), 0); }
int64_t* data_of(PyObject* self) { return static_cast<int64_t*>(PyArray_DATA(array_of(self))); }

PyObject* raise_nat() {
    PyErr_SetString(PyExc_ValueError, "Time() got NaT (datetime64's not-a-time, int64 -2**63), which is no instant");
    return nullptr;
}

PyObject* new_scalar(int64_t ns) {
    auto* self = PyObject_New(TimeObject, time_type);
    if (!self) return nullptr;
    self->ns = ns;
    self->array = nullptr;
    return reinterpret_cast<PyObject*>(self);
}

// A Time over a private, C-contiguous, read-only int64 copy of `values`.
PyObject* new_array(PyObject* values) {
    int flags = NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_ENSUREARRAY;
    Ref copy = Ref::steal(PyArray_FromAny(values, PyArray_DescrFromType(NPY_INT64), 1, 1, flags, nullptr));
    if (!copy) return nullptr;
    auto* array = reinterpret_cast<PyArrayObject*>(copy.get());
    const int64_t* data = static_cast<const int64_t*>(PyArray_DATA(array));
    for (npy_intp i = 0, n = PyArray_DIM(array, 0); i < n; ++i) {
        if (data[i] == nat) return raise_nat();
    }
    PyArray_CLEARFLAGS(array, NPY_ARRAY_WRITEABLE);
    auto* self = PyObject_New(TimeObject, time_type);
    if (!self) return nullptr;
    self->ns = 0;
    self->array = copy.release();
    return reinterpret_cast<PyObject*>(self);
}

int raise_status(Status status, PyObject* value, const char* what) {
    switch (status) {
        case Status::ok: return 0;
        case Status::syntax: PyErr_Format(PyExc_ValueError, "Time() got an invalid %s: %R", what, value); break;
        case Status::field_range: PyErr_Format(PyExc_ValueError, "Time() got a date or time field out of range: %R", value); break;
        case Status::leap_second:
            PyErr_Format(PyExc_ValueError,
                         "Time() got the leap second %R (23:59:60): Time stores UTC with 86400 s per day and "
                         "cannot hold it",
                         value);
            break;
        case Status::overflow:
            PyErr_Format(PyExc_OverflowError,
                         "Time() got %R, outside the int64 nanosecond range (1677-09-21 to 2262-04-11)", value);
            break;
    }
    return -1;
}

// The Python side of Time (quorvane.time._support): time scales, arithmetic,
// ranges and construction from sequences, imported at first use.
Ref support(const char* name) {
    Ref module = Ref::steal(PyImport_ImportModule("quorvane.time._support"));
    return module ? Ref::steal(PyObject_GetAttrString(module.get(), name)) : Ref{};
}

PyObject* from_text(PyObject* text) {
    Py_ssize_t length;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
    if (!utf8) return nullptr;
    int64_t ns;
    if (raise_status(ns_from_iso(utf8, static_cast<std::size_t>(length), &ns), text, "ISO 8601 text") < 0) {
        return nullptr;
    }
    return new_scalar(ns);
}

PyObject* from_jd(PyObject* value) {
    if (PyUnicode_Check(value) || PyBytes_Check(value) || PyArray_Check(value)) {
        PyErr_Format(PyExc_TypeError, "Time() with format='jd' needs a real number, got %.200s", Py_TYPE(value)->tp_name);
        return nullptr;
    }
    double jd = PyFloat_AsDouble(value);
    if (jd == -1.0 && PyErr_Occurred()) return nullptr;
    int64_t ns;
    if (raise_status(ns_from_jd(jd, &ns), value, "Julian date") < 0) return nullptr;
    return new_scalar(ns);
}

// datetime64 values (a scalar, or an array of any byte order) of any unit
// as an int64 array of nanoseconds (0-d for a scalar), converted here with
// checked arithmetic: NumPy's own unit conversion wraps silently for long
// units (datetime64[2147483647D], [300Y]).  NaT stays NaT (the callers
// refuse it); an instant outside the range raises OverflowError.
Ref datetime64_as_int64(PyObject* value) {
    qv::Datetime64Array dt;
    if (qv::read_datetime64(value, 0, &dt) < 0) return {};
    if (std::strcmp(dt.unit, "generic") == 0) {
        // No unit: NumPy converts NaT (refused by the callers) and refuses the rest.
        Ref ns = Ref::steal(PyObject_CallMethod(dt.values.get(), "astype", "s", "datetime64[ns]"));
        return ns ? Ref::steal(PyObject_CallMethod(ns.get(), "view", "s", "int64")) : Ref{};
    }
    const bool years = std::strcmp(dt.unit, "Y") == 0, calendar = years || std::strcmp(dt.unit, "M") == 0;
    const long long count = dt.count;
    UnitScale scale;
    if (!calendar && !unit_scale(dt.unit, count, &scale)) {
        PyErr_Format(PyExc_TypeError, "Time() got a datetime64 of unknown unit %s", dt.unit);
        return {};
    }
    auto* s = reinterpret_cast<PyArrayObject*>(dt.values.get());
    Ref ns = Ref::steal(PyArray_NewLikeArray(s, NPY_CORDER, PyArray_DescrFromType(NPY_INT64), 0));
    if (!ns) return {};
    const auto* raw = static_cast<const int64_t*>(PyArray_DATA(s));
    auto* out = static_cast<int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ns.get())));
    for (npy_intp i = 0, n = PyArray_SIZE(s); i < n; ++i) {
        out[i] = calendar ? calendar_instant(raw[i], count, years) : scaled_instant(raw[i], scale);
        if (out[i] == nat && raw[i] != nat) {
            Ref item = Ref::steal(PyArray_Scalar(PyArray_BYTES(s) + i * PyArray_ITEMSIZE(s), PyArray_DESCR(s),
                                                 dt.values.get()));
            if (item)
                PyErr_Format(PyExc_OverflowError,
                             "Time() got %R, outside the int64 nanosecond range (1677-09-21 to 2262-04-11)",
                             item.get());
            return {};
        }
    }
    return ns;
}

// Lists, tuples, text or object arrays and pandas indexes: their int64
// nanoseconds come from the Python side, element by element.
PyObject* from_sequence(PyObject* value) {
    Ref read = support("from_sequence");
    Ref ns = read ? Ref::steal(PyObject_CallOneArg(read.get(), value)) : Ref{};
    return ns ? new_array(ns.get()) : nullptr;
}

bool from_pandas(PyObject* value) {
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    const char* name = PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : nullptr;
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return std::strncmp(name, "pandas", 6) == 0;
}

PyObject* from_array(PyObject* value) {
    auto* array = reinterpret_cast<PyArrayObject*>(value);
    if (PyArray_NDIM(array) != 1) {
        PyErr_Format(PyExc_ValueError, "Time() needs a one-dimensional array, got %d dimensions", PyArray_NDIM(array));
        return nullptr;
    }
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (descr->type_num == NPY_DATETIME) {
        Ref ns = datetime64_as_int64(value);
        return ns ? new_array(ns.get()) : nullptr;
    }
    if (descr->kind == 'U' || descr->kind == 'S' || descr->kind == 'O') return from_sequence(value);
    if (descr->kind != 'i' || PyDataType_ELSIZE(descr) != 8) {
        PyErr_Format(PyExc_TypeError, "Time() needs an int64 array of nanoseconds since 1970-01-01, got dtype %S",
                     reinterpret_cast<PyObject*>(descr));
        return nullptr;
    }
    return new_array(value);
}

// A datetime.datetime (naive: taken as UTC; aware: moved to UTC by its
// utcoffset()) or a datetime.date (its 00:00).
PyObject* from_datetime(PyObject* value) {
    int64_t into_day = 0;
    if (PyDateTime_Check(value)) {
        int64_t seconds = (PyDateTime_DATE_GET_HOUR(value) * 60 + PyDateTime_DATE_GET_MINUTE(value)) * 60 +
                          PyDateTime_DATE_GET_SECOND(value);
        into_day = seconds * ns_per_second + PyDateTime_DATE_GET_MICROSECOND(value) * int64_t{1000};
        Ref offset = Ref::steal(PyObject_CallMethod(value, "utcoffset", nullptr));
        if (!offset) return nullptr;
        if (PyDelta_Check(offset.get())) {
            int64_t shift = (int64_t{PyDateTime_DELTA_GET_DAYS(offset.get())} * 86400 +
                             PyDateTime_DELTA_GET_SECONDS(offset.get())) * ns_per_second +
                            PyDateTime_DELTA_GET_MICROSECONDS(offset.get()) * int64_t{1000};
            into_day -= shift;
        }
    }
    int64_t ns;
    Status status = ns_from_civil(PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value),
                                  into_day, &ns);
    if (raise_status(status, value, "date") < 0) return nullptr;
    return new_scalar(ns);
}

PyObject* from_integer(PyObject* value) {
    long long ns = PyLong_AsLongLong(value);
    if (ns == -1 && PyErr_Occurred()) return nullptr;
    return ns == nat ? raise_nat() : new_scalar(ns);
}

PyObject* construct(PyObject* value, PyObject* format) {
    if (format && format != Py_None) {
        if (!PyUnicode_Check(format)) {
            PyErr_Format(PyExc_TypeError, "Time() argument 'format' must be str or None, not %.200s",
                         Py_TYPE(format)->tp_name);
            return nullptr;
        }
        if (PyUnicode_CompareWithASCIIString(format, "jd") != 0) {
            PyErr_Format(PyExc_ValueError, "Time() format must be 'jd' or None, got %R", format);
            return nullptr;
        }
        return from_jd(value);
    }
    if (PyUnicode_Check(value)) return from_text(value);
    if (PyLong_Check(value) && !PyBool_Check(value)) return from_integer(value);
    if (PyArray_Check(value)) return from_array(value);
    if (PyDate_Check(value)) return from_datetime(value);
    if (PyArray_IsScalar(value, Datetime)) {
        Ref ns = datetime64_as_int64(value);
        Ref integer = ns ? Ref::steal(PyNumber_Index(ns.get())) : Ref{};
        return integer ? from_integer(integer.get()) : nullptr;
    }
    if (PyArray_IsScalar(value, SignedInteger) || PyArray_IsScalar(value, UnsignedInteger)) {
        Ref integer = Ref::steal(PyNumber_Index(value));
        return integer ? from_integer(integer.get()) : nullptr;
    }
    if (PyFloat_Check(value) || PyArray_IsScalar(value, Floating)) {
        PyErr_Format(PyExc_TypeError, "Time() needs format='jd' to read the number %R as a Julian date", value);
        return nullptr;
    }
    if (PyObject_TypeCheck(value, time_type)) return Py_NewRef(value);
    if (PyList_Check(value) || PyTuple_Check(value) || from_pandas(value)) return from_sequence(value);
    PyErr_Format(PyExc_TypeError,
                 "Time() needs ISO 8601 text, a datetime, a datetime64, an int, a one-dimensional int64 or datetime64 "
                 "array of nanoseconds, or a list, tuple or pandas index of instants, got %.200s",
                 Py_TYPE(value)->tp_name);
    return nullptr;
}

const qv::Params time_params{"Time", {"value", "format"}, 2, 1};

PyObject* time_vectorcall(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    PyObject* bound[2];
    if (qv::bind_arguments(time_params, args, PyVectorcall_NARGS(nargsf), kwnames, bound) < 0) return nullptr;
    return construct(bound[0], bound[1]);
}

PyObject* time_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    PyObject* bound[2];
    if (qv::bind_arguments(time_params, args, kwargs, bound) < 0) return nullptr;
    return construct(bound[0], bound[1]);
}

void time_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<TimeObject*>(self)->array);
    PyObject_Free(self);
    Py_DECREF(type);
}

// --- Text ------------------------------------------------------------------

// "a, b, c" for an array Time (first and last three around "..." beyond ten
// instants), each instant as ISO text, quoted when `quote`.
int append_instants(PyObject* self, bool quote, PyObject* parts) {
    Py_ssize_t n = size_of(self);
    const int64_t* data = data_of(self);
    char text[iso_size];
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (n > 10 && i == 3) {
            Ref dots = Ref::steal(PyUnicode_FromString("..."));
            if (!dots || PyList_Append(parts, dots.get()) < 0) return -1;
            i = n - 4;
            continue;
        }
        iso_from_ns(data[i], text);
        Ref item = Ref::steal(quote ? PyUnicode_FromFormat("'%s'", text) : PyUnicode_FromString(text));
        if (!item || PyList_Append(parts, item.get()) < 0) return -1;
    }
    return 0;
}

PyObject* instants_text(PyObject* self, bool quote) {
    Ref parts = Ref::steal(PyList_New(0));
    Ref separator = Ref::steal(PyUnicode_FromString(", "));
    if (!parts || !separator || append_instants(self, quote, parts.get()) < 0) return nullptr;
    Ref joined = Ref::steal(PyUnicode_Join(separator.get(), parts.get()));
    if (!joined) return nullptr;
    return PyUnicode_FromFormat("[%U]", joined.get());
}

PyObject* time_repr(PyObject* self) {
    if (!is_array(self)) {
        char text[iso_size];
        iso_from_ns(reinterpret_cast<TimeObject*>(self)->ns, text);
        return PyUnicode_FromFormat("Time('%s')", text);
    }
    Ref list = Ref::steal(instants_text(self, true));
    return list ? PyUnicode_FromFormat("Time(%U)", list.get()) : nullptr;
}

PyObject* utc_repr(PyObject* self) {
    PyObject* time = reinterpret_cast<UTCObject*>(self)->time;
    if (is_array(time)) return instants_text(time, false);
    char text[iso_size];
    iso_from_ns(reinterpret_cast<TimeObject*>(time)->ns, text);
    return PyUnicode_FromString(text);
}

void utc_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<UTCObject*>(self)->time);
    PyObject_Free(self);
    Py_DECREF(type);
}

// --- Attributes --------------------------------------------------------------

PyObject* get_jd(PyObject* self, void*) {
    if (!is_array(self)) return PyFloat_FromDouble(jd_from_ns(reinterpret_cast<TimeObject*>(self)->ns));
    npy_intp n = size_of(self);
    Ref result = Ref::steal(PyArray_SimpleNew(1, &n, NPY_DOUBLE));
    if (!result) return nullptr;
    auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const int64_t* data = data_of(self);
    for (npy_intp i = 0; i < n; ++i) out[i] = jd_from_ns(data[i]);
    return result.release();
}

PyObject* get_int64(PyObject* self, void*) {
    if (!is_array(self)) return PyLong_FromLongLong(reinterpret_cast<TimeObject*>(self)->ns);
    return Py_NewRef(reinterpret_cast<TimeObject*>(self)->array);
}

PyObject* get_utc(PyObject* self, void*) {
    auto* utc = PyObject_New(UTCObject, utc_type);
    if (!utc) return nullptr;
    utc->time = Py_NewRef(self);
    return reinterpret_cast<PyObject*>(utc);
}

PyGetSetDef time_getset[] = {
    {"jd", get_jd, nullptr, "Julian date: 2440587.5 + ns / 86400e9 (float, or float64 array).", nullptr},
    {"int64", get_int64, nullptr, "Nanoseconds since 1970-01-01T00:00:00 UTC (int, or read-only int64 array).",
     nullptr},
    {"utc", get_utc, nullptr, "UTC view whose repr is the ISO 8601 text.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- Comparison, hashing, length and indexing --------------------------------

PyObject* time_richcompare(PyObject* self, PyObject* other, int op) {
    if (!PyObject_TypeCheck(other, time_type)) Py_RETURN_NOTIMPLEMENTED;
    if (!is_array(self) && !is_array(other)) {
        int64_t a = reinterpret_cast<TimeObject*>(self)->ns, b = reinterpret_cast<TimeObject*>(other)->ns;
        Py_RETURN_RICHCOMPARE(a, b, op);
    }
    // Array Times compare instant by instant, with NumPy's broadcasting.
    Ref left = Ref::steal(get_int64(self, nullptr));
    Ref right = Ref::steal(get_int64(other, nullptr));
    if (!left || !right) return nullptr;
    return PyObject_RichCompare(left.get(), right.get(), op);
}

Py_hash_t time_hash(PyObject* self) {
    if (is_array(self)) return PyObject_HashNotImplemented(self);
    int64_t ns = reinterpret_cast<TimeObject*>(self)->ns;
    auto hash = static_cast<Py_hash_t>(ns ^ (ns >> 32));
    return hash == -1 ? -2 : hash;
}

int time_bool(PyObject* self) { return is_array(self) ? size_of(self) != 0 : 1; }

Py_ssize_t time_length(PyObject* self) {
    if (!is_array(self)) {
        PyErr_SetString(PyExc_TypeError, "len() of a scalar Time");
        return -1;
    }
    return size_of(self);
}

PyObject* time_item(PyObject* self, Py_ssize_t index) {
    if (!is_array(self)) {
        PyErr_SetString(PyExc_TypeError, "a scalar Time cannot be indexed");
        return nullptr;
    }
    if (index < 0 || index >= size_of(self)) {
        PyErr_SetString(PyExc_IndexError, "Time index out of range");
        return nullptr;
    }
    return new_scalar(data_of(self)[index]);
}

PyObject* time_subscript(PyObject* self, PyObject* key) {
    if (!is_array(self)) return time_item(self, 0);
    if (PyIndex_Check(key)) {
        Py_ssize_t index = PyNumber_AsSsize_t(key, PyExc_IndexError);
        if (index == -1 && PyErr_Occurred()) return nullptr;
        if (index < 0) index += size_of(self);
        return time_item(self, index);
    }
    if (PySlice_Check(key)) {
        Ref part = Ref::steal(PyObject_GetItem(reinterpret_cast<TimeObject*>(self)->array, key));
        return part ? new_array(part.get()) : nullptr;
    }
    PyErr_Format(PyExc_TypeError, "Time indices must be integers or slices, not %.200s", Py_TYPE(key)->tp_name);
    return nullptr;
}

// --- Methods delegated to the Python side -----------------------------------

PyObject* call_support(const char* name, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    Ref fn = support(name);
    if (!fn) return nullptr;
    // self, then the caller's arguments (positional and keyword).
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    PyObject* stack[16];
    if (nargs + nkw + 1 > 16) {
        PyErr_SetString(PyExc_TypeError, "too many arguments");
        return nullptr;
    }
    stack[0] = self;
    for (Py_ssize_t i = 0; i < nargs + nkw; ++i) stack[i + 1] = args[i];
    return PyObject_Vectorcall(fn.get(), stack, static_cast<size_t>(nargs + 1), kwnames);
}

const qv::Params to_jd2_params{"to_jd2", {"scale", "eop", "eop_policy"}, 3, 1, 2};

PyObject* time_to_jd2(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[3];
    if (qv::bind_arguments(to_jd2_params, args, nargs, kwnames, bound) < 0) return nullptr;
    Ref fn = support("to_jd2");
    if (!fn) return nullptr;
    Ref policy = Ref::steal(PyUnicode_FromString("warn"));
    if (!policy) return nullptr;
    return PyObject_CallFunctionObjArgs(fn.get(), self, bound[0], bound[1] ? bound[1] : Py_None,
                                        bound[2] ? bound[2] : policy.get(), nullptr);
}

const qv::Params range_params{"range", {"start", "stop", "step"}, 3, 3};

PyObject* time_range(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[3];
    if (qv::bind_arguments(range_params, args, nargs, kwnames, bound) < 0) return nullptr;
    Ref fn = support("time_range");
    return fn ? PyObject_CallFunctionObjArgs(fn.get(), bound[0], bound[1], bound[2], nullptr) : nullptr;
}

PyObject* time_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_support("as_array", self, args, nargs, kwnames);
}

PyObject* time_array_ufunc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_support("array_ufunc", self, args, nargs, kwnames);
}

PyObject* binary(const char* name, PyObject* time, PyObject* other) {
    Ref fn = support(name);
    return fn ? PyObject_CallFunctionObjArgs(fn.get(), time, other, nullptr) : nullptr;
}

PyObject* time_add(PyObject* a, PyObject* b) {
    if (PyObject_TypeCheck(a, time_type)) return binary("add", a, b);
    return binary("add", b, a);
}

PyObject* time_subtract(PyObject* a, PyObject* b) {
    if (PyObject_TypeCheck(a, time_type)) return binary("sub", a, b);
    return binary("rsub", b, a);
}

const char to_jd2_doc[] =
    "to_jd2($self, /, scale, *, eop=None, eop_policy='warn')\n"
    "--\n\n"
    "Two-part Julian date (jd1, jd2) in a time scale.\n\n"
    "Parameters\n----------\n"
    "scale : {'utc', 'tai', 'tt', 'ut1'}\n"
    "    'utc' follows ERFA's convention (a day ending in a leap second lasts\n"
    "    86401 s); TAI = UTC + the leap seconds of ERFA's table (exact integer\n"
    "    nanoseconds after 1972); TT = TAI + 32.184 s; UT1 = UTC + (UT1 - UTC)\n"
    "    interpolated in the Earth orientation table.\n"
    "eop : None, str, os.PathLike or quorvane.frames.eop.EOP, keyword-only\n"
    "    Earth orientation table for 'ut1' (None: the table of astropy-iers-data).\n"
    "eop_policy : {'warn', 'raise', 'zero'}, keyword-only\n"
    "    Times outside the table: see quorvane.frames.eop.EOP.at.\n\n"
    "Returns\n-------\n"
    "(jd1, jd2) : tuple of float, or of float64 arrays for an array Time\n"
    "    jd1 is a whole day + 0.5 and jd2 the fraction of the day, in [0, 1).\n";

const char range_doc[] =
    "range($cls, start, stop, step)\n"
    "--\n\n"
    "Instants from start (included) to stop (excluded) every step, as numpy.arange.\n\n"
    "start, stop : anything Time accepts (one instant each)\n"
    "step : numpy.timedelta64, datetime.timedelta or float seconds, not zero\n";

PyMethodDef time_methods[] = {
    {"to_jd2", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_to_jd2)),
     METH_FASTCALL | METH_KEYWORDS, to_jd2_doc},
    {"range", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_range)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, range_doc},
    {"__array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_array)),
     METH_FASTCALL | METH_KEYWORDS, "__array__(dtype=None, copy=None): the instants as datetime64[ns]."},
    {"__array_ufunc__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_array_ufunc)),
     METH_FASTCALL | METH_KEYWORDS,
     "__array_ufunc__(ufunc, method, *inputs, **kwargs): NumPy's ufuncs on Time.  numpy.add of a Time and\n"
     "a duration in either order (so numpy.timedelta64 + Time) is the Time that Time + duration gives;\n"
     "every other ufunc sees the instants as datetime64[ns]."},
    {nullptr, nullptr, 0, nullptr},
};

const char time_doc[] =
    "Time(value, format=None)\n"
    "\n"
    "One instant, or a one-dimensional array of instants, stored as int64\n"
    "nanoseconds since 1970-01-01T00:00:00 UTC (the datetime64[ns] encoding,\n"
    "no leap seconds).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "value : str, datetime, date, numpy.datetime64, int or numpy.ndarray\n"
    "    ISO 8601 text ('2024', '2024-03', '2024-03-01', '2024-03-01T12:00',\n"
    "    '2024-03-01T12:00:00.5', optional trailing 'Z'); a datetime (naive\n"
    "    ones are UTC) or date; a datetime64; an int of nanoseconds; a\n"
    "    one-dimensional int64 (or datetime64) array (copied); or, with\n"
    "    format='jd', a Julian date (real number).\n"
    "format : {None, 'jd'}\n"
    "    'jd' reads `value` as a Julian date and takes the nearest nanosecond.\n"
    "\n"
    "Also accepted: a list, tuple or text array of any of the single instants\n"
    "above, and a pandas DatetimeIndex (tz-aware ones converted to UTC).\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Arithmetic works on UTC labels, as datetime64 does: Time +/- timedelta64\n"
    "(or float seconds) is a Time and Time - Time a timedelta64[ns], counting\n"
    "86400 s per day.  Elapsed SI seconds across a leap second come from the TAI\n"
    "or TT scale (`to_jd2`).  numpy.asarray(t) gives datetime64[ns].\n";

PyType_Slot time_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(time_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(time_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(time_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(time_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(time_hash)},
    {Py_tp_getset, time_getset},
    {Py_tp_methods, time_methods},
    {Py_nb_add, reinterpret_cast<void*>(time_add)},
    {Py_nb_subtract, reinterpret_cast<void*>(time_subtract)},
    {Py_nb_bool, reinterpret_cast<void*>(time_bool)},
    {Py_mp_length, reinterpret_cast<void*>(time_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(time_subscript)},
    {Py_sq_length, reinterpret_cast<void*>(time_length)},
    {Py_sq_item, reinterpret_cast<void*>(time_item)},
    {Py_tp_doc, const_cast<char*>(time_doc)},
    {0, nullptr},
};
PyType_Spec time_spec{"quorvane.time.time.Time", sizeof(TimeObject), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, time_slots};

PyType_Slot utc_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(utc_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(utc_repr)},
    {Py_tp_str, reinterpret_cast<void*>(utc_repr)},
    {Py_tp_doc, const_cast<char*>("UTC view of a Time; repr and str give the ISO 8601 text.")},
    {0, nullptr},
};
PyType_Spec utc_spec{"quorvane.time.time.UTC", sizeof(UTCObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, utc_slots};

int steps(PyObject* module) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) return -1;
    Ref utc = Ref::steal(PyType_FromModuleAndSpec(module, &utc_spec, nullptr));
    Ref time = Ref::steal(PyType_FromModuleAndSpec(module, &time_spec, nullptr));
    if (!utc || !time) return -1;
    utc_type = reinterpret_cast<PyTypeObject*>(utc.get());
    time_type = reinterpret_cast<PyTypeObject*>(time.get());
    // Calls of Time go straight to the argument binder, without an args tuple.
    time_type->tp_vectorcall = time_vectorcall;
    if (qv::module_add(module, "Time", time.get()) < 0) return -1;
    // Both types stay alive for the process: the pointers above keep a reference.
    utc.release();
    time.release();
    return 0;
}

qv::ModuleFrame frame{"time", module_path, "Time: instants as int64 nanoseconds since 1970-01-01T00:00:00 UTC.", steps,
                      true};

}  // namespace

PyMODINIT_FUNC PyInit_time() { return frame.init(); }
