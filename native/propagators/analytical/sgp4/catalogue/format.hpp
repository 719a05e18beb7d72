// Element sets back to two-line text.  Python-free.
//
// Each field is written in its published column with the published number
// of decimals, so lines as providers publish them come back byte for byte:
// the values were read from those decimals, and rounding them to the same
// decimals again gives the same digits.  What the values do not settle is
// kept by the reader as bits of the `tle_form` column, which the writer
// follows: the sign of a power of ten of 0 in the assumed-decimal fields (a
// zero is published "00000-0" or "00000+0"), and whether right-justified
// numbers are padded with blanks or zeros ("  51.6416" or "051.6416").
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::catalogue {

// The bits of `tle_form`: the sign of a power of ten of 0 in nddot and in
// bstar is not the default one (below); line 1 pads its element number with
// zeros; line 2 pads its angles, mean motion and revolution number with
// zeros.  A set without bits is written in the form most providers use.
inline constexpr std::uint8_t nddot_sign_bit = 1, bstar_sign_bit = 2, line1_zeros_bit = 4, line2_zeros_bit = 8;

// The sign of a power of ten of 0 that the writer chooses by default: "-0"
// for a zero value (the form most providers use), "+0" for any other.
constexpr char default_zero_exponent_sign(bool zero_value) noexcept { return zero_value ? '-' : '+'; }

// One set's values, in the table's units (SI for the mean elements).
struct SetValues {
    std::int64_t satno, epoch_ns, ephemeris_type, element_number, rev_number;
    char classification;   // '\0' for none (written as a blank)
    const char* designator;  // up to 8 characters, NUL-padded
    double ndot, nddot, bstar;
    double inc, raa, ecc, arp, mea, mnm;
    std::uint8_t tle_form;  // the bits above
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


}  // namespace qv::catalogue
