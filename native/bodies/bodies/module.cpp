// quorvane.bodies.bodies: the celestial-body types CelestialBody, Earth, Sun
// and Moon.  Earth carries GM and Re; Sun and Moon carry native method tables
// with low-precision analytic ephemerides (ephemerides.hpp), and the static
// methods Sun.position and Moon.position (ERFA through pyerfa, in the Python
// helper quorvane.bodies._ephemerides).  shadow() gives the visible fraction
// of the Sun's disc (shadow.hpp), the Sun's positions computed once per time.
#include "runtime/numpy_api.hpp"

#include <cstring>

#include "runtime/runtime.hpp"
#include "bodies/bodies/bodies.hpp"
#include "bodies/bodies/ephemerides.hpp"
#include "bodies/bodies/shadow.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace {

using namespace qv::bodies;

// Types created at import, read-only afterwards.
PyTypeObject* celestial_body_type = nullptr;
PyTypeObject* sun_type = nullptr;
PyTypeObject* moon_type = nullptr;

void sun_calculate_position(SunObject*, double jd, double* r) { sun_position(jd, r); }
void moon_calculate_state_gcrf(MoonObject*, double jd, double* r, double* v) { moon_state(jd, r, v); }

SunVTable sun_vtable{sun_calculate_position};
MoonVTable moon_vtable{moon_calculate_state_gcrf};

const char* short_name(PyTypeObject* type) {
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot ? dot + 1 : type->tp_name;
}

// Bodies take no constructor arguments; the instance's vtab is its type's
// native method table (inherited by subclasses).
PyObject* body_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    qv::Params params{short_name(type), {}, 0, 0};
    PyObject* unused[1];
    if (qv::bind_arguments(params, args, kwargs, unused) < 0) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* body = reinterpret_cast<CelestialBodyObject*>(self);
    if (PyType_IsSubtype(type, sun_type)) {
        body->vtab = &sun_vtable;
    } else if (PyType_IsSubtype(type, moon_type)) {
        body->vtab = &moon_vtable;
    } else {
        body->vtab = nullptr;
    }
    return self;
}

void body_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot celestial_body_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(body_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(body_dealloc)},
    {Py_tp_doc, const_cast<char*>("Base class of the celestial bodies.")},
    {0, nullptr},
};
PyType_Slot earth_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Earth.  Class attributes: GM (m^3/s^2) and Re, the equatorial radius (m).")},
    {0, nullptr},
};
PyType_Slot sun_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Sun.  Native method: calculate_position (low-precision geocentric position).")},
    {0, nullptr},
};
PyType_Slot moon_slots[] = {
    {Py_tp_doc, const_cast<char*>("The Moon.  Native method: calculate_state_GCRF (low-precision geocentric state).")},
    {0, nullptr},
};

constexpr unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
PyType_Spec celestial_body_spec{"quorvane.bodies.bodies.CelestialBody", sizeof(CelestialBodyObject), 0, flags,
                                celestial_body_slots};
PyType_Spec earth_spec{"quorvane.bodies.bodies.Earth", sizeof(EarthObject), 0, flags, earth_slots};
PyType_Spec sun_spec{"quorvane.bodies.bodies.Sun", sizeof(SunObject), 0, flags, sun_slots};
PyType_Spec moon_spec{"quorvane.bodies.bodies.Moon", sizeof(MoonObject), 0, flags, moon_slots};

int set_float(PyTypeObject* type, const char* name, double value) {
    qv::Ref number = qv::Ref::steal(PyFloat_FromDouble(value));
    if (!number) return -1;
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name, number.get());
}

// ---- shadow ------------------------------------------------------------------

constexpr const char* module_path = "quorvane.bodies.bodies";
PyObject* sun_positions = nullptr;  // quorvane.bodies._ephemerides.sun_positions, held for the process

// Below this many samples the work runs with the interpreter lock held, on
// the calling thread; above, in blocks of `block` samples over the threads.
constexpr std::size_t threaded_from = 16384;
constexpr std::size_t block = 4096;

qv::Ref shape_text(PyArrayObject* a) {
    qv::Ref t = qv::Ref::steal(PyTuple_New(PyArray_NDIM(a)));
    if (!t) return t;
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        PyObject* d = PyLong_FromSsize_t(PyArray_DIM(a, i));
        if (!d) return qv::Ref();
        PyTuple_SET_ITEM(t.get(), i, d);
    }
    return qv::Ref::steal(PyObject_Repr(t.get()));
}

const qv::Params shadow_params{"shadow", {"r", "times", "threads"}, 3, 2, 1};

