// Record structures shared by the package's native modules.
//
// Each matches a NumPy structured dtype of quorvane.datamodel.structured
// field for field (names, order, float64 elements, packed offsets), so a
// C-contiguous 1-D array of the dtype is a C array of the structure.
#pragma once

#include <cstddef>

extern "C" {

// Classical orbital elements, SI units: ecc (1), sma (m; +inf parabolic,
// negative hyperbolic), inc, raa, arp, tra (rad), slr (m).
typedef struct ORBEL_s {
    double ecc;
    double sma;
    double inc;
    double raa;
    double arp;
    double tra;
    double slr;
} ORBEL_t;

typedef struct LLA {
    double lat;
    double lon;
    double alt;
} LLA;

typedef struct SurfCoord {
    double lat;
    double lon;
} SurfCoord;

typedef struct GeoState_t {
    double lat;
    double lon;
    double alt;
    double lat_dot;
    double lon_dot;
    double alt_dot;
} GeoState_t;

typedef struct ENU_Frame {
    double u_east[3];
    double u_north[3];
    double u_up[3];
} ENU_Frame;

typedef struct AER {
    double azimuth;
    double elevation;
    double range;
} AER;

}  // extern "C"

namespace qv::structured {

// The structure tag as it appears in signature strings of kernels that take
// or fill an ORBEL_t.
inline constexpr const char* orbel_tag = "struct ORBEL_s";

static_assert(sizeof(ORBEL_t) == 56 && offsetof(ORBEL_t, slr) == 48);
static_assert(sizeof(LLA) == 24 && sizeof(SurfCoord) == 16 && sizeof(GeoState_t) == 48);
static_assert(sizeof(ENU_Frame) == 72 && offsetof(ENU_Frame, u_up) == 48 && sizeof(AER) == 24);

}  // namespace qv::structured
