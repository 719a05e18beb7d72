// ELSET: the records of one satellite as one time-ordered element set.
//
// Construction sorts the records by epoch, checks that they belong to one
// satellite, allocates twelve float64 arrays and one int64 work array at
// their final length, fills them in one pass from the records' native fields
// and builds one Time of all epochs.  The element arrays are handed out as
// new NumPy arrays over the stored memory.
#include "propagators/analytical/sgp4/duoline/bound.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace qv::duoline {

namespace {

ElsetObject* as_set(PyObject* o) { return reinterpret_cast<ElsetObject*>(o); }

struct ArrayField {
    ElementView ElsetObject::*view;
    double DuolineObject::*value;
};

// In the order the arrays are allocated and filled.
constexpr ArrayField array_fields[] = {
    {&ElsetObject::_sma, &DuolineObject::sma}, {&ElsetObject::_ecc, &DuolineObject::ecc},
    {&ElsetObject::_inc, &DuolineObject::inc}, {&ElsetObject::_arp, &DuolineObject::arp},
    {&ElsetObject::_raa, &DuolineObject::raa}, {&ElsetObject::_tra, &DuolineObject::tra},
    {&ElsetObject::_mnm, &DuolineObject::mnm}, {&ElsetObject::_orp, &DuolineObject::orp},
    {&ElsetObject::_eca, &DuolineObject::eca}, {&ElsetObject::_mea, &DuolineObject::mea},
    {&ElsetObject::_pge, &DuolineObject::pge}, {&ElsetObject::_apg, &DuolineObject::apg},
};

// An integer from an object the way a C integer field takes it: an int as
// it is, anything else through its __int__; TypeError "an integer is
// required" when there is none.
Ref as_integer(PyObject* value) {
    if (PyLong_Check(value)) return Ref::borrow(value);
    PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
    Ref result = number && number->nb_int ? Ref::steal(number->nb_int(value)) : Ref();
    if (!result) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an integer is required");
        return {};
    }
    if (!PyLong_Check(result.get())) {
        PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(result.get())->tp_name);
        return {};
    }
    return result;
}

int to_int64(PyObject* value, long long* out, const char* c_type) {
    Ref number = as_integer(value);
    if (!number) return -1;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (overflow) {
        PyErr_Format(PyExc_OverflowError, "value too large to convert to %s", c_type);
        return -1;
    }
    *out = v;
    return 0;
}

int to_int32(PyObject* value, std::int32_t* out) {
    long long v;
    if (to_int64(value, &v, "int") < 0) return -1;
    if (v < INT32_MIN || v > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    *out = static_cast<std::int32_t>(v);
    return 0;
}

// numpy.zeros(shape=self.size, dtype=dtype) as a writable 1-D view of
// `type_number` elements.
int allocate(PyObject* self, PyObject* dtype, int type_number, const char* c_type, ElementView* view) {
    Ref size = Ref::steal(PyObject_GetAttr(self, names.size));
    if (!size) return -1;
    PyObject* args[2] = {size.get(), dtype};
    Ref array = Ref::steal(PyObject_Vectorcall(names.numpy_zeros, args, 0, names.shape_dtype_kw));
    if (!array) return -1;
    if (!PyArray_Check(array.get())) {
        PyErr_Format(PyExc_TypeError, "numpy.zeros returned %.200s, not an array", Py_TYPE(array.get())->tp_name);
        return -1;
    }
    auto* a = reinterpret_cast<PyArrayObject*>(array.get());
    if (PyArray_NDIM(a) != 1) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected 1, got %d)", PyArray_NDIM(a));
        return -1;
    }
    if (PyArray_TYPE(a) != type_number || !PyArray_ISWRITEABLE(a)) {
        Ref got = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(a))));
        if (got) PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected '%s' but got '%U'", c_type, got.get());
        return -1;
    }
    replace(&view->array, array.release());
    view->data = PyArray_BYTES(a);
    view->size = PyArray_DIM(a, 0);
    view->stride = PyArray_STRIDE(a, 0);
    return 0;
}

void release(ElementView* view) {
    view->data = nullptr;
    view->size = view->stride = 0;
    Py_CLEAR(view->array);
}

template <class T>
int store(const ElementView& view, Py_ssize_t i, T value) {
    if (i >= view.size) {
        PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
        return -1;
    }
    store_unaligned(view.data + i * view.stride, value);
    return 0;
}

// One pass over the sorted records: the epoch integer through the record's
// Time, the twelve elements straight from the record's native fields.
int fill(PyObject* self, ElsetObject* e, const ElementView& epochs) {
    Ref size = Ref::steal(PyObject_GetAttr(self, names.size));
    if (!size) return -1;
    Py_ssize_t n = PyNumber_AsSsize_t(size.get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) return -1;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i >= PyList_GET_SIZE(e->elements)) {
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            return -1;
        }
        Ref item = Ref::borrow(PyList_GET_ITEM(e->elements, i));
        if (!PyObject_TypeCheck(item.get(), bound.DUOLINE)) {
            PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(item.get())->tp_name,
                         bound.DUOLINE->tp_name);
            return -1;
        }
        auto* record = reinterpret_cast<DuolineObject*>(item.get());
        Ref instant = Ref::steal(PyObject_GetAttr(record->epoch, names.int64));
        if (!instant) return -1;
        long long ns;
        if (to_int64(instant.get(), &ns, "int64_t") < 0 || store<std::int64_t>(epochs, i, ns) < 0) return -1;
        for (const ArrayField& f : array_fields) {
            if (store<double>(e->*f.view, i, record->*f.value) < 0) return -1;
        }
    }
    return 0;
}

