// quorvane._testing.lanes: the lane library's functions over float64
// arrays at a chosen vector width, for tests and benchmarks (private).
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mathtools/simd/arrays.hpp"
#include "mathtools/simd/dispatch.hpp"
#include "mathtools/simd/width_argument.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

// The copies of arrays.cpp built for the wider instruction sets.
namespace qv::simd::avx2 {
void apply(Op f, const double* a, const double* b, double* out, double* out2, std::size_t n);
void primitives(const double* a, const double* b, double* out, std::size_t n);
}  // namespace qv::simd::avx2
namespace qv::simd::avx512 {
void apply(Op f, const double* a, const double* b, double* out, double* out2, std::size_t n);
void primitives(const double* a, const double* b, double* out, std::size_t n);
}  // namespace qv::simd::avx512

namespace {

using qv::Ref;
using qv::simd::Isa;
using qv::simd::Op;

constexpr const char* module_path = "quorvane._testing.lanes";

void run(Isa isa, Op f, const double* a, const double* b, double* out, double* out2, std::size_t n) {
    switch (isa) {
        case Isa::avx512: qv::simd::avx512::apply(f, a, b, out, out2, n); break;
        case Isa::avx2: qv::simd::avx2::apply(f, a, b, out, out2, n); break;
        case Isa::baseline: qv::simd::baseline::apply(f, a, b, out, out2, n); break;
    }
}

PyArrayObject* as_array(PyObject* p) { return reinterpret_cast<PyArrayObject*>(p); }
double* data_of(PyObject* p) { return static_cast<double*>(PyArray_DATA(as_array(p))); }

// A C-contiguous float64 array of `value` (a copy only where needed).
Ref input_array(PyObject* value) {
    return Ref::steal(PyArray_FROMANY(value, NPY_DOUBLE, 0, 0, NPY_ARRAY_IN_ARRAY));
}

bool same_shape(PyObject* a, PyObject* b) {
    return PyArray_SAMESHAPE(as_array(a), as_array(b));
}

// The result array: a new one shaped like `like`, or `out` after checking
// that it is a writable C-contiguous float64 array of that shape which does
// not partly overlap an input (the same memory is fine: lanes are read
// before they are written).
Ref output_array(PyObject* out, PyObject* like, PyObject* in1, PyObject* in2) {
    PyArrayObject* shape = as_array(like);
    if (!out || out == Py_None) {
        return Ref::steal(PyArray_SimpleNew(PyArray_NDIM(shape), PyArray_DIMS(shape), NPY_DOUBLE));
    }
    if (!PyArray_Check(out) || PyArray_TYPE(as_array(out)) != NPY_DOUBLE) {
        PyErr_SetString(PyExc_TypeError, "out must be a float64 numpy.ndarray");
        return {};
    }
    if (!PyArray_IS_C_CONTIGUOUS(as_array(out)) || !PyArray_ISWRITEABLE(as_array(out)) ||
        !PyArray_ISALIGNED(as_array(out)) || !PyArray_ISNOTSWAPPED(as_array(out))) {
        PyErr_SetString(PyExc_ValueError, "out must be writable, aligned, native and C-contiguous");
        return {};
    }
    if (!same_shape(out, like)) {
        PyErr_SetString(PyExc_ValueError, "out must have the shape of the argument");
        return {};
    }
    auto* o = reinterpret_cast<char*>(data_of(out));
    std::size_t bytes = PyArray_NBYTES(as_array(out));
    for (PyObject* in : {in1, in2}) {
        if (!in || bytes == 0) continue;
        auto* i = reinterpret_cast<char*>(data_of(in));
        if (i != o && i < o + bytes && o < i + bytes) {
            PyErr_SetString(PyExc_ValueError, "out overlaps an argument without being the same memory");
            return {};
        }
    }
    return Ref::borrow(out);
}

// Computes without the interpreter lock once the work is worth it.
void compute(Isa isa, Op f, const double* a, const double* b, double* out, double* out2, std::size_t n) {
    if (n < 4096) {
        run(isa, f, a, b, out, out2, n);
        return;
    }
    Py_BEGIN_ALLOW_THREADS run(isa, f, a, b, out, out2, n);
    Py_END_ALLOW_THREADS
}

// ---- functions ---------------------------------------------------------------

template <Op F>
PyObject* unary(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[3];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    Isa isa;
    if (qv::simd::width_argument(arg[1], &isa) < 0) return nullptr;
    Ref x = input_array(arg[0]);
    if (!x) return nullptr;
    Ref out = output_array(arg[2], x.get(), x.get(), nullptr);
    if (!out) return nullptr;
    compute(isa, F, data_of(x.get()), nullptr, data_of(out.get()), nullptr, PyArray_SIZE(as_array(x.get())));
    return out.release();
}

PyObject* atan2(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[4];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    Isa isa;
    if (qv::simd::width_argument(arg[2], &isa) < 0) return nullptr;
    Ref y = input_array(arg[0]);
    if (!y) return nullptr;
    Ref x = input_array(arg[1]);
    if (!x) return nullptr;
    if (!same_shape(y.get(), x.get())) {
        PyErr_SetString(PyExc_ValueError, "y and x must have the same shape");
        return nullptr;
    }
    Ref out = output_array(arg[3], y.get(), y.get(), x.get());
    if (!out) return nullptr;
    compute(isa, Op::atan2, data_of(y.get()), data_of(x.get()), data_of(out.get()), nullptr,
            PyArray_SIZE(as_array(y.get())));
    return out.release();
}

// sincos and sincosm1: two arrays of results.
template <Op F>
PyObject* two_results(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[2];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    Isa isa;
    if (qv::simd::width_argument(arg[1], &isa) < 0) return nullptr;
    Ref x = input_array(arg[0]);
    if (!x) return nullptr;
    Ref s = output_array(nullptr, x.get(), nullptr, nullptr);
    Ref c = output_array(nullptr, x.get(), nullptr, nullptr);
    if (!s || !c) return nullptr;
    compute(isa, F, data_of(x.get()), nullptr, data_of(s.get()), data_of(c.get()),
            PyArray_SIZE(as_array(x.get())));
    return PyTuple_Pack(2, s.get(), c.get());
}

PyObject* primitives(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[3];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    Isa isa;
    if (qv::simd::width_argument(arg[2], &isa) < 0) return nullptr;
    Ref a = input_array(arg[0]);
    if (!a) return nullptr;
    Ref b = input_array(arg[1]);
    if (!b) return nullptr;
    if (PyArray_NDIM(as_array(a.get())) != 1 || !same_shape(a.get(), b.get())) {
        PyErr_SetString(PyExc_ValueError, "a and b must be one-dimensional, of one length");
        return nullptr;
    }
    npy_intp dims[2] = {qv::simd::primitive_rows, PyArray_DIM(as_array(a.get()), 0)};
    Ref out = Ref::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    const double *pa = data_of(a.get()), *pb = data_of(b.get());
    double* po = data_of(out.get());
    auto n = static_cast<std::size_t>(dims[1]);
    switch (isa) {
        case Isa::avx512: qv::simd::avx512::primitives(pa, pb, po, n); break;
        case Isa::avx2: qv::simd::avx2::primitives(pa, pb, po, n); break;
        case Isa::baseline: qv::simd::baseline::primitives(pa, pb, po, n); break;
    }
    return out.release();
}

// The C library's scalar functions in a plain loop: the benchmark's baseline.
PyObject* clib(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[4];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    const char* name = PyUnicode_Check(arg[0]) ? PyUnicode_AsUTF8(arg[0]) : nullptr;
    if (!name) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "function must be a str");
        return nullptr;
    }
    bool binary = std::strcmp(name, "atan2") == 0;
    Ref x = input_array(arg[1]);
    if (!x) return nullptr;
    Ref x2 = binary ? input_array(arg[2] ? arg[2] : Py_None) : Ref{};
    if (binary && (!x2 || !same_shape(x.get(), x2.get()))) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "atan2 takes y and x of one shape");
        return nullptr;
    }
    Ref out = output_array(arg[3], x.get(), x.get(), x2.get());
    if (!out) return nullptr;
    const double *a = data_of(x.get()), *b = binary ? data_of(x2.get()) : nullptr;
    double* o = data_of(out.get());
    npy_intp n = PyArray_SIZE(as_array(x.get()));
    if (std::strcmp(name, "sin") == 0) {
        for (npy_intp i = 0; i < n; ++i) o[i] = std::sin(a[i]);
    } else if (std::strcmp(name, "cos") == 0) {
        for (npy_intp i = 0; i < n; ++i) o[i] = std::cos(a[i]);
    } else if (binary) {
        for (npy_intp i = 0; i < n; ++i) o[i] = std::atan2(a[i], b[i]);
    } else if (std::strcmp(name, "fmod") == 0) {
        for (npy_intp i = 0; i < n; ++i) o[i] = std::fmod(a[i], 6.283185307179586);
    } else if (std::strcmp(name, "cbrt") == 0) {
        for (npy_intp i = 0; i < n; ++i) o[i] = std::cbrt(a[i]);
    } else {
        PyErr_Format(PyExc_ValueError, "no C library function %s here (sin, cos, atan2, fmod, cbrt)", name);
        return nullptr;
    }
    return out.release();
}