PyObject* shadow_function(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[3] = {};
    if (qv::bind_arguments(shadow_params, args, nargs, kwnames, a) < 0) return nullptr;
    int threads = 0;
    if (qv::threads_argument(a[2], &threads) < 0) return nullptr;
    qv::Ref r = qv::Ref::steal(PyArray_FROMANY(a[0], NPY_DOUBLE, 0, 0, NPY_ARRAY_IN_ARRAY));
    if (!r) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "r must be an array of real numbers");
        return nullptr;
    }
    auto* ra = reinterpret_cast<PyArrayObject*>(r.get());
    int nd = PyArray_NDIM(ra);
    if (nd == 0 || PyArray_DIM(ra, nd - 1) != 3) {
        qv::Ref text = shape_text(ra);
        if (text) PyErr_Format(PyExc_ValueError, "r must have shape (..., 3), got shape %U", text.get());
        return nullptr;
    }
    qv::Ref found = qv::Ref::steal(PyObject_CallOneArg(sun_positions, a[1]));
    if (!found) return nullptr;
    if (!PyTuple_Check(found.get()) || PyTuple_GET_SIZE(found.get()) != 2) {
        PyErr_SetString(PyExc_RuntimeError, "sun_positions() returned something other than (array, bool)");
        return nullptr;
    }
    qv::Ref sun = qv::Ref::steal(
        PyArray_FROMANY(PyTuple_GET_ITEM(found.get(), 0), NPY_DOUBLE, 2, 2, NPY_ARRAY_IN_ARRAY));
    if (!sun) return nullptr;
    int scalar = PyObject_IsTrue(PyTuple_GET_ITEM(found.get(), 1));
    if (scalar < 0) return nullptr;
    auto* sa = reinterpret_cast<PyArrayObject*>(sun.get());
    std::size_t m = static_cast<std::size_t>(PyArray_DIM(sa, 0));
    if (!scalar && !((nd == 2 || nd == 3) && static_cast<std::size_t>(PyArray_DIM(ra, nd - 2)) == m)) {
        qv::Ref text = shape_text(ra);
        if (text) {
            PyErr_Format(PyExc_ValueError, "r must have shape (m, 3) or (n, m, 3) for m = %zu times, got shape %U",
                         m, text.get());
        }
        return nullptr;
    }
    if (scalar) m = 1;
    qv::Ref out = qv::Ref::steal(PyArray_SimpleNew(nd - 1, PyArray_DIMS(ra), NPY_DOUBLE));
    if (!out) return nullptr;
    double* o = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    const double* rd = static_cast<const double*>(PyArray_DATA(ra));
    const double* sd = static_cast<const double*>(PyArray_DATA(sa));
    std::size_t n = static_cast<std::size_t>(PyArray_SIZE(ra)) / 3;
    qv::bodies::ShadowRun run = qv::bodies::shadow_run_for(static_cast<int>(qv::simd::detect()));
    if (n < threaded_from) {
        run(rd, sd, m, 0, n, o);
    } else {
        std::size_t blocks = (n + block - 1) / block;
        Py_BEGIN_ALLOW_THREADS;
        qv::parallel_for(blocks, threads, [&](std::size_t b) {
            std::size_t lo = b * block, count = lo + block < n ? block : n - lo;
            run(rd + 3 * lo, sd, m, lo, count, o + lo);
        });
        Py_END_ALLOW_THREADS;
    }
    if (nd == 1) return PyFloat_FromDouble(o[0]);
    return out.release();
}

const char* shadow_doc =
    "shadow(r, times, *, threads=None)\n"
    "--\n\n"
    "Fraction of the Sun's disc visible from geocentric positions.\n\n"
    "Conical shadow of a spherical Earth of radius 6378137 m (WGS 84 a), no\n"
    "atmosphere, Sun of radius 695,700 km (IAU 2015 nominal), by the overlap of\n"
    "the apparent discs (Montenbruck & Gill, Satellite Orbits, 3.4.2).  The Sun's\n"
    "positions come from Sun.position, once per time.\n\n"
    "Parameters\n----------\n"
    "r : array_like, shape (m, 3) or (n, m, 3)\n"
    "    GCRF positions, m, at the m times (n objects); for a single time any\n"
    "    shape (..., 3).\n"
    "times : Time, str, datetime, datetime64, int, or a sequence of these\n"
    "    UTC instants.\n"
    "threads : int, keyword-only, optional\n"
    "    Number of threads for large inputs; None is every available processor.\n\n"
    "Returns\n-------\n"
    "numpy.ndarray of float64, shape r.shape[:-1]\n"
    "    0 in the umbra, 1 in sunlight, in between in the penumbra (a float for\n"
    "    a single position).  A position inside the Earth sees it as half the sky.\n\n"
    "Raises\n------\n"
    "TypeError\n    `r` not numeric, or `times` not instants.\n"
    "ValueError\n    `r` not of shape (m, 3) or (n, m, 3) for m times.\n";

const qv::FunctionDef shadow_def{"shadow", shadow_doc, shadow_function, shadow_params};

