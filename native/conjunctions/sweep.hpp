// The broad phase's kernels: the boxes of a sub-step's pieces, and the sweep
// over boxes sorted by grid column that finds, for each box, the boxes after
// it that overlap it among its forward neighbours.
//
// Boxes are axis-aligned, no wider than a cell C in any axis, sorted by
// (column of the lower corner in x and y, z of the lower corner in quanta of
// C/64).  Box i (column c) meets the boxes of the columns c and c + 1
// (= (x, y + 1)) in one contiguous run starting right after it, and those of
// the columns c + DY - 1 .. c + DY + 1 (= (x + 1, y - 1 .. y + 1)) in a
// second run starting at the first of them whose lower corner is no lower
// than one cell and two quanta beneath box i's.  Each run is tested in
// vector blocks up to the first box of a later column: boxes that the runs
// cross beyond the wanted z ranges cannot overlap box i in z, so every
// overlapping pair of the forward neighbourhood is met exactly once, whatever
// the vector width.
//
// Compiled once per instruction set (sweep_kernels.cpp); the sweep's lanes
// are comparisons only, so every width finds the same pairs in the same
// order, and the pieces' lanes are single IEEE operations in the scalar
// order, so every width builds the same bits.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "mathtools/simd/dispatch.hpp"

namespace qv::screen {

struct SweepBoxes {
    // Sorted bounds and each box's column as a double, `live` boxes followed
    // by at least 24 padding entries of column +inf.
    const double *x0, *y0, *z0, *x1, *y1, *z1, *column;
    const std::uint64_t* key;  // (column << zbits | z quantum); the padding is all ones
    std::size_t live;
    std::uint64_t dy;     // columns per x step
    int zbits;
    std::uint64_t below;  // quanta of a cell and of rounding
};

// Sweeps boxes i = *next, ... while the output has room for one more box's
// pairs (`live` of them): writes (i << 32 | j) for each overlapping j > i in
// the order met, advances *next and *start (the second run's search
// position, 0 at the first call of a sweep) and returns the pairs written;
// *tested counts the lanes compared.
using SweepRun = std::size_t (*)(const SweepBoxes& b, std::size_t* next, std::size_t* start, std::uint64_t* out,
                                 std::size_t room, std::uint64_t* tested) noexcept;

// The pieces of one sub-step: for every object not yet stopped whose two
// samples hold, the Bézier control points of its piece and their box.
// A fast object's piece is cut from its grid segment's cubic (states at rows
// `row` and `row` + 1 of R, V, E, eps, objects by index); a slow object's
// (stride m > 1) from its coarse segment's cubic (rows of RS, VS, ES, epsS,
// objects by slow index).  Weights are column-major: w[4c + i] weighs term c
// (r0, H v0, r1, H v1) of control point i.
struct PieceInputs {
    std::size_t n, na;                    // objects; primaries are those below na
    std::int64_t kseg, k0;                // the sub-step's grid segment, the chunk's first
    int q, u;                             // sub-steps a step, this sub-step
    double H, half;                       // grid step (s), half the threshold (m)
    const std::int64_t* fail_segment;     // first segment each object is no longer screened
    const std::uint8_t* stride;
    const std::uint32_t* slow_of;
    std::size_t slow;                     // slow objects (the row length of RS...)
    const double *R, *V, *eps;
    const std::int8_t* E;
    std::size_t row;                      // the segment's first row in R, V, E, eps
    const double *RS, *VS, *epsS;
    const std::int8_t* ES;
    const std::int64_t* satno;
    const double* weights;                // the fast objects' weights (16)
    const double* const* slow_weights;    // by stride m: (offset·q + u)·16 onwards
    std::uint32_t* extent_counts;         // boxes by extent_bucket of their largest side (added to)
};

// Buckets of box sizes for choosing the broad phase's cell: 32 a factor of
// two from 2^10 m to 2^31 m (the first and last take everything beyond),
// from a size's exponent and first five bits of mantissa.
inline constexpr int extent_low_octave = 10, extent_steps = 32;
inline constexpr int extent_buckets = (31 - extent_low_octave) * extent_steps;
inline int extent_bucket(double e) noexcept {
    const std::int64_t b = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(e) >> 47) -
                           static_cast<std::int64_t>(1023 + extent_low_octave) * extent_steps;
    return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(b, 0), extent_buckets - 1));
}
// The largest size of bucket b (an upper bound of every size in it, the
// last bucket's excepted).
inline double extent_bucket_top(int b) noexcept {
    return std::ldexp(1.0 + static_cast<double>(b % extent_steps + 1) / extent_steps,
                      extent_low_octave + b / extent_steps);
}

// Per slot (live objects in object order): box[8·slot] = lower corner,
// upper corner (widened by ε + half), satellite number (bits), padding;
// ctrl[16·slot] = control points x-major (ctrl[4x + i]), ε, object index
// (bits).  Also the largest box extent, the lower corners' range and the
// highest upper z.
struct PieceBoxes {
    std::size_t live = 0, live_a = 0;  // slots; live primaries (the slots below it)
    double extent = 0.0, cmin[3] = {0, 0, 0}, cmax[3] = {0, 0, 0}, ztop = 0.0;
};

using PieceBuild = void (*)(const PieceInputs& in, double* box, double* ctrl, PieceBoxes* out) noexcept;

#define QV_SCREEN_SWEEP(isa)                                                                                    \
    namespace sweeps::isa {                                                                                     \
    std::size_t sweep(const SweepBoxes& b, std::size_t* next, std::size_t* start, std::uint64_t* out,           \
                      std::size_t room, std::uint64_t* tested) noexcept;                                        \
    void pieces(const PieceInputs& in, double* box, double* ctrl, PieceBoxes* out) noexcept;                  \
    }
QV_SIMD_EACH_ISA(QV_SCREEN_SWEEP)
#undef QV_SCREEN_SWEEP

SweepRun sweep_run_for(int lanes) noexcept;
PieceBuild piece_build_for(int lanes) noexcept;

}  // namespace qv::screen
