#include "propagators/analytical/sgp4/catalogue/convert.hpp"

#include <emmintrin.h>

#include <cstring>

#include "propagators/analytical/sgp4/tle/validate.hpp"
#include "state/orbel/kernels.hpp"

// The angle function orbel's anomaly template calls, bound by this module
// from misc's export table at import (module.cpp); the same function orbel
// itself binds.
namespace qv::orbel::bound {
misc::Atan2Asymmetric* atan2_asymmetric = nullptr;
}  // namespace qv::orbel::bound

namespace qv::catalogue {

namespace {

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

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Text of a fixed column, trimmed of blanks, into UCS-4 code points.
void column_text(const char* stored, tle::Column c, std::uint32_t* out) {
    int b = c.offset, e = c.offset + c.width;
    for (int i = b; i < e; ++i) {
        if (stored[i] == '\0') {
            e = i;
            break;
        }
    }
    while (b < e && is_blank(stored[b])) ++b;
    while (e > b && is_blank(stored[e - 1])) --e;
    int n = 0;
    for (int i = b; i < e; ++i) out[n++] = static_cast<unsigned char>(stored[i]);
    for (; n < c.width; ++n) out[n] = 0;
}

}  // namespace

double tra_from_eca(double eca, double ecc) noexcept { return orbel::inl::tra_from_eca<NoPythonErrors>(eca, ecc); }

bool store_line(const char* text, std::int64_t length, const char* end, char* stored) noexcept {
    // Sixteen bytes at a time (SSE2, part of x86-64): bytes past the 69
    // kept are zeroed, bytes with the high bit set are flagged, a-z are
    // upper-cased.  The text is read in place when 80 bytes are readable
    // there, else through a zeroed copy.
    const std::int64_t n = length < tle::line_size - 1 ? length : tle::line_size - 1;
    alignas(16) char copy[stored_size] = {};
    const char* source = text;
    if (end - text < stored_size) {
        std::memcpy(copy, text, static_cast<std::size_t>(n));
        source = copy;
    }
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i high = _mm_setzero_si128();
    for (int k = 0; k < stored_size; k += 16) {
        const __m128i keep = _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(n - k < 0 ? 0 : n - k)));
        __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + k)), keep);
        high = _mm_or_si128(high, v);
        const __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('a' - 1)),
                                            _mm_cmplt_epi8(v, _mm_set1_epi8('z' + 1)));
        v = _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(32)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(stored + k), v);
    }
    bool ascii = _mm_movemask_epi8(high) == 0;
    // The record refuses a character outside ASCII anywhere in the line,
    // also past the 69 characters it keeps.
    for (std::int64_t i = n; i < length; ++i) ascii &= static_cast<unsigned char>(text[i]) < 0x80;
    return ascii;
}

void derive_row(std::size_t i, const Environment& env, const Columns& out) noexcept {
    const double sma = env.sma_from_mnm(out.mnm[i], env.GM);
    out.sma[i] = sma;
    out.orp[i] = env.orp_from_sma(sma, env.GM);
    const double eca = env.eca_from_mea(out.mea[i], out.ecc[i]);
    out.eca[i] = eca;
    out.tra[i] = tra_from_eca(eca, out.ecc[i]);
    out.pge[i] = env.pge_from_sma_ecc(sma, out.ecc[i], env.Re);
    out.apg[i] = env.apg_from_sma_ecc(sma, out.ecc[i], env.Re);
}

SetFault convert_set(const char* data, const char* end, const Line* lines, const Set& s, std::size_t i,
                     const Environment& env, const Columns& out) noexcept {
    const Line& l1 = lines[s.line1];
    const Line& l2 = lines[s.line2];
    if (!same_satno(data, l1, l2)) return SetFault::satno_mismatch;
    char line1[stored_size], line2[stored_size];
    if (!store_line(data + l1.begin, l1.length, end, line1)) return SetFault::non_ascii_line1;
    if (!store_line(data + l2.begin, l2.length, end, line2)) return SetFault::non_ascii_line2;
    if (env.strict) {
        tle::Fault fault;
        if (!tle::validate_lines(line1, static_cast<std::size_t>(l1.length), line2,
                                 static_cast<std::size_t>(l2.length), &fault)) {
            return std::strncmp(fault.message, "line 2", 6) == 0 ? SetFault::strict_line2 : SetFault::strict_line1;
        }
    }
    const std::int64_t satno = tle::decode_satno(line1 + tle::col::satno.offset, tle::col::satno.width);
    if (satno < 0) return SetFault::satno;
    if (!tle::epoch_ns(line1, &out.epoch[i])) return SetFault::epoch;
    out.satno[i] = satno;
    out.line[i] = s.line1 + 1;
    out.ndot[i] = tle::ndot(line1);
    out.nddot[i] = tle::nddot(line1);
    out.bstar[i] = tle::bstar(line1);
    out.ephemeris_type[i] = tle::read_int(line1, tle::col::ephemeris_type);
    out.element_number[i] = tle::read_int(line1, tle::col::element_number);
    out.rev_number[i] = tle::read_int(line2, tle::col::rev_number);
    column_text(line1, tle::col::classification, out.classification + i);
    column_text(line1, tle::col::designator, out.designator + i * 8);
    std::uint32_t* name = out.name + static_cast<std::int64_t>(i) * out.name_width;
    std::int64_t chars = 0;
    if (s.name >= 0) {
        decode_name(data, lines[s.name], name);
        chars = lines[s.name].chars;
    }
    for (std::int64_t k = chars; k < out.name_width; ++k) name[k] = 0;

    const tle::MeanElements e = tle::mean_elements(line2, env.deg, env.rev, env.day);
    out.inc[i] = e.inc;
    out.raa[i] = e.raa;
    out.ecc[i] = e.ecc;
    out.arp[i] = e.arp;
    out.mea[i] = e.mea;
    out.mnm[i] = e.mnm;
    derive_row(i, env, out);
    return SetFault::none;
}

void strict_fault(const char* data, const char* end, const Line* lines, const Set& s, tle::Fault* fault) noexcept {
    const Line& l1 = lines[s.line1];
    const Line& l2 = lines[s.line2];
    char line1[stored_size], line2[stored_size];
    store_line(data + l1.begin, l1.length, end, line1);
    store_line(data + l2.begin, l2.length, end, line2);
    tle::validate_lines(line1, static_cast<std::size_t>(l1.length), line2, static_cast<std::size_t>(l2.length), fault);
}

}  // namespace qv::catalogue
