// Module frame of quorvane.propagators.analytical.sgp4.duoline.
//
// Start-up, after the common checks of every module: bind Representable,
// prepare DUOLINE and ELSET on it, bind the sibling types, native variables
// and orbel kernels in the order the package's native modules share, then
// run the module body (numpy, the text methods, __test__).  The first
// failure stops the import.
#include <cerrno>

#include "propagators/analytical/sgp4/duoline/bound.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"
#include "runtime/runtime.hpp"
#include "time/time/time.hpp"

namespace qv::duoline {

Bound bound{};
Names names{};

namespace {

int intern(PyObject** slot, const char* text) {
    if (!*slot) *slot = PyUnicode_InternFromString(text);
    return *slot ? 0 : -1;
}

int keyword_names(PyObject** slot, std::initializer_list<const char*> keys) {
    if (*slot) return 0;
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(keys.size())));
    if (!tuple) return -1;
    Py_ssize_t i = 0;
    for (const char* key : keys) {
        PyObject* name = PyUnicode_InternFromString(key);
        if (!name) return -1;
        PyTuple_SET_ITEM(tuple.get(), i++, name);
    }
    *slot = tuple.release();
    return 0;
}

int init_names() {
    const std::pair<PyObject**, const char*> strings[] = {
        {&names.GM, "GM"},
        {&names.Re, "Re"},
        {&names.jd, "jd"},
        {&names.utc, "utc"},
        {&names.repr, "__repr__"},
        {&names.name, "name"},
        {&names.int64, "int64"},
        {&names.size, "size"},
        {&names.satno, "satno"},
        {&names.satname, "_satname"},
        {&names.satname_attribute, "satname"},
        {&names.line1, "line1"},
        {&names.line2, "line2"},
        {&names.strip, "strip"},
        {&names.upper, "upper"},
        {&names.empty, ""},
        {&names.create_formatted_form, "_create_formatted_form"},
        {&names.create_formatted_frame, "_create_formatted_frame"},
        {&names.format_as_property, "_format_as_property"},
        {&names.sort, "sort"},
    };
    for (const auto& [slot, text] : strings) {
        if (intern(slot, text) < 0) return -1;
    }
    if (keyword_names(&names.format_kw, {"format"}) < 0 || keyword_names(&names.key_kw, {"key"}) < 0 ||
        keyword_names(&names.shape_dtype_kw, {"shape", "dtype"}) < 0) {
        return -1;
    }
    if (!names.by_epoch) {
        Ref attrgetter = import_from("operator", "attrgetter");
        if (!attrgetter) return -1;
        Ref epoch = Ref::steal(PyUnicode_InternFromString("epoch"));
        if (!epoch) return -1;
        names.by_epoch = PyObject_CallOneArg(attrgetter.get(), epoch.get());
        if (!names.by_epoch) return -1;
    }
    return 0;
}

int bind_types() {
    Exporter time("quorvane.time.time");
    if (!time || time.type(&bound.Time, "Time", sizeof(time::TimeObject)) < 0) return -1;
    Exporter bodies("quorvane.bodies.bodies");
    if (!bodies || bodies.type(&bound.CelestialBody, "CelestialBody", sizeof(bodies::CelestialBodyObject)) < 0 ||
        bodies.type(&bound.Earth, "Earth", sizeof(bodies::EarthObject)) < 0 ||
        bodies.type(&bound.Sun, &bound.Sun_vtab, "Sun", sizeof(bodies::SunObject)) < 0 ||
        bodies.type(&bound.Moon, &bound.Moon_vtab, "Moon", sizeof(bodies::MoonObject)) < 0) {
        return -1;
    }
    Exporter ellipsoid("quorvane.mathtools.ellipsoid.ellipsoid");
    if (!ellipsoid ||
        ellipsoid.type(&bound.Ellipsoid, &bound.Ellipsoid_vtab, "Ellipsoid", sizeof(ellipsoid::EllipsoidObject)) < 0) {
        return -1;
    }
    Exporter frames("quorvane.frames.frames");
    return !frames || frames.type(&bound.Frame, "Frame", sizeof(frames::FrameObject)) < 0 ||
                   frames.type(&bound.GCRF_type, &bound.GCRF_vtab, "_GCRF", sizeof(frames::GCRFObject)) < 0 ||
                   frames.type(&bound.ITRF_type, &bound.ITRF_vtab, "_ITRF", sizeof(frames::ITRFObject)) < 0 ||
                   frames.type(&bound.TEME_type, &bound.TEME_vtab, "_TEME", sizeof(frames::TEMEObject)) < 0 ||
                   frames.type(&bound.ENU, &bound.ENU_vtab, "ENU", sizeof(frames::ENUObject)) < 0
               ? -1
               : 0;
}

