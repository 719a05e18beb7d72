// Element sets back to two-line text.  Python-free.
//
// Each field is written in its published column with the published number
// of decimals, so lines as providers publish them come back byte for byte:
// the values were read from those decimals, and rounding them to the same
// decimals again gives the same digits.  A zero drag term or second
// derivative is written "00000-0", the form most providers use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::catalogue {

// One set's values, in the table's units (SI for the mean elements).
struct SetValues {
    std::int64_t satno, epoch_ns, ephemeris_type, element_number, rev_number;
    char classification;   // '\0' for none (written as a blank)
    const char* designator;  // up to 8 characters, NUL-padded
    double ndot, nddot, bstar;
    double inc, raa, ecc, arp, mea, mnm;
};

// Units to turn SI back into the published ones (the bound unit constants).
struct Units {
    double deg, rev, day;
};

// Bytes of one formatted set: line 1, LF, line 2, LF.
inline constexpr std::size_t set_text_size = 2 * 70;

// Write the two lines of a set into out[0 .. set_text_size).  Returns null,
// or the name of the first field whose value the columns cannot hold.
const char* format_set(const SetValues& v, const Units& units, char* out) noexcept;

// The modulo-10 checksum of columns 1-68: digits count their value, "-" one.
int checksum(const char* line) noexcept;

}  // namespace qv::catalogue
