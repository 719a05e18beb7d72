// The pass finder's kernel: rise, culmination and set of one satellite over
// a set of ground stations, from the propagator's native interface and the
// Earth's orientation given per time on a grid.
//
// Plain C++: no Python; reentrant (one call per satellite, any thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "propagators/analytical/sgp4/propagator/export.hpp"

namespace qv::passes {

inline constexpr std::int64_t nat = INT64_MIN;

// The Earth's orientation on a strictly increasing grid of instants (ns
// since 1970, UTC), first node the window's start, last its stop.  Between
// nodes the rotation angle and the polar-motion matrix are interpolated
// linearly.
struct EarthGrid {
    const std::int64_t* t;  // n instants
    const double* theta;    // n sidereal angles (GMST on UT1), rad, unwrapped (increasing)
    const double* pom;      // n row-major 3x3 polar-motion matrices: r_ITRF = W r_PEF
    std::size_t n;
    std::uint64_t id;  // distinct for every grid a process makes (the key of per-thread caches)
};

// A ground station: its ITRF position (m), its east, north and up unit
// vectors (rows of the ENU rotation) and its geocentric radius (m).
struct Station {
    double r[3];
    double enu[3][3];
    double radius;
};

struct Pass {
    std::int64_t rise, culmination, set;  // ns since 1970 (UTC); nat where the window cuts the pass
    double rise_azimuth, max_elevation, set_azimuth;  // rad; azimuths NaN where the event is nat
    double culmination_teme[3];  // SGP4's TEME position at the culmination (m); NaN where not kept
    std::int32_t station;
};

struct Propagator {
    sgp4::RunTimesKernel* run_times;
    sgp4::SampleKernel* sample;
    int lanes;
};

// Every pass of the satellite `sat` (epoch `epoch_ns`) above the elevation
// whose sine is `sin_mask` at each station inside [grid.t[0], grid.t[n-1]],
// appended to `out` station by station, in time order for each.  `stride`
// is the number of grid intervals between the satellite's own coarse
// samples (0: chosen from its orbit).
void find_passes(const Propagator& prop, const void* sat, std::int64_t epoch_ns, const EarthGrid& grid,
                 const Station* stations, std::size_t n_stations, double sin_mask, std::vector<Pass>& out);

}  // namespace qv::passes
