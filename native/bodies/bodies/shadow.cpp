#include "bodies/bodies/shadow.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace qv::bodies {

ShadowRun shadow_run_for(int lanes) noexcept {
    return simd::for_width(lanes, loops::baseline::shadow, loops::avx2::shadow, loops::avx512::shadow);
}

}  // namespace qv::bodies
