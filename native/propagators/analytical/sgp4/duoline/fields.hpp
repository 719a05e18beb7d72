// Fixed-column fields of two-line element sets, converted the way the C
// library's atoi and atof convert text in the "C" locale: leading blanks are
// skipped, the longest valid numeric prefix is read, and text without one
// gives 0.  The conversion never depends on the process locale, so a comma
// decimal separator set by the application cannot truncate the elements.
#pragma once

namespace qv::duoline {

// Create the "C" locale object the conversions use; false when the C library
// cannot provide it.  Called once at import, before any record is parsed.
bool init_c_locale() noexcept;

// Largest field the parser reads (the day of year, 12 characters).
inline constexpr int max_field_width = 12;

// A field copied out of a stored line into a NUL-terminated scratch buffer.
// The stored lines are NUL-padded to their full size, so a field that runs
// past the end of a short line ends at the line's terminator.
struct Field {
    char text[max_field_width + 2];  // room for the eccentricity's leading "."

    Field(const char* line, int offset, int width, bool leading_point = false) noexcept {
        int n = 0;
        if (leading_point) text[n++] = '.';
        for (int i = 0; i < width; ++i) text[n++] = line[offset + i];
        text[n] = '\0';
    }
};

int field_atoi(const char* text) noexcept;
double field_atof(const char* text) noexcept;

}  // namespace qv::duoline
