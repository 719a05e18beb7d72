// quorvane.conjunctions._screen: the native screener behind
// quorvane.conjunctions.screen.  It binds the propagator's exported kernels
// (c_view, c_run_times, c_sample) at import, as an outside extension would,
// and propagates only through them.  The Python layer checks arguments and
// builds the table; this layer turns SGP4 objects into views, releases the
// interpreter lock for the run and returns plain arrays.
#include <algorithm>
#include <vector>

#include "conjunctions/screen.hpp"
#include "mathtools/simd/dispatch.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace {

constexpr const char* module_path = "quorvane.conjunctions._screen";
constexpr const char* propagator_path = "quorvane.propagators.analytical.sgp4.propagator";

qv::sgp4::ViewKernel* c_view = nullptr;
qv::sgp4::RunTimesKernel* c_run_times = nullptr;
qv::sgp4::SampleKernel* c_sample = nullptr;

// A view of an SGP4 object of many sets or one record; `what` names the
// argument in messages.
int source_of(PyObject* obj, const char* what, qv::screen::Source* out) {
    qv_sgp4_View view{};
    if (c_view(obj, &view) < 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be an SGP4 propagator, got %.200s", what, Py_TYPE(obj)->tp_name);
        return -1;
    }
    if (view.kind == 1) {
        PyErr_Format(PyExc_TypeError,
                     "%s is an SGP4 propagator of one satellite's ELSET history; screening needs distinct "
                     "objects: use a catalogue table (SGP4(Catalogue))",
                     what);
        return -1;
    }
    if (view.n == 0) {
        PyErr_Format(PyExc_ValueError, "%s is empty", what);
        return -1;
    }
    *out = {static_cast<const char*>(view.sats), view.stride, view.epochs, view.satno, view.n};
    return 0;
}

int int64_of(PyObject* obj, const char* what, long long* out) {
    *out = PyLong_AsLongLong(obj);
    if (*out == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be an int", what);
        return -1;
    }
    return 0;
}

qv::screen::Kernels kernels() {
    return {c_run_times, c_sample, static_cast<int>(qv::simd::detect())};
}

qv::Ref new_array(int nd, npy_intp* shape, int type) { return qv::Ref::steal(PyArray_SimpleNew(nd, shape, type)); }

template <class T>
T* data(const qv::Ref& a) {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
}

// The optional start bounds of n objects: a 1-D float64 array (a
// contiguous copy when it is not one already), or null for None/absent.
int bounds_of(PyObject* obj, std::size_t n, qv::Ref* out) {
    if (!obj || obj == Py_None) return 0;
    *out = qv::Ref::steal(PyArray_FROMANY(obj, NPY_DOUBLE, 1, 1, NPY_ARRAY_IN_ARRAY));
    if (!*out) return -1;
    if (static_cast<std::size_t>(PyArray_SIZE(reinterpret_cast<PyArrayObject*>(out->get()))) != n) {
        PyErr_Format(PyExc_ValueError, "bounds must hold one value per object (%zu)", n);
        return -1;
    }
    return 0;
}

