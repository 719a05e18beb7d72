// The module's table functions: text to columns, element-set entries for
// the record readers, OMM values to columns, columns to two-line text.
//
// Large work runs without the interpreter lock on `threads` threads.  Every
// row (and every line of the index) is computed by one task from its own
// input alone, so the results do not depend on the thread count or on where
// the text was cut.  Arrays are allocated once at their final size; only
// errors="skip" with sets that fail conversion shrinks them afterwards.
#include <cstdio>
#include <cstring>
#include <vector>

#include "propagators/analytical/sgp4/catalogue/format.hpp"
#include "propagators/analytical/sgp4/catalogue/module.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace qv::catalogue {

namespace {

constexpr std::size_t parallel_bytes = 512 * 1024;  // smaller texts are indexed on one thread
constexpr std::size_t rows_per_task = 2048;
constexpr std::size_t parallel_rows = 4 * rows_per_task;

class HeldBuffer {
public:
    ~HeldBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    int acquire(PyObject* source) {
        if (PyObject_GetBuffer(source, &view_, PyBUF_SIMPLE) < 0) return -1;
        held_ = true;
        return 0;
    }
    const char* data() const { return static_cast<const char*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// The text's lines and element sets.
struct Text {
    const char* data = nullptr;
    std::size_t size = 0;
    Scratch<Line> lines;
    std::int64_t count = 0;
    Scratch<Set> sets;
    Pairing pairing;
};

int threads_for(std::size_t work, std::size_t threshold, int threads) { return work >= threshold ? threads : 1; }

// Index every line (after a byte-order mark) and pair the lines into sets.
// -1 with MemoryError; pairing faults are left in text->pairing.
int read_text(const char* data, std::size_t size, int threads, bool skip, bool check_satno, Text* text) {
    text->data = data;
    text->size = size;
    const std::size_t start = bom_length(data, size);
    const std::size_t wanted = static_cast<std::size_t>(threads_for(size - start, parallel_bytes, threads)) * 4;
    std::vector<Piece> pieces(wanted);
    bool ok = true;
    Py_BEGIN_ALLOW_THREADS
    const std::size_t n = split(data, start, size, wanted, pieces.data());
    const int workers = threads_for(size - start, parallel_bytes, threads);
    parallel_for(n, workers,
                 [&](std::size_t k) { pieces[k].lines = count_lines(data, pieces[k].begin, pieces[k].end); });
    std::int64_t total = 0;
    for (std::size_t k = 0; k < n; ++k) {
        pieces[k].first_line = total;
        total += pieces[k].lines;
    }
    text->count = total;
    ok = text->lines.allocate(static_cast<std::size_t>(total)) &&
         text->sets.allocate(static_cast<std::size_t>(total / 2 + 1));
    if (ok) {
        parallel_for(n, workers, [&](std::size_t k) {
            index_lines(data, pieces[k].begin, pieces[k].end, text->lines.get() + pieces[k].first_line);
        });
        text->pairing = pair_lines(data, text->lines.get(), total, skip, check_satno, text->sets.get());
    }
    Py_END_ALLOW_THREADS
    if (!ok) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

// Lines (0-based) of a pair whose satellite numbers differ.
PyObject* raise_mismatch(const Text& text, std::int64_t line1, std::int64_t line2) {
    const Line& one = text.lines[static_cast<std::size_t>(line1)];
    const Line& two = text.lines[static_cast<std::size_t>(line2)];
    char a[6], b[6];
    satno_field(text.data + two.begin, two.length, a);
    satno_field(text.data + one.begin, one.length, b);
    return PyErr_Format(PyExc_ValueError,
                        "line %lld: satellite number '%s' of line 2 does not match '%s' of line 1 (line %lld)",
                        static_cast<long long>(line2 + 1), a, b, static_cast<long long>(line1 + 1));
}

PyObject* raise_pairing(const Text& text) {
    const Pairing& p = text.pairing;
    switch (p.fault) {
        case PairFault::line1_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: line 1 is not followed by its line 2",
                                static_cast<long long>(p.line));
        case PairFault::line2_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: line 2 without a preceding line 1",
                                static_cast<long long>(p.line));
        case PairFault::name_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: name line is not followed by a line 1",
                                static_cast<long long>(p.line));
        case PairFault::satno_mismatch:
            return raise_mismatch(text, p.other - 1, p.line - 1);
        case PairFault::none:
            break;
    }
    return nullptr;
}

// The line a set fault is reported at (0-based index).
std::int64_t fault_line(const Set& s, SetFault f) {
    return f == SetFault::non_ascii_line2 || f == SetFault::strict_line2 || f == SetFault::satno_mismatch ? s.line2
                                                                                                          : s.line1;
}

PyObject* raise_set_fault(const Text& text, const Set& s, SetFault f) {
    const long long number = static_cast<long long>(fault_line(s, f) + 1);
    const Line& l1 = text.lines[static_cast<std::size_t>(s.line1)];
    char stored[stored_size];
    store_line(text.data + l1.begin, l1.length, text.data + text.size, stored);
    switch (f) {
        case SetFault::satno_mismatch:
            return raise_mismatch(text, s.line1, s.line2);
        case SetFault::non_ascii_line1:
        case SetFault::non_ascii_line2:
            return PyErr_Format(PyExc_ValueError, "line %lld: line %d holds a character outside ASCII", number,
                                f == SetFault::non_ascii_line1 ? 1 : 2);
        case SetFault::satno:
            return PyErr_Format(PyExc_ValueError,
                                "line %lld: satellite number '%.5s' is neither a decimal number nor Alpha-5", number,
                                stored + tle::col::satno.offset);
        case SetFault::epoch:
            return PyErr_Format(PyExc_ValueError, "line %lld: epoch '%.14s' lies outside the range of Time", number,
                                stored + tle::col::year.offset);
        case SetFault::strict_line1:
        case SetFault::strict_line2: {
            tle::Fault fault;
            strict_fault(text.data, text.data + text.size, text.lines.get(), s, &fault);
            return PyErr_Format(PyExc_ValueError, "line %lld: %s", number, fault.message);
        }
        case SetFault::none:
            break;
    }
    return nullptr;
}

// ---------------------------------------------------------------- arrays

Ref new_array(int typenum, npy_intp n) { return Ref::steal(PyArray_SimpleNew(1, &n, typenum)); }

template <class T>
T* data_of(const Ref& array) {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// The dtype of a column: int64, float64 or str of `width` characters.
PyArray_Descr* column_descr(char kind, std::int64_t width) {
    if (kind == 'i') return PyArray_DescrFromType(NPY_INT64);
    if (kind == 'f') return PyArray_DescrFromType(NPY_DOUBLE);
    char spec[32];
    std::snprintf(spec, sizeof spec, "<U%lld", static_cast<long long>(width));
    Ref text = Ref::steal(PyUnicode_FromString(spec));
    PyArray_Descr* descr = nullptr;
    if (!text || !PyArray_DescrConverter(text.get(), &descr)) return nullptr;
    return descr;
}

// An array of n entries over `data`, which `base` owns.
Ref view_array(PyArray_Descr* descr, npy_intp n, char* data, PyObject* base) {
    Ref array = Ref::steal(
        PyArray_NewFromDescr(&PyArray_Type, descr, 1, &n, nullptr, data, NPY_ARRAY_CARRAY, nullptr));
    if (!array || PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), Py_NewRef(base)) < 0) {
        return Ref();
    }
    return array;
}

