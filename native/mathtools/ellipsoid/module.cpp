// quorvane.mathtools.ellipsoid.ellipsoid: the reference-ellipsoid type
// Ellipsoid and the instances WGS84, WGS72 and GRS80 (native variables and
// module attributes), its array methods geodetic and cartesian, and the
// exported geodetic kernel.
#include "runtime/numpy_api.hpp"

#include <structmember.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "runtime/runtime.hpp"
#include "mathtools/ellipsoid/ellipsoid.hpp"
#include "mathtools/ellipsoid/geodesy.hpp"
#include "mathtools/ellipsoid/kernels.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace {

using qv::Ref;
using namespace qv::ellipsoid;

constexpr const char* module_path = "quorvane.mathtools.ellipsoid.ellipsoid";

// Exported by address before they are assigned; read-only after import.
EllipsoidObject* wgs84 = nullptr;
EllipsoidObject* wgs72 = nullptr;
EllipsoidObject* grs80 = nullptr;

PyTypeObject* ellipsoid_type = nullptr;

void vt_ecef_from_geodetic(EllipsoidObject* self, double lat, double lon, double alt, double* r) {
    ecef_from_geodetic(self->a, self->e2, lat, lon, alt, r);
}
EllipsoidVTable ellipsoid_vtable{vt_ecef_from_geodetic};

// An ellipsoid from its equatorial radius a (m) and flattening f; b and e2
// are derived: b = a (1 - f), e2 = f (2 - f).
PyObject* make_ellipsoid(PyTypeObject* type, double a, double f, PyObject* name) {
    if (!(std::isfinite(a) && a > 0.0) || !(f >= 0.0 && f < 1.0)) {
        PyErr_SetString(PyExc_ValueError, "Ellipsoid() needs a finite a > 0 and a flattening 0 <= f < 1");
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    e->vtab = &ellipsoid_vtable;
    e->a = a;
    e->f = f;
    e->b = a * (1.0 - f);
    e->e2 = f * (2.0 - f);
    e->name = Py_NewRef(name);
    return self;
}

const qv::Params ellipsoid_params{"Ellipsoid", {"a", "f", "name"}, 3, 3};

PyObject* ellipsoid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[3];
    if (qv::bind_arguments(ellipsoid_params, args, kwargs, bound) < 0) return nullptr;
    double a = PyFloat_AsDouble(bound[0]);
    if (a == -1.0 && PyErr_Occurred()) return nullptr;
    double f = PyFloat_AsDouble(bound[1]);
    if (f == -1.0 && PyErr_Occurred()) return nullptr;
    if (qv::check_exact_str(bound[2], "name", false) < 0) return nullptr;
    return make_ellipsoid(type, a, f, bound[2]);
}

void ellipsoid_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<EllipsoidObject*>(self)->name);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* ellipsoid_repr(PyObject* self) {
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    Ref a = Ref::steal(PyFloat_FromDouble(e->a));
    Ref f = Ref::steal(PyFloat_FromDouble(e->f));
    if (!a || !f) return nullptr;
    return PyUnicode_FromFormat("Ellipsoid(a=%R, f=%R, name=%R)", a.get(), f.get(), e->name);
}

