// The in-place rotation of one tile of propagate(frame=), compiled once per
// instruction set (frames/frames/rotate.hpp); call.cpp picks one at run
// time.  Every width gives the bits of the scalar rotate_sample.
#include "frames/frames/rotate.hpp"
#include "propagators/analytical/sgp4/propagator/rotate_kernels.hpp"

namespace qv::propagator::rotation::QV_SIMD_ISA {

void rotate_tile(const double* soa, const double* R, const double* Rdot, std::size_t m, std::size_t j0, double* r,
                 double* v, std::size_t count) noexcept {
    frames::rotate_tile_lanes<simd::Widest>(soa, R, Rdot, m, j0, r, v, count);
}

}  // namespace qv::propagator::rotation::QV_SIMD_ISA
