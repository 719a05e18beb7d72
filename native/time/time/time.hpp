// quorvane.time.time: the time class Time.
//
// An instant is int64 nanoseconds since 1970-01-01T00:00:00 UTC (the
// datetime64[ns] encoding, no leap seconds).  A Time holds one instant
// (scalar) or a one-dimensional array of instants.  A scalar keeps its instant
// in `ns` and null in `array`; an array Time keeps a private, C-contiguous,
// read-only int64 ndarray in `array` (and 0 in `ns`).  Time objects never
// change after construction.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace qv::time {

struct TimeObject {
    PyObject_HEAD
    int64_t ns;        // the instant of a scalar Time
    PyObject* array;   // int64 ndarray of instants for an array Time, else null
};

}  // namespace qv::time
