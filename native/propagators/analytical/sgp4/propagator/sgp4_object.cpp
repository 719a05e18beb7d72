// The SGP4 type: built from records, an element set or a sequence of
// records, it initialises every element set once and keeps the constants.
//
// The records' native fields are read through the duoline layout header:
// the mean elements as the record holds them, and from the stored line 1
// what the record does not parse (B*, the exact epoch, the satellite
// number).  Initialisation of large catalogues runs without the
// interpreter lock, split over threads.
#include <algorithm>
#include <new>
#include <cstring>
#include <numeric>
#include <vector>

#include "propagators/analytical/sgp4/propagator/module.hpp"
#include "propagators/analytical/sgp4/tle/columns.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace qv::propagator {

namespace {

Sgp4Object* as_sgp4(PyObject* o) { return reinterpret_cast<Sgp4Object*>(o); }

struct Choice {
    const char* name;
    int value;
};
constexpr Choice gravities[] = {{"wgs72", static_cast<int>(sgp4::Gravity::wgs72)},
                                {"wgs84", static_cast<int>(sgp4::Gravity::wgs84)},
                                {"wgs72old", static_cast<int>(sgp4::Gravity::wgs72old)}};
constexpr Choice modes[] = {{"improved", static_cast<int>(sgp4::Mode::improved)},
                            {"afspc", static_cast<int>(sgp4::Mode::afspc)}};

template <std::size_t N>
const char* choice_name(const Choice (&choices)[N], int value) {
    for (const Choice& c : choices)
        if (c.value == value) return c.name;
    return "?";
}

// A str argument that must be one of `choices`: TypeError for another
// type, ValueError naming the allowed values.
template <std::size_t N>
int parse_choice(PyObject* value, const char* argument, const Choice (&choices)[N], int* out) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be a str, got %.200s", argument, Py_TYPE(value)->tp_name);
        return -1;
    }
    // Compared with the text's length, so an embedded NUL ("afspc\0x") is
    // no match.
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &length);
    if (!text) return -1;
    for (const Choice& c : choices) {
        if (static_cast<std::size_t>(length) == std::strlen(c.name) && std::memcmp(text, c.name, length) == 0) {
            *out = c.value;
            return 0;
        }
    }
    char allowed[128] = "";
    for (std::size_t i = 0; i < N; ++i) {
        std::strcat(allowed, i ? ", '" : "'");
        std::strcat(allowed, choices[i].name);
        std::strcat(allowed, "'");
    }
    PyErr_Format(PyExc_ValueError, "%s must be one of %s, got %R", argument, allowed, value);
    return -1;
}

// One record's elements: the six mean elements from its fields (rad/s
// becomes rad/min), B* and the exact epoch from its stored line 1.
int record_elements(PyObject* item, Py_ssize_t index, sgp4::Elements* el, std::int64_t* epoch,
                    std::int64_t* satno) {
    if (!PyObject_TypeCheck(item, bound.DUOLINE)) {
        PyErr_Format(PyExc_TypeError, "SGP4() needs DUOLINE records, got %.200s at index %zd",
                     Py_TYPE(item)->tp_name, index);
        return -1;
    }
    const auto* rec = reinterpret_cast<const duoline::DuolineObject*>(item);
    if (!tle::epoch_ns(rec->_line1, epoch)) {
        PyErr_Format(PyExc_ValueError, "SGP4(): the epoch of record %zd is outside the datetime64[ns] range",
                     index);
        return -1;
    }
    el->epoch = sgp4::epoch_days(*epoch);
    el->bstar = tle::bstar(rec->_line1);
    el->inclo = rec->inc;
    el->nodeo = rec->raa;
    el->ecco = rec->ecc;
    el->argpo = rec->arp;
    el->mo = rec->mea;
    el->no_kozai = rec->mnm * 60.0;
    *satno = tle::decode_satno(rec->_satno);
    return 0;
}

struct Gathered {
    std::vector<sgp4::Elements> elements;
    std::vector<std::int64_t> epochs, satnos;
};

