#include "bodies/bodies/shadow.hpp"

namespace qv::bodies {

ShadowRun shadow_run_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::shadow;
        case 4: return loops::avx2::shadow;
        default: return loops::baseline::shadow;
    }
}

}  // namespace qv::bodies
