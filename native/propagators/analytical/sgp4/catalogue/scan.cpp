#include "propagators/analytical/sgp4/catalogue/scan.hpp"

#include <emmintrin.h>

#include <cstring>

#include "runtime/inline.hpp"

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

// Line ends among the 64 bytes at p, of which `n` (at most 64) are readable.
inline std::uint64_t end_mask64(const char* p, std::ptrdiff_t n) noexcept {
    if (n < 64) {
        alignas(16) char block[64] = {};
        std::memcpy(block, p, static_cast<std::size_t>(n));
        return end_mask64(block, 64);
    }
    return std::uint64_t{end_mask(p)} | std::uint64_t{end_mask(p + 16)} << 16 | std::uint64_t{end_mask(p + 32)} << 32 |
           std::uint64_t{end_mask(p + 48)} << 48;
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

inline void trim(const char*& begin, const char*& end) noexcept {
    while (begin < end && is_strip_space(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && is_strip_space(static_cast<unsigned char>(end[-1]))) --end;
}

inline Kind classify(const char* t, std::int64_t n) noexcept {
    if (n == 0 || t[0] == '#') return Kind::blank;
    if ((t[0] == '1' || t[0] == '2') && (n == 1 || t[1] == ' ')) return t[0] == '1' ? Kind::line1 : Kind::line2;
    return Kind::name;
}

bool valid_utf8(const unsigned char* s, std::int64_t n, std::int64_t* chars) noexcept {
    std::int64_t count = 0;
    std::int64_t i = 0;
    // ASCII eight bytes at a time.
    for (; n - i >= 8; i += 8, count += 8) {
        std::uint64_t v;
        std::memcpy(&v, s + i, 8);
        if (v & 0x8080808080808080ull) break;
    }
    for (; i < n; ++count) {
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

// The pairing of one piece, fed one line at a time in file order.
class Pairer {
public:
    Pairer(const char* data, bool skip, bool check_satno, Piece* piece)
        : data_(data), skip_(skip), check_satno_(check_satno), piece_(piece) {}

    // Line `index` of the piece, [begin, end) without its line end.  False
    // when scanning must stop (a fault under raise, or no memory).
    QV_FORCE_INLINE bool line(const char* begin, const char* end, std::int64_t index) noexcept {
        switch (kind(begin, end)) {
            case Kind::blank:
                return true;
            case Kind::name:
                if (line1_ >= 0) {
                    if (!fault(PairFault::line1_alone, line1_)) return false;
                    line1_ = -1;
                }
                if (name_line_ >= 0 && !fault(PairFault::name_alone, name_line_)) return false;
                name_line_ = index;
                describe_name(begin, end, index, &name_);
                return true;
            case Kind::line1:
                if (line1_ >= 0 && !fault(PairFault::line1_alone, line1_)) return false;
                line1_ = index;
                begin1_ = begin - data_;
                length1_ = end - begin;
                line1_name_line_ = name_line_;
                line1_name_ = name_;
                name_line_ = -1;
                return true;
            case Kind::line2:
                return line2(begin, end, index);
        }
        return true;
    }

    // After the piece's last line: what is still pending is a fault when the
    // text ends here.
    void finish(bool last) noexcept {
        if (!last) return;
        if (line1_ >= 0 && !fault(PairFault::line1_alone, line1_)) return;
        if (name_line_ >= 0) fault(PairFault::name_alone, name_line_);
    }

private:
    // Trim the line and tell its kind.  Element lines usually start with
    // "1 " or "2 " and end with a character that is not blank: one test.
    QV_FORCE_INLINE static Kind kind(const char*& begin, const char*& end) noexcept {
        if (end - begin >= 2 && (begin[0] == '1' || begin[0] == '2') && begin[1] == ' ' &&
            static_cast<unsigned char>(end[-1]) > ' ') {
            return begin[0] == '1' ? Kind::line1 : Kind::line2;
        }
        trim(begin, end);
        return classify(begin, end - begin);
    }

    QV_FORCE_INLINE bool line2(const char* begin, const char* end, std::int64_t index) noexcept {
        if (line1_ < 0) return fault(PairFault::line2_alone, index);
        const std::int64_t line1 = line1_;
        line1_ = -1;
        const std::int64_t length2 = end - begin;
        if (check_satno_ && !same_satno(data_ + begin1_, length1_, begin, length2)) {
            piece_->fault_begin[0] = begin1_;
            piece_->fault_length[0] = length1_;
            piece_->fault_begin[1] = begin - data_;
            piece_->fault_length[1] = length2;
            return fault(PairFault::satno_mismatch, index, line1);
        }
        std::int64_t name = -1;
        if (line1_name_line_ >= 0) {
            name = static_cast<std::int64_t>(piece_->names.size());
            if (!piece_->names.push(line1_name_)) return no_memory();
            if (line1_name_.chars > piece_->name_width && line1_name_.chars <= name_limit) {
                piece_->name_width = line1_name_.chars;
            }
        }
        if (!piece_->sets.push(Set{begin1_, length1_, begin - data_, length2, line1, index, name})) return no_memory();
        return true;
    }

    void describe_name(const char* begin, const char* end, std::int64_t index, Name* name) const noexcept {
        // Some providers write the name as "0 NAME".
        if (end - begin >= 2 && begin[0] == '0' && begin[1] == ' ') {
            begin += 2;
            while (begin < end && is_strip_space(static_cast<unsigned char>(*begin))) ++begin;
        }
        name->begin = begin - data_;
        name->length = end - begin;
        name->line = index;
        name->utf8 = valid_utf8(reinterpret_cast<const unsigned char*>(begin), end - begin, &name->chars);
        if (!name->utf8) name->chars = end - begin;
    }

    // Record a fault at line `index`; false when scanning must stop.
    bool fault(PairFault f, std::int64_t index, std::int64_t other = -1) noexcept {
        if (!skip_) {
            piece_->fault = f;
            piece_->line = index;
            piece_->other = other;
            return false;
        }
        return piece_->skipped.push(index) || no_memory();
    }

    bool no_memory() noexcept {
        piece_->out_of_memory = true;
        return false;
    }

    const char* data_;
    bool skip_, check_satno_;
    Piece* piece_;
    std::int64_t name_line_ = -1;
    Name name_{};
    std::int64_t line1_ = -1, begin1_ = 0, length1_ = 0;
    std::int64_t line1_name_line_ = -1;
    Name line1_name_{};
};

// The kind of the line [begin, end) once trimmed.
inline Kind kind_of(const char* begin, const char* end) noexcept {
    trim(begin, end);
    return classify(begin, end - begin);
}

// The first point at or after the line following `from` where pairing
// carries nothing over: just past a line 2 whose previous non-blank line is
// a line 1 (both after `from`); `size` when there is none.
std::size_t sync_point(const char* data, std::size_t from, std::size_t size) noexcept {
    const char* end = data + size;
    const char* p = find_end(data + from, end);
    if (p == end) return size;
    p = past_end(p, end);
    bool after_line1 = false;
    while (p < end) {
        const char* e = find_end(p, end);
        const Kind kind = kind_of(p, e);
        const char* next = e == end ? end : past_end(e, end);
        if (kind == Kind::line2 && after_line1) return static_cast<std::size_t>(next - data);
        if (kind != Kind::blank) after_line1 = kind == Kind::line1;
        p = next;
    }
    return size;
}

}  // namespace

bool same_satno_text(const char* one, std::int64_t length1, const char* two, std::int64_t length2) noexcept {
    if (length1 >= 7 && length2 >= 7 && std::memcmp(one + 2, two + 2, 5) == 0) return true;
    char a[6], b[6];
    satno_field(one, length1, a);
    satno_field(two, length2, b);
    return std::strcmp(a, b) == 0;
}

std::size_t bom_length(const char* data, std::size_t size) noexcept {
    return size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

void cut_pieces(const char* data, std::size_t begin, std::size_t size, std::size_t piece_bytes,
                std::vector<Piece>& out) noexcept {
    if (piece_bytes < 1) piece_bytes = 1;
    std::size_t at = begin;
    while (at < size) {
        const std::size_t cut = size - at > piece_bytes ? sync_point(data, at + piece_bytes, size) : size;
        out.emplace_back();
        out.back().begin = at;
        out.back().end = cut;
        at = cut;
    }
}

void scan_piece(const char* data, bool skip, bool check_satno, bool last, Piece* piece) noexcept {
    // About one set per 128 bytes of text; the lists grow when there are more.
    if (!piece->sets.reserve((piece->end - piece->begin) / 128 + 8)) {
        piece->out_of_memory = true;
        return;
    }
    const char* stop = data + piece->end;
    Pairer pairer(data, skip, check_satno, piece);
    std::int64_t index = 0;
    const char* line = data + piece->begin;
    // Line ends are found 64 bytes at a time, then taken one by one.
    for (std::size_t at = piece->begin; at < piece->end; at += 64) {
        const char* block = data + at;
        std::uint64_t ends =
            end_mask64(block, piece->end - at < 64 ? static_cast<std::ptrdiff_t>(piece->end - at) : 64);
        while (ends) {
            const char* e = block + __builtin_ctzll(ends);
            ends &= ends - 1;
            // The CR of a CRLF: the LF ends the line (and trimming drops the CR).
            if (*e == '\r' && e + 1 < stop && e[1] == '\n') continue;
            if (!pairer.line(line, e, index++)) {
                piece->lines = index;
                return;
            }
            line = e + 1;
        }
    }
    if (line < stop && !pairer.line(line, stop, index++)) {
        piece->lines = index;
        return;
    }
    piece->lines = index;
    pairer.finish(last);
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

void decode_name(const char* data, const Name& name, std::uint32_t* out) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(data + name.begin);
    const std::int64_t n = name.length;
    if (!name.utf8 || name.chars == n) {
        // Latin-1 or ASCII: one code point a byte, widened sixteen at a time.
        std::int64_t i = 0;
        const __m128i zero = _mm_setzero_si128();
        for (; n - i >= 16; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
            auto* o = reinterpret_cast<__m128i*>(out + i);
            _mm_storeu_si128(o, _mm_unpacklo_epi16(low, zero));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(low, zero));
            _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(high, zero));
            _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(high, zero));
        }
        for (; i < n; ++i) out[i] = s[i];
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