const Params cinit_params{"__cinit__", {"satname"}, 1, 0};

int build(PyObject* self, PyObject* args, PyObject* kwds) {
    ElsetObject* e = as_set(self);
    PyObject* satname = nullptr;
    if (bind_keywords(cinit_params, kwds, &satname) < 0) return -1;
    if (!satname) satname = Py_None;
    if (check_exact_str(satname, "satname", true) < 0) return -1;

    // Stable sort by epoch with `<`, as sorted(records, key=epoch) does.
    Ref records = Ref::steal(PySequence_List(args));
    if (!records) return -1;
    PyObject* sort_args[2] = {records.get(), names.by_epoch};
    Ref sorted = Ref::steal(PyObject_VectorcallMethod(names.sort, sort_args, 1, names.key_kw));
    if (!sorted) return -1;
    replace(&e->elements, records.release());

    if (PyObject_SetAttr(self, names.satname, satname) < 0) return -1;

    Ref satnos = Ref::steal(PySet_New(nullptr));
    if (!satnos) return -1;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(e->elements); ++i) {
        Ref record = Ref::borrow(PyList_GET_ITEM(e->elements, i));
        Ref satno = Ref::steal(PyObject_GetAttr(record.get(), names.satno));
        if (!satno || PySet_Add(satnos.get(), satno.get()) < 0) return -1;
    }
    if (bound.assertions && PySet_GET_SIZE(satnos.get()) != 1) {
        PyErr_SetNone(PyExc_AssertionError);
        return -1;
    }
    Ref satno = Ref::steal(PySet_Pop(satnos.get()));
    if (!satno || to_int32(satno.get(), &e->_satno) < 0) return -1;

    ElementView epochs{};
    int ok = allocate(self, names.numpy_int64, NPY_INT64, "int64_t", &epochs);
    for (const ArrayField& f : array_fields) {
        if (ok < 0) break;
        ok = allocate(self, names.numpy_double, NPY_DOUBLE, "double", &(e->*f.view));
    }
    if (ok == 0) ok = fill(self, e, epochs);
    Ref epoch_array = Ref::steal(epochs.array);
    if (ok < 0) return -1;
    PyObject* epoch = PyObject_CallOneArg(reinterpret_cast<PyObject*>(bound.Time), epoch_array.get());
    if (!epoch) return -1;
    replace(&e->epoch, epoch);
    return 0;
}

PyObject* elset_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    newfunc base_new = bound.Representable->tp_new;
    Ref self = Ref::steal(base_new ? base_new(type, args, kwds) : type->tp_alloc(type, 0));
    if (!self) return nullptr;
    ElsetObject* e = as_set(self.get());
    replace(&e->epoch, Py_NewRef(Py_None));
    replace(&e->elements, Py_NewRef(Py_None));
    // A failed construction releases the half-built set here.
    if (build(self.get(), args, kwds) < 0) return nullptr;
    return self.release();
}

int elset_traverse(PyObject* self, visitproc visit, void* arg) {
    PyTypeObject* base = bound.Representable;
    ElsetObject* e = as_set(self);
    if (!(base->tp_flags & Py_TPFLAGS_HEAPTYPE)) Py_VISIT(Py_TYPE(self));
    Py_VISIT(e->epoch);
    Py_VISIT(e->elements);
    for (const ArrayField& f : array_fields) Py_VISIT((e->*f.view).array);
    return base->tp_traverse ? base->tp_traverse(self, visit, arg) : 0;
}

int elset_clear(PyObject* self) {
    ElsetObject* e = as_set(self);
    replace(&e->epoch, Py_NewRef(Py_None));
    replace(&e->elements, Py_NewRef(Py_None));
    for (const ArrayField& f : array_fields) release(&(e->*f.view));
    inquiry base_clear = bound.Representable->tp_clear;
    return base_clear ? base_clear(self) : 0;
}

void elset_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyTypeObject* base = bound.Representable;
    ElsetObject* e = as_set(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(e->epoch);
    Py_CLEAR(e->elements);
    for (const ArrayField& f : array_fields) release(&(e->*f.view));
    bool base_releases_type = base->tp_flags & Py_TPFLAGS_HEAPTYPE;
    base->tp_dealloc(self);
    if (!base_releases_type) Py_DECREF(type);
}

// ---- Attributes

