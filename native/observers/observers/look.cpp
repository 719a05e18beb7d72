#include "observers/observers/look.hpp"

namespace qv::observers {

LookRun look_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::look;
        case 4: return loops::avx2::look;
        default: return loops::baseline::look;
    }
}

}  // namespace qv::observers