PyMemberDef ellipsoid_members[] = {
    {"a", Py_T_DOUBLE, offsetof(EllipsoidObject, a), Py_READONLY, "Equatorial radius (m)."},
    {"f", Py_T_DOUBLE, offsetof(EllipsoidObject, f), Py_READONLY, "Flattening."},
    {"b", Py_T_DOUBLE, offsetof(EllipsoidObject, b), Py_READONLY, "Polar radius (m): a (1 - f)."},
    {"e2", Py_T_DOUBLE, offsetof(EllipsoidObject, e2), Py_READONLY, "First eccentricity squared: f (2 - f)."},
    {"name", Py_T_OBJECT_EX, offsetof(EllipsoidObject, name), Py_READONLY, "Name (str)."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot ellipsoid_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(ellipsoid_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(ellipsoid_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(ellipsoid_repr)},
    {Py_tp_members, ellipsoid_members},
    {Py_tp_doc, const_cast<char*>("Ellipsoid(a, f, name)\n\n"
                                  "Reference ellipsoid of equatorial radius a (m) and flattening f.")},
    {0, nullptr},
};
PyType_Spec ellipsoid_spec{"quorvane.mathtools.ellipsoid.ellipsoid.Ellipsoid", sizeof(EllipsoidObject), 0,
                           Py_TPFLAGS_DEFAULT, ellipsoid_slots};

// ---- geodetic and cartesian ------------------------------------------------

// Below this many samples the work runs with the interpreter lock held, on
// the calling thread; above, in blocks of `block` samples over the threads.
// Each thread starts on its own contiguous share of the blocks and then
// takes single blocks from the far end of the others' (parallel_for_shares),
// so that the threads write (and first touch) new pages of the outputs far
// apart: threads taking neighbouring blocks in turn fault the same 2 MiB
// huge pages at once and wait for each other's zeroing.  The blocks go from
// the last to the first: an input just written by another call (the
// positions of SGP4.propagate, larger than the last-level cache) still has
// its end in the cache, which a pass from the start would find evicted by
// the time it got there.  The arithmetic of a sample does not depend on the
// split or the order, so results are the same bits for any thread count.
constexpr std::size_t threaded_from = 16384;
constexpr std::size_t block = 1024;

template <class F>
void run_blocks(std::size_t n, int threads, const F& f) {
    if (n < threaded_from) {
        f(std::size_t{0}, n);
        return;
    }
    const std::size_t blocks = (n + block - 1) / block;
    Py_BEGIN_ALLOW_THREADS;
    qv::parallel_for_shares(blocks, threads, [&](std::size_t t) {
        const std::size_t b = blocks - 1 - t;
        std::size_t lo = b * block, hi = lo + block < n ? lo + block : n;
        f(lo, hi);
    });
    Py_END_ALLOW_THREADS;
}

int check_self(PyObject* self, const char* method) {
    if (PyObject_TypeCheck(self, ellipsoid_type)) return 0;
    PyErr_Format(PyExc_TypeError, "Ellipsoid.%s() needs an Ellipsoid, not %.200s", method, Py_TYPE(self)->tp_name);
    return -1;
}

// A float64 C-contiguous array of `value` (a new reference), or null with
// TypeError/ValueError naming the argument.
Ref as_double_array(PyObject* value, const char* name) {
    Ref array = Ref::steal(PyArray_FROMANY(value, NPY_DOUBLE, 0, 0, NPY_ARRAY_IN_ARRAY));
    if (!array) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be an array of real numbers", name);
    }
    return array;
}

Ref shape_text(PyArrayObject* a) {
    Ref dims = Ref::steal(PyTuple_New(PyArray_NDIM(a)));
    if (!dims) return dims;
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        PyObject* d = PyLong_FromSsize_t(PyArray_DIM(a, i));
        if (!d) return Ref();
        PyTuple_SET_ITEM(dims.get(), i, d);
    }
    return Ref::steal(PyObject_Repr(dims.get()));
}

const qv::Params geodetic_params{"geodetic", {"r", "threads"}, 2, 1, 1};

PyObject* geodetic_of(PyObject* self, PyObject* r_arg, int threads, GeodeticRun run);

PyObject* geodetic_method(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, "geodetic") < 0) return nullptr;
    PyObject* a[2] = {};
    if (qv::bind_arguments(geodetic_params, args + 1, nargs - 1, kwnames, a) < 0) return nullptr;
    int threads = 0;
    if (qv::threads_argument(a[1], &threads) < 0) return nullptr;
    return geodetic_of(self, a[0], threads, geodetic_run_for(static_cast<int>(qv::simd::detect())));
}

