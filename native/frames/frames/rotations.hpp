// Frame rotations of quorvane.frames.frames (Python-free).
#pragma once

namespace qv::frames {

// Greenwich mean sidereal time, IAU 1982 (Vallado, Fundamentals of
// Astrodynamics and Applications, eq. 3-47), at Julian date jd (UT1), rad in [0, 2*pi).
double gmst_iau82(double jd) noexcept;

// out = R3(angle) * in: the components of `in` in axes turned by `angle`
// about z.  in and out may alias.
void rotate_z(double angle, double const* in, double* out) noexcept;

// Rows east, north, up of the topocentric frame at geodetic latitude `lat`
// and longitude `lon` (rad).
void enu_rotation(double lat, double lon, double rot[3][3]) noexcept;

// enu = rot * (r - origin); r = rot^T * enu + origin.  Inputs may alias outputs.
void enu_from_ecef(const double rot[3][3], const double* origin, double const* r, double* enu) noexcept;
void ecef_from_enu(const double rot[3][3], const double* origin, double const* enu, double* r) noexcept;

}  // namespace qv::frames