// The same kernel with the Sun given: one Sun position per position, for
// callers that already hold the Sun at each instant (the pass finder
// interpolates it at its culminations).
const qv::Params shadow_of_params{"_shadow_of", {"r", "sun"}, 2, 2};

PyObject* shadow_of_function(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2] = {};
    if (qv::bind_arguments(shadow_of_params, args, nargs, kwnames, a) < 0) return nullptr;
    qv::Ref r = qv::Ref::steal(PyArray_FROMANY(a[0], NPY_DOUBLE, 2, 2, NPY_ARRAY_IN_ARRAY));
    qv::Ref sun = r ? qv::Ref::steal(PyArray_FROMANY(a[1], NPY_DOUBLE, 2, 2, NPY_ARRAY_IN_ARRAY)) : qv::Ref{};
    if (!sun) return nullptr;
    auto* ra = reinterpret_cast<PyArrayObject*>(r.get());
    auto* sa = reinterpret_cast<PyArrayObject*>(sun.get());
    if (PyArray_DIM(ra, 1) != 3 || PyArray_DIM(sa, 1) != 3 || PyArray_DIM(ra, 0) != PyArray_DIM(sa, 0)) {
        PyErr_SetString(PyExc_ValueError, "r and sun must both have shape (k, 3)");
        return nullptr;
    }
    qv::Ref out = qv::Ref::steal(PyArray_SimpleNew(1, PyArray_DIMS(ra), NPY_DOUBLE));
    if (!out) return nullptr;
    std::size_t k = static_cast<std::size_t>(PyArray_DIM(ra, 0));
    qv::bodies::shadow_run_for(static_cast<int>(qv::simd::detect()))(
        static_cast<const double*>(PyArray_DATA(ra)), static_cast<const double*>(PyArray_DATA(sa)), k, 0, k,
        static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get()))));
    return out.release();
}

const qv::FunctionDef shadow_of_def{
    "_shadow_of",
    "_shadow_of(r, sun)\n--\n\nFraction of the Sun's disc visible from positions r (k, 3) with the Sun at\n"
    "sun (k, 3), geocentric, same frame, m (private: shadow() with the Sun given).",
    shadow_of_function, shadow_of_params};

int add_positions(PyObject* module) {
    qv::Ref helper = qv::import_module("quorvane.bodies._ephemerides");
    if (!helper) return -1;
    sun_positions = PyObject_GetAttrString(helper.get(), "sun_positions");  // held for the process
    if (!sun_positions) return -1;
    const struct {
        PyTypeObject* type;
        const char* function;
    } methods[] = {{sun_type, "sun_position"}, {moon_type, "moon_position"}};
    for (const auto& m : methods) {
        qv::Ref fn = qv::Ref::steal(PyObject_GetAttrString(helper.get(), m.function));
        if (!fn) return -1;
        qv::Ref method = qv::Ref::steal(PyStaticMethod_New(fn.get()));
        if (!method || PyObject_SetAttrString(reinterpret_cast<PyObject*>(m.type), "position", method.get()) < 0) {
            return -1;
        }
    }
    qv::Ref ann = qv::make_annotations({{"return", "numpy.ndarray"}});
    if (!ann || qv::add_function(module, &shadow_def, module_path, ann.get()) < 0) return -1;
    qv::Ref fn = qv::Ref::steal(PyObject_GetAttrString(module, "shadow"));
    qv::Ref defaults = qv::Ref::steal(PyTuple_Pack(1, Py_None));
    if (!fn || !defaults) return -1;
    qv::set_object_defaults(fn.get(), defaults.get());
    qv::Ref of_ann = qv::make_annotations({{"return", "numpy.ndarray"}});
    return of_ann ? qv::add_function(module, &shadow_of_def, module_path, of_ann.get()) : -1;
}

int steps(PyObject* module) {
    celestial_body_type = qv::add_type(module, &celestial_body_spec, nullptr);
    if (!celestial_body_type) return -1;
    PyTypeObject* earth_type = qv::add_type(module, &earth_spec, celestial_body_type);
    if (!earth_type || set_float(earth_type, "GM", earth_gm) < 0 || set_float(earth_type, "Re", earth_re) < 0) {
        return -1;
    }
    sun_type = qv::add_type(module, &sun_spec, celestial_body_type);
    if (!sun_type || qv::set_vtable(sun_type, &sun_vtable) < 0) return -1;
    moon_type = qv::add_type(module, &moon_spec, celestial_body_type);
    if (!moon_type || qv::set_vtable(moon_type, &moon_vtable) < 0) return -1;
    return add_positions(module);
}

qv::ModuleFrame frame{"bodies", "quorvane.bodies.bodies",
                      "Celestial bodies: Earth constants and low-precision ephemerides of the Sun and the Moon.",
                      steps, true};

}  // namespace

PyMODINIT_FUNC PyInit_bodies() { return frame.init(); }
