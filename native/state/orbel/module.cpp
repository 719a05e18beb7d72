// quorvane.state.orbel: conversions among classical orbital elements.
//
// Start-up, after the common module frame: publish _2pi and the twenty
// kernels in __pyx_capi__; bind the sibling types, pointer variables, the
// angle function and the four vector kernels; then run the module body that
// imports numbers, numpy, ORBEL_dt and DatetimeLike, sets _2pi and defines the
// twelve Python functions.
#include <numbers>

#include "bodies/bodies/bodies.hpp"
#include "frames/frames/frames.hpp"
#include "mathtools/ellipsoid/ellipsoid.hpp"
#include "time/time/time.hpp"
#include "state/orbel/docstrings.hpp"
#include "state/orbel/entries.hpp"
#include "state/orbel/kernels.hpp"

namespace qv::orbel {

namespace {

constexpr const char* path = "quorvane.state.orbel";

int steps(PyObject* module);

// ---------------------------------------------------------------- exports

int export_table(PyObject* module) {
    if (export_variable(module, "_2pi", &_2pi, sig_2pi) < 0) return -1;
    return export_functions(module, {
                                        {"c_orp_from_sma", &c_orp_from_sma, sig_period},
                                        {"c_sma_from_orp", &c_sma_from_orp, sig_period},
                                        {"c_mnm_from_sma", &c_mnm_from_sma, sig_period},
                                        {"c_sma_from_mnm", &c_sma_from_mnm, sig_period},
                                        {"c_eca_from_mea", &c_eca_from_mea, sig_anomaly},
                                        {"c_mea_from_eca", &c_mea_from_eca, sig_anomaly},
                                        {"c_eca_from_tra", &c_eca_from_tra, sig_anomaly},
                                        {"c_tra_from_eca", &c_tra_from_eca, sig_anomaly},
                                        {"c_tra_from_mea", &c_tra_from_mea, sig_anomaly},
                                        {"c_mea_from_tra", &c_mea_from_tra, sig_anomaly},
                                        {"c_pge_from_sma_ecc", &c_pge_from_sma_ecc, sig_altitude},
                                        {"c_apg_from_sma_ecc", &c_apg_from_sma_ecc, sig_altitude},
                                        {"c_sma_from_pge_apg", &c_sma_from_pge_apg, sig_altitude},
                                        {"c_sma_from_ecc_pge", &c_sma_from_ecc_pge, sig_altitude},
                                        {"c_sma_from_ecc_apg", &c_sma_from_ecc_apg, sig_altitude},
                                        {"c_ecc_from_pge_apg", &c_ecc_from_pge_apg, sig_altitude},
                                        {"c_ecc_from_sma_pge", &c_ecc_from_sma_pge, sig_altitude},
                                        {"c_ecc_from_sma_apg", &c_ecc_from_sma_apg, sig_altitude},
                                        {"c_orbel_from_sv", &c_orbel_from_sv, sig_orbel_from_sv},
                                        {"c_sv_from_orbel", &c_sv_from_orbel, sig_sv_from_orbel},
                                    });
}

// ---------------------------------------------------------------- bindings

// Bound for the life of the process; only Earth is used (its GM is the
// default of six functions), the rest must merely be present.
struct BoundTypes {
    PyTypeObject *Time, *CelestialBody, *Earth, *Sun, *Moon, *Ellipsoid, *Frame, *GCRF, *ITRF, *TEME, *ENU;
} types{};

ellipsoid::EllipsoidObject **WGS84, **WGS72, **GRS80;
frames::GCRFObject** GCRF;
frames::ITRFObject** ITRF;
frames::TEMEObject** TEME;

int bind_types() {
    Exporter time("quorvane.time.time");
    if (!time || time.type(&types.Time, "Time", sizeof(time::TimeObject)) < 0) return -1;
    Exporter bodies("quorvane.bodies.bodies");
    if (!bodies || bodies.type(&types.CelestialBody, "CelestialBody", sizeof(bodies::CelestialBodyObject)) < 0 ||
        bodies.type(&types.Earth, "Earth", sizeof(bodies::EarthObject)) < 0 ||
        bodies.type(&types.Sun, "Sun", sizeof(bodies::SunObject)) < 0 ||
        bodies.type(&types.Moon, "Moon", sizeof(bodies::MoonObject)) < 0) {
        return -1;
    }
    Exporter ellipsoid("quorvane.mathtools.ellipsoid.ellipsoid");
    if (!ellipsoid || ellipsoid.type(&types.Ellipsoid, "Ellipsoid", sizeof(ellipsoid::EllipsoidObject)) < 0) {
        return -1;
    }
    Exporter frames("quorvane.frames.frames");
    return !frames || frames.type(&types.Frame, "Frame", sizeof(frames::FrameObject)) < 0 ||
                   frames.type(&types.GCRF, "_GCRF", sizeof(frames::GCRFObject)) < 0 ||
                   frames.type(&types.ITRF, "_ITRF", sizeof(frames::ITRFObject)) < 0 ||
                   frames.type(&types.TEME, "_TEME", sizeof(frames::TEMEObject)) < 0 ||
                   frames.type(&types.ENU, "ENU", sizeof(frames::ENUObject)) < 0
               ? -1
               : 0;
}

int bind_variables_and_kernels() {
    const char* ell_sig = ellipsoid::ellipsoid_signature;
    Exporter ellipsoid("quorvane.mathtools.ellipsoid.ellipsoid");
    if (!ellipsoid || ellipsoid.variable(&WGS84, "WGS84", ell_sig) < 0 ||
        ellipsoid.variable(&WGS72, "WGS72", ell_sig) < 0 || ellipsoid.variable(&GRS80, "GRS80", ell_sig) < 0) {
        return -1;
    }
    Exporter frames("quorvane.frames.frames");
    if (!frames || frames.variable(&GCRF, "GCRF", frames::gcrf_signature) < 0 ||
        frames.variable(&ITRF, "ITRF", frames::itrf_signature) < 0 ||
        frames.variable(&TEME, "TEME", frames::teme_signature) < 0) {
        return -1;
    }
    Exporter misc("quorvane.mathtools.misc.misc");
    if (!misc || misc.kernel(&bound::atan2_asymmetric, "atan2_asymmetric", misc::atan2_asymmetric_signature) < 0) {
        return -1;
    }
    Exporter arqel("quorvane.mathtools.arqel.arqel");
    return !arqel || arqel.kernel(&bound::dot, "dot", arqel::sig_dot) < 0 ||
                   arqel.kernel(&bound::cross, "cross", arqel::sig_vvv) < 0 ||
                   arqel.kernel(&bound::norm, "norm", arqel::sig_norm) < 0 ||
                   arqel.kernel(&bound::normalize, "normalize", arqel::sig_normalize) < 0
               ? -1
               : 0;
}

// ---------------------------------------------------------------- functions

enum class Default { none, gm_object, gm_double };

struct Definition {
    FunctionDef def;
    const char* annotations[4][2];  // parameter (or "return") and its annotation text
    Default holder;
};

constexpr const char* scalar_or_array = "double | ndarray[double]";

#define QV_SIZE_PERIOD(name, first)                                                               \
    {{#name, doc::name, entry::name, {#name, {first, "GM"}, 2, 1}},                               \
     {{first, scalar_or_array}, {"GM", "double"}, {"return", scalar_or_array}, {}},               \
     Default::gm_object}
#define QV_ANOMALY(name, first)                                                                   \
    {{#name, doc::name, entry::name, {#name, {first, "ecc"}, 2, 2}},                              \
     {{first, scalar_or_array}, {"ecc", scalar_or_array}, {"return", scalar_or_array}, {}},       \
     Default::none}

// Static for the life of the process: function objects keep a pointer to
// their definition.
const Definition definitions[] = {
    QV_SIZE_PERIOD(orp_from_sma, "sma"),
    QV_SIZE_PERIOD(sma_from_orp, "orp"),
    QV_SIZE_PERIOD(mnm_from_sma, "sma"),
    QV_SIZE_PERIOD(sma_from_mnm, "mnm"),
    QV_ANOMALY(eca_from_mea, "mea"),
    QV_ANOMALY(mea_from_eca, "eca"),
    QV_ANOMALY(eca_from_tra, "tra"),
    QV_ANOMALY(tra_from_eca, "eca"),
    QV_ANOMALY(tra_from_mea, "mea"),
    QV_ANOMALY(mea_from_tra, "tra"),
    {{"orbel_from_sv", doc::orbel_from_sv, entry::orbel_from_sv, {"orbel_from_sv", {"r", "v", "GM"}, 3, 2}},
     {{"r", "ndarray[double]"}, {"v", "ndarray[double]"}, {"GM", "float"}, {"return", "ndarray[ORBEL_dt]"}},
     Default::gm_double},
    {{"sv_from_orbel", doc::sv_from_orbel, entry::sv_from_orbel, {"sv_from_orbel", {"orbel", "GM"}, 2, 1}},
     {{"orbel", "ndarray[ORBEL_dt]"}, {"GM", "float"}, {"return", "tuple[ndarray[double], 2]"}, {}},
     Default::gm_double},
};

#undef QV_SIZE_PERIOD
#undef QV_ANOMALY

Ref annotations_of(const Definition& d) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    auto put = [&](const char* key, const char* text) {
        Ref value = Ref::steal(PyUnicode_FromString(text));
        return value && PyDict_SetItemString(dict.get(), key, value.get()) == 0;
    };
    for (const auto& [key, text] : d.annotations) {
        if (key && !put(key, text)) return {};
    }
    return dict;
}

int define_function(PyObject* module, const Definition& d) {
    Ref annotations = annotations_of(d);
    if (!annotations) return -1;
    Ref function = make_function(&d.def, path, annotations.get());
    if (!function) return -1;
    if (d.holder != Default::none) {
        // Earth.GM as it is now; never refreshed.
        Ref gm = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(types.Earth), "GM"));
        if (!gm) return -1;
        if (d.holder == Default::gm_object) {
            Ref defaults = Ref::steal(PyTuple_Pack(1, gm.get()));
            if (!defaults) return -1;
            set_object_defaults(function.get(), defaults.get());
        } else {
            double value = PyFloat_AsDouble(gm.get());
            if (value == -1.0 && PyErr_Occurred()) return -1;
            set_double_default(function.get(), value);
        }
    }
    return module_add(module, d.def.params.function, function.get());
}

int run_body(PyObject* module) {
    if (module_import_as(module, "numbers", "numbers") < 0 || module_import_as(module, "numpy", "numpy") < 0) {
        return -1;
    }
    Ref numbers = Ref::steal(PyObject_GetAttrString(module, "numbers"));
    if (!numbers || remember_standard_numbers(module, numbers.get()) < 0) return -1;
    Ref orbel_dt = import_from("quorvane.datamodel", "ORBEL_dt");
    if (!orbel_dt || module_add(module, "ORBEL_dt", orbel_dt.get()) < 0) return -1;
    Ref datetime_like = import_from("quorvane.typing", "DatetimeLike");
    if (!datetime_like || module_add(module, "DatetimeLike", datetime_like.get()) < 0) return -1;
    _2pi = 2.0 * std::numbers::pi;
    for (const Definition& d : definitions) {
        if (define_function(module, d) < 0) return -1;
    }
    Ref test = Ref::steal(PyDict_New());
    return test ? module_add(module, "__test__", test.get()) : -1;
}

int steps(PyObject* module) {
    // (The default holders live in the function objects of the runtime
    // layer; there is no holder type to prepare.)
    if (export_table(module) < 0 || bind_types() < 0 || bind_variables_and_kernels() < 0) return -1;
    return run_body(module);
}

}  // namespace

ModuleFrame frame{"orbel", path,
                  "Conversions among classical orbital elements: size and shape relations, mean motion and\n"
                  "period, the three anomalies (Kepler's equation) and Cartesian state vectors.",
                  steps};

}  // namespace qv::orbel

PyMODINIT_FUNC PyInit_orbel() { return qv::orbel::frame.init(); }