int gather(PyObject* const* items, Py_ssize_t n, Gathered* g) {
    g->elements.resize(n);
    g->epochs.resize(n);
    g->satnos.resize(n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (record_elements(items[i], i, &g->elements[i], &g->epochs[i], &g->satnos[i]) < 0) return -1;
    }
    return 0;
}

// One column of a catalogue table as a C-contiguous array of `type`, read
// once for the whole table.
Ref column(PyObject* table, const char* name, int type, Py_ssize_t n) {
    Ref attr = Ref::steal(PyObject_GetAttrString(table, name));
    if (!attr) return {};
    Ref array = Ref::steal(PyArray_FromAny(attr.get(), PyArray_DescrFromType(type), 1, 1, NPY_ARRAY_CARRAY_RO, nullptr));
    if (!array) return {};
    if (PyArray_DIM(reinterpret_cast<PyArrayObject*>(array.get()), 0) != n) {
        PyErr_Format(PyExc_ValueError, "SGP4(): the table's column %s has %zd entries, satno has %zd", name,
                     static_cast<Py_ssize_t>(PyArray_DIM(reinterpret_cast<PyArrayObject*>(array.get()), 0)), n);
        return {};
    }
    return array;
}

// The catalogue table: its columns hold what the records hold (the same
// bits for the same lines), with B* and the exact epoch already parsed.
int gather_table(PyObject* table, Gathered* g) {
    Ref satno_attr = Ref::steal(PyObject_GetAttrString(table, "satno"));
    if (!satno_attr) return -1;
    Py_ssize_t n = PyObject_Length(satno_attr.get());
    if (n < 0) return -1;
    struct Column {
        const char* name;
        int type;
        Ref array;
    } columns[] = {{"satno", NPY_INT64, {}}, {"epoch_ns", NPY_INT64, {}}, {"bstar", NPY_DOUBLE, {}},
                   {"inc", NPY_DOUBLE, {}},  {"raa", NPY_DOUBLE, {}},        {"ecc", NPY_DOUBLE, {}},
                   {"arp", NPY_DOUBLE, {}},  {"mea", NPY_DOUBLE, {}},        {"mnm", NPY_DOUBLE, {}}};
    const void* data[9];
    for (int k = 0; k < 9; ++k) {
        columns[k].array = column(table, columns[k].name, columns[k].type, n);
        if (!columns[k].array) return -1;
        data[k] = PyArray_DATA(reinterpret_cast<PyArrayObject*>(columns[k].array.get()));
    }
    auto f = [&data](int k, Py_ssize_t i) { return static_cast<const double*>(data[k])[i]; };
    auto l = [&data](int k, Py_ssize_t i) { return static_cast<const std::int64_t*>(data[k])[i]; };
    g->elements.resize(n);
    g->epochs.resize(n);
    g->satnos.resize(n);
    for (Py_ssize_t i = 0; i < n; ++i) {
        g->satnos[i] = l(0, i);
        g->epochs[i] = l(1, i);
        if (g->epochs[i] == sgp4::nat) {
            PyErr_Format(PyExc_ValueError, "SGP4(): element set %zd of the table has no epoch (NaT)", i);
            return -1;
        }
        sgp4::Elements& el = g->elements[i];
        el.epoch = sgp4::epoch_days(g->epochs[i]);
        el.bstar = f(2, i);
        el.inclo = f(3, i);
        el.nodeo = f(4, i);
        el.ecco = f(5, i);
        el.argpo = f(6, i);
        el.mo = f(7, i);
        el.no_kozai = f(8, i) * 60.0;
    }
    return 0;
}

