// Whole element lines in their published layout, checked sixteen bytes at a
// time.
//
// layouts.hpp reads one field at a time, each checking its own bytes.  Here
// the 69 characters of a line are classified at once (SSE2, part of
// x86-64): which bytes are digits, blanks, points and signs.  When every
// numeric field of the line has its published layout, the masks show it in
// a few comparisons, and the fields are then read without further checks:
// the same integers and the same single IEEE operations as layouts.hpp,
// hence the same bits.  A line where any field departs from its layout is
// left to the field-by-field path.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <initializer_list>

#include "propagators/analytical/sgp4/tle/layouts.hpp"
#include "runtime/inline.hpp"

namespace qv::tle::lines {

// The 69 characters as five blocks of sixteen: 0-15, 16-31, 32-47, 48-63
// and 53-68 (the last overlapping the fourth).
struct Blocks {
    __m128i block[5];
};

// 69 readable bytes at `line`.
QV_FORCE_INLINE inline Blocks load(const char* line) noexcept {
    Blocks b;
    for (int k = 0; k < 4; ++k) b.block[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 16 * k));
    b.block[4] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 53));
    return b;
}

// Every character is ASCII and none is a lower-case letter: storing the line
// the way the record does (upper-cased) would leave it as it is.
QV_FORCE_INLINE inline bool plain(const Blocks& b) noexcept {
    // Usually every character lies below 'a' (and so below 0x80): the
    // largest byte tells at once.
    __m128i top = b.block[0];
    for (int k = 1; k < 5; ++k) top = _mm_max_epu8(top, b.block[k]);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(top, _mm_set1_epi8('a' - 1)), _mm_set1_epi8('a' - 1))) ==
        0xFFFF) {
        return true;
    }
    __m128i bad = _mm_setzero_si128();
    for (const __m128i v : b.block) {
        // v - 'a' below 26 (unsigned), tested as a signed comparison after
        // moving the range to the bottom: a lower-case letter.
        const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - 'a')));
        bad = _mm_or_si128(bad, _mm_or_si128(v, _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(0x80 + 26)))));
    }
    return _mm_movemask_epi8(bad) == 0;
}

// The modulo-10 checksum of characters 0-67 (tle::checksum's: digits count
// their value, a minus sign 1, anything else 0), sixteen at a time.
QV_FORCE_INLINE inline int checksum(const Blocks& b) noexcept {
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < 5; ++k) {
        const __m128i v = b.block[k];
        const __m128i value = _mm_sub_epi8(v, _mm_set1_epi8('0'));
        const __m128i digit = _mm_cmpeq_epi8(_mm_max_epu8(value, _mm_set1_epi8(9)), _mm_set1_epi8(9));
        const __m128i minus = _mm_cmpeq_epi8(v, _mm_set1_epi8('-'));
        __m128i counted = _mm_or_si128(_mm_and_si128(value, digit), _mm_and_si128(minus, _mm_set1_epi8(1)));
        // The last block (characters 53-68) adds only characters 64-67.
        if (k == 4) counted = _mm_and_si128(counted, _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, 0));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(counted, _mm_setzero_si128()));
    }
    return static_cast<int>((_mm_cvtsi128_si64(sum) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum))) % 10);
}

// Digits and blanks among the characters, as bits: `digit` and `blank` for
// characters 0-63 (bit i for character i), `digit4` and `blank4` for
// characters 53-68 (bit i - 53).
struct Masks {
    std::uint64_t digit, blank;
    unsigned digit4, blank4;
};

QV_FORCE_INLINE inline unsigned digit_bits(__m128i v) noexcept {
    const __m128i value = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(value, _mm_set1_epi8(9)), _mm_set1_epi8(9))));
}
QV_FORCE_INLINE inline unsigned blank_bits(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))));
}

QV_FORCE_INLINE inline Masks masks(const Blocks& b) noexcept {
    Masks m;
    m.digit = std::uint64_t{digit_bits(b.block[0])} | std::uint64_t{digit_bits(b.block[1])} << 16 |
              std::uint64_t{digit_bits(b.block[2])} << 32 | std::uint64_t{digit_bits(b.block[3])} << 48;
    m.blank = std::uint64_t{blank_bits(b.block[0])} | std::uint64_t{blank_bits(b.block[1])} << 16 |
              std::uint64_t{blank_bits(b.block[2])} << 32 | std::uint64_t{blank_bits(b.block[3])} << 48;
    m.digit4 = digit_bits(b.block[4]);
    m.blank4 = blank_bits(b.block[4]);
    return m;
}

constexpr std::uint64_t bits(std::initializer_list<int> positions, int first = 0) {
    std::uint64_t b = 0;
    for (int p : positions) b |= std::uint64_t{1} << (p - first);
    return b;
}
constexpr std::uint64_t range(int from, int to, int first = 0) {
    std::uint64_t b = 0;
    for (int p = from; p <= to; ++p) b |= std::uint64_t{1} << (p - first);
    return b;
}

