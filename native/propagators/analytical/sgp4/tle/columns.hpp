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

#include <cstdint>

#include "propagators/analytical/sgp4/tle/numbers.hpp"

namespace qv::tle {

// Stored line: at most 69 characters, then NUL bytes up to the end.
inline constexpr int line_size = 70;

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

// atof / atoi of a field.
inline double read_double(const char* line, Column c) noexcept { return field_atof(Field(line, c).text); }
int read_int(const char* line, Column c) noexcept;

// The year of a two-digit epoch year: 57 to 99 are 1957 to 1999, the rest
// 2000 onwards (the first satellites flew in 1957).
inline int full_year(int yy) noexcept { return yy <= 56 ? 2000 + yy : 1900 + yy; }

// The six mean elements of line 2 as published: inclination, node, argument
// of perigee and mean anomaly in degrees, the eccentricity (the digits after
// an implied point), the mean motion in revolutions per day.
struct PublishedElements {
    double inc, raa, ecc, arp, mea, mnm;
};
PublishedElements published_elements(const char* line2) noexcept;

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
// day is not finite.
bool epoch_ns(const char* line1, std::int64_t* ns) noexcept;

// Nanoseconds since 1970 of 00:00 on 1 January of `year` (proleptic
// Gregorian calendar).
std::int64_t year_start_ns(int year) noexcept;

// The drag and mean-motion derivative fields as the format states them:
// ndot is ṅ/2 in rev/day², nddot is n̈/6 in rev/day³, bstar is B* in 1/earth
// radii.  The last two are written with an assumed decimal point and a
// power of ten ("-11606-4" is -0.11606e-4); the text "[sign].ddddde±d" is
// converted as one number, so the value is the correctly rounded one.
double ndot(const char* line1) noexcept;
double nddot(const char* line1) noexcept;
double bstar(const char* line1) noexcept;

// The five-character satellite-number field as an integer: digits as they
// are (leading blanks and zeros dropped), and the Alpha-5 form of a letter
// and four digits as letter value × 10000 + digits, with A = 10 … Z = 33
// skipping I and O ("A0001" is 100001, "Z9999" is 339999).  An empty field
// gives 0; anything else (a letter I or O, letters among the digits) gives -1.
std::int64_t decode_satno(const char* field, int width = 5) noexcept;

// The field for a satellite number: five digits, zero-padded, below 100000;
// Alpha-5 from 100000 to 339999.  Returns false (and writes nothing) outside
// 0…339999.  Writes exactly five characters, no terminator.
bool encode_satno(std::int64_t satno, char* out) noexcept;

}  // namespace qv::tle
