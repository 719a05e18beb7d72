// DUOLINE: one two-line element set, parsed once at construction.
//
// The record stores the two normalised lines, reads the satellite number,
// the epoch and the six mean elements from fixed columns, and derives six
// more elements with the orbel kernels.  Afterwards it is read-only.
#include <cstring>
#include <utility>

#include "bodies/bodies/bodies.hpp"
#include "propagators/analytical/sgp4/duoline/bound.hpp"
#include "propagators/analytical/sgp4/tle/columns.hpp"
#include "propagators/analytical/sgp4/tle/validate.hpp"
#include "runtime/runtime.hpp"

namespace qv::duoline {

namespace {

DuolineObject* as_record(PyObject* o) { return reinterpret_cast<DuolineObject*>(o); }

// The year as decimal text.  A two-character field gives -9 to 99, so the
// year is one of the hundred from 1957 to 2056; their texts are made once.
Ref year_text(int year) {
    constexpr int first = 1957, count = 100;
    static PyObject* texts[count] = {};
    if (year < first || year >= first + count) return Ref::steal(PyUnicode_FromFormat("%d", year));
    PyObject*& text = texts[year - first];
    if (!text) text = PyUnicode_FromFormat("%d", year);
    return Ref::borrow(text);
}

void parse_line1(DuolineObject* self) {
    std::memcpy(self->_satno, self->_line1 + tle::col::satno.offset, tle::col::satno.width);
    self->_satno[tle::col::satno.width] = '\0';

    int year = tle::full_year(tle::read_int(self->_line1, tle::col::year));
    double day = tle::read_double(self->_line1, tle::col::day);

    // Time(year) is 00:00 on 1 January; day 1.0 is that instant.
    Ref text = year_text(year);
    if (!text) return;
    Ref start = Ref::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(bound.Time), text.get()));
    if (!start) return;
    Ref start_jd = Ref::steal(PyObject_GetAttr(start.get(), names.jd));
    if (!start_jd) return;
    double jd = PyFloat_AsDouble(start_jd.get());
    if (jd == -1.0 && PyErr_Occurred()) return;
    Ref value = Ref::steal(PyFloat_FromDouble(jd - 1.0 + day));
    if (!value) return;
    PyObject* args[2] = {value.get(), names.jd};
    PyObject* epoch = PyObject_Vectorcall(reinterpret_cast<PyObject*>(bound.Time), args, 1, names.format_kw);
    if (!epoch) return;
    replace(&self->epoch, epoch);
}

void parse_line2(DuolineObject* self) {
    const tle::MeanElements e = tle::mean_elements(self->_line2, *bound.deg, *bound.rev, *bound.day);
    self->inc = e.inc;
    self->raa = e.raa;
    self->ecc = e.ecc;
    self->arp = e.arp;
    self->mea = e.mea;
    self->mnm = e.mnm;
}

DuolineVTable vtable = {parse_line1, parse_line2};

// Strip surrounding whitespace, upper-case, encode as ASCII and store the
// first 69 bytes, NUL-padded; `length` receives the length of the
// normalised text before the cut, which strict validation checks.  An ASCII str is normalised in place of the
// str methods (same result: ASCII whitespace, ASCII letters), which spares
// three temporary objects per line; any other str goes through str.strip,
// str.upper and the ASCII encoder, so a character that stays outside ASCII
// raises the encoder's UnicodeEncodeError.
void store_bytes(const char* text, Py_ssize_t length, char* out, bool upper) {
    Py_ssize_t n = length < line_size - 1 ? length : line_size - 1;
    for (Py_ssize_t i = 0; i < n; ++i) out[i] = upper ? static_cast<char>(Py_TOUPPER(text[i])) : text[i];
    std::memset(out + n, 0, static_cast<std::size_t>(line_size - n));
}

int store_line(PyObject* line, char* out, Py_ssize_t* length) {
    if (PyUnicode_IS_ASCII(line)) {
        const char* text = reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(line));
        Py_ssize_t end = PyUnicode_GET_LENGTH(line);
        Py_ssize_t begin = 0;
        while (begin < end && Py_UNICODE_ISSPACE(static_cast<unsigned char>(text[begin]))) ++begin;
        while (end > begin && Py_UNICODE_ISSPACE(static_cast<unsigned char>(text[end - 1]))) --end;
        *length = end - begin;
        store_bytes(text + begin, *length, out, true);
        return 0;
    }
    Ref stripped = Ref::steal(PyObject_CallMethodNoArgs(line, names.strip));
    if (!stripped) return -1;
    Ref upper = Ref::steal(PyObject_CallMethodNoArgs(stripped.get(), names.upper));
    if (!upper) return -1;
    Ref encoded = Ref::steal(PyUnicode_AsASCIIString(upper.get()));
    if (!encoded) return -1;
    *length = PyBytes_GET_SIZE(encoded.get());
    store_bytes(PyBytes_AS_STRING(encoded.get()), *length, out, false);
    return 0;
}

