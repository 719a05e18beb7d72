// Module frame of quorvane.propagators.analytical.sgp4.propagator.
//
// Start-up, after the common checks of every module: bind DUOLINE (with its
// native method table) and ELSET from the duoline module and Time from the
// time module, each with a size check against the layout headers the
// propagator reads them through, and the catalogue table class; then
// create the SGP4 type.  It binds no
// orbel kernel: the algorithm needs none of them.
#include <cerrno>

#include "propagators/analytical/sgp4/propagator/module.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"
#include "runtime/runtime.hpp"
#include "time/time/time.hpp"

namespace qv::propagator {

Bound bound{};

namespace {

int steps(PyObject* module) {
    // B* and the epoch are read from line 1 with the record's C-locale conversions.
    if (!tle::init_c_locale()) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    Exporter duoline(duoline::module_path);
    if (!duoline ||
        duoline.type(&bound.DUOLINE, &bound.DUOLINE_vtab, "DUOLINE", sizeof(duoline::DuolineObject)) < 0 ||
        duoline.type(&bound.ELSET, "ELSET", sizeof(duoline::ElsetObject)) < 0) {
        return -1;
    }
    Exporter time("quorvane.time.time");
    if (!time || time.type(&bound.Time, "Time", sizeof(time::TimeObject)) < 0) return -1;
    Ref numpy = import_module("numpy");
    if (!numpy || keep(&bound.datetime_data, PyObject_GetAttrString(numpy.get(), "datetime_data")) < 0) return -1;
    if (keep(&bound.Catalogue, import_from("quorvane.propagators.analytical.sgp4.catalogue", "Catalogue").release()) < 0 ||
        keep(&bound.partial, import_from("functools", "partial").release()) < 0) {
        return -1;
    }
    return keep(&bound.SGP4, prepare_sgp4(module));
}

ModuleFrame frame{"propagator", module_path,
                  "SGP4/SDP4 propagation of two-line element sets: positions and velocities in the TEME frame "
                  "from DUOLINE records, ELSET histories and catalogues.",
                  steps, true};

}  // namespace

}  // namespace qv::propagator

PyMODINIT_FUNC PyInit_propagator() { return qv::propagator::frame.init(); }
