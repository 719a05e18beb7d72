// quorvane.frames.frames: the reference frames Frame, _GCRF, _ITRF, _TEME
// and ENU, and the three frame instances GCRF, ITRF and TEME (as native
// variables and as module attributes).
#include "runtime/numpy_api.hpp"
// After Python.h, which numpy_api.hpp brings in.
#include <structmember.h>

#include <algorithm>
#include <cstring>

#include "frames/frames/frames.hpp"
#include "frames/frames/rotate.hpp"
#include "frames/frames/rotations.hpp"
#include "runtime/runtime.hpp"

namespace {

using qv::Ref;
using namespace qv::frames;

constexpr const char* module_path = "quorvane.frames.frames";

// Exported by address before they are assigned; read-only after import.
GCRFObject* gcrf = nullptr;
ITRFObject* itrf = nullptr;
TEMEObject* teme = nullptr;

int gcrf_to_itrf(GCRFObject*, double, double const*, double*) {
    PyErr_SetString(PyExc_NotImplementedError,
                    "GCRF.to_ITRF: the GCRF to ITRF transformation (precession, nutation, Earth orientation) "
                    "is not implemented");
    return -1;
}
int itrf_to_teme(ITRFObject*, double jd, double const* r, double* out) {
    rotate_z(-gmst_iau82(jd), r, out);
    return 0;
}
int teme_to_itrf(TEMEObject*, double jd, double const* r, double* out) {
    rotate_z(gmst_iau82(jd), r, out);
    return 0;
}
void enu_from_itrf(ENUObject* self, double const* r, double* enu) { enu_from_ecef(self->rot, self->origin, r, enu); }
void enu_to_itrf(ENUObject* self, double const* enu, double* r) { ecef_from_enu(self->rot, self->origin, enu, r); }

GCRFVTable gcrf_vtable{gcrf_to_itrf};
ITRFVTable itrf_vtable{itrf_to_teme};
TEMEVTable teme_vtable{teme_to_itrf};
ENUVTable enu_vtable{enu_from_itrf, enu_to_itrf};

void frame_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<FrameObject*>(self)->name);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* frame_repr(PyObject* self) {
    return PyUnicode_FromFormat("<frame %S>", reinterpret_cast<FrameObject*>(self)->name);
}

// Allocate a frame object of `type` with its table and name.
PyObject* new_frame(PyTypeObject* type, void* vtab, const char* name) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    auto* frame = reinterpret_cast<FrameObject*>(self.get());
    frame->vtab = vtab;
    frame->name = PyUnicode_FromString(name);
    return frame->name ? self.release() : nullptr;
}

// ENU(lat, lon, origin=None): the topocentric frame at geodetic latitude and
// longitude (rad), centred on the ITRF position `origin` (three numbers, m;
// None for the Earth's centre).
const qv::Params enu_params{"ENU", {"lat", "lon", "origin"}, 3, 2};

PyObject* enu_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[3];
    if (qv::bind_arguments(enu_params, args, kwargs, bound) < 0) return nullptr;
    double lat = PyFloat_AsDouble(bound[0]);
    if (lat == -1.0 && PyErr_Occurred()) return nullptr;
    double lon = PyFloat_AsDouble(bound[1]);
    if (lon == -1.0 && PyErr_Occurred()) return nullptr;
    double origin[3] = {0.0, 0.0, 0.0};
    if (bound[2] && bound[2] != Py_None) {
        Ref given = Ref::steal(PySequence_Fast(bound[2], "ENU() origin must be a sequence of three numbers"));
        // A snapshot: converting one component runs the caller's code
        // (__float__), which may change a list it was given in.
        Ref items = given ? Ref::steal(PySequence_Tuple(given.get())) : Ref{};
        if (!items) return nullptr;
        if (PySequence_Fast_GET_SIZE(items.get()) != 3) {
            PyErr_Format(PyExc_ValueError, "ENU() origin must have three components, got %zd",
                         PySequence_Fast_GET_SIZE(items.get()));
            return nullptr;
        }
        for (int i = 0; i < 3; ++i) {
            origin[i] = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(items.get(), i));
            if (origin[i] == -1.0 && PyErr_Occurred()) return nullptr;
        }
    }
    PyObject* self = new_frame(type, &enu_vtable, "ENU");
    if (!self) return nullptr;
    auto* enu = reinterpret_cast<ENUObject*>(self);
    std::memcpy(enu->origin, origin, sizeof origin);
    enu_rotation(lat, lon, enu->rot);
    return self;
}

