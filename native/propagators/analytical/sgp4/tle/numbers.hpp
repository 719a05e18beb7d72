// Fixed-column fields of two-line element sets, converted the way the C
// library's atoi and atof convert text in the "C" locale: leading blanks are
// skipped, the longest valid numeric prefix is read, and text without one
// gives 0.  The conversion never depends on the process locale, so a comma
// decimal separator set by the application cannot truncate the elements.
//
// The result is always the bits strtod_l gives in the "C" locale, but it is
// reached faster: short decimals (the fields of element sets) are converted
// exactly in one IEEE operation, longer decimals with std::from_chars
// (correctly rounded, like glibc's strtod), and only unusual text
// (hexadecimal, inf, nan, results out of range) goes to strtod_l itself.
#pragma once

namespace qv::tle {

// Create the "C" locale object the conversions use; false when the C library
// cannot provide it.  Called once at import, before any record is parsed.
bool init_c_locale() noexcept;

// Largest field the parser reads (the day of year, 12 characters).
inline constexpr int max_field_width = 12;

// atoi and atof of NUL-terminated text, in the "C" locale.
int field_atoi(const char* text) noexcept;
double field_atof(const char* text) noexcept;

}  // namespace qv::tle