// The columns of a table under construction, by name.  All of them live in
// one block of memory: a large block is backed by huge pages (NumPy asks
// for them from 4 MiB on), so filling it costs a few page faults instead of
// one per 4 KiB of every column.
struct Table {
    static constexpr int count = 24;
    static constexpr const char* names[count] = {
        "satno", "name", "classification", "intl_designator", "epoch", "ndot", "nddot", "bstar",
        "ephemeris_type", "element_number", "rev_number", "inc", "raa", "ecc", "arp", "mea", "mnm",
        "sma", "orp", "eca", "tra", "pge", "apg", "line"};
    static constexpr char kinds[count + 1] = "iUUUifffiiiffffffffffffi";
    Ref block;
    Ref arrays[count];
    Columns columns{};
    std::int64_t widths[count] = {};

    int create(npy_intp n, std::int64_t name_width) {
        std::size_t offsets[count], total = 0;
        for (int k = 0; k < count; ++k) {
            widths[k] = k == 1 ? name_width : k == 2 ? 1 : k == 3 ? 8 : 0;
            const std::size_t item = kinds[k] == 'U' ? 4 * static_cast<std::size_t>(widths[k]) : 8;
            offsets[k] = total;
            total += (item * static_cast<std::size_t>(n) + 63) / 64 * 64;
        }
        if (!(block = new_array(NPY_UINT8, static_cast<npy_intp>(total)))) return -1;
        char* base = data_of<char>(block);
        for (int k = 0; k < count; ++k) {
            PyArray_Descr* descr = column_descr(kinds[k], widths[k]);
            if (!descr || !(arrays[k] = view_array(descr, n, base + offsets[k], block.get()))) return -1;
        }
        std::int64_t** ints[] = {&columns.satno, &columns.epoch, &columns.ephemeris_type, &columns.element_number,
                                 &columns.rev_number, &columns.line};
        double** doubles[] = {&columns.ndot, &columns.nddot, &columns.bstar, &columns.inc, &columns.raa,
                              &columns.ecc, &columns.arp, &columns.mea, &columns.mnm, &columns.sma,
                              &columns.orp, &columns.eca, &columns.tra, &columns.pge, &columns.apg};
        int i = 0, d = 0;
        for (int k = 0; k < count; ++k) {
            if (kinds[k] == 'i') *ints[i++] = data_of<std::int64_t>(arrays[k]);
            if (kinds[k] == 'f') *doubles[d++] = data_of<double>(arrays[k]);
        }
        columns.name = data_of<std::uint32_t>(arrays[1]);
        columns.classification = data_of<std::uint32_t>(arrays[2]);
        columns.designator = data_of<std::uint32_t>(arrays[3]);
        columns.name_width = name_width;
        return 0;
    }