// --- transform -----------------------------------------------------------------

// The name ("TEME", "ITRF" or "GCRF") of one of the three frame instances, or
// null with an exception.
const char* frame_name(PyObject* frame, const char* which) {
    if (frame == reinterpret_cast<PyObject*>(teme)) return "TEME";
    if (frame == reinterpret_cast<PyObject*>(itrf)) return "ITRF";
    if (frame == reinterpret_cast<PyObject*>(gcrf)) return "GCRF";
    PyErr_Format(PyExc_ValueError, "transform() %s must be TEME, ITRF or GCRF (of quorvane.frames.frames), got %R",
                 which, frame);
    return nullptr;
}

// The instants of `times` (anything Time accepts) as a one-dimensional int64
// array; *scalar tells whether a single instant was given.
Ref times_ns(PyObject* times, bool* scalar) {
    Ref time_type = qv::import_from("quorvane.time.time", "Time");
    if (!time_type) return {};
    Ref t = PyObject_TypeCheck(times, reinterpret_cast<PyTypeObject*>(time_type.get()))
                ? Ref::borrow(times)
                : Ref::steal(PyObject_CallOneArg(time_type.get(), times));
    Ref ns = t ? Ref::steal(PyObject_GetAttrString(t.get(), "int64")) : Ref{};
    if (!ns) return {};
    *scalar = PyLong_Check(ns.get());
    return Ref::steal(PyArray_FromAny(ns.get(), PyArray_DescrFromType(NPY_INT64), 0, 1,
                                      NPY_ARRAY_CARRAY_RO | NPY_ARRAY_ENSUREARRAY, nullptr));
}

// A float64, C-contiguous copy-if-needed of a position or velocity argument.
Ref vectors(PyObject* value, const char* name) {
    Ref array = Ref::steal(PyArray_FromAny(value, PyArray_DescrFromType(NPY_DOUBLE), 1, 3,
                                           NPY_ARRAY_CARRAY_RO | NPY_ARRAY_FORCECAST, nullptr));
    if (!array) {
        if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "transform() %s must be real numbers of shape (3,), (m, 3) or (n, m, 3)",
                         name);
        }
        return {};
    }
    return array;
}

const qv::Params transform_params{
    "transform", {"r", "v", "times", "frm", "to", "eop", "eop_policy", "threads"}, 8, 5, 3};

