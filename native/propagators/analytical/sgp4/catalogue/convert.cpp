#include "propagators/analytical/sgp4/catalogue/convert.hpp"

#include <emmintrin.h>

#include <cstring>

#include "propagators/analytical/sgp4/catalogue/format.hpp"
#include "propagators/analytical/sgp4/tle/lines.hpp"
#include "propagators/analytical/sgp4/tle/validate.hpp"
#include "runtime/inline.hpp"
#include "state/orbel/kernels.hpp"

namespace qv::catalogue {

misc::Atan2Asymmetric* atan2_asymmetric = nullptr;

namespace {

// The angle policy of orbel's anomaly template: misc's atan2_asymmetric as
// this module binds it (module.cpp), the function orbel itself binds.
struct BoundHere {
    static double atan2(double y, double x) { return atan2_asymmetric(y, x); }
};

// orbel's exported c_tra_from_eca takes the interpreter lock after each call
// of the angle function to test for a Python exception, which would
// serialise the worker threads (and deadlock a worker while the calling
// thread holds the lock).  misc's atan2_asymmetric is documented to raise
// nothing, so this policy never tests: the arithmetic is the template's,
// unchanged, and so are the bits.
struct NoPythonErrors {
    using Vectors = orbel::InlineVectors;
    static bool pending() noexcept { return false; }
    static void traceback(const char*) noexcept {}
};

// Text of a fixed column, trimmed of blanks, into UCS-4 code points.
void column_text(const char* stored, tle::Column c, std::uint32_t* out) {
    int b = c.offset, e = c.offset + c.width;
    for (int i = b; i < e; ++i) {
        if (stored[i] == '\0') {
            e = i;
            break;
        }
    }
    while (b < e && tle::is_c_space(stored[b])) ++b;
    while (e > b && tle::is_c_space(stored[e - 1])) --e;
    int n = 0;
    for (int i = b; i < e; ++i) out[n++] = static_cast<unsigned char>(stored[i]);
    for (; n < c.width; ++n) out[n] = 0;
}

// column_text of the eight-character international designator: when the
// field starts with a character that is not blank and holds no NUL, the
// result is the field up to its last non-blank character, so the eight
// bytes are masked and widened at once.
void designator_text(const char* stored, std::uint32_t* out) {
    const tle::Column c = tle::col::designator;
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(stored + c.offset));
    const __m128i blank = _mm_or_si128(
        _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('\t' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('\r' + 1))));
    const unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(blank)) & 0xFF;
    const unsigned nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) & 0xFF;
    if (nuls != 0 || (blanks & 1) != 0) {
        column_text(stored, c, out);
        return;
    }
    const int kept = 32 - __builtin_clz(~blanks & 0xFF);  // bytes up to the last non-blank one
    const std::uint64_t keep = kept == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * kept)) - 1;
    const __m128i bytes = _mm_and_si128(v, _mm_cvtsi64_si128(static_cast<long long>(keep)));
    const __m128i words = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(words, _mm_setzero_si128()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(words, _mm_setzero_si128()));
}

// Some byte of the 69 loaded is NUL.
QV_FORCE_INLINE inline bool holds_nul(const tle::lines::Blocks& b) noexcept {
    __m128i low = b.block[0];
    for (int k = 1; k < 5; ++k) low = _mm_min_epu8(low, b.block[k]);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(low, _mm_setzero_si128())) != 0;
}

// A trimmed element line as the fields read it: in place when storing it
// (store_line) would change none of its first 69 characters (at least that
// many, none of them lower-case, no byte outside ASCII and no NUL anywhere:
// the fields never read further), else stored in `stored`.  Null when a
// byte lies outside ASCII or is NUL.  `blocks` receives the line's
// characters.
QV_FORCE_INLINE inline const char* line_for_fields(const char* text, std::int64_t length, const char* end,
                                                          bool strict, char* stored, tle::lines::Blocks* blocks) {
    if (!strict && length >= tle::line_size - 1) {
        *blocks = tle::lines::load(text);
        bool ascii = tle::lines::plain(*blocks) && !holds_nul(*blocks);
        for (std::int64_t i = tle::line_size - 1; ascii && i < length; ++i) {
            ascii = static_cast<unsigned char>(text[i]) - 1u < 0x7Fu;
        }
        if (ascii) return text;
    }
    if (!store_line(text, length, end, stored)) return nullptr;
    *blocks = tle::lines::load(stored);
    return stored;
}

}  // namespace

