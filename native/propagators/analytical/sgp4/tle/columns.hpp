// The fixed columns of two-line element sets and what they hold.
//
// One piece of code reads every field for every consumer: the DUOLINE
// record, the columnar catalogue reader and the propagator all take their
// numbers from here, so the same lines give the same bits everywhere.  All
// functions read a stored line: at most 69 characters followed by NUL bytes
// up to `line_size`, so a field that runs past the end of a short line ends
// at the line's terminator.  Conversions follow the C library's atoi/atof in
// the "C" locale (numbers.hpp): lenient, never failing on content.
#pragma once

#include <array>
#include <cstdint>

#include "time/time/instants.hpp"
#include "propagators/analytical/sgp4/tle/digits.hpp"
#include "propagators/analytical/sgp4/tle/layouts.hpp"
#include "propagators/analytical/sgp4/tle/lines.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"

namespace qv::tle {

// A field: 0-based offset into the stored line and width.
struct Column {
    int offset;
    int width;
};

namespace col {
// Line 1.
inline constexpr Column satno{2, 5};
inline constexpr Column classification{7, 1};
inline constexpr Column designator{9, 8};
inline constexpr Column year{18, 2};
inline constexpr Column day{20, 12};
inline constexpr Column ndot{33, 10};
inline constexpr Column nddot{44, 8};
inline constexpr Column bstar{53, 8};
inline constexpr Column ephemeris_type{62, 1};
inline constexpr Column element_number{64, 4};
// Line 2.
inline constexpr Column satno2{2, 5};
inline constexpr Column inc{8, 8};
inline constexpr Column raa{17, 8};
inline constexpr Column ecc{26, 7};
inline constexpr Column arp{34, 8};
inline constexpr Column mea{43, 8};
inline constexpr Column mnm{52, 11};
inline constexpr Column rev_number{63, 5};
}  // namespace col

// A field copied out of a stored line into a NUL-terminated scratch buffer,
// optionally behind a leading "." (the eccentricity's implied point).
struct Field {
    char text[max_field_width + 2];

