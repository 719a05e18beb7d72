#include "runtime/args.hpp"

#include "runtime/errors.hpp"

namespace qv {

namespace {

int intern_names(const Params& p) {
    if (p.count == 0 || p.interned[0]) return 0;
    for (Py_ssize_t i = 0; i < p.count; ++i) {
        p.interned[i] = PyUnicode_InternFromString(p.names[i]);
        if (!p.interned[i]) return -1;
    }
    return 0;
}

// Index of the parameter called `key`, or -1 (-2 with an error pending).
Py_ssize_t find_param(const Params& p, PyObject* key) {
    for (Py_ssize_t i = 0; i < p.count; ++i) {
        if (p.interned[i] == key) return i;
    }
    for (Py_ssize_t i = 0; i < p.count; ++i) {
        int eq = PyUnicode_Compare(p.interned[i], key);
        if (eq == 0) return i;
        if (eq == -1 && PyErr_Occurred()) return -2;
    }
    return -1;
}

// Keywords as parallel name/value access, for both calling conventions.
struct Keywords {
    PyObject* kwnames = nullptr;         // vectorcall: tuple of names
    PyObject* const* values = nullptr;   // vectorcall: their values
    PyObject* dict = nullptr;            // tuple/dict form

    Py_ssize_t size() const {
        if (kwnames) return PyTuple_GET_SIZE(kwnames);
        if (dict) return PyDict_GET_SIZE(dict);
        return 0;
    }
    // Value of keyword `name`, borrowed, or null.
    PyObject* lookup(PyObject* name) const {
        if (dict) return PyDict_GetItemWithError(dict, name);
        Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < n; ++k) {
            if (PyTuple_GET_ITEM(kwnames, k) == name) return values[k];
        }
        for (Py_ssize_t k = 0; k < n; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            if (PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0) return values[k];
        }
        return nullptr;
    }
    template <class F>
    int each(F&& visit) const {
        if (dict) {
            Py_ssize_t pos = 0;
            PyObject *key, *value;
            while (PyDict_Next(dict, &pos, &key, &value)) {
                if (visit(key) < 0) return -1;
            }
            return 0;
        }
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
            if (visit(PyTuple_GET_ITEM(kwnames, k)) < 0) return -1;
        }
        return 0;
    }
};

// Name every leftover keyword that does not fit: already bound positionally,
// unknown, or not a string.
int reject_keywords(const Params& p, const Keywords& kw, Py_ssize_t nargs) {
    return kw.each([&](PyObject* key) {
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", p.function);
            return -1;
        }
        Py_ssize_t index = find_param(p, key);
        if (index == -2) return -1;
        if (index >= nargs) return 0;
        if (index >= 0) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", p.function, key);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", p.function, key);
        }
        return -1;
    });
}

int bind(const Params& p, PyObject* const* args, Py_ssize_t nargs, const Keywords& kw, PyObject** out) {
    if (nargs > p.positional()) {
        raise_argument_count(p.function, p.required, p.positional(), nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    for (Py_ssize_t i = nargs; i < p.count; ++i) out[i] = nullptr;
    Py_ssize_t nkw = kw.size();
    if (nkw == 0) {
        if (nargs < p.required) {
            raise_argument_count(p.function, p.required, p.positional(), nargs);
            return -1;
        }
        return 0;
    }
    if (intern_names(p) < 0) return -1;
    Py_ssize_t found = 0;
    for (Py_ssize_t i = nargs; i < p.count; ++i) {
        out[i] = kw.lookup(p.interned[i]);
        if (out[i]) {
            ++found;
        } else if (PyErr_Occurred()) {
            return -1;
        } else if (i < p.required) {
            raise_argument_count(p.function, p.required, p.positional(), i);
            return -1;
        }
    }
    if (found < nkw) return reject_keywords(p, kw, nargs);
    return 0;
}

}  // namespace

int bind_arguments(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** out) {
    Keywords kw;
    kw.kwnames = kwnames && PyTuple_GET_SIZE(kwnames) ? kwnames : nullptr;
    kw.values = args + nargs;
    return bind(params, args, nargs, kw, out);
}

int bind_arguments(const Params& params, PyObject* args, PyObject* kwargs, PyObject** out) {
    Keywords kw;
    kw.dict = kwargs && PyDict_GET_SIZE(kwargs) ? kwargs : nullptr;
    return bind(params, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kw, out);
}

int bind_keywords(const Params& params, PyObject* kwargs, PyObject** out) {
    for (Py_ssize_t i = 0; i < params.count; ++i) out[i] = nullptr;
    if (!kwargs || PyDict_GET_SIZE(kwargs) == 0) return 0;
    if (intern_names(params) < 0) return -1;
    Keywords kw;
    kw.dict = kwargs;
    Py_ssize_t found = 0;
    for (Py_ssize_t i = 0; i < params.count; ++i) {
        out[i] = kw.lookup(params.interned[i]);
        if (out[i]) ++found;
        else if (PyErr_Occurred()) return -1;
    }
    if (found < PyDict_GET_SIZE(kwargs)) return reject_keywords(params, kw, 0);
    return 0;
}

int bind_no_arguments(const char* function, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs > 0) {
        raise_argument_count(function, 0, 0, nargs);
        return -1;
    }
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, 0);
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
        return -1;
    }
    return 0;
}

int optional_int_argument(PyObject* value, const char* name, long long* out, int* overflow) {
    *overflow = 0;
    if (!value || value == Py_None) return 0;
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be None or an int, not %.200s", name, Py_TYPE(value)->tp_name);
        return -1;
    }
    *out = PyLong_AsLongLongAndOverflow(value, overflow);
    if (*out == -1 && PyErr_Occurred()) return -1;
    return 1;
}

}  // namespace qv
