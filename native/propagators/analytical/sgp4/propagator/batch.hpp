// Batches of samples: many element sets at many times, cut into tiles of
// (set, run of times) that threads take in any order.  Every tile writes
// its own part of the outputs and computes it the same way whichever thread
// runs it, so results never depend on the thread count or the chunking.
//
// Plain C++ on caller-owned memory; runs without the interpreter lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "propagators/analytical/sgp4/propagator/sgp4.hpp"
#include "time/time/instants.hpp"

namespace qv::sgp4 {

// One set at `count` times (minutes from its epoch): positions in metres
// and velocities in m/s as rows of three, error codes per time.
using RunTimes = void (*)(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                          std::int8_t* err);

// The rotation of propagate(frame=) into another frame, applied by the
// sample loop to each vector of samples while it is still in registers:
// per-time matrices R and Rdot (m, 3, 3) and the same as 18 rows of m
// (`soa`, element e of R at soa[e m + j], of Rdot at soa[(9 + e) m + j]),
// r' = R r, v' = R v + Rdot r (frames/frames/rotate.hpp).
struct Turn {
    const double* soa;
    const double* R;
    const double* Rdot;
    std::size_t m;
};

// As RunTimes, then each sample k turned by the matrices of time j0 + k.
using RunTimesTurned = void (*)(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                                std::int8_t* err, const Turn& turn, std::size_t j0);

// The loop of each instruction set (kernels.cpp, compiled once per set, in
// a namespace named after it); every one gives the same bits.
namespace loops {
namespace baseline {
void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept;
void run_times_turned(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                      std::int8_t* err, const Turn& turn, std::size_t j0) noexcept;
// One time, one lane (scalar code): the bits of any lane of run_times.
void sample_one(const Satellite& s, double tsince, double* r, double* v, std::int8_t* err) noexcept;
}
namespace avx2 {
void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept;
void run_times_turned(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                      std::int8_t* err, const Turn& turn, std::size_t j0) noexcept;
}
namespace avx512 {
void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept;
void run_times_turned(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                      std::int8_t* err, const Turn& turn, std::size_t j0) noexcept;
}
}  // namespace loops

// The loop of the instruction set chosen at run time (qv::simd::detect(),
// 1, 4 or 8 lanes).
RunTimes run_times_for(int lanes) noexcept;
RunTimesTurned run_times_turned_for(int lanes) noexcept;

// NaT: datetime64's not-a-time.
inline constexpr std::int64_t nat = time::nat;

struct Job {
    const Satellite* sats;       // n sets
    const std::int64_t* epochs;  // n epochs, ns since 1970 (ascending for a history)
    std::size_t n;
    std::size_t m;               // number of times
    // Times: absolute instants (ns since 1970, NaT allowed) or minutes
    // since epoch; for a history, minutes since the first epoch.
    const std::int64_t* times = nullptr;
    time::UnitScale time_scale;  // datetime64 units: ns = floor(raw × factor / divisor)
    const double* tsince = nullptr;
    bool tsince_per_set = false;  // tsince is n rows of m, else one row for all sets
    // A history (one satellite's sets in epoch order): each time uses one set,
    // the latest at or before it, or the nearest.
    bool history = false;
    bool nearest = false;
    const double* offsets = nullptr;  // history with tsince: minutes of each epoch after the first
    // Outputs: (n, m, 3), (n, m, 3), (n, m); a history (m, 3), (m, 3), (m,).
    double* r;
    double* v;
    std::int8_t* err;
    RunTimes run;
    // Optional: the rotation into another frame (null for none, TEME), run
    // by `run_turned` inside the sample loop.
    const Turn* turn = nullptr;
    RunTimesTurned run_turned = nullptr;
};

// Instant j of the job in ns since 1970: NaT, and instants outside the
// nanosecond range, are NaT.
std::int64_t instant(const Job& job, std::size_t j) noexcept;

// Run every sample of the job on at most `threads` threads.
void run_job(const Job& job, int threads);

}  // namespace qv::sgp4
