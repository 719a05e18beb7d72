#include "propagators/analytical/sgp4/catalogue/format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "propagators/analytical/sgp4/tle/columns.hpp"
#include "propagators/analytical/sgp4/tle/validate.hpp"

namespace qv::catalogue {

namespace {

using tle::ns_per_day;
constexpr std::int64_t ns_per_unit = ns_per_day / 100'000'000;  // 1e-8 day, the epoch's last decimal

// Right-justify `text` (n characters) in the column, padded with blanks or
// (`zeros`, for text without a sign) zeros; false when too wide.
bool put(char* line, tle::Column c, const char* text, std::size_t n, bool zeros = false) {
    if (n > static_cast<std::size_t>(c.width)) return false;
    std::memset(line + c.offset, zeros && text[0] != '-' ? '0' : ' ', static_cast<std::size_t>(c.width) - n);
    std::memcpy(line + c.offset + c.width - n, text, n);
    return true;
}

// A fixed-point number with `decimals` decimals, right-justified (to_chars
// rounds the exact binary value, whatever the process locale).
bool put_fixed(char* line, tle::Column c, double value, int decimals, bool zeros) {
    if (!std::isfinite(value)) return false;
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return false;
    return put(line, c, text, static_cast<std::size_t>(end - text), zeros);
}

bool put_integer(char* line, tle::Column c, std::int64_t value, std::int64_t limit, bool zeros = false) {
    if (value < 0 || value > limit) return false;
    char text[24];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() && put(line, c, text, static_cast<std::size_t>(end - text), zeros);
}

// The first derivative: sign column, then the decimals behind the point
// without the leading zero (" .00002182", "-.00002182").
bool put_ndot(char* line, tle::Column c, double value) {
    if (!std::isfinite(value)) return false;
    char text[64];
    auto [end, error] = std::to_chars(text + 1, text + sizeof text, std::fabs(value), std::chars_format::fixed, 8);
    if (error != std::errc()) return false;
    char* begin = text + 1;
    if (begin[0] == '0' && begin[1] == '.') ++begin;
    *--begin = std::signbit(value) ? '-' : ' ';
    return put(line, c, begin, static_cast<std::size_t>(end - begin));
}

// An assumed-decimal field "SMMMMMSE": sign, five digits of the mantissa
// after an implied point, and a one-digit power of ten (" 38251-3" is
// 0.38251e-3).  Values below 0.1e-9 keep the exponent -9 with leading zeros
// in the mantissa.  A power of ten of 0 takes the default sign
// ("00000-0", " 38251+0"), or the other one when `other_sign` is set.
bool put_exponent(char* line, tle::Column c, double value, bool other_sign) {
    if (!std::isfinite(value)) return false;
    char* f = line + c.offset;
    f[0] = std::signbit(value) ? '-' : ' ';
    const double magnitude = std::fabs(value);
    std::int64_t mantissa = 0;
    int exponent = 0;
    if (magnitude != 0.0) {
        char text[64];
        auto [end, error] = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 4);
        if (error != std::errc()) return false;
        // "d.dddde±XX": five digits, then the power of ten of the first one.
        const char* e = std::strchr(text, 'e');
        std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
        exponent += 1;  // 0.ddddd × 10^(power + 1)
        for (const char* p = text; p < e; ++p) {
            if (*p != '.') mantissa = mantissa * 10 + (*p - '0');
        }
        if (exponent > 9) return false;
        if (exponent < -9) {
            mantissa = std::llround(magnitude * 1e9 * 1e5);
            exponent = -9;
            if (mantissa > 99999) mantissa = 99999;
        }
    }
    for (int k = 5; k >= 1; --k, mantissa /= 10) f[k] = static_cast<char>('0' + mantissa % 10);
    if (exponent == 0) {
        const char sign = default_zero_exponent_sign(magnitude == 0.0);
        f[6] = other_sign ? (sign == '-' ? '+' : '-') : sign;
    } else {
        f[6] = exponent < 0 ? '-' : '+';
    }
    f[7] = static_cast<char>('0' + (exponent < 0 ? -exponent : exponent));
    return true;
}

// The instants the two-digit years can write: 1957-01-01 to 2056-12-31,
// with room for the rounding to the last decimal.
constexpr std::int64_t first_writable_ns = tle::year_start_ns(1957) - ns_per_unit;
constexpr std::int64_t last_writable_ns = tle::year_start_ns(2057) + ns_per_unit;

// The epoch as two-digit year and day of year with eight decimals.
bool put_epoch(char* line, std::int64_t ns) {
    // Refused before any arithmetic: near the ends of the int64 range (NaT
    // is its least value) the rounding and the calendar would overflow.
    if (ns < first_writable_ns || ns > last_writable_ns) return false;
    // Rounded to the last decimal of the day (864 µs), ties to even.
    std::int64_t units = ns / ns_per_unit, rest = ns % ns_per_unit;
    if (rest < 0) {
        rest += ns_per_unit;
        --units;
    }
    if (2 * rest > ns_per_unit || (2 * rest == ns_per_unit && (units & 1))) ++units;
    std::int64_t days = units / 100'000'000, fraction = units % 100'000'000;
    if (fraction < 0) {
        fraction += 100'000'000;
        --days;
    }
    // The year holding that day, by the proleptic Gregorian calendar.
    int year = static_cast<int>(1970 + days / 366);
    while (tle::year_start_ns(year + 1) / ns_per_day <= days) ++year;
    while (tle::year_start_ns(year) / ns_per_day > days) --year;
    if (year < 1957 || year > 2056) return false;
    const std::int64_t day_of_year = days - tle::year_start_ns(year) / ns_per_day + 1;
    line[18] = static_cast<char>('0' + year % 100 / 10);
    line[19] = static_cast<char>('0' + year % 10);
    char* d = line + tle::col::day.offset;
    d[0] = static_cast<char>('0' + day_of_year / 100);
    d[1] = static_cast<char>('0' + day_of_year / 10 % 10);
    d[2] = static_cast<char>('0' + day_of_year % 10);
    d[3] = '.';
    for (int k = 11; k >= 4; --k, fraction /= 10) d[k] = static_cast<char>('0' + fraction % 10);
    return true;
}

}  // namespace

