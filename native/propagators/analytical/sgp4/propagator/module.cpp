// Module frame of quorvane.propagators.analytical.sgp4.propagator.
//
// Start-up, after the common checks of every module: bind DUOLINE (with its
// native method table) and ELSET from the duoline module and Time from the
// time module, each with a size check against the layout headers the
// propagator reads them through, and the catalogue table class; then
// create the SGP4 type and publish the native interface (export.hpp) that
// the screening and pass-finding modules bind.  It binds no orbel kernel:
// the algorithm needs none of them.
#include <cerrno>
#include <cstddef>
#include <type_traits>

#include "propagators/analytical/sgp4/propagator/export.hpp"
#include "propagators/analytical/sgp4/propagator/module.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"
#include "time/time/time.hpp"

namespace qv::propagator {

Bound bound{};

namespace {

int c_view(PyObject* obj, qv_sgp4_View* view) {
    if (!obj || !PyObject_TypeCheck(obj, bound.SGP4)) {
        PyErr_Format(PyExc_TypeError, "an SGP4 propagator is needed, got %.200s",
                     obj ? Py_TYPE(obj)->tp_name : "NULL");
        return -1;
    }
    const auto* s = reinterpret_cast<const Sgp4Object*>(obj);
    view->sats = s->sats;
    view->stride = sizeof(sgp4::Satellite);
    view->epochs = s->epochs;
    view->satno = static_cast<const std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(s->satno)));
    view->n = static_cast<std::size_t>(s->n);
    view->kind = s->kind == Kind::record ? 0 : s->kind == Kind::history ? 1 : 2;
    return 0;
}

void c_run_times(const void* sat, const double* tsince, std::size_t count, double* r, double* v, std::int8_t* err,
                 int lanes) {
    sgp4::run_times_for(lanes)(*static_cast<const sgp4::Satellite*>(sat), tsince, count, r, v, err);
}

void c_sample(const void* sat, double tsince, double* r, double* v, std::int8_t* err) {
    sgp4::loops::baseline::sample_one(*static_cast<const sgp4::Satellite*>(sat), tsince, r, v, err);
}

// The kernels' types are those the importers' header declares.
static_assert(std::is_same_v<decltype(c_view), sgp4::ViewKernel>);
static_assert(std::is_same_v<decltype(c_run_times), sgp4::RunTimesKernel>);
static_assert(std::is_same_v<decltype(c_sample), sgp4::SampleKernel>);

// ERRORS: every code propagate() gives (sgp4::Error; 5 was withdrawn and
// is never given) and what it means, in one line.
struct ErrorName {
    sgp4::Error code;
    const char* message;
};
constexpr ErrorName error_names[] = {
    {sgp4::eccentricity, "mean eccentricity outside [-0.001, 1) or not a number"},
    {sgp4::mean_motion, "mean motion not positive or not a number"},
    {sgp4::perturbed_ecc, "perturbed eccentricity outside [0, 1]"},
    {sgp4::semi_latus, "semi-latus rectum negative"},
    {sgp4::decayed, "decayed: radius below the Earth's equatorial radius"},
    {sgp4::bad_time,
     "time not finite, NaT, outside the datetime64[ns] range, or more than 1e9 minutes from the epoch"},
};

int add_errors(PyObject* module) {
    Ref errors = Ref::steal(PyDict_New());
    if (!errors) return -1;
    for (const ErrorName& e : error_names) {
        Ref code = Ref::steal(PyLong_FromLong(e.code));
        Ref message = Ref::steal(PyUnicode_FromString(e.message));
        if (!code || !message || PyDict_SetItem(errors.get(), code.get(), message.get()) < 0) return -1;
    }
    return module_add(module, "ERRORS", errors.get());
}

int steps(PyObject* module) {
    if (add_errors(module) < 0) return -1;
    if (export_functions(module, {{"c_view", c_view, sgp4::sig_view},
                                  {"c_run_times", c_run_times, sgp4::sig_run_times},
                                  {"c_sample", c_sample, sgp4::sig_sample}}) < 0) {
        return -1;
    }
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
