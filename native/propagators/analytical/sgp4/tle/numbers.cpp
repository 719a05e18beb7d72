#include "propagators/analytical/sgp4/tle/numbers.hpp"

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

namespace qv::tle {

namespace {

// Created once at import and kept for the life of the process.
locale_t c_locale = static_cast<locale_t>(nullptr);

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimal text ("[blanks][sign]digits[.digits]", at most 15
// significant digits) converted exactly: the digits form an integer below
// 2^53 and 10^k (k <= 22) is a double, so one IEEE division gives the
// correctly rounded value, which is what strtod returns.  Anything else
// (exponents, hexadecimal, inf, nan, long mantissas, no digits) is left to
// strtod_l.  Element-set fields are almost always plain decimals.
bool plain_decimal(const char* s, double* out) {
    while (is_c_space(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    std::uint64_t mantissa = 0;
    int significant = 0, fraction = 0;
    bool digits = false, point = false;
    for (;; ++s) {
        if (*s >= '0' && *s <= '9') {
            digits = true;
            if (mantissa != 0 || *s != '0') ++significant;
            if (significant > 15) return false;
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*s - '0');
            if (point) ++fraction;
        } else if (*s == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits || fraction > 22 || *s == 'e' || *s == 'E' || *s == 'x' || *s == 'X') return false;
    double value = static_cast<double>(mantissa) / powers_of_ten[fraction];
    *out = negative ? -value : value;
    return true;
}

}  // namespace

bool init_c_locale() noexcept {
    if (!c_locale) c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c_locale != static_cast<locale_t>(nullptr);
}

// atoi is defined as (int)strtol(text, NULL, 10); the parser reads it only
// for the two-character year field.
int field_atoi(const char* text) noexcept { return static_cast<int>(strtol_l(text, nullptr, 10, c_locale)); }

double field_atof(const char* text) noexcept {
    double value;
    if (plain_decimal(text, &value)) return value;
    return strtod_l(text, nullptr, c_locale);
}

}  // namespace qv::tle
