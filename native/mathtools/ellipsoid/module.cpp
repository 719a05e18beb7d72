// quorvane.mathtools.ellipsoid.ellipsoid: the reference-ellipsoid type
// Ellipsoid and the instances WGS84, WGS72 and GRS80 (native variables and
// module attributes).
#include <structmember.h>

#include <cmath>

#include "runtime/runtime.hpp"
#include "mathtools/ellipsoid/ellipsoid.hpp"
#include "mathtools/ellipsoid/geodesy.hpp"

namespace {

using qv::Ref;
using namespace qv::ellipsoid;

constexpr const char* module_path = "quorvane.mathtools.ellipsoid.ellipsoid";

// Exported by address before they are assigned; read-only after import.
EllipsoidObject* wgs84 = nullptr;
EllipsoidObject* wgs72 = nullptr;
EllipsoidObject* grs80 = nullptr;

PyTypeObject* ellipsoid_type = nullptr;

void vt_ecef_from_geodetic(EllipsoidObject* self, double lat, double lon, double alt, double* r) {
    ecef_from_geodetic(self->a, self->e2, lat, lon, alt, r);
}
EllipsoidVTable ellipsoid_vtable{vt_ecef_from_geodetic};

// An ellipsoid from its equatorial radius a (m) and flattening f; b and e2
// are derived: b = a (1 - f), e2 = f (2 - f).
PyObject* make_ellipsoid(PyTypeObject* type, double a, double f, PyObject* name) {
    if (!(std::isfinite(a) && a > 0.0) || !(f >= 0.0 && f < 1.0)) {
        PyErr_SetString(PyExc_ValueError, "Ellipsoid() needs a finite a > 0 and a flattening 0 <= f < 1");
        return nullptr;
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    e->vtab = &ellipsoid_vtable;
    e->a = a;
    e->f = f;
    e->b = a * (1.0 - f);
    e->e2 = f * (2.0 - f);
    e->name = Py_NewRef(name);
    return self;
}

const qv::Params ellipsoid_params{"Ellipsoid", {"a", "f", "name"}, 3, 3};

PyObject* ellipsoid_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[3];
    if (qv::bind_arguments(ellipsoid_params, args, kwargs, bound) < 0) return nullptr;
    double a = PyFloat_AsDouble(bound[0]);
    if (a == -1.0 && PyErr_Occurred()) return nullptr;
    double f = PyFloat_AsDouble(bound[1]);
    if (f == -1.0 && PyErr_Occurred()) return nullptr;
    if (qv::check_exact_str(bound[2], "name", false) < 0) return nullptr;
    return make_ellipsoid(type, a, f, bound[2]);
}

void ellipsoid_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<EllipsoidObject*>(self)->name);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* ellipsoid_repr(PyObject* self) {
    auto* e = reinterpret_cast<EllipsoidObject*>(self);
    Ref a = Ref::steal(PyFloat_FromDouble(e->a));
    Ref f = Ref::steal(PyFloat_FromDouble(e->f));
    if (!a || !f) return nullptr;
    return PyUnicode_FromFormat("Ellipsoid(a=%R, f=%R, name=%R)", a.get(), f.get(), e->name);
}

PyMemberDef ellipsoid_members[] = {
    {"a", Py_T_DOUBLE, offsetof(EllipsoidObject, a), Py_READONLY, "Equatorial radius (m)."},
    {"f", Py_T_DOUBLE, offsetof(EllipsoidObject, f), Py_READONLY, "Flattening."},
    {"b", Py_T_DOUBLE, offsetof(EllipsoidObject, b), Py_READONLY, "Polar radius (m): a (1 - f)."},
    {"e2", Py_T_DOUBLE, offsetof(EllipsoidObject, e2), Py_READONLY, "First eccentricity squared: f (2 - f)."},
    {"name", Py_T_OBJECT_EX, offsetof(EllipsoidObject, name), Py_READONLY, "Name (str)."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot ellipsoid_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(ellipsoid_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(ellipsoid_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(ellipsoid_repr)},
    {Py_tp_members, ellipsoid_members},
    {Py_tp_doc, const_cast<char*>("Ellipsoid(a, f, name)\n\n"
                                  "Reference ellipsoid of equatorial radius a (m) and flattening f.")},
    {0, nullptr},
};
PyType_Spec ellipsoid_spec{"quorvane.mathtools.ellipsoid.ellipsoid.Ellipsoid", sizeof(EllipsoidObject), 0,
                           Py_TPFLAGS_DEFAULT, ellipsoid_slots};

// The defining constants: a and the inverse flattening 1/f.
struct Definition {
    const char* name;
    double a;
    double inverse_f;
    EllipsoidObject** variable;
};
const Definition definitions[] = {
    {"WGS84", 6378137.0, 298.257223563, &wgs84},
    {"WGS72", 6378135.0, 298.26, &wgs72},
    {"GRS80", 6378137.0, 298.257222101, &grs80},
};

int steps(PyObject* module) {
    for (const Definition& d : definitions) {
        if (qv::export_variable(module, d.name, d.variable, ellipsoid_signature) < 0) return -1;
    }
    ellipsoid_type = qv::add_type(module, &ellipsoid_spec, nullptr, &ellipsoid_vtable);  // held for the process
    if (!ellipsoid_type) return -1;
    for (const Definition& d : definitions) {
        Ref name = Ref::steal(PyUnicode_FromString(d.name));
        if (!name) return -1;
        PyObject* instance = make_ellipsoid(ellipsoid_type, d.a, 1.0 / d.inverse_f, name.get());
        if (!instance) return -1;
        *d.variable = reinterpret_cast<EllipsoidObject*>(instance);  // owned for the process
        if (qv::module_add(module, d.name, instance) < 0) return -1;
    }
    return 0;
}

qv::ModuleFrame frame{"ellipsoid", module_path, "Reference ellipsoids: WGS84, WGS72 and GRS80.", steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_ellipsoid() { return frame.init(); }
