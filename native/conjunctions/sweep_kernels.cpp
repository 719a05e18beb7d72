// The broad phase's kernels, compiled once per instruction set: the pieces'
// control points four at a time, and the sweep, where a vector of the widest
// lane type of the unit tests that many boxes against one.
#include "conjunctions/sweep.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "mathtools/simd/lanes.hpp"

namespace qv::screen::sweeps::QV_SIMD_ISA {

namespace {
namespace lanes = qv::simd;
using V = lanes::Widest;
constexpr std::size_t W = lanes::Width<V>;
// The four control points of a piece in one vector where the unit has one.
#if defined(__AVX2__)
using Four = lanes::Avx2;
#else
using Four = double;
#endif

// The control points of one piece, x-major into cp, each
// w[i]·a0 + w[4+i]·a1 + w[8+i]·a2 + w[12+i]·a3 left to right as in scalar
// code, and their box widened by pad into bx[0..5].
inline void piece(const double* r0, const double* v0, const double* r1, const double* v1, double Hs,
                  const double* w, double pad, double* cp, double* bx) {
    constexpr int F = lanes::Width<Four>;
    for (int x = 0; x < 3; ++x) {
        const Four a0(r0[x]), a1(Hs * v0[x]), a2(r1[x]), a3(Hs * v1[x]);
        for (int i = 0; i < 4; i += F)
            lanes::store(cp + 4 * x + i, lanes::load<Four>(w + i) * a0 + lanes::load<Four>(w + 4 + i) * a1 +
                                             lanes::load<Four>(w + 8 + i) * a2 + lanes::load<Four>(w + 12 + i) * a3);
        const double* c = cp + 4 * x;
        bx[x] = std::min(std::min(c[0], c[1]), std::min(c[2], c[3])) - pad;
        bx[3 + x] = std::max(std::max(c[0], c[1]), std::max(c[2], c[3])) + pad;
    }
}

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

void pieces(const PieceInputs& in, double* box, double* ctrl, PieceBoxes* out) noexcept {
    PieceBoxes r;
    const std::size_t n = in.n, slow = in.slow;
    const std::int64_t kseg = in.kseg;
    for (std::size_t o = 0; o < n; ++o) {
        if (kseg >= in.fail_segment[o]) continue;
        const double *r0, *r1, *v0, *v1, *w = in.weights;
        double e, Hs = in.H;
        if (in.stride[o] > 1) {
            // Strides are powers of two and segment indices non-negative:
            // shifts instead of divisions.
            const std::int64_t m = in.stride[o];
            const int shift = std::countr_zero(static_cast<unsigned>(m));
            const std::int64_t c = kseg >> shift;
            const std::size_t at = static_cast<std::size_t>(c - (in.k0 >> shift)) * slow + in.slow_of[o], next = at + slow;
            if (in.ES[at] != 0 || in.ES[next] != 0) continue;
            r0 = &in.RS[3 * at];
            r1 = &in.RS[3 * next];
            v0 = &in.VS[3 * at];
            v1 = &in.VS[3 * next];
            e = in.epsS[at];
            Hs = static_cast<double>(m) * in.H;
            w = in.slow_weights[m] + static_cast<std::size_t>((kseg - c * m) * in.q + in.u) * 16;
        } else {
            const std::size_t at = in.row + o, next = at + n;
            if (in.E[at] != 0 || in.E[next] != 0) continue;
            r0 = &in.R[3 * at];
            r1 = &in.R[3 * next];
            v0 = &in.V[3 * at];
            v1 = &in.V[3 * next];
            e = in.eps[at];
        }
        const double pad = e + in.half;
        if (!std::isfinite(pad)) continue;
        const std::size_t slot = r.live;
        double* bx = box + 8 * slot;
        double* cp = ctrl + 16 * slot;
        bx[6] = std::bit_cast<double>(in.satno[o]);
        cp[12] = e;
        cp[13] = std::bit_cast<double>(static_cast<std::uint64_t>(o));
        piece(r0, v0, r1, v1, Hs, w, pad, cp, bx);
        double side = 0.0;
        for (int x = 0; x < 3; ++x) {
            const double lo = bx[x], hi = bx[3 + x];
            side = std::max(side, hi - lo);
            if (slot == 0 || lo < r.cmin[x]) r.cmin[x] = lo;
            if (slot == 0 || lo > r.cmax[x]) r.cmax[x] = lo;
        }
        r.extent = std::max(r.extent, side);
        ++in.extent_counts[extent_bucket(side)];
        if (slot == 0 || bx[5] > r.ztop) r.ztop = bx[5];
        ++r.live;
        if (o < in.na) r.live_a = r.live;
    }
    *out = r;
}

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
