// Ellipsoid geometry of quorvane.mathtools.ellipsoid.ellipsoid (Python-free).
#pragma once

namespace qv::ellipsoid {

// Earth-centred Cartesian position of a geodetic point on the ellipsoid of
// equatorial radius a and first eccentricity squared e2:
//   N = a / sqrt(1 - e2 sin^2 lat)
//   r = ((N + alt) cos lat cos lon, (N + alt) cos lat sin lon, (N (1 - e2) + alt) sin lat)
void ecef_from_geodetic(double a, double e2, double lat, double lon, double alt, double* r) noexcept;

}  // namespace qv::ellipsoid
