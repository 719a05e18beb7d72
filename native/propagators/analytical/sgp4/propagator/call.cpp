// SGP4.propagate: the times, the outputs and the batch run.
//
// Times become one int64 nanosecond array (absolute instants) or one
// float64 array of minutes (tsince) of the caller's length m, never of the
// full n × m; the outputs are allocated once at their final shape, or the
// caller's arrays are checked and filled.  The run releases the
// interpreter lock.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "mathtools/simd/dispatch.hpp"
#include "propagators/analytical/sgp4/propagator/module.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"
#include "time/time/instants.hpp"
#include "time/time/time.hpp"

namespace qv::propagator {

namespace {

// The time argument, as one array (or one value) the batch reads.
struct Times {
    bool scalar = false;
    npy_intp rows = 0;  // tsince given per set: the number of rows, else 0
    npy_intp m = 0;
    const std::int64_t* ns = nullptr;
    const double* ts = nullptr;
    time::UnitScale scale;  // datetime64 units: ns = floor(raw × factor / divisor)
    std::int64_t one_ns = 0;
    double one_ts = 0.0;
    Ref array;  // owner of the data behind ns or ts
};

// Years and months (`count` of them per step) as instants (NaT outside
// the nanosecond range), in a new array.
Ref calendar_instants(PyArrayObject* source, bool years, std::int64_t count) {
    Ref ns = Ref::steal(PyArray_NewLikeArray(source, NPY_CORDER, PyArray_DescrFromType(NPY_INT64), 0));
    if (!ns) return {};
    const auto* raw = static_cast<const std::int64_t*>(PyArray_DATA(source));
    auto* out = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ns.get())));
    for (npy_intp j = 0, m = PyArray_SIZE(source); j < m; ++j) out[j] = time::calendar_instant(raw[j], count, years);
    return ns;
}

// A datetime64 array (0-d or 1-d) of any byte order as instants the batch
// scales as it reads them; NaT stays NaT and an instant outside the
// nanosecond range becomes NaT there (code 7 both).
int datetime_times(PyObject* obj, Times* t) {
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(a) > 1) {
        PyErr_Format(PyExc_ValueError, "times must be a scalar or one-dimensional, got %d dimensions",
                     PyArray_NDIM(a));
        return -1;
    }
    qv::Datetime64Array dt;
    if (qv::read_datetime64(obj, 1, &dt) < 0) return -1;
    bool calendar = std::strcmp(dt.unit, "Y") == 0 || std::strcmp(dt.unit, "M") == 0;
    if (!calendar && !time::unit_scale(dt.unit, dt.count, &t->scale)) {
        PyErr_Format(PyExc_TypeError, "times: datetime64 without a unit (%s) is no instant", dt.unit);
        return -1;
    }
    // Read in place when the memory allows (a copy only for unaligned,
    // byte-swapped or strided arrays).
    Ref source = dt.values;
    if (calendar) {
        source = calendar_instants(reinterpret_cast<PyArrayObject*>(source.get()), dt.unit[0] == 'Y', dt.count);
        if (!source) return -1;
    }
    auto* s = reinterpret_cast<PyArrayObject*>(source.get());
    t->ns = static_cast<const std::int64_t*>(PyArray_DATA(s));
    t->array = source;
    t->scalar = PyArray_NDIM(a) == 0;
    t->m = t->scalar ? 1 : PyArray_SIZE(s);
    return 0;
}

