// Lines and element sets of two- and three-line text.  Python-free.
//
// The text is one byte buffer, cut into pieces that each start where no
// element set or name is pending: right after a line 2 whose previous
// non-blank line is a line 1.  Pairing never carries anything across such a
// point, so every piece is scanned on its own (in parallel) and yields the
// sets, names, faults and line count the one serial pass over the whole text
// would give for its lines.  The cuts depend on the text alone, not on the
// number of threads.  Lines end at LF, CRLF or a lone CR (universal
// newlines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "propagators/analytical/sgp4/catalogue/scratch.hpp"

namespace qv::catalogue {

enum class Kind : std::uint8_t {
    blank,  // empty after trimming, or a "#" comment
    line1,  // "1" alone or "1 " followed by the fields
    line2,  // likewise with "2"
    name,   // anything else: the name line of the three-line form
};

// A name line, trimmed of surrounding whitespace (the characters str.strip
// removes in ASCII), a leading "0 " removed and trimmed again.
struct Name {
    std::int64_t begin;   // offset in the buffer
    std::int64_t length;  // bytes
    std::int64_t chars;   // code points of valid UTF-8, else bytes read as Latin-1
    std::int64_t line;    // line index, 0-based from the start of the piece
    bool utf8;            // the bytes are valid UTF-8
};

// Most characters a set's name may have.  The two-line format's name line
// holds 24, but published files carry longer ones, and OMM leaves
// OBJECT_NAME unbounded; 128 keeps every real name and bounds the name
// column (one entry as wide as the longest name, for every set) to 512
// bytes a set.  A longer name is a fault of its set, reported at the name's
// line, and never widens the column.
inline constexpr std::int64_t name_limit = 128;

// An element set: its two trimmed lines, their line indices (0-based,
// counted from the start of the piece) and its name (an index into the
// piece's names, -1 for none).
struct Set {
    std::int64_t begin1, length1, begin2, length2;
    std::int64_t line1, line2;
    std::int64_t name;
};

// What pairing found wrong.
enum class PairFault : std::uint8_t {
    none,
    line1_alone,     // line `line` is not followed by its line 2
    line2_alone,     // line `line` has no line 1 before it
    satno_mismatch,  // line `line` (a line 2) names another satellite than line `other`
    name_alone,      // the name at line `line` is not followed by a line 1
};

// A piece of the buffer, [begin, end), and what scanning it found.
struct Piece {
    std::size_t begin = 0, end = 0;
    std::int64_t lines = 0;       // lines in the piece
    std::int64_t first_line = 0;  // lines before the piece (set by the caller)
    std::size_t first_row = 0;    // sets before the piece (set by the caller)
    List<Set> sets;
    List<Name> names;
    List<std::int64_t> skipped;   // lines dropped under skip, in the order found
    std::int64_t name_width = 0;  // the most characters of a name of a set, at most name_limit
    PairFault fault = PairFault::none;
    std::int64_t line = 0, other = 0;                        // lines of the fault
    std::int64_t fault_begin[2] = {}, fault_length[2] = {};  // the two lines of a mismatch
    bool out_of_memory = false;
    bool faults = false;  // some set of the piece could not be converted
};

// Byte-order mark of UTF-8 at the start of the text: its length (3) or 0.
std::size_t bom_length(const char* data, std::size_t size) noexcept;

// Cut [begin, size) into pieces of at least `piece_bytes` (the last may be
// shorter), each but the last ending at a point where pairing carries
// nothing over; appends them to `out`, which has room for
// (size - begin) / piece_bytes + 1 more.
void cut_pieces(const char* data, std::size_t begin, std::size_t size, std::size_t piece_bytes,
                std::vector<Piece>& out) noexcept;

// Index, classify and pair the lines of a piece.  With `skip` false the
// first fault stops it; with `skip` true faulty lines go to `skipped` and
// pairing goes on.  With `check_satno` false the satellite numbers are left
// to the caller (same_satno).  `last` marks the piece that ends the text
// (a pending line 1 or name there is a fault).
void scan_piece(const char* data, bool skip, bool check_satno, bool last, Piece* piece) noexcept;

// The satellite-number fields of two element lines agree: the same five
// bytes, or the same text once trimmed and upper-cased.
bool same_satno_text(const char* one, std::int64_t length1, const char* two, std::int64_t length2) noexcept;
inline bool same_satno(const char* one, std::int64_t length1, const char* two, std::int64_t length2) noexcept {
    if (length1 >= 8 && length2 >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, one, 8);
        std::memcpy(&b, two, 8);
        if (((a ^ b) & 0x00FFFFFFFFFF0000ull) == 0) return true;  // characters 3-7
    }
    return same_satno_text(one, length1, two, length2);
}

// The satellite-number field (columns 3-7) of a trimmed element line,
// trimmed and upper-cased, as text in `out` (at most 5 characters and NUL).
void satno_field(const char* text, std::int64_t length, char out[6]) noexcept;

// Decode a name into UCS-4 code points (UTF-8, or Latin-1 when the bytes
// are not UTF-8), writing name.chars values.
void decode_name(const char* data, const Name& name, std::uint32_t* out) noexcept;

// Whether c is removed by str.strip() (ASCII whitespace, including the
// information separators 0x1c-0x1f).
inline bool is_strip_space(unsigned char c) noexcept {
    constexpr std::uint64_t spaces = (std::uint64_t{0x1F} << 28) | 0x3E00;  // 9-13 and 28-32
    return c <= 32 && ((spaces >> c) & 1) != 0;
}

}  // namespace qv::catalogue
