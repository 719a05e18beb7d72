#define QUORVANE_NUMPY_API_DEFINITION
#include "runtime/numpy_api.hpp"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "runtime/module_frame.hpp"

namespace qv {

namespace {

constexpr std::size_t huge_page = std::size_t{1} << 21;
constexpr std::size_t large = std::size_t{1} << 22;

// Blocks of whole 2 MiB pages on a 2 MiB boundary, advised as huge pages.
void* huge_malloc(void*, std::size_t size) noexcept {
    if (size > SIZE_MAX - huge_page) return nullptr;
    const std::size_t bytes = (size + huge_page - 1) & ~(huge_page - 1);
    void* block = std::aligned_alloc(huge_page, bytes ? bytes : huge_page);
    if (block) madvise(block, bytes, MADV_HUGEPAGE);  // advice only: failure leaves 4 KiB pages
    return block;
}

void* huge_calloc(void* ctx, std::size_t count, std::size_t size) noexcept {
    std::size_t bytes;
    if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
    void* block = huge_malloc(ctx, bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
}

void huge_free(void*, void* block, std::size_t) noexcept { std::free(block); }

// ndarray.resize of such an array: a new block, the old contents copied.
void* huge_realloc(void* ctx, void* block, std::size_t size) noexcept {
    if (!block) return huge_malloc(ctx, size);
    void* grown = huge_malloc(ctx, size);
    if (!grown) return nullptr;
    const std::size_t old = malloc_usable_size(block);
    std::memcpy(grown, block, old < size ? old : size);
    std::free(block);
    return grown;
}

PyDataMem_Handler huge_handler = {
    "quorvane_huge_pages", 1, {nullptr, huge_malloc, huge_calloc, huge_realloc, huge_free}};

}  // namespace

PyObject* new_large_array(int nd, const npy_intp* dims, int type) {
    npy_intp count = 1;
    for (int d = 0; d < nd; ++d) count *= dims[d];
    PyArray_Descr* descr = PyArray_DescrFromType(type);
    if (!descr) return nullptr;
    const bool big = static_cast<std::size_t>(count) * static_cast<std::size_t>(PyDataType_ELSIZE(descr)) >= large;
    Py_DECREF(descr);
    if (!big) return PyArray_SimpleNew(nd, dims, type);
    // Created once per module and never freed: arrays hold references to it.
    static PyObject* handler = nullptr;
    if (!handler && !(handler = PyCapsule_New(&huge_handler, "mem_handler", nullptr))) return nullptr;
    PyObject* previous = PyDataMem_SetHandler(handler);
    if (!previous) return nullptr;
    PyObject* array = PyArray_SimpleNew(nd, dims, type);
    PyObject* ours = PyDataMem_SetHandler(previous);
    Py_DECREF(previous);
    if (!ours) {
        Py_XDECREF(array);
        return nullptr;
    }
    Py_DECREF(ours);
    return array;
}

// NumPy's import_array macros print the underlying error to stderr before
// replacing it with ImportError; a library must not write to the caller's
// stderr, so the table is imported directly and the reason kept as the
// ImportError's cause instead.
int import_numpy_api() {
    if (PyArray_API != nullptr) return 0;
    if (_import_array() == 0) return 0;
    PyArray_API = nullptr;  // a table that failed its checks is not used
    PyObject* cause = PyErr_GetRaisedException();
    if (cause && PyErr_GivenExceptionMatches(cause, PyExc_ImportError)) {
        PyErr_SetRaisedException(cause);  // NumPy itself missing: already the right error
        return -1;
    }
    PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
    if (cause) {
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, Py_NewRef(cause));
        PyException_SetContext(error, cause);
        PyErr_SetRaisedException(error);
    }
    return -1;
}

int read_datetime64(PyObject* array, int max_dims, Datetime64Array* out) {
    // numpy.datetime_data, looked up once per module (under the interpreter lock).
    static PyObject* datetime_data = nullptr;
    if (!datetime_data) {
        datetime_data = import_from("numpy", "datetime_data").release();
        if (!datetime_data) return -1;
    }
    Ref source = PyArray_Check(array) ? Ref::borrow(array) : Ref::steal(PyArray_FromScalar(array, nullptr));
    if (!source) return -1;
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(source.get()));
    out->meta = Ref::steal(PyObject_CallOneArg(datetime_data, reinterpret_cast<PyObject*>(descr)));
    if (!out->meta || !PyArg_ParseTuple(out->meta.get(), "sL", &out->unit, &out->count)) return -1;
    PyArray_Descr* native = PyArray_DescrNewByteorder(descr, NPY_NATIVE);
    if (!native) return -1;
    out->values = Ref::steal(PyArray_FromAny(source.get(), native, 0, max_dims, NPY_ARRAY_CARRAY_RO, nullptr));
    return out->values ? 0 : -1;
}

}  // namespace qv
