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

// The first fault found: the element line it lies in (1 or 2; 0 when the
// lines are valid) and a NUL-terminated description naming that line and
// the column or columns (empty when the lines are valid).
struct Fault {
    int line;
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

// The fixed-column layout the lenient reading relies on: each line long
// enough to hold its fields (68 characters; the checksum may be missing),
// the separators blank, every numeric field in its published form (decimal
// points in their columns, signs and blanks only where the form has them,
// digits elsewhere).  A line with a character dropped or inserted before a
// field fails it, since its decimal points and separators move; text fields
// (satellite number, classification, designator), ranges and checksums are
// not looked at.  Arguments and result as for validate_lines; the fault
// names the first offending column.
bool check_layout(const char* line1, std::size_t length1, const char* line2, std::size_t length2,
                  Fault* fault) noexcept;

// The modulo-10 checksum of columns 1-68 of a stored line: digits count
// their value, a minus sign counts 1, everything else 0.
int checksum(const char* line) noexcept;

}  // namespace qv::tle
