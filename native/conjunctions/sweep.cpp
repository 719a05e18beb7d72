#include "conjunctions/sweep.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace qv::screen {

SweepRun sweep_run_for(int lanes) noexcept {
    return simd::for_width(lanes, sweeps::baseline::sweep, sweeps::avx2::sweep, sweeps::avx512::sweep);
}

}  // namespace qv::screen