// Read the source into `g`; the kind of source decides result shapes.
int read_source(PyObject* source, Kind* kind, Gathered* g) {
    int is_table = PyObject_IsInstance(source, bound.Catalogue);
    if (is_table < 0) return -1;
    if (is_table) {
        *kind = Kind::many;
        return gather_table(source, g);
    }
    if (PyObject_TypeCheck(source, bound.DUOLINE)) {
        *kind = Kind::record;
        return gather(&source, 1, g);
    }
    if (PyObject_TypeCheck(source, bound.ELSET)) {
        *kind = Kind::history;
        PyObject* elements = reinterpret_cast<duoline::ElsetObject*>(source)->elements;
        if (!elements || !PyList_Check(elements)) {
            PyErr_SetString(PyExc_TypeError, "SGP4() got an ELSET without records");
            return -1;
        }
        Ref list = Ref::steal(PyList_GetSlice(elements, 0, PyList_GET_SIZE(elements)));
        if (!list) return -1;
        Py_ssize_t n = PyList_GET_SIZE(list.get());
        if (n == 0) {
            PyErr_SetString(PyExc_ValueError, "SGP4() got an ELSET without records");
            return -1;
        }
        return gather(PySequence_Fast_ITEMS(list.get()), n, g);
    }
    if (PyUnicode_Check(source) || PyBytes_Check(source) || PyByteArray_Check(source) || PyDict_Check(source) ||
        !PySequence_Check(source)) {
        PyErr_Format(PyExc_TypeError,
                     "SGP4() needs a DUOLINE, an ELSET, a sequence of DUOLINE records or a Catalogue, got %.200s",
                     Py_TYPE(source)->tp_name);
        return -1;
    }
    *kind = Kind::many;
    Ref items = Ref::steal(PySequence_Fast(source, "SGP4() needs a sequence of DUOLINE records"));
    if (!items) return -1;
    return gather(PySequence_Fast_ITEMS(items.get()), PySequence_Fast_GET_SIZE(items.get()), g);
}

const Params new_params{"SGP4", {"source", "gravity", "mode"}, 3, 1, 2};

PyObject* sgp4_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    PyObject* a[3] = {};
    if (bind_arguments(new_params, args, kwds, a) < 0) return nullptr;
    int gravity = static_cast<int>(sgp4::Gravity::wgs72), mode = static_cast<int>(sgp4::Mode::improved);
    if (a[1] && parse_choice(a[1], "gravity", gravities, &gravity) < 0) return nullptr;
    if (a[2] && parse_choice(a[2], "mode", modes, &mode) < 0) return nullptr;

    Kind kind;
    Gathered g;
    try {
        if (read_source(a[0], &kind, &g) < 0) return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    std::size_t n = g.elements.size();

    // A history runs in order of exact epochs (the element set sorted by
    // its records' rounded epochs; the order of equal epochs is kept).
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (kind == Kind::history) {
        std::stable_sort(order.begin(), order.end(),
                         [&g](std::size_t x, std::size_t y) { return g.epochs[x] < g.epochs[y]; });
    }

    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    Sgp4Object* s = as_sgp4(self.get());
    s->kind = kind;
    s->gravity = static_cast<sgp4::Gravity>(gravity);
    s->mode = static_cast<sgp4::Mode>(mode);
    s->n = static_cast<Py_ssize_t>(n);
    std::size_t bytes = n ? n : 1;
    s->sats = static_cast<sgp4::Satellite*>(PyMem_Malloc(bytes * sizeof(sgp4::Satellite)));
    s->epochs = static_cast<std::int64_t*>(PyMem_Malloc(bytes * sizeof(std::int64_t)));
    s->offsets = static_cast<double*>(PyMem_Malloc(bytes * sizeof(double)));
    npy_intp dims[1] = {static_cast<npy_intp>(n)};
    s->satno = PyArray_SimpleNew(1, dims, NPY_INT64);
    if (!s->sats || !s->epochs || !s->offsets || !s->satno) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    auto* satno = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(s->satno)));
    for (std::size_t i = 0; i < n; ++i) {
        s->epochs[i] = g.epochs[order[i]];
        satno[i] = g.satnos[order[i]];
        s->offsets[i] = sgp4::minutes_between(s->epochs[0], s->epochs[i]);
    }
    PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(s->satno), NPY_ARRAY_WRITEABLE);
    if (PyObject_IsInstance(a[0], bound.Catalogue) == 1) s->table = Py_NewRef(a[0]);

    sgp4::Satellite* sats = s->sats;
    auto g_mode = s->mode;
    auto g_gravity = s->gravity;
    const sgp4::Elements* elements = g.elements.data();
    const std::size_t* ord = order.data();
    Py_BEGIN_ALLOW_THREADS;
    parallel_for(n, n < 1024 ? 1 : available_cpus(), [&](std::size_t i) {
        sgp4::initialize(elements[ord[i]], g_gravity, g_mode, &sats[i]);
    });
    Py_END_ALLOW_THREADS;
    return self.release();
}

