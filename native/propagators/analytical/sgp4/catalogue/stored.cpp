// Element lines stored the way the DUOLINE record stores them.  Its own
// source, so that the private test module of the field library
// (quorvane._testing.tle_fields) links it without the reader.
#include <emmintrin.h>

#include <cstring>

#include "propagators/analytical/sgp4/catalogue/convert.hpp"

namespace qv::catalogue {

namespace {

// Lower-case letters among 16 bytes, as 0xFF bytes.
inline __m128i lower_case(__m128i v) {
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('z' + 1)));
}

}  // namespace

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
        v = _mm_sub_epi8(v, _mm_and_si128(lower_case(v), _mm_set1_epi8(32)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(stored + k), v);
    }
    bool ascii = _mm_movemask_epi8(high) == 0;
    // The record refuses a character outside ASCII anywhere in the line,
    // also past the 69 characters it keeps, and a NUL (its stored text would
    // end there while its fields read on).
    for (std::int64_t i = 0; i < length; ++i) ascii &= static_cast<unsigned char>(text[i]) - 1u < 0x7Fu;
    return ascii;
}

}  // namespace qv::catalogue