// A layout over characters 0-52 (`low`) or 53-68 (`high`, bit i for
// character i + 53): characters that must be digits; right-justified runs
// whose characters are blanks or digits with no blank after a digit
// (`follow`: the characters of a run after its first).
struct Layout {
    std::uint64_t digit, justified, follow;
};

QV_FORCE_INLINE inline bool matches(std::uint64_t digit, std::uint64_t blank, const Layout& l) noexcept {
    return ((l.digit & ~digit) | (l.justified & ~(digit | blank)) | ((digit << 1) & blank & l.follow)) == 0;
}

QV_FORCE_INLINE inline bool sign(char c) noexcept { return c == '+' || c == '-'; }

// Line 2: inclination, node, argument of perigee and mean anomaly
// "bbD.DDDD", eccentricity "DDDDDDD", mean motion "bD.DDDDDDDD", revolution
// number right-justified in columns 64-68.
inline constexpr Layout line2_low{
    bits({10, 19, 36, 45}) | range(12, 15) | range(21, 24) | range(26, 32) | range(38, 41) | range(47, 50),
    bits({8, 9, 17, 18, 34, 35, 43, 44, 52}), bits({9, 18, 35, 44})};
inline constexpr Layout line2_high{bits({53, 67}, 53) | range(55, 62, 53), range(63, 66, 53), range(64, 66, 53)};

QV_FORCE_INLINE inline bool line2_matches(const char* line, const Masks& m) noexcept {
    return matches(m.digit, m.blank, line2_low) && matches(m.digit4, m.blank4, line2_high) && line[11] == '.' &&
           line[20] == '.' && line[37] == '.' && line[46] == '.' && line[54] == '.';
}

// Line 1 (after the international designator): epoch "YYbbD.DDDDDDDD", first derivative "S.DDDDDDDD", second
// derivative and drag term "SDDDDDSE", ephemeris type, element number
// right-justified in columns 65-68.
inline constexpr Layout line1_low{bits({22, 51}) | range(18, 19) | range(24, 31) | range(35, 42) | range(45, 49),
                                  bits({20, 21}), bits({21})};
inline constexpr Layout line1_high{bits({60, 62, 67}, 53) | range(54, 58, 53), range(64, 66, 53), range(65, 66, 53)};

QV_FORCE_INLINE inline bool line1_matches(const char* line, const Masks& m) noexcept {
    return matches(m.digit, m.blank, line1_low) && matches(m.digit4, m.blank4, line1_high) && line[23] == '.' &&
           line[34] == '.' && (line[33] == ' ' || sign(line[33])) && (line[44] == ' ' || sign(line[44])) &&
           (line[53] == ' ' || sign(line[53])) && sign(line[50]) && sign(line[59]);
}

// Digit values of the eight characters at p: blanks (and digits) keep their
// low four bits, so a blank counts as 0.
QV_FORCE_INLINE inline std::uint64_t values8(const char* p) noexcept {
    return layouts::load8(p) & 0x0F0F0F0F0F0F0F0Full;
}

using tle::number8;

// The numbers of two sets of eight digit values at once (SSE2): pairs of
// digits, then of pairs, then of quadruples, each by one multiply-add of
// 16-bit lanes; exact, the same integers as number8.  Lanes 0 and 1 of the
// result hold a's and b's number.
QV_FORCE_INLINE inline __m128i number8x2(std::uint64_t a, std::uint64_t b) noexcept {
    const __m128i v = _mm_set_epi64x(static_cast<long long>(b), static_cast<long long>(a));
    const __m128i zero = _mm_setzero_si128();
    const __m128i tens = _mm_set1_epi32(0x0001000A);  // 16-bit lanes 10, 1, 10, 1, ...
    const __m128i two = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(v, zero), tens),
                                        _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), tens));
    const __m128i four = _mm_madd_epi16(two, _mm_set1_epi32(0x00010064));            // 100, 1
    return _mm_madd_epi16(_mm_packs_epi32(four, four), _mm_set1_epi32(0x00012710));  // 10000, 1
}

// The digit values of "bbD.DDDD" at p without the point.
QV_FORCE_INLINE inline std::uint64_t angle_values(const char* p) noexcept {
    const std::uint64_t v = values8(p);
    return ((v & 0xFFFFFF) << 8) | (v & 0xFFFFFFFF00000000ull);
}

// Two numbers of number8x2 as doubles, divided by the given powers of ten
// (packed division is correctly rounded per lane: the bits of the scalar
// division).
QV_FORCE_INLINE inline __m128d scaled(__m128i numbers, int power_a, int power_b) noexcept {
    return _mm_div_pd(_mm_cvtepi32_pd(numbers),
                      _mm_set_pd(layouts::powers_of_ten[power_b], layouts::powers_of_ten[power_a]));
}