PyObject* transform(qv::Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[8] = {};
    if (qv::bind_arguments(transform_params, args, nargs, kwnames, a) < 0) return nullptr;
    const char* from = frame_name(a[3], "frm");
    const char* to = from ? frame_name(a[4], "to") : nullptr;
    if (!to) return nullptr;
    int threads = 1;
    if (qv::threads_argument(a[7], &threads) < 0) return nullptr;

    bool scalar = false;
    Ref ns = times_ns(a[2], &scalar);
    if (!ns) return nullptr;
    npy_intp m = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(ns.get()));
    Ref r = vectors(a[0], "r");
    if (!r) return nullptr;
    auto* ra = reinterpret_cast<PyArrayObject*>(r.get());
    int nd = PyArray_NDIM(ra);
    const npy_intp* dims = PyArray_DIMS(ra);
    bool ok = dims[nd - 1] == 3 && (scalar ? nd <= 2 : nd >= 2 && dims[nd - 2] == m);
    if (!ok) {
        Ref shape = Ref::steal(PyObject_GetAttrString(r.get(), "shape"));
        if (shape)
            PyErr_Format(PyExc_ValueError,
                         scalar ? "transform() r has shape %R; one time needs (3,) or (n, 3)"
                                : "transform() r has shape %R; %zd times need (%zd, 3) or (n, %zd, 3)",
                         shape.get(), static_cast<Py_ssize_t>(m), static_cast<Py_ssize_t>(m),
                         static_cast<Py_ssize_t>(m));
        return nullptr;
    }
    Ref v;
    if (a[1] && a[1] != Py_None) {
        v = vectors(a[1], "v");
        if (!v) return nullptr;
        if (!PyArray_SAMESHAPE(ra, reinterpret_cast<PyArrayObject*>(v.get()))) {
            Ref rs = Ref::steal(PyObject_GetAttrString(r.get(), "shape"));
            Ref vs = Ref::steal(PyObject_GetAttrString(v.get(), "shape"));
            if (rs && vs) PyErr_Format(PyExc_ValueError, "transform() v has shape %R, r has shape %R", vs.get(), rs.get());
            return nullptr;
        }
    }

    // The per-time matrices, once per time (pyerfa, vectorised over the times).
    Ref matrices = qv::import_from("quorvane.frames._orientation", "matrices");
    if (!matrices) return nullptr;
    Ref from_name = Ref::steal(PyUnicode_FromString(from));
    Ref to_name = Ref::steal(PyUnicode_FromString(to));
    Ref policy = a[6] ? Ref::borrow(a[6]) : Ref::steal(PyUnicode_FromString("warn"));
    if (!from_name || !to_name || !policy) return nullptr;
    Ref pair = Ref::steal(PyObject_CallFunctionObjArgs(matrices.get(), ns.get(), from_name.get(), to_name.get(),
                                                       a[5] ? a[5] : Py_None, policy.get(), nullptr));
    if (!pair) return nullptr;
    Ref rot, rate;
    if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_SetString(PyExc_RuntimeError, "transform(): the orientation matrices are not a pair");
        return nullptr;
    }
    rot = Ref::steal(PyArray_FromAny(PyTuple_GET_ITEM(pair.get(), 0), PyArray_DescrFromType(NPY_DOUBLE), 3, 3,
                                     NPY_ARRAY_CARRAY_RO, nullptr));
    rate = rot ? Ref::steal(PyArray_FromAny(PyTuple_GET_ITEM(pair.get(), 1), PyArray_DescrFromType(NPY_DOUBLE), 3, 3,
                                            NPY_ARRAY_CARRAY_RO, nullptr))
               : Ref{};
    if (!rate) return nullptr;
    if (PyArray_DIM(reinterpret_cast<PyArrayObject*>(rot.get()), 0) != m ||
        PyArray_DIM(reinterpret_cast<PyArrayObject*>(rate.get()), 0) != m) {
        PyErr_SetString(PyExc_RuntimeError, "transform(): the orientation matrices do not match the times");
        return nullptr;
    }

    // Outputs allocated once, at their final shape.
    Ref r_out = Ref::steal(PyArray_SimpleNew(nd, const_cast<npy_intp*>(dims), NPY_DOUBLE));
    Ref v_out = v ? Ref::steal(PyArray_SimpleNew(nd, const_cast<npy_intp*>(dims), NPY_DOUBLE)) : Ref::borrow(Py_None);
    if (!r_out || !v_out) return nullptr;
    const double* R = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(rot.get())));
    const double* Rdot = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(rate.get())));
    const double* rin = static_cast<const double*>(PyArray_DATA(ra));
    const double* vin = v ? static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v.get()))) : nullptr;
    double* rout = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(r_out.get())));
    double* vout = v ? static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(v_out.get()))) : nullptr;
    const std::size_t samples = static_cast<std::size_t>(PyArray_SIZE(ra) / 3);
    const std::size_t mm = scalar ? 1 : static_cast<std::size_t>(m);
    if (samples > 0) {
        constexpr std::size_t chunk = 16384;
        const std::size_t tasks = (samples + chunk - 1) / chunk;
        Py_BEGIN_ALLOW_THREADS;
        qv::parallel_for(tasks, std::min<int>(threads, static_cast<int>(tasks)), [&](std::size_t t) {
            qv::frames::rotate_samples(R, Rdot, mm, rin, vin, rout, vout, t * chunk, std::min(samples, (t + 1) * chunk));
        });
        Py_END_ALLOW_THREADS;
    }
    return PyTuple_Pack(2, r_out.get(), v_out.get());
}