double tra_from_eca(double eca, double ecc) noexcept {
    return orbel::inl::tra_from_eca<NoPythonErrors, BoundHere>(eca, ecc);
}

namespace {
// The derived elements in two halves: the semi-major axis, period and
// eccentric anomaly, then the true anomaly and the altitudes.
inline void derive_begin(std::size_t i, const Environment& env, const Columns& out) noexcept {
    const double sma = env.sma_from_mnm(out.mnm[i], env.GM);
    out.sma[i] = sma;
    out.orp[i] = env.orp_from_sma(sma, env.GM);
    out.eca[i] = env.eca_from_mea(out.mea[i], out.ecc[i]);
}
inline void derive_end(std::size_t i, const Environment& env, const Columns& out) noexcept {
    out.tra[i] = tra_from_eca(out.eca[i], out.ecc[i]);
    out.pge[i] = env.pge_from_sma_ecc(out.sma[i], out.ecc[i], env.Re);
    out.apg[i] = env.apg_from_sma_ecc(out.sma[i], out.ecc[i], env.Re);
}
}  // namespace

void derive_row(std::size_t i, const Environment& env, const Columns& out) noexcept {
    derive_begin(i, env, out);
    derive_end(i, env, out);
}

namespace {

// A set being read: its two lines as the fields read them.
struct Reading {
    char stored1[stored_size], stored2[stored_size];
    const char *line1, *line2;
    bool layout1;  // line 1 has its published layout
};

// Separators of each line (0-based), as bits of Masks::blank.
constexpr std::uint64_t separators1 = tle::lines::bits({1, 8, 17, 32, 43, 52, 61, 63});
constexpr std::uint64_t separators2 = tle::lines::bits({1, 7, 16, 25, 33, 42, 51});

// A power of ten of 0 written with the other sign than the default, in the
// assumed-decimal field at p ("SMMMMMSE").
bool other_zero_exponent_sign(const char* p) noexcept {
    if (p[7] != '0') return false;
    const bool zero = p[1] == '0' && p[2] == '0' && p[3] == '0' && p[4] == '0' && p[5] == '0';
    return p[6] != default_zero_exponent_sign(zero);
}

// The first half of reading set `s` into row i: every check that can fail,
// the epoch and the elements of line 2 (what the derived elements need).
template <bool strict>
QV_FORCE_INLINE inline SetFault read_first(const char* data, const char* end, const Set& s, std::size_t i,
                                                  const Environment& env, const Columns& out, Reading& r) noexcept {
    const char* text1 = data + s.begin1;
    const char* text2 = data + s.begin2;
    if (!same_satno(text1, s.length1, text2, s.length2)) return SetFault::satno_mismatch;
    tle::lines::Blocks blocks1, blocks2;
    const char* line1 = line_for_fields(text1, s.length1, end, strict, r.stored1, &blocks1);
    if (!line1) return SetFault::non_ascii_line1;
    const char* line2 = line_for_fields(text2, s.length2, end, strict, r.stored2, &blocks2);
    if (!line2) return SetFault::non_ascii_line2;
    const auto length1 = static_cast<std::size_t>(s.length1), length2 = static_cast<std::size_t>(s.length2);
    if constexpr (strict) {
        tle::Fault fault;
        if (!tle::validate_lines(line1, length1, line2, length2, &fault)) {
            return fault.line == 2 ? SetFault::strict_line2 : SetFault::strict_line1;
        }
    }
    // The fixed-column layout: whole lines in their published layout with
    // blank separators have it (the common case, from the masks at hand);
    // any other line is checked column by column.
    const tle::lines::Masks masks1 = tle::lines::masks(blocks1), masks2 = tle::lines::masks(blocks2);
    r.layout1 = tle::lines::line1_matches(line1, masks1);
    const bool layout2 = tle::lines::line2_matches(line2, masks2);
    if (!(r.layout1 && layout2 && (masks1.blank & separators1) == separators1 &&
          (masks2.blank & separators2) == separators2)) {
        tle::Fault fault;
        if (!tle::check_layout(line1, length1, line2, length2, &fault)) {
            return fault.line == 2 ? SetFault::layout_line2 : SetFault::layout_line1;
        }
    }
    const std::int64_t satno = tle::satno(line1);
    if (satno < 0) return SetFault::satno;
    r.line1 = line1;
    r.line2 = line2;
    out.checksum_ok[i] = length1 >= 69 && length2 >= 69 && line1[68] == '0' + tle::lines::checksum(blocks1) &&
                         line2[68] == '0' + tle::lines::checksum(blocks2);
    if (r.layout1) {
        out.epoch[i] = tle::day_zero_ns[tle::lines::line1_year(line1)] + tle::lines::line1_day_ns(line1);
    } else if (!tle::epoch_ns(line1, &out.epoch[i])) {
        return SetFault::epoch;
    }
    out.satno[i] = satno;

    tle::lines::Line2Fields f2;
    tle::PublishedElements published;
    if (layout2 && tle::lines::line2(line2, masks2, &f2)) {
        published = {f2.inc, f2.raa, f2.ecc, f2.arp, f2.mea, f2.mnm};
        out.rev_number[i] = f2.rev_number;
    } else {
        published = tle::published_elements(line2);
        out.rev_number[i] = tle::read_int(line2, tle::col::rev_number);
    }
    store_mean_elements(i, tle::si_elements(published, env.deg, env.rev, env.day), out);
    return SetFault::none;
}

// The second half: the rest of line 1 and the text columns.
QV_FORCE_INLINE inline void read_second(const char* data, const Set& s, const Name* names,
                                               std::int64_t first_line, std::size_t i, const Columns& out,
                                               const Reading& r) noexcept {
    const char* line1 = r.line1;
    out.line[i] = first_line + s.line1 + 1;
    if (r.layout1) {
        tle::lines::Line1Fields f1;
        tle::lines::line1_fields(line1, &f1);
        out.ndot[i] = f1.ndot;
        out.nddot[i] = f1.nddot;
        out.bstar[i] = f1.bstar;
        out.ephemeris_type[i] = f1.ephemeris_type;
        out.element_number[i] = f1.element_number;
    } else {
        out.ndot[i] = tle::ndot(line1);
        out.nddot[i] = tle::nddot(line1);
        out.bstar[i] = tle::bstar(line1);
        out.ephemeris_type[i] = tle::read_int(line1, tle::col::ephemeris_type);
        out.element_number[i] = tle::read_int(line1, tle::col::element_number);
    }
    out.tle_form[i] = tle_form(line1, r.line2);
    const char classification = line1[tle::col::classification.offset];
    out.classification[i] =
        classification == '\0' || tle::is_c_space(classification) ? 0 : static_cast<unsigned char>(classification);
    designator_text(line1, out.designator + i * 8);
    std::uint32_t* name = out.name + static_cast<std::int64_t>(i) * out.name_width;
    std::int64_t chars = 0;
    if (s.name >= 0) {
        decode_name(data, names[s.name], name);
        chars = names[s.name].chars;
    }
    if (out.name_width - chars == 1) {
        name[chars] = 0;  // the one-character column of a catalogue without names
    } else {
        for (std::int64_t k = chars; k < out.name_width; ++k) name[k] = 0;
    }
}

template <bool strict>
bool convert(const char* data, const char* end, const Set* sets, std::size_t n, const Name* names,
             std::int64_t first_line, std::size_t first_row, const Environment& env, const Columns& out,
             std::uint8_t* faults) noexcept {
    // Each set's derived elements are computed in two halves, and between
    // them the rest of the set and the first half of the next set are read:
    // work independent of the kernels' long dependency chains (Newton steps,
    // sincos, atan2, cbrt), which leave the processor room to do it at the
    // same time.  The first half of a set is what its derived elements need.
    if (n == 0) return false;
    Reading r;
    const auto first = [&](std::size_t j, std::size_t row) {
        SetFault f = read_first<strict>(data, end, sets[j], row, env, out, r);
        if (f == SetFault::none && sets[j].name >= 0 && names[sets[j].name].chars > name_limit) {
            f = SetFault::long_name;
        }
        return static_cast<std::uint8_t>(f);
    };
    faults[0] = first(0, first_row);
    bool any = false;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t row = first_row + j;
        const bool ok = faults[j] == 0;
        any = any || !ok;
        if (ok) {
            derive_begin(row, env, out);
            read_second(data, sets[j], names, first_line, row, out, r);
        }
        if (j + 1 < n) {
            faults[j + 1] = first(j + 1, row + 1);
        }
        if (ok) derive_end(row, env, out);
    }
    return any;
}

}  // namespace

