// What the _catalogue module's sources share: the bound imports, the
// conversion environment and the helpers of the functions.
#pragma once

#include <cstddef>
#include <span>

#include "propagators/analytical/sgp4/catalogue/convert.hpp"
#include "propagators/analytical/sgp4/catalogue/scratch.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/ref.hpp"
#include "runtime/runtime.hpp"

namespace qv::catalogue {

inline constexpr const char* module_path = "quorvane.propagators.analytical.sgp4._catalogue";

// Bound at import, read-only afterwards.
struct Bound {
    PyTypeObject* Earth;
    double *deg, *rev, *day;
    Kernel2 *sma_from_mnm, *orp_from_sma, *eca_from_mea;
    Kernel3 *pge_from_sma_ecc, *apg_from_sma_ecc;
};
extern Bound bound;

// The conversion environment of one call: kernels and units as bound,
// Earth.GM and Earth.Re read now (as the record reads them at each
// construction).  -1 with the exception pending.
int environment(Environment* env, bool strict);

// Functions of the module, defined in tables.cpp and values.cpp.
int add_table_functions(PyObject* module);
int add_value_functions(PyObject* module);

// A function of the module and the defaults of its optional parameters.
struct FunctionEntry {
    const FunctionDef* def;
    PyObject* defaults[4];
    Py_ssize_t count;
};
int add_functions(PyObject* module, std::span<const FunctionEntry> functions);

// Work below `threshold` runs on the calling thread alone.
inline int threads_for(std::size_t work, std::size_t threshold, int threads) { return work >= threshold ? threads : 1; }

// A new one-dimensional array, and the data of one.
inline Ref new_array(int typenum, npy_intp n) { return Ref::steal(PyArray_SimpleNew(1, &n, typenum)); }
template <class T>
T* data_of(const Ref& array) {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

}  // namespace qv::catalogue
