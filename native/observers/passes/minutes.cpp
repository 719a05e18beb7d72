// The propagator's `minutes_between` (sgp4.hpp) is inline but calls
// `minutes_between_far` for instants more than 104 days from the epoch,
// which the propagator's module defines in its own library.  This module
// links its own definition, the same arithmetic, so its times since epoch
// are the bits the propagator computes from the same instants.
#include "propagators/analytical/sgp4/propagator/sgp4.hpp"

namespace qv::sgp4 {

double minutes_between_far(std::int64_t epoch_ns, std::int64_t t_ns) noexcept {
    constexpr std::int64_t ns_per_minute = 60LL * 1000000000LL;
    std::int64_t qe = epoch_ns / ns_per_minute, re = epoch_ns % ns_per_minute;
    std::int64_t qt = t_ns / ns_per_minute, rt = t_ns % ns_per_minute;
    std::int64_t q = qt - qe, r = rt - re;  // |r| < 2 minutes
    return static_cast<double>(q) + static_cast<double>(r) / 60.0e9;
}

}  // namespace qv::sgp4