// _geodetic_closed_form(ellipsoid, r): the closed form alone, without the
// fast path of the ordinary region, on one thread (the reference of the
// tests of the fast path).
const qv::Params closed_form_params{"_geodetic_closed_form", {"ellipsoid", "r"}, 2, 2, 0};

PyObject* closed_form_method(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2] = {};
    if (qv::bind_arguments(closed_form_params, args, nargs, kwnames, a) < 0) return nullptr;
    if (check_self(a[0], "geodetic") < 0) return nullptr;
    return geodetic_of(a[0], a[1], 1, geodetic_exact_run_for(static_cast<int>(qv::simd::detect())));
}

PyObject* geodetic_of(PyObject* self, PyObject* r_arg, int threads, GeodeticRun run) {
    Ref r = as_double_array(r_arg, "r");
    if (!r) return nullptr;
    auto* ra = reinterpret_cast<PyArrayObject*>(r.get());
    int nd = PyArray_NDIM(ra);
    if (nd == 0 || PyArray_DIM(ra, nd - 1) != 3) {
        Ref text = shape_text(ra);
        if (!text) return nullptr;
        PyErr_Format(PyExc_ValueError, "r must have shape (..., 3), got shape %U", text.get());
        return nullptr;
    }
    Ref out[3];
    for (auto& o : out) {
        o = Ref::steal(qv::new_large_array(nd - 1, PyArray_DIMS(ra), NPY_DOUBLE));
        if (!o) return nullptr;
    }
    auto data = [&](int k) { return static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out[k].get()))); };
    double *lat = data(0), *lon = data(1), *h = data(2);
    const double* rd = static_cast<const double*>(PyArray_DATA(ra));
    std::size_t n = static_cast<std::size_t>(PyArray_SIZE(ra)) / 3;
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    Shape shape{e->a, e->e2};
    run_blocks(n, threads, [&](std::size_t lo, std::size_t hi) {
        run(shape, rd + 3 * lo, hi - lo, lat + lo, lon + lo, h + lo);
    });
    if (nd == 1) return Py_BuildValue("(ddd)", lat[0], lon[0], h[0]);
    return PyTuple_Pack(3, out[0].get(), out[1].get(), out[2].get());
}

const char* geodetic_doc =
    "geodetic(r, *, threads=None)\n"
    "--\n\n"
    "Geodetic latitude, longitude and height of Earth-centred Cartesian positions.\n\n"
    "Closed form of Vermeille (2011, J. Geodesy 85, 105-117), valid everywhere:\n"
    "at the poles, on the equator, inside the Earth (the height is then the\n"
    "negative distance to the nearest point of the meridian ellipse), at the\n"
    "centre (latitude pi/2, height -b) and far out.  On the equatorial plane\n"
    "within a e^2 of the axis the nearest point is one of two; the northern one\n"
    "is returned (the southern for z < 0).  From 0.8 a to 1e8 a from the centre\n"
    "(off the polar axis) one Halley correction of Bowring's starting value\n"
    "(Fukushima 2006, J. Geodesy 79, 689-693) stands in for the closed form, to\n"
    "2e-15 rad in latitude and 2e-15 of the distance in height.\n\n"
    "Parameters\n----------\n"
    "r : array_like, shape (..., 3)\n"
    "    Earth-centred, Earth-fixed positions (x, y, z), m.\n"
    "threads : int, keyword-only, optional\n"
    "    Number of threads for large inputs; None is every available processor.\n"
    "    Results are the same bits for every thread count and vector width.\n\n"
    "Returns\n-------\n"
    "lat, lon, height : numpy.ndarray of float64, shape r.shape[:-1]\n"
    "    Geodetic latitude in [-pi/2, pi/2] and longitude in (-pi, pi] (rad),\n"
    "    height above the ellipsoid (m); floats for a single position of shape (3,).\n"
    "    NaN coordinates give NaN.\n\n"
    "Raises\n------\n"
    "TypeError\n    `r` is not an array of real numbers.\n"
    "ValueError\n    `r`'s last axis is not of length 3.\n";

