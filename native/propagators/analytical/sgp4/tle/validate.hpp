// Strict validation of two-line element sets.
//
// The parser reads its columns leniently and never rejects a line.  A caller
// that asks for strict validation gets the lines checked against the
// published fixed-column format first: length, line numbers, blank
// separators, the form of every field, plausible ranges of the elements,
// the satellite number on both lines and the modulo-10 checksums.  The check
// is plain C++ over the stored lines; the Python-facing layer turns a fault
// into an exception.
#pragma once

#include <cstddef>

namespace qv::tle {

// Room for the longest description ("line 2, columns 53-63: ..." with a
// fully escaped 12-character field).
inline constexpr int fault_size = 192;

// The first fault found, as a NUL-terminated description naming the line
// and the column or columns; empty when the lines are valid.
struct Fault {
    char message[fault_size];
};

// Validate the normalised lines.  `line1` and `line2` are the stored lines
// (at least 69 readable bytes each); `length1` and `length2` are the lengths
// of the normalised text before it was cut to 69 characters.  Returns true
// when both lines are valid; otherwise false with `fault` describing the
// first fault: line 1 before line 2, and within a line the length first,
// then the columns from left to right, the checksum last.
bool validate_lines(const char* line1, std::size_t length1, const char* line2, std::size_t length2,
                    Fault* fault) noexcept;

}  // namespace qv::tle
