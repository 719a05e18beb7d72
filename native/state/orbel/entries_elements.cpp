// Entry points of the size/period relations and of the anomalies.
//
// One template serves the four size/period functions (value, GM) and one the
// six anomaly functions (angle, ecc).  Each decides between the scalar and
// the array form, checks shapes while assertions are on, allocates the
// result with numpy.zeros_like and applies its kernel element by element.
#include "state/orbel/entries.hpp"
#include "state/orbel/kernels.hpp"

namespace qv::orbel {

namespace {

using Kernel = double (*)(double, double);
using PairKernel = Pair (*)(Pair, Pair);
using H = HeldErrors;

// Placeholder for kernels without a two-lane form (never called).
Pair no_pair_form(Pair x, Pair) { return x; }

// The kernel's value for every element into the float64 result view.  Hot
// combinations (float64 memory with float64 memory or an exact scalar) run a
// tight loop; every other combination fetches element by element in argument
// order, as item access would.  A kernel that reports (-1.0 with an
// exception pending) stops the loop; Reports is false for kernels that never
// do, which keeps the test out of their tight loops.  P, where given, is the
// kernel over pairs of lanes (when Paired), used for float64 memory with a
// constant.
template <Kernel K, bool Reports, PairKernel P = no_pair_form, bool Paired = false>
int fill(Source& a, Source& b, Py_ssize_t n, const BufferView& out) {
    char* dst = out.data();
    const Py_ssize_t step = out.stride(0);
    if (n > 0 && n <= out.shape(0)) {
        auto run = [&](auto x_at, auto y_at) {
            for (Py_ssize_t i = 0; i < n; ++i) {
                double r = K(x_at(i), y_at(i));
                if (Reports && r == -1.0 && PyErr_Occurred()) return -1;
                store_unaligned(dst + i * step, r);
            }
            return 0;
        };
        auto memory = [](const Source& s) {
            return [data = s.data, stride = s.stride](Py_ssize_t i) {
                return load_unaligned<double>(data + i * stride);
            };
        };
        auto constant = [](const Source& s) { return [value = s.value](Py_ssize_t) { return value; }; };
        if (a.doubles_for(n) && b.doubles_for(n)) return run(memory(a), memory(b));
        if (a.doubles_for(n) && b.kind == Source::Kind::exact) {
            if (b.prepare() < 0) return -1;
            if constexpr (Paired) {
                const Pair y = Pair::splat(b.value);
                Py_ssize_t i = 0;
                for (; i + 1 < n; i += 2) store(dst, step, i, P(load(a.data, a.stride, i), y));
                if (i < n) store_unaligned(dst + i * step, K(memory(a)(i), b.value));
                return 0;
            }
            return run(memory(a), constant(b));
        }
        if (a.kind == Source::Kind::exact && b.doubles_for(n)) {
            return a.prepare() < 0 ? -1 : run(constant(a), memory(b));
        }
    }
    // Where fetching one argument runs Python code (item access, __float__),
    // that code could resize or free the other array's memory between
    // reads; memory reads are then given up for item access.
    if (!a.runs_no_python() || !b.runs_no_python()) {
        a.by_item();
        b.by_item();
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double x, y;
        if (a.fetch(i, &x) < 0 || b.fetch(i, &y) < 0) return -1;
        double r = K(x, y);
        if (r == -1.0 && PyErr_Occurred()) return -1;
        if (i >= out.shape(0)) {
            raise_out_of_bounds(0);
            return -1;
        }
        store_unaligned(dst + i * step, r);
    }
    return 0;
}

// numpy.zeros_like(x) and a writable 1-D float64 view on it.
Ref allocate_like(PyObject* x, BufferView& view) {
    Ref zeros_like = numpy_attr("zeros_like");
    if (!zeros_like) return {};
    Ref result = Ref::steal(PyObject_CallOneArg(zeros_like.get(), x));
    if (!result || view.acquire(result.get(), element_double, 1, true) < 0) return {};
    return result;
}

// numpy.asarray of the filled result.
PyObject* finish(Ref result, BufferView& view) {
    view.release();
    Ref asarray = numpy_attr("asarray");
    return asarray ? PyObject_CallOneArg(asarray.get(), result.get()) : nullptr;
}

PyObject* scalar_result(PyObject* a, PyObject* b, Kernel kernel) {
    double x, y;
    if (to_double(a, &x) < 0 || to_double(b, &y) < 0) return nullptr;
    double r = kernel(x, y);
    if (r == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(r);
}

// fn(value, GM = Earth.GM): a scalar value gives a float, a 1-D array an
// array; GM is converted at each use.
template <Kernel K, PairKernel P = no_pair_form, bool Paired = false>
PyObject* size_period(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    if (bind_arguments(self->def->params, args, nargs, kwnames, argv) < 0) return nullptr;
    PyObject* x = argv[0];
    PyObject* gm = argv[1] ? argv[1] : PyTuple_GET_ITEM(self->object_defaults, 0);
    RealTest is_real;
    int scalar = is_real(x);
    if (scalar < 0) return nullptr;
    if (scalar) return scalar_result(x, gm, K);

    if (frame.assertions && require(ndim_is_one(x)) < 0) return nullptr;
    BufferView view;
    Ref result = allocate_like(x, view);
    if (!result) return nullptr;
    Py_ssize_t n;
    if (shape_at(x, 0, &n) < 0) return nullptr;
    Source values = Source::array(x);
    Source gms = Source::scalar(gm);
    if (fill<K, false, P, Paired>(values, gms, n, view) < 0) return nullptr;
    return finish(std::move(result), view);
}

// fn(angle, ecc): either may be a scalar or a 1-D array; the result is
// allocated from the array (the angle when both are arrays) and has its
// length.
template <Kernel K, bool Reports>
PyObject* anomaly(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[2];
    if (bind_arguments(self->def->params, args, nargs, kwnames, argv) < 0) return nullptr;
    PyObject* angle = argv[0];
    PyObject* ecc = argv[1];
    RealTest is_real;
    int angle_scalar = is_real(angle);
    if (angle_scalar < 0) return nullptr;
    int ecc_scalar = is_real(ecc);
    if (ecc_scalar < 0) return nullptr;
    if (angle_scalar && ecc_scalar) return scalar_result(angle, ecc, K);

    PyObject* from;  // the array the result is allocated from
    if (ecc_scalar) {
        from = angle;
        if (frame.assertions && require(ndim_is_one(angle)) < 0) return nullptr;
    } else if (angle_scalar) {
        from = ecc;
        if (frame.assertions && require(ndim_is_one(ecc)) < 0) return nullptr;
    } else {
        from = angle;
        if (frame.assertions) {
            Ref a_ndim = attr(angle, "ndim");
            if (!a_ndim) return nullptr;
            Ref e_ndim = attr(ecc, "ndim");
            if (!e_ndim || require(equal(a_ndim.get(), e_ndim.get(), small_int(1))) < 0) return nullptr;
            Ref a_len = shape_item(angle, 0);
            if (!a_len) return nullptr;
            Ref e_len = shape_item(ecc, 0);
            if (!e_len || require(equal(a_len.get(), e_len.get())) < 0) return nullptr;
        }
    }
    BufferView view;
    Ref result = allocate_like(from, view);
    if (!result) return nullptr;
    Source a = angle_scalar ? Source::scalar(angle) : Source::array(angle);
    Source b = ecc_scalar ? Source::scalar(ecc) : Source::array(ecc);
    if (fill<K, Reports>(a, b, view.shape(0), view) < 0) return nullptr;
    return finish(std::move(result), view);
}

}  // namespace

namespace entry {
const Impl orp_from_sma = &size_period<&inl::orp_from_sma<double>, &inl::orp_from_sma<Pair>, true>;
const Impl sma_from_orp = &size_period<&inl::sma_from_orp>;
const Impl mnm_from_sma = &size_period<&inl::mnm_from_sma<double>, &inl::mnm_from_sma<Pair>, true>;
const Impl sma_from_mnm = &size_period<&inl::sma_from_mnm>;
const Impl eca_from_mea = &anomaly<&inl::eca_from_mea, false>;
const Impl mea_from_eca = &anomaly<&inl::mea_from_eca, false>;
const Impl eca_from_tra = &anomaly<&inl::eca_from_tra<H>, true>;
const Impl tra_from_eca = &anomaly<&inl::tra_from_eca<H>, true>;
const Impl tra_from_mea = &anomaly<&inl::tra_from_mea<H>, true>;
const Impl mea_from_tra = &anomaly<&inl::mea_from_tra<H>, true>;
}  // namespace entry

}  // namespace qv::orbel
