// Element sets to columns.  Python-free: called without the interpreter
// lock from worker threads, each writing its own rows.
//
// Every field comes from the shared field library (tle/columns.hpp), the
// code the DUOLINE record parses with, applied to the line stored the way
// the record stores it (trimmed, upper-cased, cut to 69 characters); the
// derived elements come from orbel's kernels.  So a row holds the record's
// bits by construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "propagators/analytical/sgp4/catalogue/scan.hpp"
#include "siblings/mathtools/misc/misc.hpp"
#include "propagators/analytical/sgp4/tle/columns.hpp"
#include "propagators/analytical/sgp4/tle/validate.hpp"

namespace qv::catalogue {

using Kernel2 = double(double, double);
using Kernel3 = double(double, double, double);

// What a conversion needs besides the text: orbel's kernels that report no
// errors (bound by address from orbel's export table), the unit constants
// and the Earth's constants, read once per call with the interpreter lock.
struct Environment {
    Kernel2* sma_from_mnm;
    Kernel2* orp_from_sma;
    Kernel2* eca_from_mea;
    Kernel3* pge_from_sma_ecc;
    Kernel3* apg_from_sma_ecc;
    double deg, rev, day;  // unit constants: rad per degree and per revolution, s per day
    double GM, Re;         // Earth.GM (m^3/s^2) and Earth.Re (m)
    bool strict;           // validate each set as DUOLINE(..., strict_validation=True) does
};

// misc's angle function, bound at import (module.cpp); orbel's anomaly
// template takes it as its angle policy.
extern misc::Atan2Asymmetric* atan2_asymmetric;

// The true anomaly from the eccentric anomaly: orbel's c_tra_from_eca
// arithmetic (the same template) with the angle function bound from misc.
double tra_from_eca(double eca, double ecc) noexcept;

// Output columns, one entry per set; strings are UCS-4, `name_width`,
// 1 and 8 code points per entry, NUL-padded.  `checksum_ok` is a bool per
// set, `tle_form` the bits of tle_form() per set.
struct Columns {
    std::int64_t *satno, *epoch, *line, *ephemeris_type, *element_number, *rev_number;
    double *ndot, *nddot, *bstar;
    double *inc, *raa, *ecc, *arp, *mea, *mnm;
    double *sma, *orp, *eca, *tra, *pge, *apg;
    std::uint32_t *name, *classification, *designator;
    std::uint8_t *checksum_ok, *tle_form;
    std::int64_t name_width;
};

// The tle_form bits (format.hpp) of two lines in the fixed-column layout.
std::uint8_t tle_form(const char* line1, const char* line2) noexcept;

// Why a set could not be converted.
enum class SetFault : std::uint8_t {
    none,
    satno_mismatch,   // line 2 names another satellite than line 1
    non_ascii_line1,  // a byte outside ASCII, or a NUL, in line 1
    non_ascii_line2,
    satno,         // the satellite number is neither decimal nor Alpha-5
    epoch,         // the epoch lies outside the nanosecond range of Time
    strict_line1,  // strict validation failed on line 1 (or on both numbers)
    strict_line2,
    layout_line1,  // line 1 departs from the fixed-column layout
    layout_line2,
    long_name,  // the name has more than name_limit characters
};

// The checks of a set that need no conversion: both lines ASCII, strict
// validation when asked for, the fixed-column layout.  SetFault::none when
// the set passes them all.  `fault` receives the validation's or the
// layout's description.
SetFault check_set(const char* data, const char* end, const Set& s, bool strict, tle::Fault* fault) noexcept;

// Convert the n sets of a piece (its names and the lines before it given)
// into rows first_row, ...; faults[j] receives the fault of set j, and a
// row with a fault holds unspecified values.  True when some set has one.
bool convert_sets(const char* data, const char* end, const Set* sets, std::size_t n, const Name* names,
                  std::int64_t first_line, std::size_t first_row, const Environment& env, const Columns& out,
                  std::uint8_t* faults) noexcept;

// The six mean elements of row i.
inline void store_mean_elements(std::size_t i, const tle::MeanElements& e, const Columns& out) noexcept {
    out.inc[i] = e.inc;
    out.raa[i] = e.raa;
    out.ecc[i] = e.ecc;
    out.arp[i] = e.arp;
    out.mea[i] = e.mea;
    out.mnm[i] = e.mnm;
}

// The derived elements of row `row` from its six mean elements (already in
// the columns): sma, orp, eca, tra, pge, apg, in the record's order.
void derive_row(std::size_t row, const Environment& env, const Columns& out) noexcept;

// Room for a stored line: tle::line_size bytes and zeros up to a multiple of 16.
inline constexpr int stored_size = 80;

// Store a trimmed element line as the record does: upper-cased, at most 69
// characters, NUL-padded to `stored_size`.  `end` is the end of the readable
// text after `text`.  False when a byte lies outside ASCII (the record's
// ASCII encoder would refuse the line) or is NUL (the record refuses it too:
// its stored text would end there while its fields read on).
bool store_line(const char* text, std::int64_t length, const char* end, char* stored) noexcept;

// The message of a set that failed strict validation or the layout check.
void set_fault_message(const char* data, const char* end, const Set& s, bool strict, tle::Fault* fault) noexcept;

}  // namespace qv::catalogue