int parse_times(PyObject* obj, Times* t) {
    if (PyObject_TypeCheck(obj, bound.Time)) {
        auto* time = reinterpret_cast<time::TimeObject*>(obj);
        if (!time->array) {
            t->scalar = true;
            t->m = 1;
            t->one_ns = time->ns;
            t->ns = &t->one_ns;
            return 0;
        }
        Ref contiguous = Ref::steal(PyArray_FromAny(time->array, PyArray_DescrFromType(NPY_INT64), 1, 1,
                                                    NPY_ARRAY_CARRAY_RO, nullptr));
        if (!contiguous) return -1;
        auto* a = reinterpret_cast<PyArrayObject*>(contiguous.get());
        t->m = PyArray_DIM(a, 0);
        t->ns = static_cast<const std::int64_t*>(PyArray_DATA(a));
        t->array = contiguous;
        return 0;
    }
    if (PyArray_IsScalar(obj, Datetime)) {
        Ref array = Ref::steal(PyArray_FromScalar(obj, nullptr));
        return array ? datetime_times(array.get(), t) : -1;
    }
    if (PyArray_Check(obj) && PyArray_TYPE(reinterpret_cast<PyArrayObject*>(obj)) == NPY_DATETIME)
        return datetime_times(obj, t);
    // Numbers are no instants here (minutes go to tsince=).
    bool number = PyNumber_Check(obj) && !PyUnicode_Check(obj) && !PyArray_IsScalar(obj, Datetime);
    bool numeric_array = PyArray_Check(obj) && PyArray_ISNUMBER(reinterpret_cast<PyArrayObject*>(obj));
    if (!number && !numeric_array && !PyArray_Check(obj)) {
        // Anything else Time accepts: ISO text, datetimes, lists of them,
        // pandas indexes.
        Ref time = Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(bound.Time), obj));
        if (time) return parse_times(time.get(), t);
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return -1;
        PyErr_Clear();
    }
    PyErr_Format(PyExc_TypeError,
                 "times must be a Time, a numpy datetime64 array, or instants Time accepts (ISO text, datetimes, "
                 "lists of them), got %.200s",
                 Py_TYPE(obj)->tp_name);
    return -1;
}

// The frame= argument: null for TEME (no rotation), else "ITRF" or "GCRF".
int parse_frame(PyObject* frame, const char** name) {
    *name = nullptr;
    if (!frame || frame == Py_None) return 0;
    Ref frames = import_module("quorvane.frames.frames");
    if (!frames) return -1;
    static const char* names[3] = {"TEME", "ITRF", "GCRF"};
    for (int k = 0; k < 3; ++k) {
        Ref instance = Ref::steal(PyObject_GetAttrString(frames.get(), names[k]));
        if (!instance) return -1;
        if (instance.get() == frame) {
            *name = k == 0 ? nullptr : names[k];
            return 0;
        }
    }
    PyErr_Format(PyExc_ValueError, "frame must be TEME, ITRF or GCRF (of quorvane.frames.frames), got %R", frame);
    return -1;
}

// The rotation of the TEME results into frame `name`: per-time matrices
// from pyerfa (once per time, computed before the run), applied by the
// sample loop to each vector of samples as it leaves SGP4, before it is
// stored (sgp4::Turn), so the rotation costs no pass over the outputs.  A
// vector's samples are consecutive times of one set, so the lanes read the
// matrices from rows of m (`soa`, 18 of them).
struct Rotation {
    Ref rot, rate;  // owners of R and Rdot, (m, 3, 3)
    const double* R = nullptr;
    const double* Rdot = nullptr;
    std::vector<double> soa;
    std::size_t m = 0;
};

// Fills `q` (R, Rdot) for the times of `t`; leaves q->R null when no time is
// valid (every sample is NaN then).  NaT and out-of-range times (their
// samples are NaN with code 7) take the matrix of a valid time.
int orientation(const Times& t, const char* name, PyObject* eop, PyObject* policy, Rotation* q) {
    npy_intp m = t.m;
    Ref ns = Ref::steal(PyArray_SimpleNew(1, &m, NPY_INT64));
    if (!ns) return -1;
    auto* out = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ns.get())));
    constexpr std::int64_t nat = time::nat;
    std::int64_t fill = nat;
    for (npy_intp j = 0; j < m; ++j) {
        std::int64_t value = time::scaled_instant(t.ns[j], t.scale);
        out[j] = value;
        if (fill == nat && value != nat) fill = value;
    }
    if (fill == nat) return 0;
    for (npy_intp j = 0; j < m; ++j)
        if (out[j] == nat) out[j] = fill;
    Ref matrices = import_from("quorvane.frames._orientation", "matrices");
    Ref from = Ref::steal(PyUnicode_FromString("TEME"));
    Ref to = Ref::steal(PyUnicode_FromString(name));
    if (!matrices || !from || !to) return -1;
    Ref pair = Ref::steal(PyObject_CallFunctionObjArgs(matrices.get(), ns.get(), from.get(), to.get(),
                                                       eop ? eop : Py_None, policy, nullptr));
    if (!pair) return -1;
    if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_SetString(PyExc_RuntimeError, "propagate(): the orientation matrices are not a pair");
        return -1;
    }
    q->rot = Ref::steal(PyArray_FromAny(PyTuple_GET_ITEM(pair.get(), 0), PyArray_DescrFromType(NPY_DOUBLE), 3, 3,
                                        NPY_ARRAY_CARRAY_RO, nullptr));
    if (!q->rot) return -1;
    q->rate = Ref::steal(PyArray_FromAny(PyTuple_GET_ITEM(pair.get(), 1), PyArray_DescrFromType(NPY_DOUBLE), 3, 3,
                                         NPY_ARRAY_CARRAY_RO, nullptr));
    if (!q->rate) return -1;
    if (PyArray_DIM(reinterpret_cast<PyArrayObject*>(q->rot.get()), 0) != m ||
        PyArray_DIM(reinterpret_cast<PyArrayObject*>(q->rate.get()), 0) != m) {
        PyErr_SetString(PyExc_RuntimeError, "propagate(): the orientation matrices do not match the times");
        return -1;
    }
    q->R = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(q->rot.get())));
    q->Rdot = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(q->rate.get())));
    q->m = static_cast<std::size_t>(m);
    try {
        q->soa.resize(18 * q->m);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    for (std::size_t j = 0; j < q->m; ++j) {
        for (std::size_t e = 0; e < 9; ++e) {
            q->soa[e * q->m + j] = q->R[9 * j + e];
            q->soa[(9 + e) * q->m + j] = q->Rdot[9 * j + e];
        }
    }
    return 0;
}