// "SDDDDDSE" at p as layouts::assumed_decimal reads it: the digit values of
// the mantissa, and the power of ten.
QV_FORCE_INLINE inline std::uint64_t mantissa_values(const char* p) noexcept {
    return ((values8(p) >> 8) & 0xFFFFFFFFFFull) << 24;
}
QV_FORCE_INLINE inline int power_of_ten(const char* p) noexcept { return assumed_decimal_power(p); }
QV_FORCE_INLINE inline double assumed_decimal(const char* p, std::uint32_t mantissa) noexcept {
    const double value = times_power_of_ten(layouts::to_double(mantissa), power_of_ten(p));
    return p[0] == '-' ? -value : value;
}

struct Line2Fields {
    double inc, raa, ecc, arp, mea, mnm;  // as published: degrees, eccentricity, revolutions per day
    int rev_number;
};

// The fields of line 2 when all have their layout.
QV_FORCE_INLINE inline bool line2(const char* line, const Masks& m, Line2Fields* out) noexcept {
    if (!line2_matches(line, m)) return false;
    const __m128d node = scaled(number8x2(angle_values(line + 8), angle_values(line + 17)), 4, 4);
    const __m128d perigee = scaled(number8x2(angle_values(line + 34), angle_values(line + 43)), 4, 4);
    const __m128i last = number8x2(values8(line + 25) & ~std::uint64_t{0xFF}, values8(line + 55));
    _mm_storel_pd(&out->inc, node);
    _mm_storeh_pd(&out->raa, node);
    _mm_storel_pd(&out->arp, perigee);
    _mm_storeh_pd(&out->mea, perigee);
    out->ecc = layouts::to_double(static_cast<std::uint32_t>(_mm_cvtsi128_si32(last))) / layouts::powers_of_ten[7];
    const std::uint64_t whole = (line[52] & 0x0F) * 10 + (line[53] & 0x0F);
    const auto fraction = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(last, 4)));
    out->mnm = layouts::to_double(whole * 100'000'000 + fraction) / layouts::powers_of_ten[8];
    out->rev_number = static_cast<int>(number8(values8(line + 60) & 0xFFFFFFFFFF000000ull));
    return true;
}

struct Line1Fields {
    double ndot, nddot, bstar;
    int ephemeris_type, element_number;
};

// The epoch of a line 1 that matches its layout (line1_matches): the
// two-digit year, and the nanoseconds after 00:00 of day 0 of that year.
QV_FORCE_INLINE inline std::int64_t line1_year(const char* line) noexcept {
    return (line[18] & 0x0F) * 10 + (line[19] & 0x0F);
}
QV_FORCE_INLINE inline std::int64_t line1_day_ns(const char* line) noexcept {
    const std::int64_t day = (line[20] & 0x0F) * 100 + (line[21] & 0x0F) * 10 + (line[22] & 0x0F);
    return day * 86'400'000'000'000 + static_cast<std::int64_t>(number8(values8(line + 24))) * 864'000;
}

// The other fields of a line 1 that matches its layout.
QV_FORCE_INLINE inline void line1_fields(const char* line, Line1Fields* out) noexcept {
    const __m128i integers = number8x2(values8(line + 35), values8(line + 60) & 0xFFFFFFFF00000000ull);
    const auto ndot_digits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(integers));
    const double ndot = layouts::to_double(ndot_digits) / layouts::powers_of_ten[8];
    out->ndot = line[33] == '-' ? -ndot : ndot;
    const __m128i mantissas = number8x2(mantissa_values(line + 44), mantissa_values(line + 53));
    const int nddot_power = power_of_ten(line + 44), bstar_power = power_of_ten(line + 53);
    if (nddot_power < 0 && bstar_power < 0) {
        // Both divided at once; the signs are exact either way.
        const __m128d values = scaled(mantissas, -nddot_power, -bstar_power);
        const __m128d signs = _mm_set_pd(line[53] == '-' ? -0.0 : 0.0, line[44] == '-' ? -0.0 : 0.0);
        const __m128d signed_values = _mm_xor_pd(values, signs);
        _mm_storel_pd(&out->nddot, signed_values);
        _mm_storeh_pd(&out->bstar, signed_values);
    } else {
        out->nddot = assumed_decimal(line + 44, static_cast<std::uint32_t>(_mm_cvtsi128_si32(mantissas)));
        out->bstar =
            assumed_decimal(line + 53, static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(mantissas, 4))));
    }
    out->ephemeris_type = line[62] & 0x0F;
    out->element_number = _mm_cvtsi128_si32(_mm_srli_si128(integers, 4));
}

}  // namespace qv::tle::lines
