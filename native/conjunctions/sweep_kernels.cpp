// The broad phase's sweep, compiled once per instruction set: a vector of
// the widest lane type of the unit tests that many boxes against one.
#include "conjunctions/sweep.hpp"

#include "mathtools/simd/lanes.hpp"

namespace qv::screen::sweeps::QV_SIMD_ISA {

namespace {
namespace lanes = qv::simd;
using V = lanes::Widest;
constexpr std::size_t W = lanes::Width<V>;

// Boxes j = from, from + W, ... of columns up to `last` against box i; the
// pairs found appended to out.
inline std::size_t run(const SweepBoxes& b, std::size_t i, std::size_t from, double last, std::uint64_t* out,
                       std::uint64_t* tested) {
    const V x0(b.x0[i]), y0(b.y0[i]), z0(b.z0[i]), x1(b.x1[i]), y1(b.y1[i]), z1(b.z1[i]);
    const std::uint64_t high = static_cast<std::uint64_t>(i) << 32;
    std::size_t found = 0, blocks = 0;
    auto block = [&](std::size_t j) {
        const auto hit = (lanes::load<V>(b.column + j) <= last) & (lanes::load<V>(b.x0 + j) <= x1) &
                         (x0 <= lanes::load<V>(b.x1 + j)) & (lanes::load<V>(b.y0 + j) <= y1) &
                         (y0 <= lanes::load<V>(b.y1 + j)) & (lanes::load<V>(b.z0 + j) <= z1) &
                         (z0 <= lanes::load<V>(b.z1 + j));
        for (unsigned m = lanes::bits(hit); m != 0; m &= m - 1)
            out[found++] = high | (j + static_cast<std::size_t>(__builtin_ctz(m)));
        ++blocks;
    };
    // The first three blocks unconditionally (lanes past the run fail the
    // column test; the boxes are padded for them): most runs end within
    // them, so the loop below is rarely entered and its exit rarely a
    // mispredicted branch.
    std::size_t j = from;
    for (int lead = 0; lead < 3; ++lead, j += W) block(j);
    for (; b.column[j] <= last; j += W) block(j);
    *tested += blocks * W;
    return found;
}
}  // namespace

std::size_t sweep(const SweepBoxes& b, std::size_t* next, std::size_t* start, std::uint64_t* out, std::size_t room,
                  std::uint64_t* tested) noexcept {
    const std::uint64_t zmask = (std::uint64_t{1} << b.zbits) - 1;
    std::size_t written = 0, i = *next, j = *start;
    for (; i < b.live && written + b.live <= room; ++i) {
        const std::uint64_t column = b.key[i] >> b.zbits, zq = b.key[i] & zmask;
        const double c = b.column[i];
        written += run(b, i, i + 1, c + 1.0, out + written, tested);
        // The second run's first box: the search position only moves forward.
        const std::uint64_t zlo = zq > b.below ? zq - b.below : 0;
        const std::uint64_t lo = (column + b.dy - 1) << b.zbits | zlo;
        while (b.key[j] < lo) ++j;
        written += run(b, i, j, c + static_cast<double>(b.dy + 1), out + written, tested);
    }
    *next = i;
    *start = j;
    return written;
}

}  // namespace qv::screen::sweeps::QV_SIMD_ISA