const qv::Params cartesian_params{"cartesian", {"lat", "lon", "height", "threads"}, 4, 3, 1};

constexpr double half_pi = 1.5707963267948966;

PyObject* cartesian_method(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, "cartesian") < 0) return nullptr;
    PyObject* a[4] = {};
    if (qv::bind_arguments(cartesian_params, args + 1, nargs - 1, kwnames, a) < 0) return nullptr;
    int threads = 0;
    if (qv::threads_argument(a[3], &threads) < 0) return nullptr;
    const char* names[3] = {"lat", "lon", "height"};
    Ref in[3];
    for (int k = 0; k < 3; ++k) {
        in[k] = as_double_array(a[k], names[k]);
        if (!in[k]) return nullptr;
    }
    Ref multi = Ref::steal(PyArray_MultiIterNew(3, in[0].get(), in[1].get(), in[2].get()));
    if (!multi) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError, "lat, lon and height must broadcast to one shape");
        return nullptr;
    }
    auto* mi = reinterpret_cast<PyArrayMultiIterObject*>(multi.get());
    int nd = mi->nd;
    npy_intp dims[NPY_MAXDIMS + 1];
    for (int i = 0; i < nd; ++i) dims[i] = mi->dimensions[i];
    dims[nd] = 3;
    std::size_t n = static_cast<std::size_t>(mi->size);
    // Each input at the broadcast shape, contiguous (copied where it is not).
    const double* d[3];
    for (int k = 0; k < 3; ++k) {
        auto* arr = reinterpret_cast<PyArrayObject*>(in[k].get());
        if (!(PyArray_NDIM(arr) == nd && PyArray_CompareLists(PyArray_DIMS(arr), dims, nd))) {
            Ref full = Ref::steal(PyArray_SimpleNew(nd, dims, NPY_DOUBLE));
            if (!full || PyArray_CopyInto(reinterpret_cast<PyArrayObject*>(full.get()), arr) < 0) return nullptr;
            in[k] = full;
        }
        d[k] = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(in[k].get())));
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (std::fabs(d[0][i]) > half_pi) {
            PyErr_Format(PyExc_ValueError, "lat must be within [-pi/2, pi/2] rad, got %R",
                         Ref::steal(PyFloat_FromDouble(d[0][i])).get());
            return nullptr;
        }
    }
    Ref out = Ref::steal(qv::new_large_array(nd + 1, dims, NPY_DOUBLE));
    if (!out) return nullptr;
    double* r = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    Shape shape{e->a, e->e2};
    CartesianRun run = cartesian_run_for(static_cast<int>(qv::simd::detect()));
    run_blocks(n, threads, [&](std::size_t lo, std::size_t hi) {
        run(shape, d[0] + lo, d[1] + lo, d[2] + lo, hi - lo, r + 3 * lo);
    });
    return out.release();
}

const char* cartesian_doc =
    "cartesian(lat, lon, height, *, threads=None)\n"
    "--\n\n"
    "Earth-centred Cartesian positions of geodetic coordinates.\n\n"
    "N = a / sqrt(1 - e2 sin^2 lat); r = ((N + h) cos lat cos lon,\n"
    "(N + h) cos lat sin lon, (N (1 - e2) + h) sin lat).\n\n"
    "Parameters\n----------\n"
    "lat, lon : array_like\n"
    "    Geodetic latitude in [-pi/2, pi/2] and longitude (rad).\n"
    "height : array_like\n"
    "    Height above the ellipsoid, m.  The three broadcast together.\n"
    "threads : int, keyword-only, optional\n"
    "    Number of threads for large inputs; None is every available processor.\n\n"
    "Returns\n-------\n"
    "r : numpy.ndarray of float64, shape (..., 3)\n"
    "    Earth-centred, Earth-fixed positions, m; shape (3,) for scalar inputs.\n"
    "    NaN inputs give NaN.\n\n"
    "Raises\n------\n"
    "TypeError\n    An argument is not an array of real numbers.\n"
    "ValueError\n    A latitude beyond +-pi/2, or shapes that do not broadcast.\n";