const char* format_set(const SetValues& v, const Units& u, char* out) noexcept {
    char* l1 = out;
    char* l2 = out + 70;
    std::memset(out, ' ', set_text_size);
    l1[0] = '1';
    l2[0] = '2';
    if (!tle::encode_satno(v.satno, l1 + 2)) return "satno";
    std::memcpy(l2 + 2, l1 + 2, 5);
    l1[7] = v.classification ? v.classification : ' ';
    for (int k = 0; k < 8 && v.designator[k]; ++k) l1[9 + k] = v.designator[k];
    if (!put_epoch(l1, v.epoch_ns)) return "epoch";
    if (!put_ndot(l1, tle::col::ndot, v.ndot)) return "ndot";
    if (!put_exponent(l1, tle::col::nddot, v.nddot, v.tle_form & nddot_sign_bit)) return "nddot";
    if (!put_exponent(l1, tle::col::bstar, v.bstar, v.tle_form & bstar_sign_bit)) return "bstar";
    if (!put_integer(l1, tle::col::ephemeris_type, v.ephemeris_type, 9)) return "ephemeris_type";
    if (!put_integer(l1, tle::col::element_number, v.element_number, 9999, v.tle_form & line1_zeros_bit)) {
        return "element_number";
    }

    const bool zeros = v.tle_form & line2_zeros_bit;
    if (!put_fixed(l2, tle::col::inc, v.inc / u.deg, 4, zeros)) return "inc";
    if (!put_fixed(l2, tle::col::raa, v.raa / u.deg, 4, zeros)) return "raa";
    const double digits = std::nearbyint(v.ecc * 1e7);
    if (!(digits >= 0.0 && digits <= 9999999.0)) return "ecc";
    std::int64_t e = static_cast<std::int64_t>(digits);
    for (int k = 6; k >= 0; --k, e /= 10) l2[tle::col::ecc.offset + k] = static_cast<char>('0' + e % 10);
    if (!put_fixed(l2, tle::col::arp, v.arp / u.deg, 4, zeros)) return "arp";
    if (!put_fixed(l2, tle::col::mea, v.mea / u.deg, 4, zeros)) return "mea";
    if (!put_fixed(l2, tle::col::mnm, v.mnm * u.day / u.rev, 8, zeros)) return "mnm";
    if (!put_integer(l2, tle::col::rev_number, v.rev_number, 99999, zeros)) return "rev_number";

    l1[68] = static_cast<char>('0' + tle::checksum(l1));
    l2[68] = static_cast<char>('0' + tle::checksum(l2));
    l1[69] = '\n';
    l2[69] = '\n';
    return nullptr;
}

}  // namespace qv::catalogue
