// NumPy C API for every translation unit of a module.
//
// The API table lives in numpy_api.cpp (the one unit that defines it); all
// other units see it through the same unique symbol.  Modules are built with
// hidden visibility, so each extension keeps its own table.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL quorvane_numpy_api
#ifndef QUORVANE_NUMPY_API_DEFINITION
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include "runtime/ref.hpp"

namespace qv {
// Import NumPy's C API; -1 with ImportError pending when NumPy is missing or
// incompatible with the headers this module was built against.
int import_numpy_api();

// A new uninitialised C-contiguous array (as PyArray_SimpleNew) for a large
// result that kernels fill in parallel.  From 4 MiB its data starts on a
// 2 MiB boundary and is advised as transparent huge pages throughout
// (NumPy's own allocator advises only the whole 2 MiB pages inside an
// arbitrary block, so up to 2 MiB at each end are faulted in 4 KiB pages,
// each fault costing as much as zeroing a 4 KiB page).  The array owns its
// data through a NumPy memory handler of its own (freed with the array;
// tracemalloc counts it as NumPy's).  Needs the interpreter lock.
PyObject* new_large_array(int nd, const npy_intp* dims, int type);

// A datetime64 array (or array scalar) read as raw int64 values with its
// unit as numpy.datetime_data names it ("ns", "D", "Y", "generic", ...) and
// the unit's multiple (7 for datetime64[7D]).  `values` is aligned,
// C-contiguous and in this machine's byte order: the array itself when it
// is all of that, else a copy (asking PyArray_FromAny for the byte order by
// flag alone keeps a swapped array's own dtype).  `unit` lives as long as
// the struct does.
struct Datetime64Array {
    Ref values;
    const char* unit = nullptr;
    long long count = 1;
    Ref meta;  // the (unit, count) tuple `unit` points into
};
// 0, or -1 with an exception set; `max_dims` as PyArray_FromAny takes it
// (0: any number of dimensions).
int read_datetime64(PyObject* array, int max_dims, Datetime64Array* out);
}  // namespace qv
