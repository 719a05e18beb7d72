#include "propagators/analytical/sgp4/catalogue/scan.hpp"

#include <emmintrin.h>

#include <cstring>

namespace qv::catalogue {

namespace {

// Line ends among 16 bytes: bit k set when byte k is LF or CR.  SSE2 is part
// of x86-64, so this needs no run-time dispatch.
inline unsigned end_mask(const char* p) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i ends =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
    return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// First LF or CR in [p, end), or end.
inline const char* find_end(const char* p, const char* end) noexcept {
    for (; end - p >= 16; p += 16) {
        if (unsigned mask = end_mask(p)) return p + __builtin_ctz(mask);
    }
    for (; p < end; ++p) {
        if (*p == '\n' || *p == '\r') return p;
    }
    return end;
}

// Past the line end at p (LF, CR or CRLF).
inline const char* past_end(const char* p, const char* end) noexcept {
    return *p == '\r' && p + 1 < end && p[1] == '\n' ? p + 2 : p + 1;
}

bool valid_utf8(const unsigned char* s, std::int64_t n, std::int64_t* chars) noexcept {
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < n; ++count) {
        const unsigned c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        unsigned cp;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned t = s[i + k];
            if ((t & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3f);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10ffff)) ||
            (cp >= 0xd800 && cp <= 0xdfff)) {
            return false;
        }
        i += 1 + extra;
    }
    *chars = count;
    return true;
}

Kind classify(const char* t, std::int64_t n) noexcept {
    if (n == 0 || t[0] == '#') return Kind::blank;
    if ((t[0] == '1' || t[0] == '2') && (n == 1 || t[1] == ' ')) return t[0] == '1' ? Kind::line1 : Kind::line2;
    return Kind::name;
}

void describe(const char* data, const char* begin, const char* end, Line* line) noexcept {
    while (begin < end && is_strip_space(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && is_strip_space(static_cast<unsigned char>(end[-1]))) --end;
    line->kind = classify(begin, end - begin);
    line->utf8 = true;
    line->chars = 0;
    line->skipped = false;
    if (line->kind == Kind::name) {
        // Some providers write the name as "0 NAME".
        if (end - begin >= 2 && begin[0] == '0' && begin[1] == ' ') {
            begin += 2;
            while (begin < end && is_strip_space(static_cast<unsigned char>(*begin))) ++begin;
        }
        line->utf8 = valid_utf8(reinterpret_cast<const unsigned char*>(begin), end - begin, &line->chars);
        if (!line->utf8) line->chars = end - begin;
    }
    line->begin = begin - data;
    line->length = end - begin;
}

}  // namespace

bool same_satno(const char* data, const Line& one, const Line& two) noexcept {
    if (one.length >= 7 && two.length >= 7 && std::memcmp(data + one.begin + 2, data + two.begin + 2, 5) == 0) {
        return true;
    }
    char a[6], b[6];
    satno_field(data + one.begin, one.length, a);
    satno_field(data + two.begin, two.length, b);
    return std::strcmp(a, b) == 0;
}

std::size_t bom_length(const char* data, std::size_t size) noexcept {
    return size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

std::size_t split(const char* data, std::size_t begin, std::size_t size, std::size_t count, Piece* out) noexcept {
    std::size_t n = 0;
    const char* end = data + size;
    std::size_t at = begin;
    for (std::size_t k = 1; k <= count && at < size; ++k) {
        std::size_t cut = size;
        if (k < count) {
            std::size_t nominal = begin + (size - begin) / count * k;
            if (nominal < at) nominal = at;
            const char* p = find_end(data + nominal, end);
            cut = p == end ? size : static_cast<std::size_t>(past_end(p, end) - data);
        }
        if (cut > at) out[n++] = Piece{at, cut, 0, 0};
        at = cut;
    }
    return n;
}

std::int64_t count_lines(const char* data, std::size_t begin, std::size_t end) noexcept {
    // LF and CR each end a line, except a CR directly followed by LF.
    const char* p = data + begin;
    const char* stop = data + end;
    std::int64_t lines = 0;
    // Per byte lane, 1 for a line end; summed in bytes for up to 255 blocks,
    // then folded into the count.
    const __m128i one = _mm_set1_epi8(1);
    while (stop - p >= 17) {
        __m128i sum = _mm_setzero_si128();
        for (int block = 0; block < 255 && stop - p >= 17; ++block, p += 16) {
            const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            const __m128i lf = _mm_cmpeq_epi8(now, _mm_set1_epi8('\n'));
            const __m128i cr = _mm_cmpeq_epi8(now, _mm_set1_epi8('\r'));
            const __m128i crlf = _mm_and_si128(cr, _mm_cmpeq_epi8(next, _mm_set1_epi8('\n')));
            const __m128i ends = _mm_or_si128(lf, _mm_andnot_si128(crlf, cr));
            sum = _mm_add_epi8(sum, _mm_and_si128(ends, one));
        }
        const __m128i total = _mm_sad_epu8(sum, _mm_setzero_si128());
        lines += _mm_cvtsi128_si64(total) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total));
    }
    for (; p < stop; ++p) {
        if (*p == '\n' || (*p == '\r' && !(p + 1 < stop && p[1] == '\n'))) ++lines;
    }
    if (end > begin && data[end - 1] != '\n' && data[end - 1] != '\r') ++lines;
    return lines;
}

