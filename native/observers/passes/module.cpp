// quorvane.observers._passes: the pass finder's native core.  Binds the
// propagator's native interface (export.hpp) at import and runs the kernel
// (finder.cpp) over satellites on threads, without the interpreter lock.
// The Python layer (quorvane.observers._passes_table) checks arguments,
// computes the Earth's orientation per grid time and builds the table.
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "mathtools/simd/dispatch.hpp"
#include "observers/passes/finder.hpp"
#include "propagators/analytical/sgp4/propagator/export.hpp"
#include "propagators/analytical/sgp4/propagator/sgp4.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace {

using qv::Ref;

constexpr const char* module_path = "quorvane.observers._passes";

qv::sgp4::ViewKernel* c_view = nullptr;
qv::sgp4::RunTimesKernel* c_run_times = nullptr;
qv::sgp4::SampleKernel* c_sample = nullptr;

// Numbers the grids of successive calls (the finder's caches are keyed by it).
std::atomic<std::uint64_t> grid_count{0};

PyArrayObject* as_array(PyObject* p) { return reinterpret_cast<PyArrayObject*>(p); }

// A C-contiguous array of `type` with `ndim` dimensions, the trailing ones
// given (-1: any); null with ValueError naming the argument otherwise.
Ref checked_array(PyObject* value, int type, int ndim, const npy_intp* trailing, const char* name) {
    Ref a = Ref::steal(PyArray_FROMANY(value, type, ndim, ndim, NPY_ARRAY_IN_ARRAY));
    if (!a) return a;
    for (int i = 1; i < ndim; ++i) {
        if (trailing[i - 1] >= 0 && PyArray_DIM(as_array(a.get()), i) != trailing[i - 1]) {
            PyErr_Format(PyExc_ValueError, "%s has the wrong shape", name);
            return {};
        }
    }
    return a;
}

