// Lines and element sets of two- and three-line text.  Python-free.
//
// The text is one byte buffer.  It is cut into pieces at line ends; each
// piece is indexed on its own (in parallel), giving one `Line` per line of
// the text, so line i of the text is entry i - 1 whatever the cut.  Pairing
// then runs once over the index, in file order, and yields the element
// sets.  Lines end at LF, CRLF or a lone CR (universal newlines).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::catalogue {

enum class Kind : std::uint8_t {
    blank,  // empty after trimming, or a "#" comment
    line1,  // "1" alone or "1 " followed by the fields
    line2,  // likewise with "2"
    name,   // anything else: the name line of the three-line form
};

// One line, trimmed of surrounding whitespace (the characters str.strip
// removes in ASCII).  A name has a leading "0 " removed and is trimmed again.
struct Line {
    std::int64_t begin;   // offset of the trimmed text in the buffer
    std::int64_t length;  // its length in bytes
    std::int64_t chars;   // names: characters (code points of valid UTF-8, else bytes read as Latin-1)
    Kind kind;
    bool utf8;            // names: the bytes are valid UTF-8
    bool skipped;         // set by pairing when the line is dropped under errors="skip"
};

// A piece of the buffer, [begin, end), ending just after a line end (or at
// the end of the buffer), and the index of its first line.
struct Piece {
    std::size_t begin, end;
    std::int64_t first_line;
    std::int64_t lines;
};

// Byte-order mark of UTF-8 at the start of the text: its length (3) or 0.
std::size_t bom_length(const char* data, std::size_t size) noexcept;

// Cut [begin, size) into at most `count` pieces of similar size, each ending
// after a line end; returns the number written to `out`.
std::size_t split(const char* data, std::size_t begin, std::size_t size, std::size_t count, Piece* out) noexcept;

// Number of lines in a piece: its line ends, plus one for text after the
// last line end.
std::int64_t count_lines(const char* data, std::size_t begin, std::size_t end) noexcept;

// Index the lines of a piece into out[0 .. count_lines).
void index_lines(const char* data, std::size_t begin, std::size_t end, Line* out) noexcept;

// An element set: indices of its two lines and of its name line (-1: none).
struct Set {
    std::int64_t line1, line2, name;
};

// What pairing found wrong, in terms of 1-based line numbers.
enum class PairFault {
    none,
    line1_alone,      // line `line` is not followed by its line 2
    line2_alone,      // line `line` has no line 1 before it
    satno_mismatch,   // line `line` (a line 2) names another satellite than line `other`
    name_alone,       // the name at line `line` is not followed by a line 1
};

struct Pairing {
    std::size_t sets = 0;      // sets written
    std::size_t skipped = 0;   // lines marked skipped
    PairFault fault = PairFault::none;
    std::int64_t line = 0, other = 0;
};

// Pair the indexed lines into `out` (room for half the lines, plus one).
// With `skip` false the first fault stops it; with `skip` true the faulty
// lines are marked `skipped` and pairing goes on.  With `check_satno` false
// the satellite numbers are left to the caller (same_satno), which the
// columnar reader does on its worker threads.
Pairing pair_lines(const char* data, Line* lines, std::int64_t count, bool skip, bool check_satno, Set* out) noexcept;

// The satellite-number fields of two element lines agree: the same five
// bytes, or the same text once trimmed and upper-cased.
bool same_satno(const char* data, const Line& one, const Line& two) noexcept;

// The satellite-number field (columns 3-7) of a trimmed element line,
// trimmed and upper-cased, as text in `out` (at most 5 characters and NUL).
void satno_field(const char* text, std::int64_t length, char out[6]) noexcept;

// Decode a name into UCS-4 code points (UTF-8, or Latin-1 when the bytes
// are not UTF-8), writing line.chars values.
void decode_name(const char* data, const Line& line, std::uint32_t* out) noexcept;

// Whether c is removed by str.strip() (ASCII whitespace, including the
// information separators 0x1c-0x1f).
inline bool is_strip_space(unsigned char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r') || (c >= 0x1c && c <= 0x1f);
}

}  // namespace qv::catalogue