PyObject* widths(qv::Function*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (qv::bind_no_arguments("widths", nargs, kwnames) < 0) return nullptr;
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (int w : {1, 4, 8}) {
        if (!qv::simd::width_available(w)) continue;
        Ref item = Ref::steal(PyLong_FromLong(w));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return PyList_AsTuple(list.get());
}

// Sets the cap through os.environ, so that Python's view of the environment
// and the C library's agree.
PyObject* set_max_width(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[1];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    PyObject* width = arg[0];
    long long w = 0;
    int overflow = 0;
    const int given = qv::optional_int_argument(width, "width", &w, &overflow);
    if (given < 0) return nullptr;
    if (given > 0 && (overflow || w < 1 || w > 1024)) {
        PyErr_Format(PyExc_ValueError, "width must be between 1 and 1024, got %S", width);
        return nullptr;
    }
    int previous = qv::simd::max_width();
    Ref os = Ref::steal(PyImport_ImportModule("os"));
    Ref environ = os ? Ref::steal(PyObject_GetAttrString(os.get(), "environ")) : Ref{};
    if (!environ) return nullptr;
    Ref done;
    if (width == Py_None) {
        done = Ref::steal(PyObject_CallMethod(environ.get(), "pop", "sO", qv::simd::max_width_variable, Py_None));
    } else {
        Ref text = Ref::steal(PyObject_Str(width));
        if (!text) return nullptr;
        done = Ref::steal(PyObject_CallMethod(environ.get(), "__setitem__", "sO", qv::simd::max_width_variable,
                                              text.get()));
    }
    if (!done) return nullptr;
    if (previous == 0) Py_RETURN_NONE;
    return PyLong_FromLong(previous);
}

// ---- definitions ---------------------------------------------------------------

#define QV_UNARY_DOC(name, what, unit)                                                                  \
    name "(x, *, width=None, out=None)\n\n" what "\n\n"                                                \
         "Parameters\n----------\n"                                                                     \
         "x : array_like of float\n    Arguments" unit ".\n"                                            \
         "width : int or None\n    Lanes per vector: 1, 4 or 8 (one of widths()); None, the widest.\n"   \
         "out : numpy.ndarray of float64, optional\n    Array of x's shape to write into (may be x).\n\n" \
         "Returns\n-------\nnumpy.ndarray of float64\n    The results, shaped as x; out when given.\n"

constexpr const char* widths_doc =
    "widths()\n\nLane widths this process may use now: 1 always, 4 with AVX2 and 8 with AVX-512 (F and DQ)\n"
    "where the processor and the operating system support them, none above QUORVANE_SIMD_MAX_WIDTH.\n\n"
    "Returns\n-------\ntuple of int\n";

constexpr const char* set_max_width_doc =
    "_set_max_width(width)\n\nCap the lane width of every module of this process (for tests).\n\n"
    "Parameters\n----------\nwidth : int or None\n    Largest number of lanes to use; None removes the cap.\n"
    "    Sets or removes the environment variable QUORVANE_SIMD_MAX_WIDTH.\n\n"
    "Returns\n-------\nint or None\n    The cap before the call.\n";

const qv::FunctionDef definitions[] = {
    {"sin", QV_UNARY_DOC("sin", "Sine, below 1 ulp.", " in radians"), unary<Op::sin>,
     {"sin", {"x", "width", "out"}, 3, 1, 2}},
    {"cos", QV_UNARY_DOC("cos", "Cosine, below 1 ulp.", " in radians"), unary<Op::cos>,
     {"cos", {"x", "width", "out"}, 3, 1, 2}},
    {"rem2pi",
     QV_UNARY_DOC("rem2pi", "Remainder of x / 2pi with the sign of x: C's fmod(x, 2pi), exactly.", " in radians"),
     unary<Op::rem2pi>, {"rem2pi", {"x", "width", "out"}, 3, 1, 2}},
    {"cbrt", QV_UNARY_DOC("cbrt", "Cube root, below 1 ulp.", ""), unary<Op::cbrt>,
     {"cbrt", {"x", "width", "out"}, 3, 1, 2}},
    {"atan2",
     "atan2(y, x, *, width=None, out=None)\n\nAngle of the point (x, y) from the x axis, in radians in [-pi, pi], "
     "below 1 ulp;\nzeros and infinities as C's atan2.\n\n"
     "Parameters\n----------\ny, x : array_like of float\n    Coordinates, of one shape.\n"
     "width : int or None\n    Lanes per vector: 1, 4 or 8 (one of widths()); None, the widest.\n"
     "out : numpy.ndarray of float64, optional\n    Array of that shape to write into.\n\n"
     "Returns\n-------\nnumpy.ndarray of float64\n    Angles in radians; out when given.\n",
     atan2,
     {"atan2", {"y", "x", "width", "out"}, 4, 2, 2}},
    {"sincos",
     "sincos(x, *, width=None)\n\nSine and cosine together, the same bits as sin and cos.\n\n"
     "Parameters\n----------\nx : array_like of float\n    Arguments in radians.\n"
     "width : int or None\n    Lanes per vector: 1, 4 or 8 (one of widths()); None, the widest.\n\n"
     "Returns\n-------\ntuple of two numpy.ndarray of float64\n    Sines and cosines, shaped as x.\n",
     two_results<Op::sincos>,
     {"sincos", {"x", "width"}, 2, 1, 1}},
    {"sincosm1",
     "sincosm1(x, *, width=None)\n\nSine and cosine minus one of small angles, |x| <= pi/4 (no argument reduction; "
     "beyond,\nthe results mean nothing): sin below 1 ulp, cos - 1 below 1.5 ulp of itself; for turning\n"
     "known sines and cosines by a small angle.\n\n"
     "Parameters\n----------\nx : array_like of float\n    Arguments in radians, |x| <= pi/4.\n"
     "width : int or None\n    Lanes per vector: 1, 4 or 8 (one of widths()); None, the widest.\n\n"
     "Returns\n-------\ntuple of two numpy.ndarray of float64\n    sin x and cos x - 1, shaped as x.\n",
     two_results<Op::sincosm1>,
     {"sincosm1", {"x", "width"}, 2, 1, 1}},
    {"widths", widths_doc, widths, {"widths", {}, 0, 0}},
    {"_primitives",
     "_primitives(a, b, *, width=None)\n\nThe lane primitives on a[i], b[i] (tests): a (21, n) array, one row per "
     "operation.\n\nParameters\n----------\na, b : array_like of float\n    One-dimensional, of one length.\n"
     "width : int or None\n    Lanes per vector: 1, 4 or 8 (one of widths()); None, the widest.\n\n"
     "Returns\n-------\nnumpy.ndarray of float64\n    Rows: a+b, a-b, a*b, a/b, -a, sqrt(a), abs(a), floor(a), "
     "min(a, b), max(a, b),\n    a<b, a<=b, a>b, a>=b, a==b, a!=b (1 or 0), (a<b and a!=0) or a is NaN,\n"
     "    ((a+b)*b-a)/b by compound assignment, (2a - b/4) + 1, 1 where bits/any/all agree, and 1 where\n"
     "    the paired lane type (twice the lanes) gives the same bits as the plain one for all of these,\n"
     "    every function and the interleaving and int8 stores.\n",
     primitives,
     {"_primitives", {"a", "b", "width"}, 3, 2, 1}},
    {"_clib",
     "_clib(function, x, x2=None, *, out=None)\n\nThe C library's sin, cos, atan2 (y = x, x = x2), fmod(x, 2pi) "
     "or cbrt in a plain loop,\nthe benchmark's baseline.\n\nParameters\n----------\nfunction : str\n"
     "    'sin', 'cos', 'atan2', 'fmod' or 'cbrt'.\nx, x2 : array_like of float\n    Arguments (x2 for atan2 only).\n"
     "out : numpy.ndarray of float64, optional\n    Array of x's shape to write into.\n\n"
     "Returns\n-------\nnumpy.ndarray of float64\n",
     clib,
     {"_clib", {"function", "x", "x2", "out"}, 4, 2, 1}},
    {"_set_max_width", set_max_width_doc, set_max_width, {"_set_max_width", {"width"}, 1, 1}},
};

#undef QV_UNARY_DOC

int steps(PyObject* module) {
    constexpr const char* array = "numpy.ndarray";
    constexpr const char* width = "int | None";
    constexpr const char* optional_array = "numpy.ndarray | None";
    for (const qv::FunctionDef& def : definitions) {
        const char* name = def.params.function;
        Ref annotations;
        if (std::strcmp(name, "widths") == 0) {
            annotations = qv::make_annotations({{"return", "tuple[int, ...]"}});
        } else if (std::strcmp(name, "_set_max_width") == 0) {
            annotations = qv::make_annotations({{"width", width}, {"return", width}});
        } else if (std::strcmp(name, "atan2") == 0) {
            annotations = qv::make_annotations(
                {{"y", "ArrayLike"}, {"x", "ArrayLike"}, {"width", width}, {"out", optional_array}, {"return", array}});
        } else if (std::strcmp(name, "_clib") == 0) {
            annotations = qv::make_annotations({{"function", "str"}, {"x", "ArrayLike"}, {"x2", "ArrayLike | None"},
                                                {"out", optional_array}, {"return", array}});
        } else if (std::strcmp(name, "_primitives") == 0) {
            annotations =
                qv::make_annotations({{"a", "ArrayLike"}, {"b", "ArrayLike"}, {"width", width}, {"return", array}});
        } else if (std::strcmp(name, "sincos") == 0 || std::strcmp(name, "sincosm1") == 0) {
            annotations = qv::make_annotations(
                {{"x", "ArrayLike"}, {"width", width}, {"return", "tuple[numpy.ndarray, numpy.ndarray]"}});
        } else {
            annotations = qv::make_annotations(
                {{"x", "ArrayLike"}, {"width", width}, {"out", optional_array}, {"return", array}});
        }
        if (!annotations) return -1;
        Ref function = qv::make_function(&def, module_path, annotations.get());
        if (!function) return -1;
        Py_ssize_t optional = def.params.count - def.params.required;
        if (optional > 0) {
            Ref defaults = Ref::steal(PyTuple_New(optional));
            if (!defaults) return -1;
            for (Py_ssize_t i = 0; i < optional; ++i) PyTuple_SET_ITEM(defaults.get(), i, Py_NewRef(Py_None));
            qv::set_object_defaults(function.get(), defaults.get());
        }
        if (qv::module_add(module, name, function.get()) < 0) return -1;
    }
    return 0;
}

qv::ModuleFrame frame{"lanes", module_path,
                      "This package's lane mathematics (sin, cos, sincosm1, atan2, rem2pi, cbrt) over float64 arrays,\n"
                      "at a chosen vector width, for tests and benchmarks.  Results are the same bits at every width.",
                      steps};

}  // namespace

PyMODINIT_FUNC PyInit_lanes() { return frame.init(); }