int parse_tsince(PyObject* obj, Times* t, bool rows_allowed, Py_ssize_t n) {
    if (PyFloat_Check(obj) || (PyLong_Check(obj) && !PyBool_Check(obj))) {
        t->one_ts = PyFloat_AsDouble(obj);
        if (t->one_ts == -1.0 && PyErr_Occurred()) return -1;
        t->scalar = true;
        t->m = 1;
        t->ts = &t->one_ts;
        return 0;
    }
    Ref any = Ref::steal(PyArray_FROM_O(obj));
    if (!any) {
        if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "tsince must be a float or an array of floats, got %.200s",
                         Py_TYPE(obj)->tp_name);
        }
        return -1;
    }
    char kind = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(any.get()))->kind;
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        Ref dtype = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(
            reinterpret_cast<PyArrayObject*>(any.get())))));
        if (dtype) PyErr_Format(PyExc_TypeError, "tsince must be real numbers (minutes), got dtype %U", dtype.get());
        return -1;
    }
    Ref array = Ref::steal(PyArray_FromAny(any.get(), PyArray_DescrFromType(NPY_DOUBLE), 0, 0,
                                           NPY_ARRAY_CARRAY_RO | NPY_ARRAY_FORCECAST, nullptr));
    if (!array) return -1;
    auto* a = reinterpret_cast<PyArrayObject*>(array.get());
    int ndim = PyArray_NDIM(a);
    if (ndim > 2 || (ndim == 2 && !rows_allowed)) {
        PyErr_Format(PyExc_ValueError, "tsince must be a scalar or one-dimensional%s, got %d dimensions",
                     rows_allowed ? ", or (n, m) with one row per element set" : " for a DUOLINE or an ELSET",
                     ndim);
        return -1;
    }
    if (ndim == 2 && PyArray_DIM(a, 0) != n) {
        PyErr_Format(PyExc_ValueError, "tsince has %zd rows, one per element set needs %zd",
                     static_cast<Py_ssize_t>(PyArray_DIM(a, 0)), n);
        return -1;
    }
    t->scalar = ndim == 0;
    t->rows = ndim == 2 ? PyArray_DIM(a, 0) : 0;
    t->m = ndim == 0 ? 1 : PyArray_DIM(a, ndim - 1);
    t->ts = static_cast<const double*>(PyArray_DATA(a));
    t->array = array;
    return 0;
}

struct Range {
    const char* begin;
    const char* end;
};

Range memory_of(PyArrayObject* a) {
    const char* p = PyArray_BYTES(a);
    return {p, p + PyArray_NBYTES(a)};
}

bool overlap(Range x, Range y) { return x.begin < y.end && y.begin < x.end && x.begin != x.end && y.begin != y.end; }