PyObject* get_size(PyObject* self, void*) {
    PyObject* elements = as_set(self)->elements;
    Py_ssize_t n = PyList_Check(elements) ? PyList_GET_SIZE(elements) : PyObject_Size(elements);
    return n < 0 ? nullptr : PyLong_FromSsize_t(n);
}

PyObject* get_satname(PyObject* self, void*) { return PyObject_GetAttr(self, names.satname); }

PyObject* get_satno(PyObject* self, void*) { return PyLong_FromLong(as_set(self)->_satno); }

PyObject* get_epoch(PyObject* self, void*) { return Py_NewRef(as_set(self)->epoch); }

// A new array object over the stored memory on every read.
PyObject* get_array(PyObject* self, void* closure) {
    const ElementView& view = as_set(self)->*(static_cast<const ArrayField*>(closure)->view);
    if (!view.array) {
        PyErr_SetString(PyExc_ValueError, "the element set's arrays are not allocated");
        return nullptr;
    }
    return PyArray_View(reinterpret_cast<PyArrayObject*>(view.array), nullptr, &PyArray_Type);
}

#define QV_ARRAY_ATTRIBUTE(name, index)                                                           \
    {#name, get_array, nullptr, "ELSET." #name ": ndarray[double]",                                 \
     const_cast<void*>(static_cast<const void*>(&array_fields[index]))}

PyGetSetDef elset_getset[] = {
    {"size", get_size, nullptr, "ELSET.size: int", nullptr},
    {"satname", get_satname, nullptr, "ELSET.satname: str", nullptr},
    {"satno", get_satno, nullptr, "ELSET.satno: int | str", nullptr},
    QV_ARRAY_ATTRIBUTE(ecc, 1),
    QV_ARRAY_ATTRIBUTE(sma, 0),
    QV_ARRAY_ATTRIBUTE(inc, 2),
    QV_ARRAY_ATTRIBUTE(raa, 4),
    QV_ARRAY_ATTRIBUTE(arp, 3),
    QV_ARRAY_ATTRIBUTE(tra, 5),
    QV_ARRAY_ATTRIBUTE(mnm, 6),
    QV_ARRAY_ATTRIBUTE(orp, 7),
    QV_ARRAY_ATTRIBUTE(eca, 8),
    QV_ARRAY_ATTRIBUTE(mea, 9),
    QV_ARRAY_ATTRIBUTE(pge, 10),
    QV_ARRAY_ATTRIBUTE(apg, 11),
    {"epoch", get_epoch, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef QV_ARRAY_ATTRIBUTE

// ---- Text

PyObject* get_header(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, bound.ELSET, "_get_header") < 0) return nullptr;
    if (bind_no_arguments("_get_header", nargs - 1, kwnames) < 0) return nullptr;
    Ref satname = Ref::steal(PyObject_GetAttr(self, names.satname_attribute));
    if (!satname) return nullptr;
    Ref name = Ref::steal(PyObject_Format(satname.get(), names.empty));
    if (!name) return nullptr;
    Ref satno = Ref::steal(PyObject_GetAttr(self, names.satno));
    if (!satno) return nullptr;
    Ref number = Ref::steal(PyObject_Format(satno.get(), names.empty));
    if (!number) return nullptr;
    return PyUnicode_FromFormat("ELSET %U (%U)", name.get(), number.get());
}

PyObject* get_body(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, bound.ELSET, "_get_body") < 0) return nullptr;
    if (bind_no_arguments("_get_body", nargs - 1, kwnames) < 0) return nullptr;
    Py_ssize_t n = PyObject_Size(as_set(self)->elements);
    if (n < 0) return nullptr;
    return PyUnicode_FromFormat("%zd elements", n);
}

const FunctionDef header_def{"ELSET._get_header", "ELSET._get_header(self) -> str", get_header,
                             {"_get_header", {}, 0, 0}, true};
const FunctionDef body_def{"ELSET._get_body", "ELSET._get_body(self) -> str", get_body, {"_get_body", {}, 0, 0},
                           true};

PyType_Slot elset_slots[] = {
    {Py_tp_doc, const_cast<char*>("TODO: must behave like Ephemeris")},
    {Py_tp_new, reinterpret_cast<void*>(elset_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(elset_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(elset_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(elset_clear)},
    {Py_tp_getset, elset_getset},
    {0, nullptr},
};

PyType_Spec elset_spec = {
    elset_type_name,
    sizeof(ElsetObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    elset_slots,
};

}  // namespace

PyTypeObject* prepare_elset(PyObject* module) {
    Ref type = Ref::steal(reinterpret_cast<PyObject*>(make_subclass(&elset_spec)));
    if (!type || module_add(module, "ELSET", type.get()) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

int add_elset_functions() {
    PyObject* type = reinterpret_cast<PyObject*>(bound.ELSET);
    for (const FunctionDef* def : {&header_def, &body_def}) {
        Ref annotations = make_annotations({{"return", "str"}});
        if (!annotations || add_function(type, def, module_path, annotations.get()) < 0) return -1;
    }
    return refuse_pickling(bound.ELSET, "ELSET", module_path);
}

}  // namespace qv::duoline