    // Drop the rows whose fault is set, keeping order; the columns become
    // shorter views of the same memory.
    int compact(const std::uint8_t* faults, npy_intp n) {
        for (int k = 0; k < count; ++k) {
            auto* a = reinterpret_cast<PyArrayObject*>(arrays[k].get());
            const npy_intp size = PyArray_ITEMSIZE(a);
            char* d = static_cast<char*>(PyArray_DATA(a));
            npy_intp kept = 0;
            for (npy_intp i = 0; i < n; ++i) {
                if (faults[i]) continue;
                if (kept != i) std::memmove(d + kept * size, d + i * size, static_cast<std::size_t>(size));
                ++kept;
            }
            PyArray_Descr* descr = column_descr(kinds[k], widths[k]);
            if (!descr || !(arrays[k] = view_array(descr, kept, d, block.get()))) return -1;
        }
        return 0;
    }

    PyObject* as_dict() {
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (int k = 0; k < count; ++k) {
            if (PyDict_SetItemString(dict.get(), names[k], arrays[k].get()) < 0) return nullptr;
        }
        return dict.release();
    }
};

// ---------------------------------------------------------------- read_tle

PyObject* read_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* tle_entries(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* from_published(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* format_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

const FunctionDef read_tle_def{
    "read_tle",
    "read_tle(data, *, strict=False, skip=False, threads=None) -> tuple[dict[str, ndarray], ndarray]\n\n"
    "Columns of the element sets of two- or three-line text (a bytes-like object), and the line\n"
    "numbers skipped under skip=True.",
    read_tle,
    {"read_tle", {"data", "strict", "skip", "threads"}, 4, 1, 3}};

int flag(PyObject* value, bool* out) {
    const int truth = value ? PyObject_IsTrue(value) : 0;
    if (truth < 0) return -1;
    *out = truth != 0;
    return 0;
}

PyObject* read_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[4];
    if (bind_arguments(read_tle_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    bool strict, skip;
    int threads;
    if (flag(a[1], &strict) < 0 || flag(a[2], &skip) < 0 || threads_argument(a[3], &threads) < 0) return nullptr;
    Environment env;
    if (environment(&env, strict) < 0) return nullptr;
    HeldBuffer buffer;
    if (buffer.acquire(a[0]) < 0) return nullptr;
    Text text;
    if (read_text(buffer.data(), buffer.size(), threads, skip, false, &text) < 0) return nullptr;
    if (text.pairing.fault != PairFault::none) return raise_pairing(text);

    const npy_intp n = static_cast<npy_intp>(text.pairing.sets);
    std::int64_t name_width = 1;
    for (npy_intp i = 0; i < n; ++i) {
        const std::int64_t name = text.sets[static_cast<std::size_t>(i)].name;
        if (name >= 0 && text.lines[static_cast<std::size_t>(name)].chars > name_width) {
            name_width = text.lines[static_cast<std::size_t>(name)].chars;
        }
    }
    Table table;
    Scratch<std::uint8_t> faults;
    if (table.create(n, name_width) < 0) return nullptr;
    if (!faults.allocate(static_cast<std::size_t>(n))) return PyErr_NoMemory();

    bool any = false;
    Py_BEGIN_ALLOW_THREADS
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t tasks = (rows + rows_per_task - 1) / rows_per_task;
    parallel_for(tasks, threads_for(rows, parallel_rows, threads), [&](std::size_t t) {
        const std::size_t end = (t + 1) * rows_per_task < rows ? (t + 1) * rows_per_task : rows;
        for (std::size_t i = t * rows_per_task; i < end; ++i) {
            faults[i] = static_cast<std::uint8_t>(
                convert_set(text.data, text.data + text.size, text.lines.get(), text.sets[i], i, env, table.columns));
        }
    });
    for (std::size_t i = 0; i < rows && !any; ++i) any = faults[i] != 0;
    Py_END_ALLOW_THREADS

    if (any) {
        for (npy_intp i = 0; i < n; ++i) {
            const auto f = static_cast<SetFault>(faults[static_cast<std::size_t>(i)]);
            if (f == SetFault::none) continue;
            const Set& s = text.sets[static_cast<std::size_t>(i)];
            if (!skip) return raise_set_fault(text, s, f);
            text.lines[static_cast<std::size_t>(fault_line(s, f))].skipped = true;
        }
        if (table.compact(faults.get(), n) < 0) return nullptr;
    }
    npy_intp skipped_count = 0;
    if (skip) {
        for (std::int64_t i = 0; i < text.count; ++i) skipped_count += text.lines[static_cast<std::size_t>(i)].skipped;
    }
    Ref skipped = new_array(NPY_INT64, skipped_count);
    if (!skipped) return nullptr;
    auto* numbers = data_of<std::int64_t>(skipped);
    for (std::int64_t i = 0, k = 0; k < skipped_count; ++i) {
        if (text.lines[static_cast<std::size_t>(i)].skipped) numbers[k++] = i + 1;
    }
    Ref columns = Ref::steal(table.as_dict());
    if (!columns) return nullptr;
    return PyTuple_Pack(2, columns.get(), skipped.get());
}

// ---------------------------------------------------------------- tle_entries

const FunctionDef tle_entries_def{
    "tle_entries",
    "tle_entries(data) -> list[tuple[str | None, str, str, int]]\n\n"
    "(name, line 1, line 2, line number of line 1) of every element set of two- or three-line text.",
    tle_entries,
    {"tle_entries", {"data"}, 1, 1}};

// A line as str: UTF-8, or Latin-1 when the bytes are not UTF-8.
PyObject* line_text(const char* data, const Line& line) {
    PyObject* s = PyUnicode_DecodeUTF8(data + line.begin, static_cast<Py_ssize_t>(line.length), nullptr);
    if (s || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return s;
    PyErr_Clear();
    return PyUnicode_DecodeLatin1(data + line.begin, static_cast<Py_ssize_t>(line.length), nullptr);
}

PyObject* tle_entries(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (bind_arguments(tle_entries_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    HeldBuffer buffer;
    if (buffer.acquire(a[0]) < 0) return nullptr;
    Text text;
    if (read_text(buffer.data(), buffer.size(), available_cpus(), false, true, &text) < 0) return nullptr;
    if (text.pairing.fault != PairFault::none) return raise_pairing(text);
    const Py_ssize_t n = static_cast<Py_ssize_t>(text.pairing.sets);
    Ref list = Ref::steal(PyList_New(n));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const Set& s = text.sets[static_cast<std::size_t>(i)];
        Ref name = Ref::steal(s.name >= 0 ? line_text(text.data, text.lines[static_cast<std::size_t>(s.name)])
                                          : Py_NewRef(Py_None));
        Ref one = Ref::steal(line_text(text.data, text.lines[static_cast<std::size_t>(s.line1)]));
        Ref two = Ref::steal(line_text(text.data, text.lines[static_cast<std::size_t>(s.line2)]));
        Ref number = Ref::steal(PyLong_FromLongLong(s.line1 + 1));
        if (!name || !one || !two || !number) return nullptr;
        PyObject* entry = PyTuple_Pack(4, name.get(), one.get(), two.get(), number.get());
        if (!entry) return nullptr;
        PyList_SET_ITEM(list.get(), i, entry);
    }
    return list.release();
}

// ---------------------------------------------------------------- from_published

const FunctionDef from_published_def{
    "from_published",
    "from_published(inc, raa, ecc, arp, mea, mnm, *, threads=None) -> dict[str, ndarray]\n\n"
    "The six mean elements in SI units and the six derived elements from the published values\n"
    "(degrees, eccentricity, revolutions per day), with the record's arithmetic.",
    from_published,
    {"from_published", {"inc", "raa", "ecc", "arp", "mea", "mnm", "threads"}, 7, 6, 1}};

PyObject* from_published(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[7];
    if (bind_arguments(from_published_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    int threads;
    if (threads_argument(a[6], &threads) < 0) return nullptr;
    Environment env;
    if (environment(&env, false) < 0) return nullptr;
    Ref in[6];
    npy_intp n = 0;
    for (int k = 0; k < 6; ++k) {
        in[k] = Ref::steal(PyArray_FROMANY(a[k], NPY_DOUBLE, 1, 1, NPY_ARRAY_IN_ARRAY));
        if (!in[k]) return nullptr;
        const npy_intp size = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(in[k].get()));
        if (k == 0) n = size;
        if (size != n) {
            PyErr_Format(PyExc_ValueError, "%s has %zd values, inc has %zd", from_published_def.params.names[k],
                         static_cast<Py_ssize_t>(size), static_cast<Py_ssize_t>(n));
            return nullptr;
        }
    }
    const char* names[12] = {"inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "orp", "eca", "tra", "pge", "apg"};
    Ref out[12];
    Columns c{};
    double** slots[12] = {&c.inc, &c.raa, &c.ecc, &c.arp, &c.mea, &c.mnm,
                          &c.sma, &c.orp, &c.eca, &c.tra, &c.pge, &c.apg};
    for (int k = 0; k < 12; ++k) {
        if (!(out[k] = new_array(NPY_DOUBLE, n))) return nullptr;
        *slots[k] = data_of<double>(out[k]);
    }
    const double* p[6];
    for (int k = 0; k < 6; ++k) p[k] = data_of<double>(in[k]);
    Py_BEGIN_ALLOW_THREADS
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t tasks = (rows + rows_per_task - 1) / rows_per_task;
    parallel_for(tasks, threads_for(rows, parallel_rows, threads), [&](std::size_t t) {
        const std::size_t end = (t + 1) * rows_per_task < rows ? (t + 1) * rows_per_task : rows;
        for (std::size_t i = t * rows_per_task; i < end; ++i) {
            const tle::MeanElements e =
                tle::si_elements({p[0][i], p[1][i], p[2][i], p[3][i], p[4][i], p[5][i]}, env.deg, env.rev, env.day);
            c.inc[i] = e.inc;
            c.raa[i] = e.raa;
            c.ecc[i] = e.ecc;
            c.arp[i] = e.arp;
            c.mea[i] = e.mea;
            c.mnm[i] = e.mnm;
            derive_row(i, env, c);
        }
    });
    Py_END_ALLOW_THREADS
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (int k = 0; k < 12; ++k) {
        if (PyDict_SetItemString(dict.get(), names[k], out[k].get()) < 0) return nullptr;
    }
    return dict.release();
}

// ---------------------------------------------------------------- format_tle

const FunctionDef format_tle_def{
    "format_tle",
    "format_tle(columns) -> bytes\n\n"
    "Two-line text (line 1, LF, line 2, LF per set) of a dict of columns.",
    format_tle,
    {"format_tle", {"columns"}, 1, 1}};

// A column of the dict as a contiguous 1-D array of the given type (and item
// size, for byte strings).
Ref column(PyObject* columns, const char* name, int typenum, npy_intp n, int itemsize = 0) {
    PyObject* value = PyDict_GetItemString(columns, name);  // borrowed
    if (!value) {
        PyErr_Format(PyExc_KeyError, "%s", name);
        return Ref();
    }
    Ref array;
    if (typenum == NPY_STRING) {
        auto* a = reinterpret_cast<PyArrayObject*>(value);
        if (!PyArray_Check(value) || PyArray_TYPE(a) != NPY_STRING || PyArray_ITEMSIZE(a) != itemsize ||
            PyArray_NDIM(a) != 1 || !PyArray_IS_C_CONTIGUOUS(a)) {
            PyErr_Format(PyExc_TypeError, "%s must be a contiguous 1-D array of dtype S%d", name, itemsize);
            return Ref();
        }
        array = Ref::borrow(value);
    } else {
        array = Ref::steal(PyArray_FROMANY(value, typenum, 1, 1, NPY_ARRAY_IN_ARRAY));
        if (!array) return Ref();
    }
    if (PyArray_SIZE(reinterpret_cast<PyArrayObject*>(array.get())) != n) {
        PyErr_Format(PyExc_ValueError, "%s has another length than satno", name);
        return Ref();
    }
    return array;
}

PyObject* format_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (bind_arguments(format_tle_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    if (!PyDict_Check(a[0])) {
        PyErr_SetString(PyExc_TypeError, "columns must be a dict");
        return nullptr;
    }
    PyObject* satno_value = PyDict_GetItemString(a[0], "satno");
    if (!satno_value) return PyErr_Format(PyExc_KeyError, "satno");
    Ref satno = Ref::steal(PyArray_FROMANY(satno_value, NPY_INT64, 1, 1, NPY_ARRAY_IN_ARRAY));
    if (!satno) return nullptr;
    const npy_intp n = PyArray_SIZE(reinterpret_cast<PyArrayObject*>(satno.get()));
    const char* int_names[] = {"epoch", "ephemeris_type", "element_number", "rev_number"};
    const char* double_names[] = {"ndot", "nddot", "bstar", "inc", "raa", "ecc", "arp", "mea", "mnm"};
    Ref ints[4], doubles[9];
    for (int k = 0; k < 4; ++k) {
        if (!(ints[k] = column(a[0], int_names[k], NPY_INT64, n))) return nullptr;
    }
    for (int k = 0; k < 9; ++k) {
        if (!(doubles[k] = column(a[0], double_names[k], NPY_DOUBLE, n))) return nullptr;
    }
    Ref classification = column(a[0], "classification", NPY_STRING, n, 1);
    Ref designator = column(a[0], "intl_designator", NPY_STRING, n, 8);
    if (!classification || !designator) return nullptr;
    Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n) * set_text_size));
    if (!bytes) return nullptr;
    char* out = PyBytes_AS_STRING(bytes.get());
    const Units units{*bound.deg, *bound.rev, *bound.day};
    const char* cls = data_of<char>(classification);
    const char* des = data_of<char>(designator);
    for (npy_intp i = 0; i < n; ++i) {
        char designator_text[9] = {};
        std::memcpy(designator_text, des + i * 8, 8);
        auto d = [&](int k) { return data_of<double>(doubles[k])[i]; };
        auto v = [&](int k) { return data_of<std::int64_t>(ints[k])[i]; };
        const SetValues values{data_of<std::int64_t>(satno)[i], v(0), v(1), v(2), v(3), cls[i], designator_text,
                               d(0), d(1), d(2), d(3), d(4), d(5), d(6), d(7), d(8)};
        if (const char* field = format_set(values, units, out + i * set_text_size)) {
            return PyErr_Format(PyExc_ValueError, "set %zd: %s cannot be written in the two-line format",
                                static_cast<Py_ssize_t>(i), field);
        }
    }
    return bytes.release();
}

}  // namespace

int add_table_functions(PyObject* module) {
    // Defaults of the optional parameters, in order.
    struct Entry {
        const FunctionDef* def;
        PyObject* defaults[3];
        Py_ssize_t count;
    };
    const Entry functions[] = {
        {&read_tle_def, {Py_False, Py_False, Py_None}, 3},
        {&tle_entries_def, {}, 0},
        {&from_published_def, {Py_None}, 1},
        {&format_tle_def, {}, 0},
    };
    for (const Entry& e : functions) {
        const FunctionDef* def = e.def;
        Ref function = make_function(def, module_path, nullptr);
        if (!function) return -1;
        if (e.count > 0) {
            Ref tuple = Ref::steal(PyTuple_New(e.count));
            if (!tuple) return -1;
            for (Py_ssize_t k = 0; k < e.count; ++k) PyTuple_SET_ITEM(tuple.get(), k, Py_NewRef(e.defaults[k]));
            set_object_defaults(function.get(), tuple.get());
        }
        if (module_add(module, def->qualname, function.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace qv::catalogue
