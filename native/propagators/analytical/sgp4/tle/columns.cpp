#include "propagators/analytical/sgp4/tle/columns.hpp"

#include <cmath>

#include "propagators/analytical/sgp4/tle/layouts.hpp"

namespace qv::tle {

namespace {

// Decimal day text "[blanks][sign][digits][.digits]" as nanoseconds after
// 00:00 of day 0 (the day before 1 January), rounded to the nearest
// nanosecond, ties to even.  As atof does, the longest such prefix counts
// and the rest is ignored.  False when the text holds no digits there, goes
// on with an exponent or is hexadecimal (atof reads more than the prefix
// then), or has more whole or fraction digits than the exact arithmetic
// keeps (the field has 12 characters, so neither happens in a stored line).
bool exact_day_ns(const char* s, __int128* out) {
    constexpr int max_fraction_digits = 20;  // 10^20 × ns_per_day fits in 127 bits
    while (is_c_space(*s)) ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return false;
    __int128 whole = 0;
    bool digits = false;
    for (; is_digit(*s); ++s) {
        digits = true;
        whole = whole * 10 + (*s - '0');
        if (whole > 1'000'000'000) return false;  // beyond any representable instant
    }
    __int128 fraction = 0, scale = 1;
    if (*s == '.') {
        int count = 0;
        for (++s; is_digit(*s); ++s) {
            digits = true;
            if (++count > max_fraction_digits) return false;
            fraction = fraction * 10 + (*s - '0');
            scale *= 10;
        }
    }
    if (!digits) return false;
    if (*s == 'e' || *s == 'E') {
        const char* e = s + 1;
        if (*e == '+' || *e == '-') ++e;
        if (is_digit(*e)) return false;
    }
    // fraction / scale of a day in nanoseconds, rounded half to even.
    const __int128 product = fraction * ns_per_day;
    __int128 q = product / scale;
    const __int128 twice_r = 2 * (product % scale);
    if (twice_r > scale || (twice_r == scale && (q & 1))) ++q;
    const __int128 total = whole * ns_per_day + q;
    *out = negative ? -total : total;
    return true;
}

// A field written with an assumed decimal point and a power of ten, "SMMMMMSE"
// (sign, five digits, exponent sign, exponent digit), converted as the text
// "S.MMMMMeSE"; a field cut short by the end of the line keeps what is there.
double assumed_text(const char* line, Column c) {
    Field f(line, c);
    char text[max_field_width + 2];
    int n = 0;
    for (int i = 0; i < c.width && f.text[i] != '\0'; ++i) {
        if (i == 1) text[n++] = '.';
        if (i == c.width - 2) text[n++] = 'e';
        text[n++] = f.text[i];
    }
    text[n] = '\0';
    return field_atof(text);
}

}  // namespace

// The general conversions behind the inline fast paths of columns.hpp.

void general::published_elements(const char* line2, const bool* done, double* v) noexcept {
    if (!done[0]) v[0] = read_double(line2, col::inc);
    if (!done[1]) v[1] = read_double(line2, col::raa);
    if (!done[2]) v[2] = field_atof(Field(line2, col::ecc, true).text);
    if (!done[3]) v[3] = read_double(line2, col::arp);
    if (!done[4]) v[4] = read_double(line2, col::mea);
    if (!done[5]) v[5] = read_double(line2, col::mnm);
}

bool general::epoch_ns(const char* line1, std::int64_t* ns) noexcept {
    const int year = full_year(tle::read_int(line1, col::year));
    const __int128 start = static_cast<__int128>(days_from_civil(year, 1, 1) - 1) * ns_per_day;
    __int128 day_ns;
    Field day(line1, col::day);
    if (!exact_day_ns(day.text, &day_ns)) {
        double d = field_atof(day.text);
        if (!std::isfinite(d) || std::fabs(d) > 1e9) return false;
        day_ns = static_cast<__int128>(std::nearbyint(d * static_cast<double>(ns_per_day)));
    }
    const __int128 total = start + day_ns;
    if (total < INT64_MIN + 1 || total > INT64_MAX) return false;  // INT64_MIN is NaT
    *ns = static_cast<std::int64_t>(total);
    return true;
}

int general::read_int(const char* line, Column c) noexcept { return field_atoi(Field(line, c).text); }

double general::ndot(const char* line1) noexcept { return read_double(line1, col::ndot); }

double general::assumed_decimal(const char* line, Column c) noexcept { return assumed_text(line, c); }

std::int64_t decode_satno(const char* field, int width) noexcept {
    int begin = 0, end = 0;
    while (end < width && field[end] != '\0') ++end;
    while (begin < end && is_c_space(field[begin])) ++begin;
    while (end > begin && is_c_space(field[end - 1])) --end;
    if (begin == end) return 0;
    std::int64_t value = 0;
    int i = begin;
    char first = field[i];
    if (first >= 'A' && first <= 'Z') {
        if (first == 'I' || first == 'O' || end - begin != 5) return -1;
        value = 10 + (first - 'A') - (first > 'I') - (first > 'O');
        ++i;
    }
    for (; i < end; ++i) {
        if (!is_digit(field[i])) return -1;
        value = value * 10 + (field[i] - '0');
    }
    return value;
}

bool encode_satno(std::int64_t satno, char* out) noexcept {
    if (satno < 0 || satno > 339'999) return false;
    std::int64_t digits = satno % 10000;
    if (satno < 100'000) {
        digits = satno;
        for (int i = 4; i >= 0; --i, digits /= 10) out[i] = static_cast<char>('0' + digits % 10);
        return true;
    }
    int letter = static_cast<int>(satno / 10000) - 10;  // 0 … 23 over A … Z without I, O
    char c = static_cast<char>('A' + letter);
    if (c >= 'I') ++c;
    if (c >= 'O') ++c;
    out[0] = c;
    for (int i = 4; i >= 1; --i, digits /= 10) out[i] = static_cast<char>('0' + digits % 10);
    return true;
}

}  // namespace qv::tle