// The caller's output arrays: exactly the result shapes and types,
// C-contiguous, writable and apart from each other.
int check_out(PyObject* out, const npy_intp* shapes[3], const int ndims[3], PyArrayObject* arrays[3]) {
    if (!PyTuple_Check(out) || PyTuple_GET_SIZE(out) != 3) {
        PyErr_Format(PyExc_TypeError, "out must be a tuple (r, v, err) of three numpy arrays, got %.200s",
                     Py_TYPE(out)->tp_name);
        return -1;
    }
    static const char* names[3] = {"r", "v", "err"};
    static const int types[3] = {NPY_DOUBLE, NPY_DOUBLE, NPY_INT8};
    static const char* type_names[3] = {"float64", "float64", "int8"};
    for (int k = 0; k < 3; ++k) {
        PyObject* item = PyTuple_GET_ITEM(out, k);
        if (!PyArray_Check(item)) {
            PyErr_Format(PyExc_TypeError, "out %s must be a numpy array, got %.200s", names[k],
                         Py_TYPE(item)->tp_name);
            return -1;
        }
        auto* a = reinterpret_cast<PyArrayObject*>(item);
        if (PyArray_TYPE(a) != types[k] || !PyArray_ISNOTSWAPPED(a)) {
            Ref dtype = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(a))));
            if (dtype)
                PyErr_Format(PyExc_TypeError, "out %s must have dtype %s, got %U", names[k], type_names[k],
                             dtype.get());
            return -1;
        }
        bool same = PyArray_NDIM(a) == ndims[k];
        for (int d = 0; same && d < ndims[k]; ++d) same = PyArray_DIM(a, d) == shapes[k][d];
        if (!same) {
            Ref want = Ref::steal(PyTuple_New(ndims[k]));
            if (!want) return -1;
            for (int d = 0; d < ndims[k]; ++d) {
                PyObject* dim = PyLong_FromSsize_t(shapes[k][d]);
                if (!dim) return -1;
                PyTuple_SET_ITEM(want.get(), d, dim);
            }
            Ref got = Ref::steal(PyObject_GetAttrString(item, "shape"));
            if (got)
                PyErr_Format(PyExc_ValueError, "out %s has shape %R, the result has shape %R", names[k], got.get(),
                             want.get());
            return -1;
        }
        if (!PyArray_IS_C_CONTIGUOUS(a)) {
            PyErr_Format(PyExc_ValueError, "out %s must be C-contiguous", names[k]);
            return -1;
        }
        if (!PyArray_ISWRITEABLE(a)) {
            PyErr_Format(PyExc_ValueError, "out %s is read-only", names[k]);
            return -1;
        }
        arrays[k] = a;
    }
    for (int x = 0; x < 3; ++x)
        for (int y = x + 1; y < 3; ++y)
            if (overlap(memory_of(arrays[x]), memory_of(arrays[y]))) {
                PyErr_Format(PyExc_ValueError, "out %s and out %s share memory", names[x], names[y]);
                return -1;
            }
    return 0;
}

}  // namespace

PyObject* propagate_in_frame(Sgp4Object* self, PyObject* times, PyObject* tsince, PyObject* select,
                             PyObject* threads_arg, PyObject* out, PyObject* frame, PyObject* eop,
                             PyObject* eop_policy);

PyObject* propagate(Sgp4Object* self, PyObject* times, PyObject* tsince, PyObject* select, PyObject* threads_arg,
                    PyObject* out) {
    return propagate_in_frame(self, times, tsince, select, threads_arg, out, nullptr, nullptr, nullptr);
}