void index_lines(const char* data, std::size_t begin, std::size_t end, Line* out) noexcept {
    const char* p = data + begin;
    const char* stop = data + end;
    while (p < stop) {
        const char* e = find_end(p, stop);
        describe(data, p, e, out++);
        if (e == stop) break;
        p = past_end(e, stop);
    }
}

void satno_field(const char* text, std::int64_t length, char out[6]) noexcept {
    std::int64_t b = 2, e = length < 7 ? length : 7;
    while (b < e && is_strip_space(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && is_strip_space(static_cast<unsigned char>(text[e - 1]))) --e;
    int n = 0;
    for (std::int64_t i = b; i < e; ++i) {
        char c = text[i];
        out[n++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    out[n] = '\0';
}

Pairing pair_lines(const char* data, Line* lines, std::int64_t count, bool skip, bool check_satno, Set* out) noexcept {
    Pairing r;
    std::int64_t name = -1, line1 = -1, line1_name = -1;
    // Record a fault at line index i (0-based); false when pairing must stop.
    auto fault = [&](PairFault f, std::int64_t i, std::int64_t other = -1) {
        if (!skip) {
            r.fault = f;
            r.line = i + 1;
            r.other = other + 1;
            return false;
        }
        lines[i].skipped = true;
        ++r.skipped;
        return true;
    };
    for (std::int64_t i = 0; i < count; ++i) {
        switch (lines[i].kind) {
            case Kind::blank:
                break;
            case Kind::name:
                if (line1 >= 0) {
                    if (!fault(PairFault::line1_alone, line1)) return r;
                    line1 = -1;
                }
                if (name >= 0 && !fault(PairFault::name_alone, name)) return r;
                name = i;
                break;
            case Kind::line1:
                if (line1 >= 0 && !fault(PairFault::line1_alone, line1)) return r;
                line1 = i;
                line1_name = name;
                name = -1;
                break;
            case Kind::line2: {
                if (line1 < 0) {
                    if (!fault(PairFault::line2_alone, i)) return r;
                    break;
                }
                if (check_satno && !same_satno(data, lines[line1], lines[i])) {
                    if (!fault(PairFault::satno_mismatch, i, line1)) return r;
                } else {
                    out[r.sets++] = Set{line1, i, line1_name};
                }
                line1 = -1;
                break;
            }
        }
    }
    if (line1 >= 0 && !fault(PairFault::line1_alone, line1)) return r;
    if (name >= 0 && !fault(PairFault::name_alone, name)) return r;
    return r;
}

void decode_name(const char* data, const Line& line, std::uint32_t* out) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(data + line.begin);
    const std::int64_t n = line.length;
    if (!line.utf8) {
        for (std::int64_t i = 0; i < n; ++i) out[i] = s[i];
        return;
    }
    std::int64_t k = 0;
    for (std::int64_t i = 0; i < n; ++k) {
        const unsigned c = s[i];
        if (c < 0x80) {
            out[k] = c;
            ++i;
            continue;
        }
        const int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : 1;
        unsigned cp = c & (extra == 1 ? 0x1f : extra == 2 ? 0x0f : 0x07);
        for (int j = 1; j <= extra; ++j) cp = (cp << 6) | (s[i + j] & 0x3f);
        out[k] = cp;
        i += 1 + extra;
    }
}

}  // namespace qv::catalogue
