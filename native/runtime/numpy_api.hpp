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
}  // namespace qv
