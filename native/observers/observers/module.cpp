// quorvane.observers._observers: look angles (azimuth, elevation, range,
// range rate) of Earth-fixed positions from a site given by its ENU frame
// (quorvane.frames.frames.ENU, whose layout frames.hpp publishes; bound here
// as an outside extension would bind it).
#include "runtime/numpy_api.hpp"

#include <cstddef>
#include <cstring>

#include "frames/frames/frames.hpp"
#include "observers/observers/look.hpp"
#include "mathtools/simd/dispatch.hpp"
#include "runtime/runtime.hpp"

namespace {

using qv::Ref;
using namespace qv::observers;

constexpr const char* module_path = "quorvane.observers._observers";

PyTypeObject* enu_type = nullptr;  // bound at import, held for the process

// Below this many samples the work runs with the interpreter lock held, on
// the calling thread; above, in blocks of `block` samples over the threads.
constexpr std::size_t threaded_from = 16384;
constexpr std::size_t block = 4096;

int read_site(PyObject* enu, Site* site) {
    if (!PyObject_TypeCheck(enu, enu_type)) {
        PyErr_Format(PyExc_TypeError, "enu must be a quorvane.frames.frames.ENU frame, not %.200s",
                     Py_TYPE(enu)->tp_name);
        return -1;
    }
    auto* e = reinterpret_cast<qv::frames::ENUObject*>(enu);
    std::memcpy(site->origin, e->origin, sizeof site->origin);
    std::memcpy(site->rot, e->rot, sizeof site->rot);
    return 0;
}

Ref shape_text(PyArrayObject* a) {
    Ref t = Ref::steal(PyTuple_New(PyArray_NDIM(a)));
    if (!t) return t;
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        PyObject* d = PyLong_FromSsize_t(PyArray_DIM(a, i));
        if (!d) return Ref();
        PyTuple_SET_ITEM(t.get(), i, d);
    }
    return Ref::steal(PyObject_Repr(t.get()));
}

// A float64 C-contiguous array of shape (..., 3), or null with the error.
Ref rows_of_three(PyObject* value, const char* name) {
    Ref array = Ref::steal(PyArray_FROMANY(value, NPY_DOUBLE, 0, 0, NPY_ARRAY_IN_ARRAY));
    if (!array) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be an array of real numbers", name);
        return array;
    }
    auto* a = reinterpret_cast<PyArrayObject*>(array.get());
    int nd = PyArray_NDIM(a);
    if (nd == 0 || PyArray_DIM(a, nd - 1) != 3) {
        Ref text = shape_text(a);
        if (text) PyErr_Format(PyExc_ValueError, "%s must have shape (..., 3), got shape %U", name, text.get());
        return Ref();
    }
    return array;
}

const qv::Params look_params{"look", {"enu", "r", "v", "threads"}, 4, 2, 1};

PyObject* look_function(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[4] = {};
    if (qv::bind_arguments(look_params, args, nargs, kwnames, a) < 0) return nullptr;
    Site site;
    if (read_site(a[0], &site) < 0) return nullptr;
    int threads = 0;
    if (qv::threads_argument(a[3], &threads) < 0) return nullptr;
    Ref r = rows_of_three(a[1], "r");
    if (!r) return nullptr;
    auto* ra = reinterpret_cast<PyArrayObject*>(r.get());
    Ref v;
    if (a[2] && a[2] != Py_None) {
        v = rows_of_three(a[2], "v");
        if (!v) return nullptr;
        auto* va = reinterpret_cast<PyArrayObject*>(v.get());
        if (PyArray_NDIM(va) != PyArray_NDIM(ra) ||
            !PyArray_CompareLists(PyArray_DIMS(va), PyArray_DIMS(ra), PyArray_NDIM(ra))) {
            Ref rs = shape_text(ra), vs = shape_text(va);
            if (rs && vs) PyErr_Format(PyExc_ValueError, "v must have the shape of r, %U; got %U", rs.get(), vs.get());
            return nullptr;
        }
    }
    int nd = PyArray_NDIM(ra) - 1;
    Ref out[4];
    double* d[4];
    for (int k = 0; k < 4; ++k) {
        out[k] = Ref::steal(PyArray_SimpleNew(nd, PyArray_DIMS(ra), NPY_DOUBLE));
        if (!out[k]) return nullptr;
        d[k] = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out[k].get())));
    }
    const double* rd = static_cast<const double*>(PyArray_DATA(ra));
    const double* vd = v ? static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get()))) : nullptr;
    std::size_t n = static_cast<std::size_t>(PyArray_SIZE(ra)) / 3;
    LookRun run = look_run_for(static_cast<int>(qv::simd::detect()));
    auto part = [&](std::size_t lo, std::size_t hi) {
        run(site, rd + 3 * lo, vd ? vd + 3 * lo : nullptr, hi - lo, d[0] + lo, d[1] + lo, d[2] + lo, d[3] + lo);
    };
    if (n < threaded_from) {
        part(0, n);
    } else {
        std::size_t blocks = (n + block - 1) / block;
        Py_BEGIN_ALLOW_THREADS;
        qv::parallel_for(blocks, threads, [&](std::size_t b) {
            std::size_t lo = b * block;
            part(lo, lo + block < n ? lo + block : n);
        });
        Py_END_ALLOW_THREADS;
    }
    return PyTuple_Pack(4, out[0].get(), out[1].get(), out[2].get(), out[3].get());
}