const char transform_doc[] =
    "transform(r, v, times, frm, to, *, eop=None, eop_policy='warn', threads=None)\n"
    "--\n\n"
    "Positions and velocities from one frame to another (TEME, ITRF, GCRF).\n\n"
    "TEME to ITRF: R = W R3(GMST82(UT1)), W the polar motion (Vallado et al.\n"
    "2006, \"Revisiting Spacetrack Report #3\"); GCRF to ITRF: IAU 2006/2000A,\n"
    "CIO based, with the IERS pole offsets dX, dY (erfa.xys06a, c2ixys, era00,\n"
    "pom00); TEME to GCRF through ITRF.  Velocities include the Earth-rotation\n"
    "term, omega = 7.292115146706979e-5 (1 - LOD / 86400) rad/s.  The matrices are\n"
    "computed once per time; the rotation of the samples runs natively without\n"
    "the interpreter lock.\n\n"
    "Parameters\n----------\n"
    "r : array_like of float, shape (m, 3) or (n, m, 3)\n"
    "    Positions (any length unit) at the m times, for n objects; (3,) or (n, 3)\n"
    "    with a single time.\n"
    "v : array_like of float or None\n"
    "    Velocities, shaped like `r` (length unit per second), or None.\n"
    "times : Time or anything Time accepts\n"
    "    The m instants (UTC).\n"
    "frm, to : TEME, ITRF or GCRF\n"
    "    The frame instances of this module.\n"
    "eop : None, str, os.PathLike or quorvane.frames.eop.EOP, keyword-only\n"
    "    Earth orientation table (None: the table of astropy-iers-data).\n"
    "eop_policy : {'warn', 'raise', 'zero'}, keyword-only\n"
    "    Times outside the table: see quorvane.frames.eop.EOP.at.\n"
    "threads : int, keyword-only, optional\n"
    "    Threads for the rotation (None: every available processor); the results\n"
    "    are the same bits for every count.\n\n"
    "Returns\n-------\n"
    "(r, v) : tuple of numpy.ndarray of float64 (v None when None was given)\n"
    "    Shaped like the inputs, in frame `to`.\n";

const qv::FunctionDef transform_def{"transform", transform_doc, transform, transform_params};

PyMemberDef frame_members[] = {
    {"name", Py_T_OBJECT_EX, offsetof(FrameObject, name), Py_READONLY, "The frame's name (str)."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot frame_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(frame_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(frame_repr)},
    {Py_tp_members, frame_members},
    {Py_tp_doc, const_cast<char*>("Base class of the reference frames.")},
    {0, nullptr},
};
PyType_Slot gcrf_slots[] = {
    {Py_tp_doc, const_cast<char*>("Geocentric Celestial Reference Frame; its one instance is GCRF.")},
    {0, nullptr},
};
PyType_Slot itrf_slots[] = {
    {Py_tp_doc, const_cast<char*>("International Terrestrial Reference Frame; its one instance is ITRF.")},
    {0, nullptr},
};
PyType_Slot teme_slots[] = {
    {Py_tp_doc, const_cast<char*>("True Equator, Mean Equinox frame of SGP4; its one instance is TEME.")},
    {0, nullptr},
};
PyType_Slot enu_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(enu_new)},
    {Py_tp_doc, const_cast<char*>("ENU(lat, lon, origin=None)\n\n"
                                  "East-north-up frame of a site at geodetic latitude and longitude (rad),\n"
                                  "centred on the ITRF position `origin` (m; None for the Earth's centre).")},
    {0, nullptr},
};

