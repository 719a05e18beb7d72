#include "observers/observers/look.hpp"
#include "mathtools/simd/dispatch.hpp"

namespace qv::observers {

LookRun look_run_for(int lanes) noexcept {
    return simd::for_width(lanes, loops::baseline::look, loops::avx2::look, loops::avx512::look);
}

}  // namespace qv::observers