// The record's stored line is the field library's.
static_assert(line_size == tle::line_size);

// A class attribute of Earth (GM or Re) as a double, read afresh each time.
int read_earth(PyObject* name, double* value) { return bodies::earth_constant(bound.Earth, name, value); }

int derive_elements(DuolineObject* r) {
    double GM, Re;
    if (read_earth(names.GM, &GM) < 0) return -1;
    r->sma = bound.c_sma_from_mnm(r->mnm, GM);
    if (PyErr_Occurred()) return -1;
    if (read_earth(names.GM, &GM) < 0) return -1;
    r->orp = bound.c_orp_from_sma(r->sma, GM);
    if (PyErr_Occurred()) return -1;
    r->eca = bound.c_eca_from_mea(r->mea, r->ecc);
    if (PyErr_Occurred()) return -1;
    r->tra = bound.c_tra_from_eca(r->eca, r->ecc);
    if (PyErr_Occurred()) return -1;
    if (read_earth(names.Re, &Re) < 0) return -1;
    r->pge = bound.c_pge_from_sma_ecc(r->sma, r->ecc, Re);
    if (PyErr_Occurred()) return -1;
    if (read_earth(names.Re, &Re) < 0) return -1;
    r->apg = bound.c_apg_from_sma_ecc(r->sma, r->ecc, Re);
    if (PyErr_Occurred()) return -1;
    return 0;
}

// The native constructor.  The function name in argument-count messages is
// "__cinit__", as for every native constructor of the package.
const Params cinit_params{"__cinit__", {"line1", "line2", "strict_validation"}, 3, 2};

int build(DuolineObject* r, PyObject* args, PyObject* kwds) {
    PyObject* a[3];
    if (bind_arguments(cinit_params, args, kwds, a) < 0) return -1;
    // The truth value of strict_validation is taken before the lines are
    // looked at; the lines are validated once both are stored.
    int strict = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (strict < 0) return -1;
    if (check_exact_str(a[0], "line1", false) < 0 || check_exact_str(a[1], "line2", false) < 0) return -1;
    Py_ssize_t length1, length2;
    if (store_line(a[0], r->_line1, &length1) < 0 || store_line(a[1], r->_line2, &length2) < 0) return -1;
    if (strict) {
        tle::Fault fault;
        if (!tle::validate_lines(r->_line1, static_cast<std::size_t>(length1), r->_line2,
                            static_cast<std::size_t>(length2), &fault)) {
            PyErr_SetString(PyExc_ValueError, fault.message);
            return -1;
        }
        r->strict_validation = 1;
    }
    // The stored lines are NUL-padded: a NUL inside the text would end a
    // line as read back while the fields are read past it.  (Strict
    // validation names the field that holds it first.)
    for (auto [line, name] : {std::pair{a[0], "line1"}, std::pair{a[1], "line2"}}) {
        if (PyUnicode_FindChar(line, 0, 0, PyUnicode_GET_LENGTH(line), 1) != -1) {
            PyErr_Format(PyExc_ValueError, "%s contains a NUL character", name);
            return -1;
        }
    }
    r->vtab->parse_line1(r);
    if (PyErr_Occurred()) return -1;
    r->vtab->parse_line2(r);
    if (PyErr_Occurred()) return -1;
    return derive_elements(r);
}

PyObject* duoline_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    newfunc base_new = bound.Representable->tp_new;
    Ref self = Ref::steal(base_new ? base_new(type, args, kwds) : type->tp_alloc(type, 0));
    if (!self) return nullptr;
    DuolineObject* r = as_record(self.get());
    r->vtab = &vtable;
    replace(&r->epoch, Py_NewRef(Py_None));
    // A failed construction releases the record here; it never escapes.
    if (build(r, args, kwds) < 0) return nullptr;
    return self.release();
}

int duoline_traverse(PyObject* self, visitproc visit, void* arg) {
    PyTypeObject* base = bound.Representable;
    if (!(base->tp_flags & Py_TPFLAGS_HEAPTYPE)) Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_record(self)->epoch);
    return base->tp_traverse ? base->tp_traverse(self, visit, arg) : 0;
}

int duoline_clear(PyObject* self) {
    replace(&as_record(self)->epoch, Py_NewRef(Py_None));
    inquiry base_clear = bound.Representable->tp_clear;
    return base_clear ? base_clear(self) : 0;
}

void duoline_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyTypeObject* base = bound.Representable;
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_record(self)->epoch);
    // A heap-type base releases the reference instances hold on their type.
    bool base_releases_type = base->tp_flags & Py_TPFLAGS_HEAPTYPE;
    base->tp_dealloc(self);
    if (!base_releases_type) Py_DECREF(type);
}

// ---- Properties

PyObject* decode_stored(const char* text, std::size_t size) {
    return PyUnicode_DecodeASCII(text, static_cast<Py_ssize_t>(strnlen(text, size)), nullptr);
}