PyObject* find(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[7];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    qv_sgp4_View view{};
    if (c_view(arg[0], &view) < 0) return nullptr;
    if (view.kind == 1) {
        PyErr_SetString(PyExc_ValueError,
                        "passes needs a propagator of one element set or of a catalogue, not of one satellite's "
                        "history; propagate its latest set");
        return nullptr;
    }
    const npy_intp none[1] = {-1};
    const npy_intp three[2] = {3, 3};
    const npy_intp twelve[1] = {12};
    Ref grid_t = checked_array(arg[1], NPY_INT64, 1, none, "grid");
    if (!grid_t) return nullptr;
    Ref theta = checked_array(arg[2], NPY_DOUBLE, 1, none, "theta");
    if (!theta) return nullptr;
    Ref pom = checked_array(arg[3], NPY_DOUBLE, 3, three, "pom");
    if (!pom) return nullptr;
    Ref stations = checked_array(arg[4], NPY_DOUBLE, 2, twelve, "stations");
    if (!stations) return nullptr;
    double sin_mask = PyFloat_AsDouble(arg[5]);
    if (sin_mask == -1.0 && PyErr_Occurred()) return nullptr;
    int threads = 1;
    if (qv::threads_argument(arg[6], &threads) < 0) return nullptr;
    npy_intp n = PyArray_DIM(as_array(grid_t.get()), 0);
    if (n < 2 || PyArray_DIM(as_array(theta.get()), 0) != n || PyArray_DIM(as_array(pom.get()), 0) != n) {
        PyErr_SetString(PyExc_ValueError, "grid, theta and pom need one row per grid time, at least two");
        return nullptr;
    }
    const auto* t = static_cast<const std::int64_t*>(PyArray_DATA(as_array(grid_t.get())));
    for (npy_intp i = 1; i < n; ++i) {
        if (t[i] <= t[i - 1]) {
            PyErr_SetString(PyExc_ValueError, "grid times must increase strictly");
            return nullptr;
        }
    }
    if (!(std::fabs(sin_mask) < 1.0)) {
        PyErr_SetString(PyExc_ValueError, "the mask's sine must lie in (-1, 1)");
        return nullptr;
    }
    qv::passes::EarthGrid grid{t, static_cast<const double*>(PyArray_DATA(as_array(theta.get()))),
                               static_cast<const double*>(PyArray_DATA(as_array(pom.get()))),
                               static_cast<std::size_t>(n), ++grid_count};
    npy_intp ns = PyArray_DIM(as_array(stations.get()), 0);
    std::vector<qv::passes::Station> sts(static_cast<std::size_t>(ns));
    const auto* sd = static_cast<const double*>(PyArray_DATA(as_array(stations.get())));
    for (npy_intp j = 0; j < ns; ++j) {
        const double* row = sd + 12 * j;
        auto& s = sts[static_cast<std::size_t>(j)];
        for (int i = 0; i < 3; ++i) {
            s.r[i] = row[i];
            s.enu[0][i] = row[3 + i];
            s.enu[1][i] = row[6 + i];
            s.enu[2][i] = row[9 + i];
        }
        s.radius = std::hypot(s.r[0], s.r[1], s.r[2]);
    }
    qv::passes::Propagator prop{c_run_times, c_sample, static_cast<int>(qv::simd::detect())};
    std::vector<std::vector<qv::passes::Pass>> found(view.n);
    std::atomic<bool> failed{false};
    Py_BEGIN_ALLOW_THREADS
    qv::parallel_for(view.n, threads, [&](std::size_t i) {
        try {
            qv::passes::find_passes(prop, static_cast<const char*>(view.sats) + i * view.stride, view.epochs[i],
                                    grid, sts.data(), sts.size(), sin_mask, found[i]);
        } catch (...) {
            failed = true;
        }
    });
    Py_END_ALLOW_THREADS
    if (failed) return PyErr_NoMemory();
    npy_intp total = 0;
    for (const auto& f : found) total += static_cast<npy_intp>(f.size());
    Ref out[9];
    const int types[8] = {NPY_INT64, NPY_INT64, NPY_INT64, NPY_INT64, NPY_INT64, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};
    for (int k = 0; k < 8; ++k) {
        out[k] = Ref::steal(PyArray_SimpleNew(1, &total, types[k]));
        if (!out[k]) return nullptr;
    }
    npy_intp rows3[2] = {total, 3};
    out[8] = Ref::steal(PyArray_SimpleNew(2, rows3, NPY_DOUBLE));
    if (!out[8]) return nullptr;
    auto col_i = [&](int k) { return static_cast<std::int64_t*>(PyArray_DATA(as_array(out[k].get()))); };
    auto col_d = [&](int k) { return static_cast<double*>(PyArray_DATA(as_array(out[k].get()))); };
    npy_intp row = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (const auto& p : found[i]) {
            col_i(0)[row] = static_cast<std::int64_t>(i);
            col_i(1)[row] = p.station;
            col_i(2)[row] = p.rise;
            col_i(3)[row] = p.culmination;
            col_i(4)[row] = p.set;
            col_d(5)[row] = p.rise_azimuth;
            col_d(6)[row] = p.max_elevation;
            col_d(7)[row] = p.set_azimuth;
            for (int x = 0; x < 3; ++x) col_d(8)[3 * row + x] = p.culmination_teme[x];
            ++row;
        }
    }
    PyObject* tuple = PyTuple_New(9);
    if (!tuple) return nullptr;
    for (int k = 0; k < 9; ++k) PyTuple_SET_ITEM(tuple, k, out[k].release());
    return tuple;
}

constexpr const char* find_doc =
    "_find(propagator, grid, theta, pom, stations, sin_mask, threads=None)\n\n"
    "Passes of every element set of an SGP4 propagator over stations (the native core of\n"
    "quorvane.observers.passes; private).\n\n"
    "Parameters\n----------\npropagator : SGP4\n    One record or a catalogue.\n"
    "grid : numpy.ndarray of int64\n    Strictly increasing instants, ns since 1970 (UTC): the window's start first,\n"
    "    its stop last.\ntheta : numpy.ndarray of float64\n    Greenwich sidereal angle (GMST on UT1) at each grid "
    "instant, rad, unwrapped.\npom : numpy.ndarray of float64, shape (n, 3, 3)\n    Polar-motion matrices "
    "(ITRF from the pseudo-Earth-fixed frame) per grid instant.\n"
    "stations : numpy.ndarray of float64, shape (m, 12)\n    ITRF position (m) and east, north and up unit "
    "vectors of each station.\nsin_mask : float\n    Sine of the elevation mask.\n"
    "threads : int or None\n    Threads to run on; None, every available processor.\n\n"
    "Returns\n-------\ntuple of numpy.ndarray\n    Set index, station index, rise, culmination and set (int64 ns, "
    "INT64_MIN where\n    the window cuts the pass), rise azimuth, maximum elevation and set azimuth (rad), and\n"
    "    SGP4's TEME position at the culmination (m, shape (n, 3); NaN rows where it was not kept).\n";