void sgp4_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Sgp4Object* s = as_sgp4(self);
    PyObject_GC_UnTrack(self);
    PyMem_Free(s->sats);
    PyMem_Free(s->epochs);
    PyMem_Free(s->offsets);
    Py_CLEAR(s->satno);
    Py_CLEAR(s->table);
    type->tp_free(self);
    Py_DECREF(type);
}

int sgp4_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_sgp4(self)->table);
    return 0;
}

int sgp4_clear(PyObject* self) {
    Py_CLEAR(as_sgp4(self)->table);
    return 0;
}

Py_ssize_t sgp4_length(PyObject* self) { return as_sgp4(self)->n; }

PyObject* sgp4_repr(PyObject* self) {
    Sgp4Object* s = as_sgp4(self);
    return PyUnicode_FromFormat("<SGP4: %zd element set%s, gravity='%s', mode='%s'>", s->n, s->n == 1 ? "" : "s",
                                choice_name(gravities, static_cast<int>(s->gravity)),
                                choice_name(modes, static_cast<int>(s->mode)));
}

PyObject* get_satno(PyObject* self, void*) { return Py_NewRef(as_sgp4(self)->satno); }
PyObject* get_gravity(PyObject* self, void*) {
    return PyUnicode_FromString(choice_name(gravities, static_cast<int>(as_sgp4(self)->gravity)));
}
PyObject* get_mode(PyObject* self, void*) {
    return PyUnicode_FromString(choice_name(modes, static_cast<int>(as_sgp4(self)->mode)));
}

PyGetSetDef sgp4_getset[] = {
    {"satno", get_satno, nullptr,
     "Satellite numbers of the element sets (read-only int64 array; Alpha-5 numbers decoded, "
     "\"A0001\" is 100001; -1 for a field that is no number).",
     nullptr},
    {"gravity", get_gravity, nullptr, "Gravity model: 'wgs72', 'wgs84' or 'wgs72old'.", nullptr},
    {"mode", get_mode, nullptr, "Operation mode: 'improved' or 'afspc'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Methods

int check_self(PyObject* self, const char* method) {
    if (PyObject_TypeCheck(self, bound.SGP4)) return 0;
    PyErr_Format(PyExc_TypeError, "descriptor '%s' requires a 'SGP4' object but received a '%.200s'", method,
                 Py_TYPE(self)->tp_name);
    return -1;
}

}  // namespace

// In call.cpp: propagate() with the frame of its results.
PyObject* propagate_in_frame(Sgp4Object* self, PyObject* times, PyObject* tsince, PyObject* select,
                             PyObject* threads, PyObject* out, PyObject* frame, PyObject* eop, PyObject* eop_policy);

namespace {

const Params propagate_params{
    "propagate", {"times", "tsince", "select", "threads", "out", "frame", "eop", "eop_policy"}, 8, 0, 7};

PyObject* propagate_method(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, "propagate") < 0) return nullptr;
    PyObject* a[8] = {};
    if (bind_arguments(propagate_params, args + 1, nargs - 1, kwnames, a) < 0) return nullptr;
    return propagate_in_frame(as_sgp4(self), a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
}

PyObject* reduce_method(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* self = args[0];
    if (check_self(self, "__reduce__") < 0) return nullptr;
    if (bind_no_arguments("__reduce__", nargs - 1, kwnames) < 0) return nullptr;
    Sgp4Object* s = as_sgp4(self);
    if (s->table) {
        // functools.partial(SGP4, gravity=..., mode=...) called with the table.
        Ref kwargs = Ref::steal(Py_BuildValue("{s:s,s:s}", "gravity",
                                              choice_name(gravities, static_cast<int>(s->gravity)), "mode",
                                              choice_name(modes, static_cast<int>(s->mode))));
        Ref args = Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(Py_TYPE(self))));
        if (!kwargs || !args) return nullptr;
        Ref rebuild = Ref::steal(PyObject_Call(bound.partial, args.get(), kwargs.get()));
        if (!rebuild) return nullptr;
        return Py_BuildValue("(O(O))", rebuild.get(), s->table);
    }
    PyErr_SetString(PyExc_TypeError,
                    "cannot pickle an SGP4 built from DUOLINE or ELSET records (the records cannot be pickled); "
                    "build it from a catalogue table to send it to other processes");
    return nullptr;
}