PyObject* py_screen(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[6];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, bound) < 0) return nullptr;
    qv::screen::Source a{}, b{};
    if (source_of(bound[0], "source", &a) < 0) return nullptr;
    bool against = bound[1] != Py_None;
    if (against && source_of(bound[1], "against", &b) < 0) return nullptr;
    qv::Ref start_bounds;
    if (bounds_of(bound[5], a.n + (against ? b.n : 0), &start_bounds) < 0) return nullptr;
    if (!PyTuple_Check(bound[2]) || PyTuple_GET_SIZE(bound[2]) != 7) {
        PyErr_SetString(PyExc_TypeError, "window must be (start, stop, step, substeps, first, last, chunk_steps)");
        return nullptr;
    }
    long long v[7];
    static const char* names[7] = {"start", "stop", "step", "substeps", "first", "last", "chunk_steps"};
    for (int i = 0; i < 7; ++i)
        if (int64_of(PyTuple_GET_ITEM(bound[2], i), names[i], &v[i]) < 0) return nullptr;
    qv::screen::Window w{};
    w.start = v[0];
    w.stop = v[1];
    w.step = v[2];
    w.substeps = static_cast<int>(v[3]);
    w.first = v[4];
    w.last = v[5];
    w.chunk_steps = std::min<long long>(std::max<long long>(v[6], 1), 4000);
    if (!(w.stop > w.start) || w.substeps < 1 || w.step < w.substeps || w.step % w.substeps != 0 || w.first < 0 ||
        w.last < w.first) {
        PyErr_SetString(PyExc_ValueError, "window: need stop > start, step a positive multiple of substeps, "
                                          "0 <= first <= last");
        return nullptr;
    }
    w.threshold = PyFloat_AsDouble(bound[3]);
    if (w.threshold == -1.0 && PyErr_Occurred()) return nullptr;
    if (!(w.threshold > 0.0) || !std::isfinite(w.threshold)) {
        PyErr_Format(PyExc_ValueError, "threshold must be a positive finite distance (m), got %R", bound[3]);
        return nullptr;
    }
    int threads = 1;
    if (qv::threads_argument(bound[4], &threads) < 0) return nullptr;
    w.threads = threads;
    if (start_bounds) w.bounds = data<double>(start_bounds);
    // The whole run happens within the sources' lifetime: hold them.
    qv::Ref keep_a = qv::Ref::borrow(bound[0]), keep_b = qv::Ref::borrow(bound[1]);

    std::vector<qv::screen::Event> events;
    std::vector<qv::screen::Failure> failures;
    qv::screen::Stats stats;
    qv::screen::Kernels k = kernels();
    Py_BEGIN_ALLOW_THREADS;
    qv::screen::screen(a, against ? &b : nullptr, k, w, &events, &failures, &stats);
    Py_END_ALLOW_THREADS;

    const std::size_t na = a.n;
    npy_intp m = static_cast<npy_intp>(events.size());
    npy_intp shape3[2] = {m, 3};
    qv::Ref pi = new_array(1, &m, NPY_INT64), si = new_array(1, &m, NPY_INT64), tca = new_array(1, &m, NPY_INT64),
            miss = new_array(1, &m, NPY_DOUBLE), speed = new_array(1, &m, NPY_DOUBLE),
            rtn = new_array(2, shape3, NPY_DOUBLE), bracket = new_array(1, &m, NPY_INT64);
    if (!pi || !si || !tca || !miss || !speed || !rtn || !bracket) return nullptr;
    for (npy_intp i = 0; i < m; ++i) {
        const auto& e = events[static_cast<std::size_t>(i)];
        data<std::int64_t>(pi)[i] = e.primary;
        data<std::int64_t>(si)[i] = against ? static_cast<std::int64_t>(e.secondary - na) : e.secondary;
        data<std::int64_t>(tca)[i] = e.tca;
        data<double>(miss)[i] = e.miss;
        data<double>(speed)[i] = e.speed;
        for (int x = 0; x < 3; ++x) data<double>(rtn)[3 * i + x] = e.rtn[x];
        data<std::int64_t>(bracket)[i] = e.bracket;
    }
    npy_intp f = static_cast<npy_intp>(failures.size());
    qv::Ref fsrc = new_array(1, &f, NPY_INT64), fidx = new_array(1, &f, NPY_INT64), fseg = new_array(1, &f, NPY_INT64),
            ftime = new_array(1, &f, NPY_INT64), fcode = new_array(1, &f, NPY_INT64);
    if (!fsrc || !fidx || !fseg || !ftime || !fcode) return nullptr;
    for (npy_intp i = 0; i < f; ++i) {
        const auto& x = failures[static_cast<std::size_t>(i)];
        bool second = x.object >= na;
        data<std::int64_t>(fsrc)[i] = second ? 1 : 0;
        data<std::int64_t>(fidx)[i] = second ? static_cast<std::int64_t>(x.object - na) : x.object;
        data<std::int64_t>(fseg)[i] = x.segment;
        data<std::int64_t>(ftime)[i] = x.time;
        data<std::int64_t>(fcode)[i] = x.code;
    }
    qv::Ref st = qv::Ref::steal(Py_BuildValue("{s:d,s:d,s:d,s:d,s:K,s:K,s:K,s:K,s:K,s:K,s:K,s:K,s:K}", "propagation", stats.propagation,
                                              "broad", stats.broad, "narrow", stats.narrow, "refinement",
                                              stats.refinement, "candidates",
                                              static_cast<unsigned long long>(stats.candidates), "intervals",
                                              static_cast<unsigned long long>(stats.intervals), "brackets",
                                              static_cast<unsigned long long>(stats.brackets), "boxes",
                                              static_cast<unsigned long long>(stats.boxes), "entries",
                                              static_cast<unsigned long long>(stats.entries), "tested",
                                              static_cast<unsigned long long>(stats.tested), "overlaps",
                                              static_cast<unsigned long long>(stats.overlaps), "samples",
                                              static_cast<unsigned long long>(stats.samples), "parts",
                                              static_cast<unsigned long long>(stats.parts)));
    if (!st) return nullptr;
    return Py_BuildValue("(OOOOOOO)(OOOOO)O", pi.get(), si.get(), tca.get(), miss.get(), speed.get(), rtn.get(),
                         bracket.get(), fsrc.get(), fidx.get(), fseg.get(), ftime.get(), fcode.get(), st.get());
}

