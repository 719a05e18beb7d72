// Entry points between Cartesian state vectors and element records:
// orbel_from_sv(r, v, GM) and sv_from_orbel(orbel, GM).  GM is converted
// when the arguments are bound, before anything else is looked at.

#include "state/orbel/entries.hpp"
#include "state/orbel/state_vector.hpp"

namespace qv::orbel {

namespace {

constexpr ElementType element_orbel{"ORBEL_t", sizeof(ORBEL_t), 7};

// An N x 3 argument read as r[i, j]: straight from memory for an exact 2-D
// real ndarray (indices inside its shape), by item access otherwise.
struct Rows {
    PyObject* object;
    PyArrayObject* array;
    Load load = nullptr;

    explicit Rows(PyObject* obj) : object(obj), array(real_array(obj, 2)) {
        if (array) load = load_for(PyArray_TYPE(array));
    }
    int fetch(Py_ssize_t i, Py_ssize_t j, double* out) const {
        if (array && i < PyArray_DIM(array, 0) && j < PyArray_DIM(array, 1)) {
            *out = load(PyArray_BYTES(array) + i * PyArray_STRIDE(array, 0) + j * PyArray_STRIDE(array, 1));
            return 0;
        }
        Ref element = item2(object, i, j);
        return element ? to_double(element.get(), out) : -1;
    }
};

// The bound GM argument, or the default captured at import.
int bind_gm(Function* self, PyObject* given, double* gm) {
    if (!given) {
        *gm = self->double_defaults[0];
        return 0;
    }
    return to_double(given, gm);
}

// numpy.zeros(shape=shape, dtype=dtype).
Ref zeros(PyObject* shape, PyObject* dtype) {
    Ref fn = numpy_attr("zeros");
    if (!fn) return {};
    Ref kwargs = Ref::steal(Py_BuildValue("{s:O,s:O}", "shape", shape, "dtype", dtype));
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!kwargs || !empty) return {};
    return Ref::steal(PyObject_Call(fn.get(), empty.get(), kwargs.get()));
}

// numpy.asarray(array) or numpy.asarray(array, dtype=dtype).
Ref asarray(PyObject* array, PyObject* dtype) {
    Ref fn = numpy_attr("asarray");
    if (!fn) return {};
    if (!dtype) return Ref::steal(PyObject_CallOneArg(fn.get(), array));
    Ref args = Ref::steal(PyTuple_Pack(1, array));
    Ref kwargs = Ref::steal(Py_BuildValue("{s:O}", "dtype", dtype));
    if (!args || !kwargs) return {};
    return Ref::steal(PyObject_Call(fn.get(), args.get(), kwargs.get()));
}

Ref reshape_1x3(PyObject* x) {
    Ref method = attr(x, "reshape");
    if (!method) return {};
    Ref args = Ref::steal(Py_BuildValue("(ii)", 1, 3));
    return args ? Ref::steal(PyObject_Call(method.get(), args.get(), nullptr)) : Ref{};
}

// Shape requirements of a batch: r.ndim == v.ndim == 2,
// r.shape[0] == v.shape[0], r.shape[1] == v.shape[1] == 3.
int require_batch(PyObject* r, PyObject* v) {
    Ref r_ndim = attr(r, "ndim");
    if (!r_ndim) return -1;
    Ref v_ndim = attr(v, "ndim");
    if (!v_ndim || require(equal(r_ndim.get(), v_ndim.get(), small_int(2))) < 0) return -1;
    for (Py_ssize_t axis = 0; axis < 2; ++axis) {
        Ref r_len = shape_item(r, axis);
        if (!r_len) return -1;
        Ref v_len = shape_item(v, axis);
        if (!v_len) return -1;
        int truth = axis == 0 ? equal(r_len.get(), v_len.get()) : equal(r_len.get(), v_len.get(), small_int(3));
        if (require(truth) < 0) return -1;
    }
    return 0;
}

PyObject* orbel_from_sv(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[3];
    if (bind_arguments(self->def->params, args, nargs, kwnames, argv) < 0) return nullptr;
    double gm;
    if (bind_gm(self, argv[2], &gm) < 0) return nullptr;
    Ref r = Ref::borrow(argv[0]);
    Ref v = Ref::borrow(argv[1]);

    int single = ndim_is_one(r.get());
    if (single < 0) return nullptr;
    if (single) {
        if (frame.assertions) {
            Ref v_shape = attr(v.get(), "shape");
            if (!v_shape) return nullptr;
            Ref r_shape = attr(r.get(), "shape");
            Ref three = Ref::steal(Py_BuildValue("(i)", 3));
            if (!r_shape || !three || require(equal(v_shape.get(), r_shape.get(), three.get())) < 0) return nullptr;
        }
        r = reshape_1x3(r.get());
        if (!r) return nullptr;
        v = reshape_1x3(v.get());
        if (!v) return nullptr;
    } else if (frame.assertions && require_batch(r.get(), v.get()) < 0) {
        return nullptr;
    }

    Ref count = shape_item(r.get(), 0);
    if (!count) return nullptr;
    Ref dtype = module_global("ORBEL_dt");
    if (!dtype) return nullptr;
    Ref result = zeros(count.get(), dtype.get());
    if (!result) return nullptr;
    BufferView out;
    if (out.acquire(result.get(), element_orbel, 1, true) < 0) return nullptr;

    Py_ssize_t n;
    if (shape_at(r.get(), 0, &n) < 0) return nullptr;
    Rows rows_r(r.get()), rows_v(v.get());
    if (!rows_r.array || !rows_v.array) {
        // Item access of one runs Python code that could free the other's
        // memory: read both by item access.
        rows_r.array = rows_v.array = nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double position[3], velocity[3];
        for (Py_ssize_t j = 0; j < 3; ++j) {
            if (rows_r.fetch(i, j, &position[j]) < 0 || rows_v.fetch(i, j, &velocity[j]) < 0) return nullptr;
        }
        if (i >= out.shape(0)) {
            raise_out_of_bounds(0);
            return nullptr;
        }
        // Through a local record: the result buffer may sit at any byte.
        ORBEL_t record = out.load<ORBEL_t>(i);
        inl::orbel_from_sv<HeldErrors>(position, velocity, gm, &record);
        if (PyErr_Occurred()) return nullptr;
        out.store(i, record);
    }
    out.release();
    dtype = module_global("ORBEL_dt");
    return dtype ? asarray(result.get(), dtype.get()).release() : nullptr;
}

// numpy.zeros(shape=(orbel.shape[0], 3), dtype=numpy.double) and a writable
// 2-D view on it.
Ref allocate_rows(PyObject* orbel, BufferView& view) {
    Ref count = shape_item(orbel, 0);
    if (!count) return {};
    Ref shape = Ref::steal(Py_BuildValue("(Oi)", count.get(), 3));
    Ref dtype = numpy_attr("double");
    if (!shape || !dtype) return {};
    Ref array = zeros(shape.get(), dtype.get());
    if (!array || view.acquire(array.get(), element_double, 2, true) < 0) return {};
    return array;
}

int store_row(const BufferView& view, Py_ssize_t i, const double* values) {
    if (i >= view.shape(0)) {
        raise_out_of_bounds(0);
        return -1;
    }
    if (view.shape(1) < 3) {
        raise_out_of_bounds(1);
        return -1;
    }
    for (Py_ssize_t j = 0; j < 3; ++j) view.store(i, j, values[j]);
    return 0;
}

PyObject* sv_from_orbel(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    if (bind_arguments(self->def->params, args, nargs, kwnames, argv) < 0) return nullptr;
    double gm;
    if (bind_gm(self, argv[1], &gm) < 0) return nullptr;
    PyObject* orbel = argv[0];

    // Records are only read, so a read-only buffer is accepted.  None passes
    // here and fails at orbel.shape below.
    BufferView in;
    if (orbel != Py_None && in.acquire(orbel, element_orbel, 1, false) < 0) return nullptr;
    BufferView r_view, v_view;
    Ref r = allocate_rows(orbel, r_view);
    if (!r) return nullptr;
    Ref v = allocate_rows(orbel, v_view);
    if (!v) return nullptr;

    Py_ssize_t n;
    if (shape_at(orbel, 0, &n) < 0) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i >= in.shape(0)) {
            raise_out_of_bounds(0);
            return nullptr;
        }
        ORBEL_t record = in.load<ORBEL_t>(i);
        double position[3], velocity[3];
        inl::sv_from_orbel(record, gm, position, velocity);
        if (PyErr_Occurred()) return nullptr;
        if (store_row(r_view, i, position) < 0 || store_row(v_view, i, velocity) < 0) return nullptr;
    }
    r_view.release();
    v_view.release();
    in.release();
    Ref r_out = asarray(r.get(), nullptr);
    if (!r_out) return nullptr;
    Ref v_out = asarray(v.get(), nullptr);
    if (!v_out) return nullptr;
    return PyTuple_Pack(2, r_out.get(), v_out.get());
}

}  // namespace

namespace entry {
const Impl orbel_from_sv = &qv::orbel::orbel_from_sv;
const Impl sv_from_orbel = &qv::orbel::sv_from_orbel;
}  // namespace entry

}  // namespace qv::orbel