const char* propagate_doc =
    "propagate(times=None, *, tsince=None, select='latest', threads=None, out=None, frame=TEME, eop=None, eop_policy='warn')\n"
    "--\n\n"
    "Positions and velocities of every element set at the given times.\n\n"
    "Parameters\n----------\n"
    "times : Time, numpy.ndarray of datetime64, or anything Time accepts, optional\n"
    "    Instants (UTC), a scalar or a one-dimensional array of m instants; datetime64\n"
    "    of any unit; ISO text, datetimes, lists of them, a pandas DatetimeIndex.\n"
    "    NaT, and instants outside the datetime64[ns] range, give code 7.\n"
    "tsince : float or array_like of float, keyword-only, optional\n"
    "    Instead of `times`: minutes since each element set's own epoch, a scalar, an\n"
    "    array (m,) for every set, or (n, m) with one row per set.  For an ELSET,\n"
    "    minutes since its first (earliest) epoch.\n"
    "select : {'latest', 'nearest'}, keyword-only\n"
    "    ELSET only: each time uses the element set of latest epoch at or before it\n"
    "    (times before the first epoch use the first), or the one of nearest epoch\n"
    "    (on a tie the later one).  Ignored for other sources.\n"
    "threads : int, keyword-only, optional\n"
    "    Number of threads (at most the available processors); None is every\n"
    "    available processor.  Results are the same bits for every thread count.\n"
    "out : tuple of three numpy.ndarray, keyword-only, optional\n"
    "    Arrays (r, v, err) to fill instead of new ones: exactly the result shapes,\n"
    "    float64, float64 and int8, C-contiguous and writable.\n"
    "frame : TEME, ITRF or GCRF (quorvane.frames.frames), keyword-only\n"
    "    Frame of the results; ITRF and GCRF rotate the TEME results as\n"
    "    quorvane.frames.frames.transform does (matrices once per time).  Needs\n"
    "    `times` (not `tsince`).\n"
    "eop, eop_policy : keyword-only\n"
    "    Earth orientation table and the policy for times outside it, for ITRF\n"
    "    and GCRF (see quorvane.frames.frames.transform).\n\n"
    "Returns\n-------\n"
    "r : numpy.ndarray of float64\n"
    "    Position in the TEME frame (or `frame`), m: shape (n, m, 3) for a sequence of n records,\n"
    "    (m, 3) for a DUOLINE or an ELSET; without the time axis for a scalar time.\n"
    "v : numpy.ndarray of float64\n"
    "    Velocity in the TEME frame (or `frame`), m/s, shaped like `r`.\n"
    "err : numpy.ndarray of int8\n"
    "    Error code per sample, shaped like `r` without its last axis: 0 ok;\n"
    "    1 mean eccentricity outside [-0.001, 1) (or not a number); 2 mean motion not\n"
    "    positive (or not a number); 3 perturbed eccentricity outside [0, 1]; 4 semi-latus rectum\n"
    "    negative; 6 decayed (radius below the Earth's equatorial radius); 7 time\n"
    "    not finite, NaT, or more than 1e9 minutes from the epoch.  (Code 5, epoch\n"
    "    elements sub-orbital, was withdrawn by the revised algorithm and is never\n"
    "    given.)  Position and velocity are NaN wherever the code is not 0.\n"
    "    The module's ERRORS maps each code to a one-line message.\n\n"
    "Raises\n------\n"
    "TypeError\n    Arguments of the wrong type, or neither/both of `times` and `tsince`.\n"
    "ValueError\n    Wrong shapes, `select` not 'latest' or 'nearest', unusable `out` arrays.\n";