int bind_variables() {
    Exporter ellipsoid("quorvane.mathtools.ellipsoid.ellipsoid");
    if (!ellipsoid || ellipsoid.variable(&bound.WGS84, "WGS84", ellipsoid::ellipsoid_signature) < 0 ||
        ellipsoid.variable(&bound.WGS72, "WGS72", ellipsoid::ellipsoid_signature) < 0 ||
        ellipsoid.variable(&bound.GRS80, "GRS80", ellipsoid::ellipsoid_signature) < 0) {
        return -1;
    }
    Exporter frames("quorvane.frames.frames");
    if (!frames || frames.variable(&bound.GCRF, "GCRF", frames::gcrf_signature) < 0 ||
        frames.variable(&bound.ITRF, "ITRF", frames::itrf_signature) < 0 ||
        frames.variable(&bound.TEME, "TEME", frames::teme_signature) < 0) {
        return -1;
    }
    Exporter orbel("quorvane.state.orbel");
    if (!orbel || orbel.variable(&bound.twopi, "_2pi", sig_double) < 0) return -1;
    Exporter units("quorvane.units.units");
    if (!units) return -1;
    const std::pair<double**, const char*> unit_constants[] = {
        {&bound.s, "s"},       {&bound.sec, "sec"},   {&bound.second, "second"}, {&bound.minute, "minute"},
        {&bound.hour, "hour"}, {&bound.day, "day"},   {&bound.sday, "sday"},     {&bound.m, "m"},
        {&bound.km, "km"},     {&bound.rad, "rad"},   {&bound.deg, "deg"},       {&bound.rev, "rev"},
        {&bound.kg, "kg"},
    };
    for (const auto& [slot, name] : unit_constants) {
        if (units.variable(slot, name, sig_double) < 0) return -1;
    }
    return 0;
}

int bind_kernels() {
    Exporter orbel("quorvane.state.orbel");
    return !orbel || orbel.kernel(&bound.c_orp_from_sma, "c_orp_from_sma", sig_d_dc_d) < 0 ||
                   orbel.kernel(&bound.c_sma_from_mnm, "c_sma_from_mnm", sig_d_dc_d) < 0 ||
                   orbel.kernel(&bound.c_eca_from_mea, "c_eca_from_mea", sig_d_dc_dc) < 0 ||
                   orbel.kernel(&bound.c_tra_from_eca, "c_tra_from_eca", sig_d_dc_dc) < 0 ||
                   orbel.kernel(&bound.c_pge_from_sma_ecc, "c_pge_from_sma_ecc", sig_d_dc_dc_dc) < 0 ||
                   orbel.kernel(&bound.c_apg_from_sma_ecc, "c_apg_from_sma_ecc", sig_d_dc_dc_dc) < 0
               ? -1
               : 0;
}

// `import numpy`, plus the three NumPy objects the element set calls.
int import_numpy(PyObject* module) {
    Ref numpy = import_module("numpy");
    if (!numpy || module_add(module, "numpy", numpy.get()) < 0) return -1;
    return keep(&names.numpy_zeros, PyObject_GetAttrString(numpy.get(), "zeros")) < 0 ||
                   keep(&names.numpy_int64, PyObject_GetAttrString(numpy.get(), "int64")) < 0 ||
                   keep(&names.numpy_double, PyObject_GetAttrString(numpy.get(), "double")) < 0
               ? -1
               : 0;
}

int steps(PyObject* module);

ModuleFrame frame{"duoline", module_path,
                  "Two-line element sets: DUOLINE records parsed from the published fixed-column text format, "
                  "and ELSET, the time-ordered element set of one satellite.",
                  steps, true};

int steps(PyObject* module) {
    bound.assertions = frame.assertions;
    if (!tle::init_c_locale()) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    if (init_names() < 0) return -1;

    Exporter representable("quorvane.utils.representable");
    if (!representable || representable.type(&bound.Representable, "Representable",
                                             sizeof(representable::RepresentableObject), OnLarger::warn) < 0) {
        return -1;
    }
    if (keep(&bound.DUOLINE, prepare_duoline(module)) < 0 || keep(&bound.ELSET, prepare_elset(module)) < 0) {
        return -1;
    }
    if (bind_types() < 0 || bind_variables() < 0 || bind_kernels() < 0) return -1;

    if (import_numpy(module) < 0 || add_duoline_functions() < 0 || add_elset_functions() < 0) return -1;
    Ref test = Ref::steal(PyDict_New());
    return !test || module_add(module, "__test__", test.get()) < 0 ? -1 : 0;
}

}  // namespace

}  // namespace qv::duoline

PyMODINIT_FUNC PyInit_duoline() { return qv::duoline::frame.init(); }
