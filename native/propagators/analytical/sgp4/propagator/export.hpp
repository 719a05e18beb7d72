// The propagator's native interface for other extension modules: the
// screening and pass-finding modules (and extensions outside the package)
// bind these through the module's `__pyx_capi__`, like any outside
// extension, so their positions are the propagator's bits.
//
//     qv::Exporter sgp4("quorvane.propagators.analytical.sgp4.propagator");
//     if (!sgp4 || sgp4.kernel(&view, "c_view", qv::sgp4::sig_view) < 0 ||
//         sgp4.kernel(&run_times, "c_run_times", qv::sgp4::sig_run_times) < 0 ||
//         sgp4.kernel(&sample, "c_sample", qv::sgp4::sig_sample) < 0)
//         return -1;
//
// Times are minutes since each set's epoch; compute them from instants
// with `qv::sgp4::minutes_between` (sgp4.hpp) to get the bits that
// `SGP4.propagate(times)` gives.  Positions are metres and velocities m/s
// in the TEME frame; a sample that cannot be propagated has NaN state and
// a nonzero code (the codes of `SGP4.propagate`).
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef Py_PYTHON_H
struct _object;
typedef struct _object PyObject;
#endif

// The element sets of an SGP4 object, borrowed: valid while the object
// lives, read-only.  `sats` holds n initialised sets `stride` bytes apart
// (opaque to importers: pass `sats + i * stride` to the kernels below).
struct qv_sgp4_View {
    const void* sats;
    std::size_t stride;
    const std::int64_t* epochs;  // n epochs, ns since 1970-01-01 UTC
    const std::int64_t* satno;   // n satellite numbers (Alpha-5 decoded; -1 when none)
    std::size_t n;
    int kind;                    // 0 one record, 1 one satellite's history (epoch order), 2 many sets
};

namespace qv::sgp4 {

// Fill *view from an SGP4 object: 0, or -1 with TypeError set.  Holds the
// interpreter lock.
using ViewKernel = int(PyObject* obj, qv_sgp4_View* view);
inline constexpr const char* sig_view = "int (PyObject *, struct qv_sgp4_View *)";

// One set at `count` times (minutes since its epoch): rows of three
// positions and velocities, a code per time.  `lanes` (1, 4 or 8, as
// qv::simd::detect() returns) picks the vector loop; every choice gives the
// same bits.  Needs no interpreter lock; reentrant.
using RunTimesKernel = void(const void* sat, const double* tsince, std::size_t count, double* r, double* v,
                            std::int8_t* err, int lanes);
inline constexpr const char* sig_run_times = "void (void const *, double const *, size_t, double *, double *, int8_t *, int)";

// One set at one time, one lane: the same bits as a lane of c_run_times,
// at the latency of a single sample (for root finding).
using SampleKernel = void(const void* sat, double tsince, double* r, double* v, std::int8_t* err);
inline constexpr const char* sig_sample = "void (void const *, double, double *, double *, int8_t *)";

}  // namespace qv::sgp4
