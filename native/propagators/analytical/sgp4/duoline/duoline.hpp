// quorvane.propagators.analytical.sgp4.duoline: two-line element records
// (DUOLINE) and time-ordered element sets (ELSET).
//
// This header is what other native modules may include: the object layouts
// of both classes and DUOLINE's native method table, which travels as a
// capsule in the type dict under `__pyx_vtable__`.  The module publishes no
// export table of its own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "siblings/utils/representable/representable.hpp"

namespace qv::duoline {

inline constexpr const char* module_path = "quorvane.propagators.analytical.sgp4.duoline";
inline constexpr const char* duoline_type_name = "quorvane.propagators.analytical.sgp4.duoline.DUOLINE";
inline constexpr const char* elset_type_name = "quorvane.propagators.analytical.sgp4.duoline.ELSET";

// Stored line: at most 69 characters, then NUL bytes up to the end.
inline constexpr int line_size = 70;
inline constexpr int satno_size = 6;

struct DuolineObject;

// Native methods of DUOLINE.  Each reads the stored lines of the record and
// fills fields; a failure leaves a Python exception pending, which the caller
// tests after each call.
struct DuolineVTable {
    void (*parse_line1)(DuolineObject* self);  // _satno and epoch from _line1
    void (*parse_line2)(DuolineObject* self);  // inc, raa, ecc, arp, mea, mnm from _line2
};

struct DuolineObject {
    representable::RepresentableObject base;
    DuolineVTable* vtab;          // the type's native method table
    char _line1[line_size];       // stripped, upper-cased, NUL-padded
    char _line2[line_size];
    int strict_validation;        // 1 when the lines passed strict validation, else 0
    char _satno[satno_size];      // columns 3-7 of line 1, NUL-terminated
    PyObject* epoch;              // Time, owned; None until line 1 is parsed
    double inc;                   // rad
    double raa;                   // rad
    double ecc;                   // 1
    double mea;                   // rad
    double arp;                   // rad
    double mnm;                   // rad/s
    double sma;                   // m (derived)
    double orp;                   // s (derived)
    double eca;                   // rad (derived)
    double tra;                   // rad (derived)
    double pge;                   // m above Earth.Re (derived)
    double apg;                   // m above Earth.Re (derived)
};

// One element array of an element set: the NumPy array that owns the
// memory (owned reference) and where its entries are.
struct ElementView {
    PyObject* array;
    char* data;
    Py_ssize_t size;
    Py_ssize_t stride;  // bytes
};

struct ElsetObject {
    representable::RepresentableObject base;
    PyObject* epoch;     // Time of all epochs, owned; None until built
    std::int32_t _satno;
    PyObject* elements;  // list of the records, sorted by epoch; owned
    ElementView _ecc, _sma, _inc, _raa, _arp, _tra, _mnm, _orp, _eca, _mea, _pge, _apg;
};

}  // namespace qv::duoline
