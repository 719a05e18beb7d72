#include "propagators/analytical/sgp4/tle/numbers.hpp"

#include "propagators/analytical/sgp4/tle/digits.hpp"

#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace qv::tle {

namespace {

// Created once at import and kept for the life of the process.
locale_t c_locale = static_cast<locale_t>(nullptr);


// Decimal text "[blanks][sign]digits[.digits][e[sign]digits]" with at most
// 15 significant digits and a power of ten of at most 22 in magnitude,
// converted exactly: the digits form an integer m below 2^53 and 10^k is a
// double, so one IEEE multiplication or division gives the correctly rounded
// value of m × 10^±k, which is what strtod returns.  The exponent part is
// taken only when a digit follows the "e" and its optional sign, as strtod
// does.  Anything else (hexadecimal, inf, nan, long mantissas, large powers,
// no digits) is left to the general path.  Element-set fields are such
// numbers: plain decimals, and "S.DDDDDe±D" for the assumed-decimal fields.
bool short_decimal(const char* s, double* out) {
    while (is_c_space(*s)) ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    std::uint64_t mantissa = 0;
    int significant = 0, fraction = 0;
    bool digits = false, point = false;
    for (;; ++s) {
        if (is_digit(*s)) {
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
    if (!digits || *s == 'x' || *s == 'X') return false;
    int power = -fraction;
    if (*s == 'e' || *s == 'E') {
        const char* e = s + 1;
        const bool negative_exponent = *e == '-';
        if (*e == '-' || *e == '+') ++e;
        if (is_digit(*e)) {
            int exponent = 0;
            for (; is_digit(*e); ++e) {
                if (exponent > 1000) return false;
                exponent = exponent * 10 + (*e - '0');
            }
            power += negative_exponent ? -exponent : exponent;
        }
    }
    if (power < -max_exact_power || power > max_exact_power) return false;
    const double value = times_power_of_ten(static_cast<double>(mantissa), power);
    *out = negative ? -value : value;
    return true;
}

// Decimal text with a long mantissa or a large power of ten: std::from_chars
// (correctly rounded, as strtod is) for text that starts, after blanks and a
// sign, with a digit or a point and a digit, and is not hexadecimal.  A
// result out of range (overflow, underflow) is left to strtod_l, which
// defines what those give.
bool long_decimal(const char* s, double* out) {
    while (is_c_space(*s)) ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    if (!(is_digit(s[0]) || (s[0] == '.' && is_digit(s[1])))) return false;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return false;
    double value;
    auto [end, error] = std::from_chars(s, s + std::strlen(s), value, std::chars_format::general);
    if (error != std::errc() || end == s) return false;
    *out = negative ? -value : value;
    return true;
}

}  // namespace

bool init_c_locale() noexcept {
    if (!c_locale) c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c_locale != static_cast<locale_t>(nullptr);
}

// atoi is defined as (int)strtol(text, NULL, 10).  Plain "[blanks][sign]
// digits" of up to nine digits is read directly; anything longer (where
// strtol saturates before the cast) goes to strtol_l.
int field_atoi(const char* text) noexcept {
    const char* s = text;
    while (is_c_space(*s)) ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    int value = 0, count = 0;
    for (; is_digit(*s); ++s) {
        if (++count > 9) return static_cast<int>(strtol_l(text, nullptr, 10, c_locale));
        value = value * 10 + (*s - '0');
    }
    return negative ? -value : value;
}

double field_atof(const char* text) noexcept {
    double value;
    if (short_decimal(text, &value) || long_decimal(text, &value)) return value;
    return strtod_l(text, nullptr, c_locale);
}

}  // namespace qv::tle
