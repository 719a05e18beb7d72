// Calendar arithmetic of quorvane.time.time (Python-free).
//
// Instants are int64 nanoseconds since 1970-01-01T00:00:00 UTC, the
// datetime64[ns] encoding: every day has 86400 s (no leap seconds) and the
// proleptic Gregorian calendar applies.  INT64_MIN is datetime64's NaT (not a
// time) and never an instant, so the representable range is
// 1677-09-21T00:12:43.145224193 to 2262-04-11T23:47:16.854775807.
#pragma once

#include <cstddef>
#include <cstdint>

#include "time/time/instants.hpp"  // ns_per_second, ns_per_day, nat, days_from_civil

namespace qv::time {

inline constexpr double jd_unix_epoch = 2440587.5;  // Julian date of 1970-01-01T00:00:00

enum class Status { ok, syntax, field_range, overflow, leap_second };

// The date of a day count since 1970-01-01 (days_from_civil, the other
// way, is in instants.hpp).
void civil_from_days(int64_t days, int64_t* year, unsigned* month, unsigned* day) noexcept;

// The instant at `into_day` nanoseconds after 00:00 of a Gregorian date
// (into_day may fall outside [0, ns_per_day), as after a UTC offset).  The
// date fields must be valid; overflow outside the range.
Status ns_from_civil(int64_t year, unsigned month, unsigned day, int64_t into_day, int64_t* ns) noexcept;

// ISO 8601 text: YYYY, YYYY-MM, YYYY-MM-DD, then optionally T (or a blank)
// and hh:mm, hh:mm:ss or hh:mm:ss.f with 1 to 9 fraction digits, then an
// optional Z.  Missing parts are the start of the period (so "2024" is
// 2024-01-01T00:00:00).  No offsets, no week or ordinal dates; a leap second
// (23:59:60, which the 86400-second days cannot hold) gives leap_second.
Status ns_from_iso(const char* text, std::size_t length, int64_t* ns) noexcept;

// "YYYY-MM-DDThh:mm:ss.nnnnnnnnn" (29 characters and a NUL) into
// out[iso_size]; the buffer has room for any int64 day count's year.
inline constexpr std::size_t iso_size = 64;
void iso_from_ns(int64_t ns, char* out) noexcept;

// Julian date of an instant: (2440587.5 + whole days) + remaining ns / 86400e9,
// so each part is exact and only the final sum rounds.
double jd_from_ns(int64_t ns) noexcept;

// The instant nearest to Julian date jd (ties to even).  The day count is
// split off before scaling, so the result is the nanosecond nearest to the
// exact value of the double, not to a rounded product.  syntax for NaN or
// infinity, overflow outside the range.
Status ns_from_jd(double jd, int64_t* ns) noexcept;

}  // namespace qv::time
