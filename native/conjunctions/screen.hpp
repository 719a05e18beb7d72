// Conjunction screening of SGP4 element sets: every local minimum of the
// distance between two objects below a threshold within a window.
//
// The method (docs/decisions.md, "Conjunction screening"):
//   1. a global grid t_k = start + k·H; the window is processed in chunks
//      of grid steps, every object propagated at the chunk's grid times;
//   2. per object and segment [t_k, t_k+1] the cubic Hermite interpolant of
//      SGP4's positions and velocities, with an error bound ε from the
//      published Hermite remainder and a Keplerian bound of |r''''|;
//   3. broad phase per sub-step (H = q·h): boxes of the Bézier sub-curves
//      widened by ε + threshold/2, overlapping pairs by a spatial hash;
//   4. narrow phase: the relative cubic's distance from the origin bounded
//      below by boxes of its subdivided control polygon;
//   5. refinement with SGP4 itself: sign changes of g = Δr·Δv from − to + on
//      the grid-aligned sub-step boundaries, roots to 1 µs in integer ns.
//
// Plain C++ over the propagator's exported kernels: no Python, runs without
// the interpreter lock.  Every event is a function of its pair and its
// bracket alone, so results do not depend on threads or on how the window
// is cut into chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "propagators/analytical/sgp4/propagator/export.hpp"

namespace qv::screen {

// Element sets of one source, as the propagator's view describes them.
struct Source {
    const char* sats;
    std::size_t stride;
    const std::int64_t* epochs;
    const std::int64_t* satno;
    std::size_t n;
    const void* sat(std::size_t i) const { return sats + i * stride; }
};

struct Kernels {
    sgp4::RunTimesKernel* run_times;
    sgp4::SampleKernel* sample;
    int lanes;
};

struct Window {
    std::int64_t start, stop;      // ns since 1970; events with start ≤ tca ≤ stop
    std::int64_t step;             // H, ns (a multiple of `substeps`)
    int substeps;                  // q
    std::int64_t first, last;      // the grid segments [first, last) screened by this call
    double threshold;              // m
    int threads;
    std::int64_t chunk_steps;      // segments per chunk
    // Every object's fourth-derivative bound at `start` (start_bounds), or
    // null: computed by the run.  A Dask task takes the client's, so that its
    // workers do not propagate every object again.
    const double* bounds = nullptr;
};

struct Event {
    std::uint32_t primary, secondary;  // object indices (combined: secondaries after primaries)
    std::int64_t bracket;              // sub-step index m of the bracket [s_m, s_m+1]
    std::int64_t tca;                  // ns
    double miss, speed, rtn[3];
};

struct Failure {
    std::uint32_t object;     // combined index
    std::int64_t segment;     // first segment no longer screened
    std::int64_t time;        // ns of the failing sample
    std::int8_t code;
};

struct Stats {
    double propagation = 0, broad = 0, narrow = 0, refinement = 0;  // seconds (wall)
    std::uint64_t candidates = 0, intervals = 0, brackets = 0;
    std::uint64_t boxes = 0, entries = 0, tested = 0, overlaps = 0;  // broad phase: boxes, slab entries, lanes tested, overlaps
    std::uint64_t samples = 0;  // grid samples propagated
    std::uint64_t parts = 0;    // parts of boxes larger than the broad phase's cell
};

// Screen `a` against itself (b == nullptr: pairs i < j) or against `b`.
// Events are sorted by (primary, secondary, bracket), without duplicates.
void screen(const Source& a, const Source* b, const Kernels& k, const Window& w, std::vector<Event>* events,
            std::vector<Failure>* failures, Stats* stats);

// The interpolation bound (m) the grid step is chosen for, at the fastest
// object; slower objects take longer coarse segments within it.  The bound
// only widens boxes (a few hundred kilometres) and the narrow phase's radius
// (the threshold, kilometres): a longer step saves more propagation than the
// wider radius costs in candidates.
inline constexpr double interpolation_target = 1600.0;

// The grid step's bounds (s).
inline constexpr double min_step = 20.0, max_step = 300.0;

// Each object's bound of |d⁴r/dt⁴| (m/s⁴) at `start`, from its SGP4 state
// there (NaN where SGP4 fails): what the grid step and the slow objects'
// strides are chosen from.  Objects of `b` after those of `a`.
void start_bounds(const Source& a, const Source* b, const Kernels& k, std::int64_t start, int threads, double* out);

// The grid step for objects with these start bounds (n of them): the
// fastest object's dynamics keep the Hermite error bound near `target`
// metres; whole seconds, a multiple of `substeps`, within [min_step,
// max_step] seconds.
std::int64_t choose_step(const double* bounds, std::size_t n, int substeps, double target, double min_step,
                         double max_step);

// The error bound of the cubic Hermite interpolant over a segment of H
// seconds whose ends hold these states (metres, m/s).
double hermite_bound(const double* r0, const double* v0, const double* r1, const double* v1, double H);

// Check of the bound: for each object of `a` and segment k of the grid
// start + k·H (k < count), the distance between the interpolant and SGP4
// at the segment's midpoint, and the bound (NaN where a sample failed).
void interpolation_check(const Source& a, const Kernels& k, std::int64_t start, std::int64_t step, std::size_t count,
                         double* error, double* bound, int threads);

}  // namespace qv::screen
