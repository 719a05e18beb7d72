// The broad phase's sweep over boxes sorted by grid column: for each box,
// the boxes after it that overlap it among its forward neighbours.
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
// Compiled once per instruction set (sweep_kernels.cpp); the lanes are
// comparisons only, so every width finds the same pairs in the same order.
#pragma once

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

#define QV_SCREEN_SWEEP(isa)                                                                                    \
    namespace sweeps::isa {                                                                                     \
    std::size_t sweep(const SweepBoxes& b, std::size_t* next, std::size_t* start, std::uint64_t* out,           \
                      std::size_t room, std::uint64_t* tested) noexcept;                                        \
    }
QV_SIMD_EACH_ISA(QV_SCREEN_SWEEP)
#undef QV_SCREEN_SWEEP

SweepRun sweep_run_for(int lanes) noexcept;

}  // namespace qv::screen
