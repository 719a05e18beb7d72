// quorvane.time.time: the time class Time.
//
// An instant is int64 nanoseconds since 1970-01-01T00:00:00 UTC (the
// datetime64[ns] encoding, no leap seconds).  A Time holds one instant
// (scalar) or a one-dimensional array of instants.
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
