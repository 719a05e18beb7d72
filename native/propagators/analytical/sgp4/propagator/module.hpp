// What the propagator module binds at import and shares between its
// Python-facing sources.  Written while the module imports, read-only after.
#pragma once

#include "propagators/analytical/sgp4/duoline/duoline.hpp"
#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "runtime/ref.hpp"

namespace qv::propagator {

inline constexpr const char* module_path = "quorvane.propagators.analytical.sgp4.propagator";
inline constexpr const char* sgp4_type_name = "quorvane.propagators.analytical.sgp4.propagator.SGP4";

struct Bound {
    PyTypeObject* DUOLINE;
    duoline::DuolineVTable* DUOLINE_vtab;
    PyTypeObject* ELSET;
    PyTypeObject* Time;
    PyTypeObject* SGP4;
    PyObject* Catalogue;      // the columnar table class (catalogue module)
    PyObject* partial;        // functools.partial, for pickling
};

extern Bound bound;

// What an SGP4 object was built from: it decides the shapes of results.
enum class Kind { record, history, many };

struct Sgp4Object {
    PyObject_HEAD
    sgp4::Satellite* sats;   // n sets (a history: in epoch order)
    std::int64_t* epochs;    // n epochs, ns since 1970
    double* offsets;         // a history: minutes of each epoch after the first
    Py_ssize_t n;
    Kind kind;
    sgp4::Gravity gravity;
    sgp4::Mode mode;
    PyObject* satno;         // read-only int64 array of n numbers
    PyObject* table;         // the catalogue table it was built from, or null
};

PyTypeObject* prepare_sgp4(PyObject* module);

// propagate(): arguments, outputs, the batch run.
PyObject* propagate(Sgp4Object* self, PyObject* times, PyObject* tsince, PyObject* select, PyObject* threads,
                    PyObject* out);

}  // namespace qv::propagator
