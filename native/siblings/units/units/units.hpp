// Unit constants of quorvane.units.units: each the size of one unit in SI
// units, published as a native double under the signature string "double".
#pragma once

#include <numbers>

namespace qv::units {

inline constexpr const char* double_signature = "double";

inline constexpr double second = 1.0;            // s
inline constexpr double minute = 60.0;           // s
inline constexpr double hour = 3600.0;           // s
inline constexpr double day = 86400.0;           // s
inline constexpr double sday = 86164.0905;       // sidereal day, s
inline constexpr double metre = 1.0;             // m
inline constexpr double kilometre = 1000.0;      // m
inline constexpr double radian = 1.0;            // rad
inline constexpr double degree = std::numbers::pi / 180.0;  // rad
inline constexpr double revolution = 2.0 * std::numbers::pi;  // rad
inline constexpr double kilogram = 1.0;          // kg

}  // namespace qv::units