const qv::FunctionDef geodetic_def{"Ellipsoid.geodetic", geodetic_doc, geodetic_method, geodetic_params, true};
const qv::FunctionDef closed_form_def{"_geodetic_closed_form", "_geodetic_closed_form(ellipsoid, r)\n--\n\n"
    "Ellipsoid.geodetic by the closed form alone (for the tests).", closed_form_method, closed_form_params, false};
const qv::FunctionDef cartesian_def{"Ellipsoid.cartesian", cartesian_doc, cartesian_method, cartesian_params, true};

void c_geodetic_from_cartesian(double a, double e2, const double* r, std::size_t n, double* lat, double* lon,
                               double* h) noexcept {
    geodetic_from_cartesian(a, e2, r, n, lat, lon, h);
}

// The defining constants: a and the inverse flattening 1/f.
struct Definition {
    const char* name;
    double a;
    double inverse_f;
    EllipsoidObject** variable;
};
const Definition definitions[] = {
    {"WGS84", 6378137.0, 298.257223563, &wgs84},
    {"WGS72", 6378135.0, 298.26, &wgs72},
    {"GRS80", 6378137.0, 298.257222101, &grs80},
};

int steps(PyObject* module) {
    for (const Definition& d : definitions) {
        if (qv::export_variable(module, d.name, d.variable, ellipsoid_signature) < 0) return -1;
    }
    ellipsoid_type = qv::add_type(module, &ellipsoid_spec, nullptr, &ellipsoid_vtable);  // held for the process
    if (!ellipsoid_type) return -1;
    PyObject* type = reinterpret_cast<PyObject*>(ellipsoid_type);
    Ref geodetic_ann = qv::make_annotations({{"return", "tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]"}});
    Ref cartesian_ann = qv::make_annotations({{"return", "numpy.ndarray"}});
    if (!geodetic_ann || !cartesian_ann ||
        qv::add_function(type, &geodetic_def, module_path, geodetic_ann.get()) < 0 ||
        qv::add_function(type, &cartesian_def, module_path, cartesian_ann.get()) < 0 ||
        qv::add_function(module, &closed_form_def, module_path, geodetic_ann.get()) < 0) {
        return -1;
    }
    for (const char* name : {"geodetic", "cartesian"}) {
        PyObject* fn = PyDict_GetItemString(ellipsoid_type->tp_dict, name);
        if (!fn) return -1;
        Ref defaults = Ref::steal(PyTuple_Pack(1, Py_None));
        if (!defaults) return -1;
        qv::set_object_defaults(fn, defaults.get());
    }
    if (qv::export_kernel(module, "c_geodetic_from_cartesian", &c_geodetic_from_cartesian, geodetic_signature) < 0) {
        return -1;
    }
    for (const Definition& d : definitions) {
        Ref name = Ref::steal(PyUnicode_FromString(d.name));
        if (!name) return -1;
        PyObject* instance = make_ellipsoid(ellipsoid_type, d.a, 1.0 / d.inverse_f, name.get());
        if (!instance) return -1;
        *d.variable = reinterpret_cast<EllipsoidObject*>(instance);  // owned for the process
        if (qv::module_add(module, d.name, instance) < 0) return -1;
    }
    return 0;
}

qv::ModuleFrame frame{"ellipsoid", module_path, "Reference ellipsoids: WGS84, WGS72 and GRS80.", steps, true};

}  // namespace

PyMODINIT_FUNC PyInit_ellipsoid() { return frame.init(); }