constexpr unsigned int singleton = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;
PyType_Spec frame_spec{"quorvane.frames.frames.Frame", sizeof(FrameObject), 0, singleton | Py_TPFLAGS_BASETYPE,
                       frame_slots};
PyType_Spec gcrf_spec{"quorvane.frames.frames._GCRF", sizeof(GCRFObject), 0, singleton, gcrf_slots};
PyType_Spec itrf_spec{"quorvane.frames.frames._ITRF", sizeof(ITRFObject), 0, singleton, itrf_slots};
PyType_Spec teme_spec{"quorvane.frames.frames._TEME", sizeof(TEMEObject), 0, singleton, teme_slots};
PyType_Spec enu_spec{"quorvane.frames.frames.ENU", sizeof(ENUObject), 0, Py_TPFLAGS_DEFAULT, enu_slots};

// One instance of a singleton frame type, as native variable and attribute.
template <class T>
int add_instance(PyObject* module, PyTypeObject* type, void* vtable, const char* name, T** variable) {
    PyObject* instance = new_frame(type, vtable, name);
    if (!instance) return -1;
    *variable = reinterpret_cast<T*>(instance);  // owned for the process
    return qv::module_add(module, name, instance);
}

int steps(PyObject* module) {
    if (qv::export_variable(module, "GCRF", &gcrf, gcrf_signature) < 0 ||
        qv::export_variable(module, "ITRF", &itrf, itrf_signature) < 0 ||
        qv::export_variable(module, "TEME", &teme, teme_signature) < 0) {
        return -1;
    }
    PyTypeObject* frame = qv::add_type(module, &frame_spec, nullptr, nullptr);
    if (!frame) return -1;
    PyTypeObject* gcrf_type = qv::add_type(module, &gcrf_spec, frame, &gcrf_vtable);
    PyTypeObject* itrf_type = gcrf_type ? qv::add_type(module, &itrf_spec, frame, &itrf_vtable) : nullptr;
    PyTypeObject* teme_type = itrf_type ? qv::add_type(module, &teme_spec, frame, &teme_vtable) : nullptr;
    if (!teme_type || !qv::add_type(module, &enu_spec, frame, &enu_vtable)) return -1;
    if (add_instance(module, gcrf_type, &gcrf_vtable, "GCRF", &gcrf) < 0 ||
        add_instance(module, itrf_type, &itrf_vtable, "ITRF", &itrf) < 0 ||
        add_instance(module, teme_type, &teme_vtable, "TEME", &teme) < 0) {
        return -1;
    }
    Ref annotations = qv::make_annotations({{"return", "tuple[numpy.ndarray, numpy.ndarray | None]"}});
    if (!annotations || qv::add_function(module, &transform_def, module_path, annotations.get()) < 0) return -1;
    PyObject* fn = PyObject_GetAttrString(module, "transform");
    if (!fn) return -1;
    Ref defaults = Ref::steal(Py_BuildValue("(OsO)", Py_None, "warn", Py_None));
    if (!defaults) {
        Py_DECREF(fn);
        return -1;
    }
    qv::set_object_defaults(fn, defaults.get());
    Py_DECREF(fn);
    return 0;
}

qv::ModuleFrame frame{"frames", module_path,
                      "Reference frames: GCRF, ITRF and TEME instances, topocentric ENU frames, and transform().",
                      steps, true};

}  // namespace

PyMODINIT_FUNC PyInit_frames() { return frame.init(); }