const char* look_doc =
    "look(enu, r, v=None, *, threads=None)\n"
    "--\n\n"
    "Azimuth, elevation, range and range rate of Earth-fixed positions seen from a site.\n\n"
    "Parameters\n----------\n"
    "enu : quorvane.frames.frames.ENU\n"
    "    The site's topocentric frame (its origin and east/north/up axes).\n"
    "r : array_like, shape (..., 3)\n"
    "    ITRF positions, m.\n"
    "v : array_like, shape of r, optional\n"
    "    ITRF velocities, m/s.\n"
    "threads : int, keyword-only, optional\n"
    "    Number of threads for large inputs; None is every available processor.\n"
    "    Results are the same bits for every thread count and vector width.\n\n"
    "Returns\n-------\n"
    "azimuth, elevation, range, range_rate : numpy.ndarray of float64, shape r.shape[:-1]\n"
    "    Azimuth from north through east in [0, 2pi) and geometric elevation from\n"
    "    the site's horizon (rad, no refraction); range (m); range rate (m/s),\n"
    "    the site fixed in ITRF, NaN when `v` is None.\n\n"
    "Raises\n------\n"
    "TypeError\n    `enu` is not an ENU frame, or an array argument is not numeric.\n"
    "ValueError\n    `r` or `v` not of shape (..., 3), or `v` not shaped like `r`.\n";

const qv::Params enu_parts_params{"_enu_parts", {"enu"}, 1, 1};

PyObject* enu_parts_function(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1] = {};
    if (qv::bind_arguments(enu_parts_params, args, nargs, kwnames, a) < 0) return nullptr;
    Site site;
    if (read_site(a[0], &site) < 0) return nullptr;
    npy_intp rot_dims[2] = {3, 3}, origin_dims[1] = {3};
    Ref rot = Ref::steal(PyArray_SimpleNew(2, rot_dims, NPY_DOUBLE));
    Ref origin = Ref::steal(PyArray_SimpleNew(1, origin_dims, NPY_DOUBLE));
    if (!rot || !origin) return nullptr;
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(rot.get())), site.rot, sizeof site.rot);
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(origin.get())), site.origin, sizeof site.origin);
    return PyTuple_Pack(2, rot.get(), origin.get());
}

const qv::FunctionDef look_def{"look", look_doc, look_function, look_params};
const qv::FunctionDef enu_parts_def{
    "_enu_parts",
    "_enu_parts(enu)\n--\n\nThe ENU frame's rotation (rows: east, north, up unit vectors in ITRF) and origin (m).",
    enu_parts_function, enu_parts_params};

int steps(PyObject* module) {
    Ref frames = qv::import_module("quorvane.frames.frames");
    if (!frames) return -1;
    enu_type = qv::bind_type(frames.get(), "quorvane.frames.frames", "ENU", sizeof(qv::frames::ENUObject));
    if (!enu_type) return -1;
    Ref ann = qv::make_annotations(
        {{"return", "tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray, numpy.ndarray]"}});
    if (!ann || qv::add_function(module, &look_def, module_path, ann.get()) < 0) return -1;
    PyObject* fn = PyObject_GetAttrString(module, "look");
    if (!fn) return -1;
    Ref hold = Ref::steal(fn);
    Ref defaults = Ref::steal(PyTuple_Pack(2, Py_None, Py_None));
    if (!defaults) return -1;
    qv::set_object_defaults(fn, defaults.get());
    Ref ann2 = qv::make_annotations({{"return", "tuple[numpy.ndarray, numpy.ndarray]"}});
    if (!ann2 || qv::add_function(module, &enu_parts_def, module_path, ann2.get()) < 0) return -1;
    return 0;
}

qv::ModuleFrame frame{"_observers", module_path,
                      "Look angles of Earth-fixed positions from a site (native layer of quorvane.observers).", steps,
                      true};

}  // namespace

PyMODINIT_FUNC PyInit__observers() { return frame.init(); }
