// The per-instruction-set tile rotations of propagate(frame=)
// (rotate_kernels.cpp); see frames/frames/rotate.hpp's rotate_tile_lanes.
#pragma once

#include <cstddef>

#include "mathtools/simd/dispatch.hpp"

namespace qv::propagator::rotation {

using RotateTile = void (*)(const double* soa, const double* R, const double* Rdot, std::size_t m, std::size_t j0,
                            double* r, double* v, std::size_t count) noexcept;

#define QV_ROTATION_LOOPS(isa)                                                                                  \
    namespace isa {                                                                                             \
    void rotate_tile(const double* soa, const double* R, const double* Rdot, std::size_t m, std::size_t j0,      \
                     double* r, double* v, std::size_t count) noexcept;                                         \
    }
QV_SIMD_EACH_ISA(QV_ROTATION_LOOPS)
#undef QV_ROTATION_LOOPS

inline RotateTile rotate_tile_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return avx512::rotate_tile;
        case 4: return avx2::rotate_tile;
        default: return baseline::rotate_tile;
    }
}

}  // namespace qv::propagator::rotation
