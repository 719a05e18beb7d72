// quorvane.mathtools.arqel.arqel: native 3-vector kernels for other native
// modules.  The module has no Python functions; its interface is the export
// table __pyx_capi__ (filled before the module body runs), plus the
// attributes numpy and __test__.
#include "mathtools/arqel/arqel.hpp"
#include "mathtools/arqel/kernels.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace {

namespace a = qv::arqel;

int steps(PyObject* module);
qv::ModuleFrame frame{"arqel", "quorvane.mathtools.arqel.arqel",
                      "Native arithmetic on 3-vectors of doubles, exported to other native modules.", steps};

// numpy.zeros(shape=shape, dtype=numpy.double), numpy looked up on the module
// at each call.
qv::Ref zeros(PyObject* shape) {
    qv::Ref np = qv::Ref::steal(PyObject_GetAttrString(frame.module, "numpy"));
    if (!np) return {};
    qv::Ref fn = qv::Ref::steal(PyObject_GetAttrString(np.get(), "zeros"));
    qv::Ref dbl = qv::Ref::steal(PyObject_GetAttrString(np.get(), "double"));
    if (!fn || !dbl) return {};
    qv::Ref kwargs = qv::Ref::steal(Py_BuildValue("{s:O,s:O}", "shape", shape, "dtype", dbl.get()));
    qv::Ref empty = qv::Ref::steal(PyTuple_New(0));
    if (!kwargs || !empty) return {};
    return qv::Ref::steal(PyObject_Call(fn.get(), empty.get(), kwargs.get()));
}

// View over a freshly created array; a null owner with the exception pending
// when creation failed.
qv_ArrayView result_view(qv::Ref array, int ndim, const char* kernel) {
    qv_ArrayView out{};
    if (array && !PyArray_Check(array.get())) {
        PyErr_SetString(PyExc_TypeError, "numpy.zeros did not return an ndarray");
        array.reset();
    }
    if (!array) {
        qv::add_traceback_held(kernel);
        return out;
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(array.get());
    out.ndim = ndim;
    out.data = static_cast<char*>(PyArray_DATA(arr));
    for (int d = 0; d < ndim; ++d) {
        out.shape[d] = PyArray_DIM(arr, d);
        out.strides[d] = PyArray_STRIDE(arr, d);
    }
    out.owner = array.release();
    return out;
}

// Row i of an N x (>= 3) view, copied into a local 3-vector.  Views may
// start at any byte, so elements are copied, never dereferenced as double*.
inline void load_row(const qv_ArrayView& v, std::ptrdiff_t i, double* out) {
    const char* row = v.data + i * v.strides[0];
    for (int j = 0; j < 3; ++j) out[j] = qv::load_unaligned<double>(row + j * v.strides[1]);
}

// Norms of the N rows; must be called holding the interpreter lock.
qv_ArrayView norm_array(qv_ArrayView a) {
    std::ptrdiff_t n = a.shape[0];
    qv::Ref shape = qv::Ref::steal(Py_BuildValue("(n)", static_cast<Py_ssize_t>(n)));
    qv_ArrayView out = result_view(shape ? zeros(shape.get()) : qv::Ref{}, 1, "quorvane.mathtools.arqel.arqel.norm_array");
    if (!out.owner) return out;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double row[3];
        load_row(a, i, row);
        qv::store_unaligned(out.data + i * out.strides[0], a::norm(row));
    }
    return out;
}

// Unit vectors of the N rows, as a new N x 3 array.
qv_ArrayView normalize_array(qv_ArrayView a) {
    std::ptrdiff_t n = a.shape[0];
    qv::Ref shape = qv::Ref::steal(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(n), static_cast<Py_ssize_t>(3)));
    qv_ArrayView out =
        result_view(shape ? zeros(shape.get()) : qv::Ref{}, 2, "quorvane.mathtools.arqel.arqel.normalize_array");
    if (!out.owner) return out;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double row[3], unit[3];
        load_row(a, i, row);
        a::normalize(row, unit);  // exported form: passes a pending exception on
        char* dst = out.data + i * out.strides[0];
        for (int j = 0; j < 3; ++j) qv::store_unaligned(dst + j * out.strides[1], unit[j]);
    }
    return out;
}

int steps(PyObject* module) {
    if (qv::export_functions(module, {
                                         {"scale", &a::scale, a::sig_scale},
                                         {"add", &a::add, a::sig_vvv},
                                         {"sub", &a::sub, a::sig_vvv},
                                         {"dot", &a::dot, a::sig_dot},
                                         {"cross", &a::cross, a::sig_vvv},
                                         {"norm", &a::norm, a::sig_norm},
                                         {"norm_array", &norm_array, a::sig_array},
                                         {"angle", &a::angle, a::sig_dot},
                                         {"normalize", &a::normalize, a::sig_normalize},
                                         {"normalize_array", &normalize_array, a::sig_array},
                                         {"mat_x_vec", &a::mat_x_vec, a::sig_mat_x_vec},
                                     }) < 0) {
        return -1;
    }
    if (qv::module_import_as(module, "numpy", "numpy") < 0) return -1;
    qv::Ref test = qv::Ref::steal(PyDict_New());
    return test ? qv::module_add(module, "__test__", test.get()) : -1;
}

}  // namespace

PyMODINIT_FUNC PyInit_arqel() { return frame.init(); }