const FunctionDef propagate_def{"SGP4.propagate", propagate_doc, propagate_method, propagate_params, true};
const FunctionDef reduce_def{"SGP4.__reduce__",
                             "Built from a catalogue table: rebuilt from the table and the settings; otherwise "
                             "pickling is refused (records cannot be pickled).",
                             reduce_method, {"__reduce__", {}, 0, 0}, true};

const char* sgp4_doc =
    "SGP4(source, *, gravity='wgs72', mode='improved')\n"
    "--\n\n"
    "The SGP4/SDP4 propagator of two-line element sets.\n\n"
    "SGP4 with its deep-space extension (lunar-solar periodics, 12- and 24-hour\n"
    "resonance) for orbits of period 225 minutes or more, after Hoots & Roehrich,\n"
    "Spacetrack Report No. 3 (1980), as revised by Vallado, Crawford, Hujsak & Kelso,\n"
    "\"Revisiting Spacetrack Report #3\" (AIAA 2006-6753).  Every element set is\n"
    "initialised once, natively, when the propagator is built.\n\n"
    "Parameters\n----------\n"
    "source : DUOLINE, ELSET, sequence of DUOLINE, or Catalogue\n"
    "    One record; one satellite's history (each time then uses one of its sets,\n"
    "    see `propagate`); a catalogue of n records; or a columnar catalogue table\n"
    "    (`read_catalogue`) of n element sets, read column by column.\n"
    "gravity : {'wgs72', 'wgs84', 'wgs72old'}, keyword-only\n"
    "    Gravity constants.  Element sets are fitted with WGS-72.\n"
    "mode : {'improved', 'afspc'}, keyword-only\n"
    "    'improved' is the revised algorithm; 'afspc' reproduces the operational\n"
    "    code (its sidereal time at epoch and node handling).\n\n"
    "Notes\n-----\n"
    "B*, the exact epoch (to the nanosecond) and the satellite number are read from\n"
    "each record's line 1; the mean elements are the record's.  `len(prop)` is the\n"
    "number of element sets.  A propagator built from a catalogue table pickles\n"
    "(as the table and the settings, so it can travel to worker processes); one\n"
    "built from records refuses, as records do.\n";

PyType_Slot sgp4_slots[] = {
    {Py_tp_doc, const_cast<char*>(sgp4_doc)},
    {Py_tp_new, reinterpret_cast<void*>(sgp4_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(sgp4_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(sgp4_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(sgp4_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(sgp4_repr)},
    {Py_tp_getset, sgp4_getset},
    {Py_mp_length, reinterpret_cast<void*>(sgp4_length)},
    {Py_sq_length, reinterpret_cast<void*>(sgp4_length)},
    {0, nullptr},
};

PyType_Spec sgp4_spec = {
    sgp4_type_name,
    sizeof(Sgp4Object),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    sgp4_slots,
};

}  // namespace

PyTypeObject* prepare_sgp4(PyObject* module) {
    Ref type = Ref::steal(reinterpret_cast<PyObject*>(add_type(module, &sgp4_spec)));
    if (!type) return nullptr;
    Ref latest = Ref::steal(PyUnicode_InternFromString("latest"));
    Ref frames = import_module("quorvane.frames.frames");
    Ref teme = frames ? Ref::steal(PyObject_GetAttrString(frames.get(), "TEME")) : Ref{};
    Ref warn = Ref::steal(PyUnicode_InternFromString("warn"));
    if (!teme || !warn) return nullptr;
    Ref defaults = Ref::steal(
        PyTuple_Pack(8, Py_None, Py_None, latest.get(), Py_None, Py_None, teme.get(), Py_None, warn.get()));
    if (!latest || !defaults) return nullptr;
    Ref annotations = make_annotations({{"return", "tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]"}});
    if (!annotations || add_function(type.get(), &propagate_def, module_path, annotations.get()) < 0) return nullptr;
    PyObject* fn = PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(type.get())->tp_dict, "propagate");
    if (!fn) return nullptr;
    set_object_defaults(fn, defaults.get());
    if (add_function(type.get(), &reduce_def, module_path, nullptr) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace qv::propagator