PyObject* get_line1(PyObject* self, void*) { return decode_stored(as_record(self)->_line1, line_size); }
PyObject* get_line2(PyObject* self, void*) { return decode_stored(as_record(self)->_line2, line_size); }

// The catalogue number as an int when the stripped field is a decimal
// number, else the stripped text itself (letters in the field).
PyObject* get_satno(PyObject* self, void*) {
    const char* field = as_record(self)->_satno;
    Py_ssize_t end = static_cast<Py_ssize_t>(strnlen(field, satno_size));
    Py_ssize_t begin = 0;
    while (begin < end && Py_UNICODE_ISSPACE(static_cast<unsigned char>(field[begin]))) ++begin;
    while (end > begin && Py_UNICODE_ISSPACE(static_cast<unsigned char>(field[end - 1]))) --end;
    Ref text = Ref::steal(PyUnicode_DecodeASCII(field + begin, end - begin, nullptr));
    if (!text) return nullptr;
    PyObject* number = PyLong_FromUnicodeObject(text.get(), 10);
    if (number || !PyErr_ExceptionMatches(PyExc_ValueError)) return number;
    PyErr_Clear();
    return text.release();
}

PyObject* get_epoch(PyObject* self, void*) { return Py_NewRef(as_record(self)->epoch); }

PyObject* get_double(PyObject* self, void* offset) {
    return PyFloat_FromDouble(
        *reinterpret_cast<double*>(reinterpret_cast<char*>(self) + reinterpret_cast<std::size_t>(offset)));
}

#define QV_DOUBLE_PROPERTY(field)                                                                     \
    {#field, get_double, nullptr, nullptr, reinterpret_cast<void*>(offsetof(DuolineObject, field))}

PyGetSetDef duoline_getset[] = {
    {"line1", get_line1, nullptr, "DUOLINE.line1: str", nullptr},
    {"line2", get_line2, nullptr, "DUOLINE.line2: str", nullptr},
    {"satno", get_satno, nullptr, "DUOLINE.satno: int | str", nullptr},
    {"epoch", get_epoch, nullptr, nullptr, nullptr},
    QV_DOUBLE_PROPERTY(inc),
    QV_DOUBLE_PROPERTY(raa),
    QV_DOUBLE_PROPERTY(ecc),
    QV_DOUBLE_PROPERTY(mea),
    QV_DOUBLE_PROPERTY(arp),
    QV_DOUBLE_PROPERTY(mnm),
    QV_DOUBLE_PROPERTY(sma),
    QV_DOUBLE_PROPERTY(orp),
    QV_DOUBLE_PROPERTY(eca),
    QV_DOUBLE_PROPERTY(tra),
    QV_DOUBLE_PROPERTY(pge),
    QV_DOUBLE_PROPERTY(apg),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef QV_DOUBLE_PROPERTY

PyType_Slot duoline_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(duoline_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(duoline_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(duoline_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(duoline_clear)},
    {Py_tp_getset, duoline_getset},
    {0, nullptr},
};

PyType_Spec duoline_spec = {
    duoline_type_name,
    sizeof(DuolineObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    duoline_slots,
};

}  // namespace

int check_self(PyObject* self, PyTypeObject* type, const char* method) {
    if (PyObject_TypeCheck(self, type)) return 0;
    const char* short_name = std::strrchr(type->tp_name, '.');
    PyErr_Format(PyExc_TypeError, "descriptor '%s' for '%s' objects doesn't apply to a '%.100s' object", method,
                 short_name ? short_name + 1 : type->tp_name, Py_TYPE(self)->tp_name);
    return -1;
}

// Build a native subclass of Representable.  The subclass's own fields
// follow the base part as this module's header lays it out, so a base whose
// instances are larger would overlap them: refuse it instead of corrupting
// both.
PyTypeObject* make_subclass(PyType_Spec* type_spec) {
    PyTypeObject* base = bound.Representable;
    if (static_cast<std::size_t>(base->tp_basicsize) > sizeof(representable::RepresentableObject)) {
        PyErr_Format(PyExc_TypeError,
                     "quorvane.utils.representable.Representable instances are larger (%zd bytes) than the "
                     "layout %.200s was built against (%zd bytes)",
                     base->tp_basicsize, type_spec->name, static_cast<Py_ssize_t>(sizeof(representable::RepresentableObject)));
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpecWithBases(type_spec, reinterpret_cast<PyObject*>(base)));
}

PyTypeObject* prepare_duoline(PyObject* module) {
    Ref type = Ref::steal(reinterpret_cast<PyObject*>(make_subclass(&duoline_spec)));
    if (!type) return nullptr;
    auto* t = reinterpret_cast<PyTypeObject*>(type.get());
    if (set_vtable(t, &vtable) < 0 || module_add(module, "DUOLINE", type.get()) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace qv::duoline
