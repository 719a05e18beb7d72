// Helpers of the entry points: name lookups, conversions, assertions and the
// element sources of the array loops.
#include <cstdint>

#include "state/orbel/entries.hpp"

namespace qv::orbel {

namespace {

// Interned attribute and global names, created once and kept for the
// process (keys are string literals, compared by address).
PyObject* name_object(const char* name) {
    struct Slot {
        const char* text;
        PyObject* object;
    };
    static Slot slots[32];
    for (Slot& slot : slots) {
        if (slot.text == name) return slot.object;
        if (!slot.text) {
            PyObject* object = PyUnicode_InternFromString(name);
            if (!object) return nullptr;
            slot = {name, object};
            return object;
        }
    }
    // More distinct names than slots: an uncached, immortal-for-the-process copy.
    return PyUnicode_InternFromString(name);
}

template <class T>
double load(const char* p) {
    return static_cast<double>(load_unaligned<T>(p));
}

}  // namespace

Ref module_global(const char* name) {
    PyObject* key = name_object(name);
    if (!key) return {};
    PyObject* value = PyDict_GetItemWithError(PyModule_GetDict(frame.module), key);  // borrowed
    if (!value && !PyErr_Occurred()) {
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        value = builtins ? PyDict_GetItemWithError(builtins, key) : nullptr;
        if (!value && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    }
    return Ref::borrow(value);
}

Ref numpy_attr(const char* name) {
    Ref numpy = module_global("numpy");
    return numpy ? attr(numpy.get(), name) : Ref{};
}

Ref attr(PyObject* obj, const char* name) {
    PyObject* key = name_object(name);
    return key ? Ref::steal(PyObject_GetAttr(obj, key)) : Ref{};
}

Ref item(PyObject* obj, Py_ssize_t index) {
    Ref key = Ref::steal(PyLong_FromSsize_t(index));
    return key ? Ref::steal(PyObject_GetItem(obj, key.get())) : Ref{};
}

Ref item2(PyObject* obj, Py_ssize_t i, Py_ssize_t j) {
    Ref key = Ref::steal(Py_BuildValue("(nn)", i, j));
    return key ? Ref::steal(PyObject_GetItem(obj, key.get())) : Ref{};
}

int to_double(PyObject* obj, double* out) {
    double value = PyFloat_CheckExact(obj) ? PyFloat_AS_DOUBLE(obj) : PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return -1;
    *out = value;
    return 0;
}

int to_index(PyObject* obj, Py_ssize_t* out) {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) return -1;
    Py_ssize_t value = PyLong_AsSsize_t(index.get());
    if (value == -1 && PyErr_Occurred()) return -1;
    *out = value;
    return 0;
}

// The scalar test of every call reads the module global `numbers` and its
// `Real`.  Where both are still the standard module and class of the module
// body, an exact float or int is an instance, and the two lookups (which
// cost about as much as the rest of a scalar call) can be skipped.  Dict
// watchers on the module's globals and on the numbers module's dict clear
// `standard_numbers_in_place` whenever either name may have changed; the
// next full lookup that finds the standard pair again sets it back.
namespace {

PyObject* standard_numbers = nullptr;
PyObject* standard_real = nullptr;
PyObject* globals_dict = nullptr;  // this module's dict (kept alive by the module)
PyObject* numbers_dict = nullptr;  // the standard numbers module's dict (owned)
PyObject* numbers_name = nullptr;
PyObject* real_name = nullptr;
bool watching = false;
bool standard_numbers_in_place = false;

// Whether a dict event on `key` may concern `name`.  Keys other than str
// cannot be compared without running their code: assume they may.
bool may_name(PyObject* key, PyObject* name) {
    if (key == name || !PyUnicode_Check(key)) return true;
    return PyUnicode_Compare(key, name) == 0;
}

int on_dict_event(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject*) {
    bool concerned = true;
    if (event == PyDict_EVENT_ADDED || event == PyDict_EVENT_MODIFIED || event == PyDict_EVENT_DELETED) {
        concerned = may_name(key, dict == globals_dict ? numbers_name : real_name);
    }
    if (concerned) standard_numbers_in_place = false;
    return 0;
}

// Watch both dicts; without a free watcher slot every call looks the names up.
int watch(PyObject* globals, PyObject* numbers) {
    static int watcher = -1;
    if (watcher < 0) {
        watcher = PyDict_AddWatcher(on_dict_event);
        if (watcher < 0) {
            PyErr_Clear();
            return 0;
        }
    }
    replace(&numbers_dict, Py_NewRef(PyModule_GetDict(numbers)));
    globals_dict = globals;
    if (PyDict_Watch(watcher, globals_dict) < 0 || PyDict_Watch(watcher, numbers_dict) < 0) return -1;
    watching = true;
    return 0;
}

}  // namespace

int remember_standard_numbers(PyObject* module, PyObject* numbers) {
    numbers_name = name_object("numbers");
    real_name = name_object("Real");
    if (!numbers_name || !real_name) return -1;
    Ref real = attr(numbers, "Real");
    if (!real) return -1;
    // Only a Real of plain ABCMeta that has floats and ints as instances
    // (an ABC cannot unregister them) makes the shortcut exact.
    Ref abc_meta = import_from("abc", "ABCMeta");
    if (!abc_meta) return -1;
    Ref one_float = Ref::steal(PyFloat_FromDouble(1.0));
    if (!one_float) return -1;
    int is_float = PyObject_IsInstance(one_float.get(), real.get());
    int is_int = is_float == 1 ? PyObject_IsInstance(small_int(1), real.get()) : is_float;
    if (is_int < 0) return -1;
    if (is_int == 0 || reinterpret_cast<PyObject*>(Py_TYPE(real.get())) != abc_meta.get() ||
        !PyModule_CheckExact(numbers)) {
        return 0;
    }
    replace(&standard_numbers, Py_NewRef(numbers));
    replace(&standard_real, real.release());
    if (watch(PyModule_GetDict(module), numbers) < 0) return -1;
    standard_numbers_in_place = watching;
    return 0;
}

int RealTest::operator()(PyObject* x) {
    bool exact = PyFloat_CheckExact(x) || PyLong_CheckExact(x);
    // (A module's class can be reassigned to a subclass whose attributes
    // come from elsewhere than its dict.)
    if (exact && standard_numbers_in_place && PyModule_CheckExact(standard_numbers)) return 1;
    if (!real_) {
        Ref numbers = module_global("numbers");
        if (!numbers) return -1;
        real_ = attr(numbers.get(), "Real");
        if (!real_) return -1;
        if (watching && numbers.get() == standard_numbers && real_.get() == standard_real) {
            standard_numbers_in_place = true;
        }
    }
    if (exact && real_.get() == standard_real) return 1;
    return PyObject_IsInstance(x, real_.get());
}

int equal(PyObject* a, PyObject* b) {
    Ref result = Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

int equal(PyObject* a, PyObject* b, PyObject* c) {
    int first = equal(a, b);
    return first == 1 ? equal(b, c) : first;
}

int require(int truth) {
    if (truth < 0) return -1;
    if (truth == 0) {
        PyErr_SetNone(PyExc_AssertionError);
        return -1;
    }
    return 0;
}

PyObject* small_int(long value) {
    // Small ints are immortal in this interpreter: the reference is never
    // released, so handing it out borrowed is safe.
    return PyLong_FromLong(value);
}

int ndim_is_one(PyObject* x) {
    if (PyArray_CheckExact(x)) return PyArray_NDIM(reinterpret_cast<PyArrayObject*>(x)) == 1;
    Ref ndim = attr(x, "ndim");
    return ndim ? equal(ndim.get(), small_int(1)) : -1;
}

Ref shape_item(PyObject* x, Py_ssize_t axis) {
    if (PyArray_CheckExact(x)) {
        auto* array = reinterpret_cast<PyArrayObject*>(x);
        if (axis < PyArray_NDIM(array)) return Ref::steal(PyLong_FromSsize_t(PyArray_DIM(array, axis)));
    }
    Ref shape = attr(x, "shape");
    return shape ? item(shape.get(), axis) : Ref{};
}

int shape_at(PyObject* x, Py_ssize_t axis, Py_ssize_t* out) {
    if (PyArray_CheckExact(x)) {
        auto* array = reinterpret_cast<PyArrayObject*>(x);
        if (axis < PyArray_NDIM(array)) {
            *out = PyArray_DIM(array, axis);
            return 0;
        }
    }
    Ref value = shape_item(x, axis);
    return value ? to_index(value.get(), out) : -1;
}

Load load_for(int type_num) {
    switch (type_num) {
        case NPY_BOOL: return load<npy_bool>;
        case NPY_BYTE: return load<npy_byte>;
        case NPY_UBYTE: return load<npy_ubyte>;
        case NPY_SHORT: return load<npy_short>;
        case NPY_USHORT: return load<npy_ushort>;
        case NPY_INT: return load<npy_int>;
        case NPY_UINT: return load<npy_uint>;
        case NPY_LONG: return load<npy_long>;
        case NPY_ULONG: return load<npy_ulong>;
        case NPY_LONGLONG: return load<npy_longlong>;
        case NPY_ULONGLONG: return load<npy_ulonglong>;
        case NPY_FLOAT: return load<npy_float>;
        case NPY_DOUBLE: return load<npy_double>;
        default: return nullptr;
    }
}

PyArrayObject* real_array(PyObject* x, int ndim) {
    if (!PyArray_CheckExact(x)) return nullptr;
    auto* array = reinterpret_cast<PyArrayObject*>(x);
    if (PyArray_NDIM(array) != ndim || !PyArray_ISNOTSWAPPED(array)) return nullptr;
    return load_for(PyArray_TYPE(array)) ? array : nullptr;
}

void raise_out_of_bounds(int axis) {
    PyErr_Format(PyExc_IndexError, "Out of bounds on buffer access (axis %d)", axis);
}

Source Source::array(PyObject* obj) {
    Source s;
    s.object = obj;
    if (PyArrayObject* a = real_array(obj, 1)) {
        s.kind = Kind::memory;
        s.data = static_cast<const char*>(PyArray_DATA(a));
        s.stride = PyArray_STRIDE(a, 0);
        s.length = PyArray_DIM(a, 0);
        s.load = load_for(PyArray_TYPE(a));
        s.is_double = PyArray_TYPE(a) == NPY_DOUBLE;
    }
    return s;
}

Source Source::scalar(PyObject* obj) {
    Source s;
    s.object = obj;
    // Floats (subclasses included: the float protocol reads their value
    // without calling __float__), exact ints and bools, and exact NumPy
    // scalars convert natively, always to the same value: once is enough.
    bool native = PyFloat_Check(obj) || PyLong_CheckExact(obj) || PyBool_Check(obj) || PyArray_CheckAnyScalarExact(obj);
    s.kind = native ? Kind::exact : Kind::number;
    return s;
}

int Source::prepare() {
    if (kind != Kind::exact || converted) return 0;
    if (to_double(object, &value) < 0) return -1;
    converted = true;
    return 0;
}

int Source::fetch(Py_ssize_t i, double* out) {
    switch (kind) {
        case Kind::memory:
            if (i < length) {
                *out = load(data + i * stride);
                return 0;
            }
            break;  // past the end: item access raises its IndexError
        case Kind::item: break;
        case Kind::number: return to_double(object, out);
        case Kind::exact:
            if (prepare() < 0) return -1;
            *out = value;
            return 0;
    }
    Ref element = item(object, i);
    return element ? to_double(element.get(), out) : -1;
}

}  // namespace qv::orbel