    Field(const char* line, Column c, bool leading_point = false) noexcept {
        int n = 0;
        if (leading_point) text[n++] = '.';
        for (int i = 0; i < c.width; ++i) text[n++] = line[c.offset + i];
        text[n] = '\0';
    }
};

// The general conversions, for text outside the published layouts.
namespace general {
int read_int(const char* line, Column c) noexcept;
double ndot(const char* line1) noexcept;
double assumed_decimal(const char* line, Column c) noexcept;
bool epoch_ns(const char* line1, std::int64_t* ns) noexcept;
void published_elements(const char* line2, const bool* done, double* values) noexcept;
}  // namespace general

// atof / atoi of a field: the published layout when the field has it, the
// general conversion otherwise (the same bits either way).
inline double read_double(const char* line, Column c) noexcept { return field_atof(Field(line, c).text); }
inline int read_int(const char* line, Column c) noexcept {
    int value;
    return layouts::integer(line + c.offset, c.width, &value) ? value : general::read_int(line, c);
}

// The year of a two-digit epoch year: 57 to 99 are 1957 to 1999, the rest
// 2000 onwards (the first satellites flew in 1957).
constexpr int full_year(int yy) noexcept { return yy <= 56 ? 2000 + yy : 1900 + yy; }

// The six mean elements of line 2 as published: inclination, node, argument
// of perigee and mean anomaly in degrees, the eccentricity (the digits after
// an implied point), the mean motion in revolutions per day.
struct PublishedElements {
    double inc, raa, ecc, arp, mea, mnm;
};
inline PublishedElements published_elements(const char* line2) noexcept {
    lines::Line2Fields f;
    if (lines::line2(line2, lines::masks(lines::load(line2)), &f)) return {f.inc, f.raa, f.ecc, f.arp, f.mea, f.mnm};
    double v[6];
    bool done[6];
    done[0] = layouts::angle(line2 + col::inc.offset, &v[0]);
    done[1] = layouts::angle(line2 + col::raa.offset, &v[1]);
    done[2] = layouts::eccentricity(line2 + col::ecc.offset - 1, &v[2]);
    done[3] = layouts::angle(line2 + col::arp.offset, &v[3]);
    done[4] = layouts::angle(line2 + col::mea.offset, &v[4]);
    done[5] = layouts::mean_motion(line2 + col::mnm.offset, &v[5]);
    if (!(done[0] && done[1] && done[2] && done[3] && done[4] && done[5])) [[unlikely]] {
        general::published_elements(line2, done, v);
    }
    return {v[0], v[1], v[2], v[3], v[4], v[5]};
}

// The six mean elements in SI units, given the sizes of a degree and a
// revolution in radians and of a day in seconds: angles in radians, the
// mean motion in rad/s.  This is the record's own arithmetic, in its order;
// element sets read from other formats (OMM) go through it too, so the same
// published values give the same bits whatever text they came from.
struct MeanElements {
    double inc, raa, ecc, arp, mea, mnm;
};
inline MeanElements si_elements(const PublishedElements& p, double deg, double rev, double day) noexcept {
    MeanElements e;
    e.inc = p.inc * deg;
    e.raa = p.raa * deg;
    e.ecc = p.ecc;
    e.arp = p.arp * deg;
    e.mea = p.mea * deg;
    e.mnm = p.mnm * rev / day;
    return e;
}
inline MeanElements mean_elements(const char* line2, double deg, double rev, double day) noexcept {
    return si_elements(published_elements(line2), deg, rev, day);
}

// The epoch as integer nanoseconds since 1970-01-01T00:00:00 UTC, exact:
// the day-of-year text is read digit by digit (1.0 is 1 January, 00:00) and
// rounded to the nearest nanosecond (ties to even), without passing through
// a binary fraction; like atof, the longest decimal prefix counts ("5.5X"
// is day 5.5).  A day field with an exponent or in hexadecimal is read with
// atof and rounded from that double.  Returns
// false when the instant falls outside the int64 nanosecond range or the
// day is not finite.  (Defined below.)
using time::days_from_civil;
using time::ns_per_day;

// Nanoseconds since 1970 of 00:00 on 1 January of `year` (proleptic
// Gregorian calendar).
constexpr std::int64_t year_start_ns(int year) noexcept { return days_from_civil(year, 1, 1) * ns_per_day; }

// Nanoseconds since 1970 of day 0 (the day before 1 January) of each
// two-digit epoch year.
inline constexpr std::array<std::int64_t, 100> day_zero_ns = [] {
    std::array<std::int64_t, 100> table{};
    for (int yy = 0; yy < 100; ++yy) table[yy] = year_start_ns(full_year(yy)) - ns_per_day;
    return table;
}();

inline bool epoch_ns(const char* line1, std::int64_t* ns) noexcept {
    std::int64_t yy, day_ns;
    if (layouts::epoch(line1 + col::year.offset, &yy, &day_ns)) {
        *ns = day_zero_ns[yy] + day_ns;
        return true;
    }
    return general::epoch_ns(line1, ns);
}

// The drag and mean-motion derivative fields as the format states them:
// ndot is ṅ/2 in rev/day², nddot is n̈/6 in rev/day³, bstar is B* in 1/earth
// radii.  The last two are written with an assumed decimal point and a
// power of ten ("-11606-4" is -0.11606e-4); the text "[sign].ddddde±d" is
// converted as one number, so the value is the correctly rounded one.
inline double ndot(const char* line1) noexcept {
    double value;
    return layouts::first_derivative(line1 + col::ndot.offset, &value) ? value : general::ndot(line1);
}
inline double nddot(const char* line1) noexcept {
    double value;
    return layouts::assumed_decimal(line1 + col::nddot.offset, &value) ? value
                                                                       : general::assumed_decimal(line1, col::nddot);
}
inline double bstar(const char* line1) noexcept {
    double value;
    return layouts::assumed_decimal(line1 + col::bstar.offset, &value) ? value
                                                                       : general::assumed_decimal(line1, col::bstar);
}

// The five-character satellite-number field as an integer: digits as they
// are (leading blanks and zeros dropped), and the Alpha-5 form of a letter
// and four digits as letter value × 10000 + digits, with A = 10 … Z = 33
// skipping I and O ("A0001" is 100001, "Z9999" is 339999).  An empty field
// gives 0; anything else (a letter I or O, letters among the digits) gives -1.
std::int64_t decode_satno(const char* field, int width = 5) noexcept;

// decode_satno of the field of a line (at least eight readable bytes from
// column 3): five digits are read at once.
inline std::int64_t satno(const char* line) noexcept {
    const std::uint64_t w = (layouts::load8(line + col::satno.offset) << 24) | 0x303030;
    return layouts::all_digits(w) ? static_cast<std::int64_t>(layouts::eight_digits(w))
                                  : decode_satno(line + col::satno.offset, col::satno.width);
}

// The field for a satellite number: five digits, zero-padded, below 100000;
// Alpha-5 from 100000 to 339999.  Returns false (and writes nothing) outside
// 0…339999.  Writes exactly five characters, no terminator.
bool encode_satno(std::int64_t satno, char* out) noexcept;

}  // namespace qv::tle