// TEME states of chosen sets at chosen instants (one each), through the
// propagator's one-sample kernel: what the table needs at the events it
// found (sunlight at culmination), without propagating every set at every
// event time.
PyObject* states(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg[3];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, arg) < 0) return nullptr;
    qv_sgp4_View view{};
    if (c_view(arg[0], &view) < 0) return nullptr;
    const npy_intp none[1] = {-1};
    Ref index = checked_array(arg[1], NPY_INTP, 1, none, "index");
    if (!index) return nullptr;
    Ref when = checked_array(arg[2], NPY_INT64, 1, none, "times");
    if (!when) return nullptr;
    npy_intp k = PyArray_DIM(as_array(index.get()), 0);
    if (PyArray_DIM(as_array(when.get()), 0) != k) {
        PyErr_SetString(PyExc_ValueError, "index and times need the same length");
        return nullptr;
    }
    const auto* idx = static_cast<const npy_intp*>(PyArray_DATA(as_array(index.get())));
    const auto* t = static_cast<const std::int64_t*>(PyArray_DATA(as_array(when.get())));
    for (npy_intp j = 0; j < k; ++j) {
        if (idx[j] < 0 || static_cast<std::size_t>(idx[j]) >= view.n) {
            PyErr_Format(PyExc_IndexError, "index %zd is outside the propagator's %zu sets",
                         static_cast<Py_ssize_t>(idx[j]), view.n);
            return nullptr;
        }
    }
    npy_intp dims[2] = {k, 3};
    Ref r = Ref::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    Ref v = Ref::steal(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    Ref e = Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT8));
    if (!r || !v || !e) return nullptr;
    auto* rd = static_cast<double*>(PyArray_DATA(as_array(r.get())));
    auto* vd = static_cast<double*>(PyArray_DATA(as_array(v.get())));
    auto* ed = static_cast<std::int8_t*>(PyArray_DATA(as_array(e.get())));
    for (npy_intp j = 0; j < k; ++j) {
        const char* sat = static_cast<const char*>(view.sats) + idx[j] * view.stride;
        double ts = t[j] == INT64_MIN ? std::nan("") : qv::sgp4::minutes_between(view.epochs[idx[j]], t[j]);
        c_sample(sat, ts, rd + 3 * j, vd + 3 * j, ed + j);
    }
    return PyTuple_Pack(3, r.get(), v.get(), e.get());
}

constexpr const char* states_doc =
    "_states(propagator, index, times)\n\n"
    "TEME positions (m), velocities (m/s) and error codes of set index[j] at times[j] (int64 ns\n"
    "since 1970, UTC; NaT gives code 7), one sample each (private).\n";

const qv::FunctionDef definitions[] = {
    {"_find", find_doc, find,
     {"_find", {"propagator", "grid", "theta", "pom", "stations", "sin_mask", "threads"}, 7, 6, 0}},
    {"_states", states_doc, states, {"_states", {"propagator", "index", "times"}, 3, 3, 0}},
};

int steps(PyObject* module) {
    qv::Exporter sgp4("quorvane.propagators.analytical.sgp4.propagator");
    if (!sgp4 || sgp4.kernel(&c_view, "c_view", qv::sgp4::sig_view) < 0 ||
        sgp4.kernel(&c_run_times, "c_run_times", qv::sgp4::sig_run_times) < 0 ||
        sgp4.kernel(&c_sample, "c_sample", qv::sgp4::sig_sample) < 0) {
        return -1;
    }
    Ref annotations = qv::make_annotations({{"propagator", "Any"}, {"grid", "numpy.ndarray"},
                                            {"theta", "numpy.ndarray"}, {"pom", "numpy.ndarray"},
                                            {"stations", "numpy.ndarray"}, {"sin_mask", "float"},
                                            {"threads", "int | None"}, {"return", "tuple[numpy.ndarray, ...]"}});
    if (!annotations) return -1;
    Ref function = qv::make_function(&definitions[0], module_path, annotations.get());
    if (!function) return -1;
    Ref defaults = Ref::steal(PyTuple_Pack(1, Py_None));
    if (!defaults) return -1;
    qv::set_object_defaults(function.get(), defaults.get());
    if (qv::module_add(module, "_find", function.get()) < 0) return -1;
    Ref states_annotations = qv::make_annotations({{"propagator", "Any"}, {"index", "numpy.ndarray"},
                                                   {"times", "numpy.ndarray"},
                                                   {"return", "tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]"}});
    if (!states_annotations) return -1;
    return qv::add_function(module, &definitions[1], module_path, states_annotations.get());
}

qv::ModuleFrame frame{"_passes", module_path,
                      "Native core of the pass finder quorvane.observers.passes (private).", steps};

}  // namespace

PyMODINIT_FUNC PyInit__passes() { return frame.init(); }