PyObject* propagate_in_frame(Sgp4Object* self, PyObject* times, PyObject* tsince, PyObject* select,
                             PyObject* threads_arg, PyObject* out, PyObject* frame, PyObject* eop,
                             PyObject* eop_policy) {
    if (times == Py_None) times = nullptr;
    if (tsince == Py_None) tsince = nullptr;
    if (out == Py_None) out = nullptr;
    if (!times == !tsince) {
        PyErr_SetString(PyExc_TypeError,
                        times ? "propagate() takes times or tsince, not both" : "propagate() needs times or tsince");
        return nullptr;
    }
    bool nearest = false;
    if (select) {
        if (!PyUnicode_Check(select)) {
            PyErr_Format(PyExc_TypeError, "select must be a str, got %.200s", Py_TYPE(select)->tp_name);
            return nullptr;
        }
        if (PyUnicode_CompareWithASCIIString(select, "nearest") == 0) {
            nearest = true;
        } else if (PyUnicode_CompareWithASCIIString(select, "latest") != 0) {
            PyErr_Format(PyExc_ValueError, "select must be one of 'latest', 'nearest', got %R", select);
            return nullptr;
        }
    }
    int threads = 1;
    if (threads_argument(threads_arg, &threads) < 0) return nullptr;

    const char* frame_name = nullptr;
    if (parse_frame(frame, &frame_name) < 0) return nullptr;
    if (frame_name && !times) {
        PyErr_Format(PyExc_ValueError,
                     "frame=%s needs times=: tsince= gives no absolute instants to orient the Earth at", frame_name);
        return nullptr;
    }
    Ref policy = eop_policy ? Ref::borrow(eop_policy) : Ref::steal(PyUnicode_FromString("warn"));
    if (!policy) return nullptr;
    if (!PyUnicode_Check(policy.get()) || (PyUnicode_CompareWithASCIIString(policy.get(), "warn") != 0 &&
                                            PyUnicode_CompareWithASCIIString(policy.get(), "raise") != 0 &&
                                            PyUnicode_CompareWithASCIIString(policy.get(), "zero") != 0)) {
        PyErr_Format(PyExc_ValueError, "eop_policy must be one of 'warn', 'raise', 'zero', got %R", policy.get());
        return nullptr;
    }

    bool many = self->kind == Kind::many;
    Times t;
    if ((times ? parse_times(times, &t) : parse_tsince(tsince, &t, many, self->n)) < 0) return nullptr;

    // Result shapes: (n,) for a sequence of records, then (m,) unless the
    // time is a scalar, then (3,).
    npy_intp shape[3];
    int nd = 0;
    if (many) shape[nd++] = self->n;
    if (!t.scalar) shape[nd++] = t.m;
    shape[nd] = 3;
    const npy_intp* shapes[3] = {shape, shape, shape};
    const int ndims[3] = {nd + 1, nd + 1, nd};

    PyArrayObject* arrays[3];
    Ref owned[3];
    if (out) {
        if (check_out(out, shapes, ndims, arrays) < 0) return nullptr;
        // Times read from memory the run writes would change under it.
        if (t.array) {
            Range in = memory_of(reinterpret_cast<PyArrayObject*>(t.array.get()));
            bool shared = false;
            for (auto* a : arrays) shared = shared || overlap(in, memory_of(a));
            if (shared) {
                Ref copy = Ref::steal(PyArray_NewCopy(reinterpret_cast<PyArrayObject*>(t.array.get()), NPY_CORDER));
                if (!copy) return nullptr;
                void* data = PyArray_DATA(reinterpret_cast<PyArrayObject*>(copy.get()));
                if (t.ns) t.ns = static_cast<const std::int64_t*>(data);
                if (t.ts) t.ts = static_cast<const double*>(data);
                t.array = copy;
            }
        }
    } else {
        const int types[3] = {NPY_DOUBLE, NPY_DOUBLE, NPY_INT8};
        for (int k = 0; k < 3; ++k) {
            owned[k] = Ref::steal(new_large_array(ndims[k], shape, types[k]));
            if (!owned[k]) return nullptr;
            arrays[k] = reinterpret_cast<PyArrayObject*>(owned[k].get());
        }
    }

    sgp4::Job job{};
    job.sats = self->sats;
    job.epochs = self->epochs;
    job.n = static_cast<std::size_t>(self->n);
    job.m = static_cast<std::size_t>(t.m);
    job.times = t.ns;
    job.time_scale = t.scale;
    job.tsince = t.ts;
    job.tsince_per_set = t.rows > 0;
    job.history = self->kind == Kind::history;
    job.nearest = nearest;
    job.offsets = self->offsets;
    job.r = static_cast<double*>(PyArray_DATA(arrays[0]));
    job.v = static_cast<double*>(PyArray_DATA(arrays[1]));
    job.err = static_cast<std::int8_t*>(PyArray_DATA(arrays[2]));
    // The widest instruction set here (capped by QUORVANE_SIMD_MAX_WIDTH),
    // read with the interpreter lock held.
    job.run = sgp4::run_times_for(static_cast<int>(simd::detect()));
    Rotation rotation;
    sgp4::Turn turn{};
    if (frame_name) {
        if (orientation(t, frame_name, eop == Py_None ? nullptr : eop, policy.get(), &rotation) < 0) return nullptr;
        if (rotation.R) {
            turn = sgp4::Turn{rotation.soa.data(), rotation.R, rotation.Rdot, rotation.m};
            job.turn = &turn;
            job.run_turned = sgp4::run_times_turned_for(static_cast<int>(simd::detect()));
        }
    }
    Py_BEGIN_ALLOW_THREADS;
    sgp4::run_job(job, threads);
    Py_END_ALLOW_THREADS;

    PyObject* r = reinterpret_cast<PyObject*>(arrays[0]);
    PyObject* v = reinterpret_cast<PyObject*>(arrays[1]);
    PyObject* e = reinterpret_cast<PyObject*>(arrays[2]);
    return PyTuple_Pack(3, r, v, e);
}

}  // namespace qv::propagator
