// What the _catalogue module's sources share: the bound imports, the
// conversion environment.
#pragma once

#include <cstddef>

#include "propagators/analytical/sgp4/catalogue/convert.hpp"
#include "propagators/analytical/sgp4/catalogue/scratch.hpp"
#include "runtime/ref.hpp"

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

// Functions of the module, defined in tables.cpp and hooks.cpp.
int add_table_functions(PyObject* module);
int add_hook_functions(PyObject* module);

}  // namespace qv::catalogue
