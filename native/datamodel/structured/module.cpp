// quorvane.datamodel.structured: NumPy structured dtypes matching the C record
// structures of structured.hpp.  Each dtype is built from a list of
// (name, scalar type[, shape]) tuples with no other argument, so it is packed
// and in native byte order.
#include "datamodel/structured/structured.hpp"
#include "runtime/runtime.hpp"

namespace {

struct Field {
    const char* name;
    const char* scalar;  // attribute of numpy
    int shape;           // 0 for a scalar field, else a subarray of that length
};
struct DtypeDef {
    const char* name;
    std::initializer_list<Field> fields;
};

const DtypeDef dtypes[] = {
    {"SurfCoord_dtype", {{"lat", "double", 0}, {"lon", "double", 0}}},
    {"LLA_dtype", {{"lat", "double", 0}, {"lon", "double", 0}, {"alt", "double", 0}}},
    {"ENU_dtype", {{"u_east", "double", 3}, {"u_north", "double", 3}, {"u_up", "double", 3}}},
    {"AER_dtype", {{"azimuth", "double", 0}, {"elevation", "double", 0}, {"range", "double", 0}}},
    {"DTF_dtype",
     {{"year", "uint16", 0},
      {"month", "uint8", 0},
      {"day", "uint8", 0},
      {"hour", "uint8", 0},
      {"minute", "uint8", 0},
      {"second", "double", 0}}},
    {"GeoState_dt",
     {{"lat", "double", 0},
      {"lon", "double", 0},
      {"alt", "double", 0},
      {"lat_dot", "double", 0},
      {"lon_dot", "double", 0},
      {"alt_dot", "double", 0}}},
    {"ORBEL_dt",
     {{"ecc", "double", 0},
      {"sma", "double", 0},
      {"inc", "double", 0},
      {"raa", "double", 0},
      {"arp", "double", 0},
      {"tra", "double", 0},
      {"slr", "double", 0}}},
};

// Build one dtype with the module's `dtype` and scalar types read from the
// module's `numpy` at this moment.
qv::Ref build(PyObject* module, const DtypeDef& def) {
    qv::Ref np = qv::Ref::steal(PyObject_GetAttrString(module, "numpy"));
    qv::Ref dtype = qv::Ref::steal(PyObject_GetAttrString(module, "dtype"));
    if (!np || !dtype) return {};
    qv::Ref list = qv::Ref::steal(PyList_New(0));
    if (!list) return {};
    for (const Field& f : def.fields) {
        qv::Ref scalar = qv::Ref::steal(PyObject_GetAttrString(np.get(), f.scalar));
        if (!scalar) return {};
        qv::Ref item = qv::Ref::steal(f.shape ? Py_BuildValue("(sO(i))", f.name, scalar.get(), f.shape)
                                              : Py_BuildValue("(sO)", f.name, scalar.get()));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return {};
    }
    return qv::Ref::steal(PyObject_CallOneArg(dtype.get(), list.get()));
}

int steps(PyObject* module) {
    if (qv::module_import_as(module, "numpy", "numpy") < 0) return -1;
    qv::Ref dtype = qv::import_from("numpy", "dtype");
    if (!dtype || qv::module_add(module, "dtype", dtype.get()) < 0) return -1;
    for (const DtypeDef& def : dtypes) {
        qv::Ref value = build(module, def);
        if (!value || qv::module_add(module, def.name, value.get()) < 0) return -1;
    }
    qv::Ref test = qv::Ref::steal(PyDict_New());
    return test ? qv::module_add(module, "__test__", test.get()) : -1;
}

qv::ModuleFrame frame{"structured", "quorvane.datamodel.structured",
                      "Record layouts shared by quorvane's modules, as NumPy structured dtypes.", steps, false};

}  // namespace

PyMODINIT_FUNC PyInit_structured() { return frame.init(); }
