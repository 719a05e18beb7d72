// quorvane.frames.frames: the reference frames Frame, _GCRF, _ITRF, _TEME
// and ENU, and the three frame instances GCRF, ITRF and TEME (as native
// variables and as module attributes).
#include <structmember.h>

#include <cstring>

#include "runtime/runtime.hpp"
#include "frames/frames/frames.hpp"
#include "frames/frames/rotations.hpp"

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
    return 0;
}

qv::ModuleFrame frame{"frames", module_path,
                      "Reference frames: GCRF, ITRF and TEME instances and topocentric ENU frames.", steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_frames() { return frame.init(); }
