#include "conjunctions/sweep.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace qv::screen {

SweepRun sweep_run_for(int lanes) noexcept {
    return simd::for_width(lanes, sweeps::baseline::sweep, sweeps::avx2::sweep, sweeps::avx512::sweep);
}

PieceBuild piece_build_for(int lanes) noexcept {
    return simd::for_width(lanes, sweeps::baseline::pieces, sweeps::avx2::pieces, sweeps::avx512::pieces);
}

}  // namespace qv::screen