// The sources of a step/start_bounds call and its start.
int step_sources(PyObject** bound, qv::screen::Source* a, qv::screen::Source* b, bool* against, long long* start) {
    if (source_of(bound[0], "source", a) < 0) return -1;
    *against = bound[1] != Py_None;
    if (*against && source_of(bound[1], "against", b) < 0) return -1;
    return int64_of(bound[2], "start", start);
}

PyObject* py_step(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[5];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, bound) < 0) return nullptr;
    qv::screen::Source a{}, b{};
    bool against = false;
    long long start = 0, substeps = 0;
    if (step_sources(bound, &a, &b, &against, &start) < 0 || int64_of(bound[3], "substeps", &substeps) < 0)
        return nullptr;
    if (substeps < 1 || substeps > 60) {
        PyErr_SetString(PyExc_ValueError, "substeps must be within 1 and 60");
        return nullptr;
    }
    const std::size_t n = a.n + (against ? b.n : 0);
    qv::Ref given;
    if (bounds_of(bound[4], n, &given) < 0) return nullptr;
    std::vector<double> own;
    const double* f = nullptr;
    if (given) {
        f = data<double>(given);
    } else {
        own.resize(n);
        qv::Ref keep_a = qv::Ref::borrow(bound[0]), keep_b = qv::Ref::borrow(bound[1]);
        qv::screen::Kernels k = kernels();
        Py_BEGIN_ALLOW_THREADS;
        qv::screen::start_bounds(a, against ? &b : nullptr, k, start, 1, own.data());
        Py_END_ALLOW_THREADS;
        f = own.data();
    }
    std::int64_t step = qv::screen::choose_step(f, n, static_cast<int>(substeps), qv::screen::interpolation_target,
                                                qv::screen::min_step, qv::screen::max_step);
    return PyLong_FromLongLong(step);
}

PyObject* py_start_bounds(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[4];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, bound) < 0) return nullptr;
    qv::screen::Source a{}, b{};
    bool against = false;
    long long start = 0;
    if (step_sources(bound, &a, &b, &against, &start) < 0) return nullptr;
    int threads = 1;
    if (qv::threads_argument(bound[3], &threads) < 0) return nullptr;
    npy_intp n = static_cast<npy_intp>(a.n + (against ? b.n : 0));
    qv::Ref out = new_array(1, &n, NPY_DOUBLE);
    if (!out) return nullptr;
    double* f = data<double>(out);
    qv::Ref keep_a = qv::Ref::borrow(bound[0]), keep_b = qv::Ref::borrow(bound[1]);
    qv::screen::Kernels k = kernels();
    Py_BEGIN_ALLOW_THREADS;
    qv::screen::start_bounds(a, against ? &b : nullptr, k, start, threads, f);
    Py_END_ALLOW_THREADS;
    return out.release();
}

PyObject* py_check(qv::Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[4];
    if (qv::bind_arguments(self->def->params, args, nargs, kwnames, bound) < 0) return nullptr;
    qv::screen::Source a{};
    if (source_of(bound[0], "source", &a) < 0) return nullptr;
    long long start = 0, step = 0, count = 0;
    if (int64_of(bound[1], "start", &start) < 0 || int64_of(bound[2], "step", &step) < 0 ||
        int64_of(bound[3], "count", &count) < 0)
        return nullptr;
    if (step < 2 || count < 1) {
        PyErr_SetString(PyExc_ValueError, "step and count must be positive");
        return nullptr;
    }
    npy_intp shape[2] = {static_cast<npy_intp>(a.n), static_cast<npy_intp>(count)};
    qv::Ref error = new_array(2, shape, NPY_DOUBLE), bnd = new_array(2, shape, NPY_DOUBLE);
    if (!error || !bnd) return nullptr;
    qv::Ref keep = qv::Ref::borrow(bound[0]);
    qv::screen::Kernels k = kernels();
    double* e = data<double>(error);
    double* bb = data<double>(bnd);
    int threads = qv::available_cpus();
    Py_BEGIN_ALLOW_THREADS;
    qv::screen::interpolation_check(a, k, start, step, static_cast<std::size_t>(count), e, bb, threads);
    Py_END_ALLOW_THREADS;
    return PyTuple_Pack(2, error.get(), bnd.get());
}