bool convert_sets(const char* data, const char* end, const Set* sets, std::size_t n, const Name* names,
                  std::int64_t first_line, std::size_t first_row, const Environment& env, const Columns& out,
                  std::uint8_t* faults) noexcept {
    return env.strict ? convert<true>(data, end, sets, n, names, first_line, first_row, env, out, faults)
                      : convert<false>(data, end, sets, n, names, first_line, first_row, env, out, faults);
}

std::uint8_t tle_form(const char* line1, const char* line2) noexcept {
    // A right-justified number padded with zeros starts with a 0 followed by a digit.
    const auto zeros = [](const char* line, tle::Column c) {
        return line[c.offset] == '0' && line[c.offset + 1] >= '0' && line[c.offset + 1] <= '9';
    };
    const bool zeros2 = zeros(line2, tle::col::inc) || zeros(line2, tle::col::raa) || zeros(line2, tle::col::arp) ||
                        zeros(line2, tle::col::mea) || zeros(line2, tle::col::mnm) ||
                        zeros(line2, tle::col::rev_number);
    return static_cast<std::uint8_t>((other_zero_exponent_sign(line1 + tle::col::nddot.offset) ? nddot_sign_bit : 0) |
                                     (other_zero_exponent_sign(line1 + tle::col::bstar.offset) ? bstar_sign_bit : 0) |
                                     (zeros(line1, tle::col::element_number) ? line1_zeros_bit : 0) |
                                     (zeros2 ? line2_zeros_bit : 0));
}

SetFault check_set(const char* data, const char* end, const Set& s, bool strict, tle::Fault* fault) noexcept {
    char line1[stored_size], line2[stored_size];
    if (!store_line(data + s.begin1, s.length1, end, line1)) return SetFault::non_ascii_line1;
    if (!store_line(data + s.begin2, s.length2, end, line2)) return SetFault::non_ascii_line2;
    const auto length1 = static_cast<std::size_t>(s.length1), length2 = static_cast<std::size_t>(s.length2);
    if (strict && !tle::validate_lines(line1, length1, line2, length2, fault)) {
        return fault->line == 2 ? SetFault::strict_line2 : SetFault::strict_line1;
    }
    if (!tle::check_layout(line1, length1, line2, length2, fault)) {
        return fault->line == 2 ? SetFault::layout_line2 : SetFault::layout_line1;
    }
    return SetFault::none;
}

void set_fault_message(const char* data, const char* end, const Set& s, bool strict, tle::Fault* fault) noexcept {
    check_set(data, end, s, strict, fault);
}

}  // namespace qv::catalogue
