// Digits and powers of ten of element-set text: the one home of the small
// helpers every reader of the fields uses (the general conversions of
// numbers.cpp, the field layouts of layouts.hpp, the whole-line layouts of
// lines.hpp, the validation and the catalogue reader).
#pragma once

#include <cstdint>

namespace qv::tle {

// Line 1 or 2 as the readers store it: at most 69 characters, then NUL
// bytes up to this size.
inline constexpr int line_size = 70;

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// isspace in the "C" locale: what strtod and strtol skip, and what the
// field readers trim.
constexpr bool is_c_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The powers of ten that are exact doubles: 10^0 ... 10^22.
inline constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int max_exact_power = 22;

// value × 10^power for |power| <= max_exact_power in one IEEE operation (a
// division for a negative power): the correctly rounded result when value
// is an integer below 2^53, which is what strtod returns for the text.
inline double times_power_of_ten(double value, int power) noexcept {
    return power < 0 ? value / powers_of_ten[-power] : value * powers_of_ten[power];
}

// The power of ten of an assumed-decimal field "SMMMMMSE" at p (five digits
// after an implied point, then a signed one-digit exponent).
inline int assumed_decimal_power(const char* p) noexcept {
    const int exponent = p[7] - '0';
    return -5 + (p[6] == '-' ? -exponent : exponent);
}

// The number of eight digit values (0-9 per byte), byte 0 the most
// significant.
inline std::uint64_t number8(std::uint64_t v) noexcept {
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFull;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFull;
    return (v * 10000 + (v >> 32)) & 0x00000000FFFFFFFFull;
}

// The value of eight ASCII digits, byte 0 the most significant.
inline std::uint64_t eight_digits(std::uint64_t v) noexcept { return number8(v - 0x3030303030303030ull); }

}  // namespace qv::tle