const qv::FunctionDef screen_def{
    "screen",
    "screen(source, against, window, threshold, threads, bounds=None)\n"
    "\n"
    "Screen SGP4 objects for conjunctions over grid segments (the engine of\n"
    "quorvane.conjunctions.screen; use that).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "source, against : SGP4\n"
    "    Primaries, and secondaries or None (all pairs of `source`).\n"
    "window : tuple of int\n"
    "    (start ns, stop ns, step ns, substeps, first segment, last segment,\n"
    "    segments per chunk).\n"
    "threshold : float\n"
    "    Distance, m.\n"
    "threads : int or None\n"
    "bounds : numpy.ndarray or None\n"
    "    Every object's start bound (start_bounds at the window's start; None:\n"
    "    computed here).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "tuple\n"
    "    Event arrays (primary, secondary, tca ns, miss m, speed m/s, rtn m,\n"
    "    bracket), failure arrays (source, index, segment, time ns, code) and\n"
    "    a dict of stage times (s) and counts.\n",
    py_screen,
    {"screen", {"source", "against", "window", "threshold", "threads", "bounds"}, 6, 5},
};

const qv::FunctionDef step_def{
    "step",
    "step(source, against, start, substeps, bounds=None)\n"
    "\n"
    "Grid step (ns) for screening these objects: the fastest orbit keeps the\n"
    "interpolation bound near 1.6 km; whole seconds, a multiple of `substeps`,\n"
    "within 20 and 300 s.  `bounds`: the objects' start_bounds at `start`\n"
    "(None: computed here).\n",
    py_step,
    {"step", {"source", "against", "start", "substeps", "bounds"}, 5, 4},
};

const qv::FunctionDef start_bounds_def{
    "start_bounds",
    "start_bounds(source, against, start, threads)\n"
    "\n"
    "Each object's bound of the fourth derivative of its position (m/s**4) at\n"
    "`start` (ns), from its SGP4 state there; NaN where SGP4 fails.  Objects\n"
    "of `against` follow those of `source`.  The grid step and the slow\n"
    "objects' strides are chosen from these.\n",
    py_start_bounds,
    {"start_bounds", {"source", "against", "start", "threads"}, 4, 4},
};

const qv::FunctionDef check_def{
    "_interpolation_check",
    "_interpolation_check(source, start, step, count)\n"
    "\n"
    "For tests: per object and segment of the grid start + k*step (k < count),\n"
    "the distance (m) between the cubic Hermite interpolant and SGP4 at the\n"
    "segment's midpoint, and the screener's error bound (m); NaN where a sample\n"
    "failed.\n",
    py_check,
    {"_interpolation_check", {"source", "start", "step", "count"}, 4, 4},
};

int steps(PyObject* module) {
    qv::Exporter sgp4(propagator_path);
    if (!sgp4 || sgp4.kernel(&c_view, "c_view", qv::sgp4::sig_view) < 0 ||
        sgp4.kernel(&c_run_times, "c_run_times", qv::sgp4::sig_run_times) < 0 ||
        sgp4.kernel(&c_sample, "c_sample", qv::sgp4::sig_sample) < 0)
        return -1;
    // screen and step: `bounds` defaults to None.
    for (const qv::FunctionDef* def : {&screen_def, &step_def}) {
        qv::Ref function = qv::make_function(def, module_path, nullptr);
        qv::Ref defaults = qv::Ref::steal(PyTuple_Pack(1, Py_None));
        if (!function || !defaults) return -1;
        qv::set_object_defaults(function.get(), defaults.get());
        if (qv::module_add(module, def->qualname, function.get()) < 0) return -1;
    }
    for (const qv::FunctionDef* def : {&start_bounds_def, &check_def})
        if (qv::add_function(module, def, module_path, nullptr) < 0) return -1;
    return 0;
}

qv::ModuleFrame frame{"_screen", module_path,
                      "Native conjunction screening of SGP4 objects (the engine of quorvane.conjunctions).", steps,
                      true};

}  // namespace

PyMODINIT_FUNC PyInit__screen() { return frame.init(); }
