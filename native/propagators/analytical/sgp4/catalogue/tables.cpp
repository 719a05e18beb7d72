// The module's text functions: two- and three-line text to columns, and
// element-set entries for the record readers.
//
// Large work runs without the interpreter lock on `threads` threads.  Every
// row (and every line of the index) is computed by one task from its own
// input alone, so the results do not depend on the thread count or on where
// the text was cut.  Arrays are allocated once at their final size; only
// errors="skip" with sets that fail conversion shrinks them afterwards.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "propagators/analytical/sgp4/catalogue/module.hpp"
#include "runtime/numpy_api.hpp"
#include "runtime/runtime.hpp"

namespace qv::catalogue {

namespace {

constexpr std::size_t parallel_bytes = 512 * 1024;  // smaller texts are read on one thread
constexpr std::size_t piece_bytes = 128 * 1024;     // text scanned and converted as one task
constexpr std::size_t parallel_rows = 8192;         // fewer sets are converted on one thread

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

// The text's pieces, each with its lines' element sets.
struct Text {
    const char* data = nullptr;
    std::size_t size = 0;
    std::vector<Piece> pieces;
    std::size_t sets = 0;         // in all pieces
    std::int64_t name_width = 0;  // the longest name of a set
    std::ptrdiff_t fault = -1;    // the first piece with a pairing fault
};

// The `piece_bytes` argument (tests cut small texts into many pieces).
int piece_bytes_argument(PyObject* value, std::size_t* out) {
    *out = piece_bytes;
    if (!value || value == Py_None) return 0;
    const long long n = PyLong_AsLongLong(value);
    if (n == -1 && PyErr_Occurred()) return -1;
    if (n < 1) {
        PyErr_SetString(PyExc_ValueError, "piece_bytes must be at least 1");
        return -1;
    }
    *out = static_cast<std::size_t>(n);
    return 0;
}

// Cut the text (after a byte-order mark) into pieces, index and pair each
// piece's lines, and number the pieces' lines and sets.  -1 with
// MemoryError; pairing faults are left in the pieces (text->fault).
int read_text(const char* data, std::size_t size, int threads, bool skip, bool check_satno, std::size_t piece,
              Text* text) {
    text->data = data;
    text->size = size;
    const std::size_t start = bom_length(data, size);
    try {
        text->pieces.reserve((size - start) / piece + 1);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    bool ok = true;
    Py_BEGIN_ALLOW_THREADS
    cut_pieces(data, start, size, piece, text->pieces);
    const std::size_t n = text->pieces.size();
    parallel_for(n, threads_for(size - start, parallel_bytes, threads),
                 [&](std::size_t k) { scan_piece(data, skip, check_satno, k + 1 == n, &text->pieces[k]); });
    std::int64_t lines = 0;
    for (std::size_t k = 0; k < n; ++k) {
        Piece& p = text->pieces[k];
        ok = ok && !p.out_of_memory;
        if (p.fault != PairFault::none && text->fault < 0) text->fault = static_cast<std::ptrdiff_t>(k);
        p.first_line = lines;
        p.first_row = text->sets;
        lines += p.lines;
        text->sets += p.sets.size();
        if (p.name_width > text->name_width) text->name_width = p.name_width;
    }
    Py_END_ALLOW_THREADS
    if (!ok) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

// A pair of lines whose satellite numbers differ; `line1` and `line2` are
// their 1-based line numbers.
PyObject* raise_mismatch(const char* text1, std::int64_t length1, std::int64_t line1, const char* text2,
                         std::int64_t length2, std::int64_t line2) {
    char a[6], b[6];
    satno_field(text2, length2, a);
    satno_field(text1, length1, b);
    return PyErr_Format(PyExc_ValueError,
                        "line %lld: satellite number '%s' of line 2 does not match '%s' of line 1 (line %lld)",
                        static_cast<long long>(line2), a, b, static_cast<long long>(line1));
}

// The first pairing fault of the text.
PyObject* raise_pairing(const Text& text) {
    const Piece& p = text.pieces[static_cast<std::size_t>(text.fault)];
    const long long line = static_cast<long long>(p.first_line + p.line + 1);
    switch (p.fault) {
        case PairFault::line1_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: line 1 is not followed by its line 2", line);
        case PairFault::line2_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: line 2 without a preceding line 1", line);
        case PairFault::name_alone:
            return PyErr_Format(PyExc_ValueError, "line %lld: name line is not followed by a line 1", line);
        case PairFault::satno_mismatch:
            return raise_mismatch(text.data + p.fault_begin[0], p.fault_length[0], p.first_line + p.other + 1,
                                  text.data + p.fault_begin[1], p.fault_length[1], line);
        case PairFault::none:
            break;
    }
    return nullptr;
}

// The line a set fault is reported at (0-based index in its piece).
std::int64_t fault_line(const Piece& piece, const Set& s, SetFault f) {
    if (f == SetFault::long_name) return piece.names[static_cast<std::size_t>(s.name)].line;
    return f == SetFault::non_ascii_line2 || f == SetFault::strict_line2 || f == SetFault::layout_line2 ||
                   f == SetFault::satno_mismatch
               ? s.line2
               : s.line1;
}

PyObject* raise_set_fault(const Text& text, const Piece& piece, const Set& s, SetFault f, bool strict) {
    const long long number = static_cast<long long>(piece.first_line + fault_line(piece, s, f) + 1);
    char stored[stored_size];
    store_line(text.data + s.begin1, s.length1, text.data + text.size, stored);
    switch (f) {
        case SetFault::satno_mismatch:
            return raise_mismatch(text.data + s.begin1, s.length1, piece.first_line + s.line1 + 1, text.data + s.begin2,
                                  s.length2, number);
        case SetFault::non_ascii_line1:
        case SetFault::non_ascii_line2: {
            const bool one = f == SetFault::non_ascii_line1;
            const char* line = text.data + (one ? s.begin1 : s.begin2);
            const bool nul = std::memchr(line, 0, static_cast<std::size_t>(one ? s.length1 : s.length2)) != nullptr;
            return PyErr_Format(PyExc_ValueError, "line %lld: line %d holds %s", number, one ? 1 : 2,
                                nul ? "a NUL character" : "a character outside ASCII");
        }
        case SetFault::satno:
            return PyErr_Format(PyExc_ValueError,
                                "line %lld: satellite number '%.5s' is neither a decimal number nor Alpha-5", number,
                                stored + tle::col::satno.offset);
        case SetFault::epoch:
            return PyErr_Format(PyExc_ValueError, "line %lld: epoch '%.14s' lies outside the range of Time", number,
                                stored + tle::col::year.offset);
        case SetFault::strict_line1:
        case SetFault::strict_line2:
        case SetFault::layout_line1:
        case SetFault::layout_line2: {
            tle::Fault fault;
            set_fault_message(text.data, text.data + text.size, s, strict, &fault);
            return PyErr_Format(PyExc_ValueError, "line %lld: %s", number, fault.message);
        }
        case SetFault::long_name:
            return PyErr_Format(PyExc_ValueError,
                                "line %lld: name of %lld characters is longer than the %lld a name may have", number,
                                static_cast<long long>(piece.names[static_cast<std::size_t>(s.name)].chars),
                                static_cast<long long>(name_limit));
        case SetFault::none:
            break;
    }
    return nullptr;
}

// ---------------------------------------------------------------- arrays

// The dtype of a column: int64, float64, bool, uint8 or str of `width`
// characters.
PyArray_Descr* column_descr(char kind, std::int64_t width) {
    if (kind == 'i') return PyArray_DescrFromType(NPY_INT64);
    if (kind == 'b') return PyArray_DescrFromType(NPY_BOOL);
    if (kind == 'u') return PyArray_DescrFromType(NPY_UINT8);
    if (kind == 'f') return PyArray_DescrFromType(NPY_DOUBLE);
    char dtype[32];
    std::snprintf(dtype, sizeof dtype, "<U%lld", static_cast<long long>(width));
    Ref text = Ref::steal(PyUnicode_FromString(dtype));
    PyArray_Descr* descr = nullptr;
    if (!text || !PyArray_DescrConverter(text.get(), &descr)) return nullptr;
    return descr;
}

// An array of n entries over `data`, which `base` owns.
Ref view_array(PyArray_Descr* descr, npy_intp n, char* data, PyObject* base) {
    Ref array = Ref::steal(PyArray_NewFromDescr(&PyArray_Type, descr, 1, &n, nullptr, data, NPY_ARRAY_CARRAY, nullptr));
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
    static constexpr int count = 26;
    static constexpr const char* names[count] = {"satno",
                                                 "name",
                                                 "classification",
                                                 "intl_designator",
                                                 "epoch",
                                                 "ndot",
                                                 "nddot",
                                                 "bstar",
                                                 "ephemeris_type",
                                                 "element_number",
                                                 "rev_number",
                                                 "inc",
                                                 "raa",
                                                 "ecc",
                                                 "arp",
                                                 "mea",
                                                 "mnm",
                                                 "sma",
                                                 "orp",
                                                 "eca",
                                                 "tra",
                                                 "pge",
                                                 "apg",
                                                 "line",
                                                 "checksum_ok",
                                                 "tle_form"};
    static constexpr char kinds[count + 1] = "iUUUifffiiiffffffffffffibu";
    Ref block;
    Ref arrays[count];
    Columns columns{};
    std::int64_t widths[count] = {};

    int create(npy_intp n, std::int64_t name_width) {
        std::size_t offsets[count], total = 0;
        for (int k = 0; k < count; ++k) {
            widths[k] = k == 1 ? name_width : k == 2 ? 1 : k == 3 ? 8 : 0;
            const std::size_t item = kinds[k] == 'U'                      ? 4 * static_cast<std::size_t>(widths[k])
                                     : kinds[k] == 'b' || kinds[k] == 'u' ? 1
                                                                          : 8;
            offsets[k] = total;
            total += (item * static_cast<std::size_t>(n) + 63) / 64 * 64;
        }
        if (!(block = new_array(NPY_UINT8, static_cast<npy_intp>(total)))) return -1;
        char* base = data_of<char>(block);
        for (int k = 0; k < count; ++k) {
            PyArray_Descr* descr = column_descr(kinds[k], widths[k]);
            if (!descr || !(arrays[k] = view_array(descr, n, base + offsets[k], block.get()))) return -1;
        }
        std::int64_t** ints[] = {&columns.satno,          &columns.epoch,      &columns.ephemeris_type,
                                 &columns.element_number, &columns.rev_number, &columns.line};
        double** doubles[] = {&columns.ndot, &columns.nddot, &columns.bstar, &columns.inc, &columns.raa,
                              &columns.ecc,  &columns.arp,   &columns.mea,   &columns.mnm, &columns.sma,
                              &columns.orp,  &columns.eca,   &columns.tra,   &columns.pge, &columns.apg};
        int i = 0, d = 0;
        for (int k = 0; k < count; ++k) {
            if (kinds[k] == 'i') *ints[i++] = data_of<std::int64_t>(arrays[k]);
            if (kinds[k] == 'f') *doubles[d++] = data_of<double>(arrays[k]);
        }
        columns.name = data_of<std::uint32_t>(arrays[1]);
        columns.classification = data_of<std::uint32_t>(arrays[2]);
        columns.designator = data_of<std::uint32_t>(arrays[3]);
        columns.checksum_ok = data_of<std::uint8_t>(arrays[24]);
        columns.tle_form = data_of<std::uint8_t>(arrays[25]);
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
        // The field names as interned str, made once and kept for the life
        // of the process (as the interpreter keeps interned names).
        static PyObject* keys[count] = {};
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (int k = 0; k < count; ++k) {
            if (!keys[k] && !(keys[k] = PyUnicode_InternFromString(names[k]))) return nullptr;
            if (PyDict_SetItem(dict.get(), keys[k], arrays[k].get()) < 0) return nullptr;
        }
        return dict.release();
    }
};

// ---------------------------------------------------------------- read_tle

PyObject* read_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* tle_entries(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

const FunctionDef read_tle_def{
    "read_tle",
    "read_tle(data, *, strict=False, skip=False, threads=None, piece_bytes=None) -> tuple[dict[str, ndarray], "
    "ndarray]\n\n"
    "Columns of the element sets of two- or three-line text (a bytes-like object), and the line\n"
    "numbers skipped under skip=True.  piece_bytes: size of the pieces the text is cut into (the\n"
    "table does not depend on it).",
    read_tle,
    {"read_tle", {"data", "strict", "skip", "threads", "piece_bytes"}, 5, 1, 4}};

int flag(PyObject* value, bool* out) {
    const int truth = value ? PyObject_IsTrue(value) : 0;
    if (truth < 0) return -1;
    *out = truth != 0;
    return 0;
}

// Mark the lines of sets that failed conversion as skipped (into each
// piece's list) and drop their rows; or raise the first fault.
int handle_set_faults(Text& text, const std::uint8_t* faults, bool skip, bool strict, Table& table) {
    for (Piece& piece : text.pieces) {
        for (std::size_t j = 0; j < piece.sets.size(); ++j) {
            const auto f = static_cast<SetFault>(faults[piece.first_row + j]);
            if (f == SetFault::none) continue;
            if (!skip) {
                raise_set_fault(text, piece, piece.sets[j], f, strict);
                return -1;
            }
            if (!piece.skipped.push(fault_line(piece, piece.sets[j], f))) {
                PyErr_NoMemory();
                return -1;
            }
        }
    }
    return table.compact(faults, static_cast<npy_intp>(text.sets));
}

// The skipped line numbers (1-based) of all pieces, in increasing order.
Ref skipped_lines(const Text& text) {
    npy_intp count = 0;
    for (const Piece& piece : text.pieces) count += static_cast<npy_intp>(piece.skipped.size());
    Ref skipped = new_array(NPY_INT64, count);
    if (!skipped) return Ref();
    auto* numbers = data_of<std::int64_t>(skipped);
    for (const Piece& piece : text.pieces) {
        for (std::size_t k = 0; k < piece.skipped.size(); ++k) *numbers++ = piece.first_line + piece.skipped[k] + 1;
    }
    std::sort(data_of<std::int64_t>(skipped), numbers);
    return skipped;
}

PyObject* read_tle(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[5];
    if (bind_arguments(read_tle_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    bool strict, skip;
    int threads;
    std::size_t piece;
    if (flag(a[1], &strict) < 0 || flag(a[2], &skip) < 0 || threads_argument(a[3], &threads) < 0 ||
        piece_bytes_argument(a[4], &piece) < 0) {
        return nullptr;
    }
    Environment env;
    if (environment(&env, strict) < 0) return nullptr;
    HeldBuffer buffer;
    if (buffer.acquire(a[0]) < 0) return nullptr;
    Text text;
    if (read_text(buffer.data(), buffer.size(), threads, skip, false, piece, &text) < 0) return nullptr;
    if (text.fault >= 0) return raise_pairing(text);

    const npy_intp n = static_cast<npy_intp>(text.sets);
    Table table;
    Scratch<std::uint8_t> faults;
    if (table.create(n, text.name_width > 1 ? text.name_width : 1) < 0) return nullptr;
    if (!faults.allocate(static_cast<std::size_t>(n))) return PyErr_NoMemory();

    bool any = false;
    Py_BEGIN_ALLOW_THREADS
    const char* end = text.data + text.size;
    parallel_for(text.pieces.size(), threads_for(text.sets, parallel_rows, threads), [&](std::size_t k) {
        Piece& p = text.pieces[k];
        p.faults = convert_sets(text.data, end, p.sets.data(), p.sets.size(), p.names.data(), p.first_line, p.first_row,
                                env, table.columns, faults.get() + p.first_row);
    });
    for (const Piece& p : text.pieces) any = any || p.faults;
    Py_END_ALLOW_THREADS
    if (any && handle_set_faults(text, faults.get(), skip, strict, table) < 0) return nullptr;
    Ref skipped = skipped_lines(text);
    if (!skipped) return nullptr;
    Ref columns = Ref::steal(table.as_dict());
    if (!columns) return nullptr;
    return PyTuple_Pack(2, columns.get(), skipped.get());
}

// ---------------------------------------------------------------- tle_entries

const FunctionDef tle_entries_def{
    "tle_entries",
    "tle_entries(data, *, strict=False, piece_bytes=None) -> list[tuple[str | None, str, str, int]]\n\n"
    "(name, line 1, line 2, line number of line 1) of every element set of two- or three-line text.\n"
    "Each set is checked as read_tle checks it before converting (ASCII lines, the fixed-column\n"
    "layout, strict validation with strict=True); the first fault raises ValueError naming its line.",
    tle_entries,
    {"tle_entries", {"data", "strict", "piece_bytes"}, 3, 1, 2}};

// Bytes of the text as str: UTF-8, or Latin-1 when they are not UTF-8.
PyObject* line_text(const char* data, std::int64_t begin, std::int64_t length) {
    PyObject* s = PyUnicode_DecodeUTF8(data + begin, static_cast<Py_ssize_t>(length), nullptr);
    if (s || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return s;
    PyErr_Clear();
    return PyUnicode_DecodeLatin1(data + begin, static_cast<Py_ssize_t>(length), nullptr);
}

PyObject* tle_entries(Function*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[3];
    if (bind_arguments(tle_entries_def.params, args, nargs, kwnames, a) < 0) return nullptr;
    bool strict;
    std::size_t piece;
    if (flag(a[1], &strict) < 0 || piece_bytes_argument(a[2], &piece) < 0) return nullptr;
    HeldBuffer buffer;
    if (buffer.acquire(a[0]) < 0) return nullptr;
    Text text;
    if (read_text(buffer.data(), buffer.size(), available_cpus(), false, true, piece, &text) < 0) return nullptr;
    if (text.fault >= 0) return raise_pairing(text);
    const char* end = text.data + text.size;
    for (const Piece& p : text.pieces) {
        for (std::size_t j = 0; j < p.sets.size(); ++j) {
            tle::Fault fault;
            const SetFault f = check_set(text.data, end, p.sets[j], strict, &fault);
            if (f != SetFault::none) return raise_set_fault(text, p, p.sets[j], f, strict);
        }
    }
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(text.sets)));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const Piece& p : text.pieces) {
        for (std::size_t j = 0; j < p.sets.size(); ++j, ++i) {
            const Set& s = p.sets[j];
            Ref name = Ref::steal(s.name >= 0 ? line_text(text.data, p.names[s.name].begin, p.names[s.name].length)
                                              : Py_NewRef(Py_None));
            Ref one = Ref::steal(line_text(text.data, s.begin1, s.length1));
            Ref two = Ref::steal(line_text(text.data, s.begin2, s.length2));
            Ref number = Ref::steal(PyLong_FromLongLong(p.first_line + s.line1 + 1));
            if (!name || !one || !two || !number) return nullptr;
            PyObject* entry = PyTuple_Pack(4, name.get(), one.get(), two.get(), number.get());
            if (!entry) return nullptr;
            PyList_SET_ITEM(list.get(), i, entry);
        }
    }
    return list.release();
}

}  // namespace

int add_table_functions(PyObject* module) {
    const FunctionEntry functions[] = {
        {&read_tle_def, {Py_False, Py_False, Py_None, Py_None}, 4},
        {&tle_entries_def, {Py_False, Py_None}, 2},
    };
    return add_functions(module, functions);
}

int add_functions(PyObject* module, std::span<const FunctionEntry> functions) {
    for (const FunctionEntry& e : functions) {
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
