#include "runtime/buffer.hpp"

#include <cstring>

namespace qv {

namespace {

// Name of a struct-module type code, as shown in dtype-mismatch messages.
const char* describe_code(char code) {
    switch (code) {
        case 'c': return "char";
        case 'b': return "signed char";
        case 'B': return "unsigned char";
        case 'h': return "short";
        case 'H': return "unsigned short";
        case 'i': return "int";
        case 'I': return "unsigned int";
        case 'l': return "long";
        case 'L': return "unsigned long";
        case 'q': return "long long";
        case 'Q': return "unsigned long long";
        case 'f': return "float";
        case 'd': return "double";
        case 'g': return "long double";
        case 'e': return "half";
        case '?': return "bool";
        case 'Z': return "complex";
        case 'O': return "Python object";
        case 'T': return "a struct";
        default: return "unparseable format string";
    }
}

// Skip native/little-endian byte-order prefixes NumPy may put in front of a
// format (this code is built for little-endian x86-64 only).
const char* skip_order(const char* f) {
    while (*f == '@' || *f == '=' || *f == '<' || *f == '^') ++f;
    return f;
}

// True when the format, or any field of a record format, is big-endian.
bool big_endian(const char* f) {
    for (; *f; ++f) {
        if (*f == '>' || *f == '!') return true;
        if (*f == ':') {  // skip a field name
            const char* end = std::strchr(f + 1, ':');
            if (!end) return false;
            f = end;
        }
    }
    return false;
}

bool is_plain_double(const char* f) { return std::strcmp(skip_order(f), "d") == 0; }

// A record of n doubles, as NumPy describes it: "T{d:ecc:d:sma:...}".
bool is_double_record(const char* f, int n) {
    f = skip_order(f);
    if (*f != 'T' || f[1] != '{') return false;
    f += 2;
    for (int i = 0; i < n; ++i) {
        f = skip_order(f);
        if (*f != 'd') return false;
        ++f;
        if (*f == ':') {
            const char* end = std::strchr(f + 1, ':');
            if (!end) return false;
            f = end + 1;
        }
    }
    return *f == '}' && f[1] == '\0';
}

}  // namespace

int BufferView::acquire(PyObject* obj, const ElementType& type, int ndim, bool writable) {
    release();
    int flags = PyBUF_RECORDS_RO | PyBUF_FORMAT;
    if (writable) flags |= PyBUF_WRITABLE;
    if (PyObject_GetBuffer(obj, &buf_, flags) < 0) return -1;
    held_ = true;
    if (buf_.ndim != ndim) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)", ndim,
                     buf_.ndim);
        release();
        return -1;
    }
    const char* format = buf_.format ? buf_.format : "B";
    if (big_endian(format)) {
        PyErr_SetString(PyExc_ValueError, "Big-endian buffer not supported on little-endian compiler");
        release();
        return -1;
    }
    bool matches = static_cast<std::size_t>(buf_.itemsize) == type.itemsize &&
                   (type.doubles == 1 ? is_plain_double(format) : is_double_record(format, type.doubles));
    if (!matches) {
        const char* got = describe_code(*skip_order(format));
        PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected '%s' but got '%s'", type.name, got);
        release();
        return -1;
    }
    return 0;
}

void BufferView::release() {
    if (held_) {
        PyBuffer_Release(&buf_);
        held_ = false;
    }
}

}  // namespace qv
