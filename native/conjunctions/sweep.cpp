#include "conjunctions/sweep.hpp"

namespace qv::screen {

SweepRun sweep_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return sweeps::avx512::sweep;
        case 4: return sweeps::avx2::sweep;
        default: return sweeps::baseline::sweep;
    }
}

}  // namespace qv::screen
