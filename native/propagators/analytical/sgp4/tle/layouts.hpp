// The published layouts of the numeric fields, read eight bytes at a time.
//
// Providers write each field in one layout: "DDD.DDDD" for an angle, seven
// digits for the eccentricity, "DD.DDDDDDDD" for the mean motion, and so
// on.  When a field has exactly its layout (leading blanks allowed where the
// layout right-justifies), its digits form the same integer the general
// conversion (numbers.cpp) accumulates, and the value is computed with the
// same single IEEE operation by the same power of ten, so the bits are the
// general conversion's, which are strtod's.  Any other text, and every short
// line (whose NUL bytes are not digits), returns false and takes the general
// path.  The loads stay inside the stored line: every field ends by column
// 63 and the line has 70 bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "propagators/analytical/sgp4/tle/digits.hpp"

namespace qv::tle::layouts {

static_assert(std::endian::native == std::endian::little, "the layouts read bytes in little-endian order");

using tle::eight_digits;
using tle::powers_of_ten;

inline std::uint64_t load8(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Every byte of v is an ASCII digit.
inline bool all_digits(std::uint64_t v) noexcept {
    return ((v & 0xF0F0F0F0F0F0F0F0ull) | (((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) ==
           0x3333333333333333ull;
}

// An integer below 2^53 as a double (exact); through the signed conversion,
// one instruction, where the unsigned one needs several.
inline double to_double(std::uint64_t v) noexcept { return static_cast<double>(static_cast<std::int64_t>(v)); }


// Up to `n` right-justified leading characters: blanks, then digits.  Writes
// the blanks as '0' into the integer `v` (byte i of v is p[i]).
inline bool justified(const char* p, int n, std::uint64_t* v) noexcept {
    bool seen_digit = false;
    for (int i = 0; i < n; ++i) {
        if (p[i] == ' ' && !seen_digit) {
            *v |= std::uint64_t{0x10} << (8 * i);  // ' ' (0x20) becomes '0' (0x30)
        } else if (is_digit(p[i])) {
            seen_digit = true;
        } else {
            return false;
        }
    }
    return true;
}

// "bbD.DDDD": an angle in degrees, up to three whole digits and four decimals.
inline bool angle(const char* p, double* out) noexcept {
    std::uint64_t v = load8(p);
    if (p[3] != '.' || !is_digit(p[2]) || !justified(p, 2, &v)) return false;
    const std::uint64_t w = 0x30 | ((v & 0xFFFFFF) << 8) | (v & 0xFFFFFFFF00000000ull);
    if (!all_digits(w)) return false;
    *out = to_double(eight_digits(w)) / powers_of_ten[4];
    return true;
}

// "DDDDDDD": the eccentricity's digits after the implied point.  `p` is the
// byte before them (the separator), replaced by a '0'.
inline bool eccentricity(const char* p, double* out) noexcept {
    const std::uint64_t w = (load8(p) & ~std::uint64_t{0xFF}) | 0x30;
    if (!all_digits(w)) return false;
    *out = to_double(eight_digits(w)) / powers_of_ten[7];
    return true;
}

// "bD.DDDDDDDD": the mean motion in revolutions per day.
inline bool mean_motion(const char* p, double* out) noexcept {
    if (p[2] != '.' || !is_digit(p[1]) || !(p[0] == ' ' || is_digit(p[0]))) return false;
    const std::uint64_t fraction = load8(p + 3);
    if (!all_digits(fraction)) return false;
    const std::uint64_t whole = (p[0] == ' ' ? 0 : static_cast<std::uint64_t>(p[0] - '0') * 10) +
                                static_cast<std::uint64_t>(p[1] - '0');
    *out = to_double(whole * 100'000'000 + eight_digits(fraction)) / powers_of_ten[8];
    return true;
}

// "S.DDDDDDDD": the first derivative of the mean motion, S a blank or sign.
inline bool first_derivative(const char* p, double* out) noexcept {
    if (p[1] != '.' || !(p[0] == ' ' || p[0] == '-' || p[0] == '+')) return false;
    const std::uint64_t fraction = load8(p + 2);
    if (!all_digits(fraction)) return false;
    const double value = to_double(eight_digits(fraction)) / powers_of_ten[8];
    *out = p[0] == '-' ? -value : value;
    return true;
}

// "SDDDDDSE": five digits after an assumed point and a one-digit power of
// ten, read as the text "S.DDDDDeSE".
inline bool assumed_decimal(const char* p, double* out) noexcept {
    if (!(p[0] == ' ' || p[0] == '-' || p[0] == '+') || !(p[6] == '-' || p[6] == '+') || !is_digit(p[7])) return false;
    const std::uint64_t w = (((load8(p) >> 8) & 0xFFFFFFFFFFull) << 24) | 0x303030;
    if (!all_digits(w)) return false;
    const double value = times_power_of_ten(to_double(eight_digits(w)), assumed_decimal_power(p));
    *out = p[0] == '-' ? -value : value;
    return true;
}

// A right-justified integer of `width` characters: blanks, then at least one
// digit, up to the end of the field (atoi of that text is its value).
inline bool integer(const char* p, int width, int* out) noexcept {
    int i = 0, value = 0;
    while (i < width && p[i] == ' ') ++i;
    if (i == width) return false;
    for (; i < width; ++i) {
        if (!is_digit(p[i])) return false;
        value = value * 10 + (p[i] - '0');
    }
    *out = value;
    return true;
}

// "DD" and "DDD.DDDDDDDD": the epoch year and the day of the year (leading
// blanks allowed in the day), as the two-digit year and the nanoseconds
// after 00:00 of day 0.  Eight decimals of a day are multiples of 864 µs, so
// the nanoseconds are exact.
inline bool epoch(const char* year, std::int64_t* yy, std::int64_t* day_ns) noexcept {
    const char* d = year + 2;
    if (!is_digit(year[0]) || !is_digit(year[1]) || d[3] != '.' || !is_digit(d[2])) return false;
    std::uint64_t whole = load8(d) & 0xFFFFFF;
    if (!justified(d, 2, &whole)) return false;
    const std::uint64_t fraction = load8(d + 4);
    if (!all_digits(fraction)) return false;
    const auto digit_at = [whole](int k) { return static_cast<std::int64_t>((whole >> (8 * k)) & 0xFF) - '0'; };
    const std::int64_t day = digit_at(0) * 100 + digit_at(1) * 10 + digit_at(2);
    *yy = (year[0] - '0') * 10 + (year[1] - '0');
    *day_ns = day * 86'400'000'000'000 + static_cast<std::int64_t>(eight_digits(fraction)) * 864'000;
    return true;
}

}  // namespace qv::tle::layouts
