#include "propagators/analytical/sgp4/tle/validate.hpp"

#include <cstdio>

#include "propagators/analytical/sgp4/tle/digits.hpp"
#include "propagators/analytical/sgp4/tle/numbers.hpp"

namespace qv::tle {

namespace {

constexpr int line_length = 69;
constexpr int checksum_column = 69;

// What a field must look like.  Blanks are allowed where the published
// format pads with them: before a right-justified number, in the sign
// position of the derivatives and the drag term, for an unknown designator
// or ephemeris type.
enum class Form {
    blank,           // a separator column
    catalogue,       // 5 digits, or a letter (not I or O) and 4 digits
    classification,  // U, C or S
    designator,      // all blank, or 5 digits and a left-justified piece of 1-3 letters
    two_digits,      // the epoch year
    decimal,         // blanks, an optional sign, digits with at most one point
    seven_digits,    // the eccentricity's digits after the implied point
    exponent,        // sign or blank, 5 digits, exponent sign, exponent digit
    digit_or_blank,  // the ephemeris type
    integer,         // blanks, then digits
};

// A plausible range of a decimal field, checked with the value the parser
// reads from it.
struct Range {
    bool (*holds)(double);
    const char* complaint;
};

bool day_of_year(double d) { return d >= 1.0 && d < 367.0; }
bool half_turn(double a) { return a >= 0.0 && a <= 180.0; }
bool full_turn(double a) { return a >= 0.0 && a <= 360.0; }
bool positive(double n) { return n > 0.0; }

constexpr Range any{nullptr, nullptr};
constexpr Range day_range{day_of_year, "is outside [1, 367)"};
constexpr Range inc_range{half_turn, "is outside [0, 180]"};
constexpr Range angle_range{full_turn, "is outside [0, 360]"};
constexpr Range positive_range{positive, "is not positive"};

struct Check {
    int first, last;  // columns, counted from 1
    const char* name;
    Form form;
    Range range;
    bool copy_of_line1 = false;  // must repeat the same columns of line 1
};

// Columns 2 to 68 of each line, left to right.  The line number (column 1)
// and the checksum (column 69) are checked on their own.
constexpr Check line1_checks[] = {
    {2, 2, "separator", Form::blank, any},
    {3, 7, "satellite number", Form::catalogue, any},
    {8, 8, "classification", Form::classification, any},
    {9, 9, "separator", Form::blank, any},
    {10, 17, "international designator", Form::designator, any},
    {18, 18, "separator", Form::blank, any},
    {19, 20, "epoch year", Form::two_digits, any},
    {21, 32, "epoch day", Form::decimal, day_range},
    {33, 33, "separator", Form::blank, any},
    {34, 43, "first derivative of mean motion", Form::decimal, any},
    {44, 44, "separator", Form::blank, any},
    {45, 52, "second derivative of mean motion", Form::exponent, any},
    {53, 53, "separator", Form::blank, any},
    {54, 61, "drag term", Form::exponent, any},
    {62, 62, "separator", Form::blank, any},
    {63, 63, "ephemeris type", Form::digit_or_blank, any},
    {64, 64, "separator", Form::blank, any},
    {65, 68, "element set number", Form::integer, any},
};

constexpr Check line2_checks[] = {
    {2, 2, "separator", Form::blank, any},
    {3, 7, "satellite number", Form::catalogue, any, true},
    {8, 8, "separator", Form::blank, any},
    {9, 16, "inclination", Form::decimal, inc_range},
    {17, 17, "separator", Form::blank, any},
    {18, 25, "right ascension of the ascending node", Form::decimal, angle_range},
    {26, 26, "separator", Form::blank, any},
    {27, 33, "eccentricity", Form::seven_digits, any},
    {34, 34, "separator", Form::blank, any},
    {35, 42, "argument of perigee", Form::decimal, angle_range},
    {43, 43, "separator", Form::blank, any},
    {44, 51, "mean anomaly", Form::decimal, angle_range},
    {52, 52, "separator", Form::blank, any},
    {53, 63, "mean motion", Form::decimal, positive_range},
    {64, 68, "revolution number", Form::integer, any},
};

bool is_letter(char c) { return c >= 'A' && c <= 'Z'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

bool all_digits(const char* s, int n) {
    for (int i = 0; i < n; ++i)
        if (!is_digit(s[i])) return false;
    return true;
}

int skip_blanks(const char* s, int n) {
    int i = 0;
    while (i < n && s[i] == ' ') ++i;
    return i;
}

bool decimal(const char* s, int n) {
    int i = skip_blanks(s, n);
    if (i < n && is_sign(s[i])) ++i;
    bool digits = false, point = false;
    for (; i < n; ++i) {
        if (is_digit(s[i])) {
            digits = true;
        } else if (s[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

bool well_formed(Form form, const char* s, int n) {
    switch (form) {
    case Form::blank:
        return s[0] == ' ';
    case Form::catalogue:
        return all_digits(s, n) || (is_letter(s[0]) && s[0] != 'I' && s[0] != 'O' && all_digits(s + 1, n - 1));
    case Form::classification:
        return s[0] == 'U' || s[0] == 'C' || s[0] == 'S';
    case Form::designator: {
        if (skip_blanks(s, n) == n) return true;
        if (!all_digits(s, 5)) return false;
        int letters = 0;
        while (5 + letters < n && is_letter(s[5 + letters])) ++letters;
        return letters >= 1 && skip_blanks(s + 5 + letters, n - 5 - letters) == n - 5 - letters;
    }
    case Form::two_digits:
    case Form::seven_digits:
        return all_digits(s, n);
    case Form::decimal:
        return decimal(s, n);
    case Form::exponent:
        return (s[0] == ' ' || is_sign(s[0])) && all_digits(s + 1, 5) && is_sign(s[6]) && is_digit(s[7]);
    case Form::digit_or_blank:
        return s[0] == ' ' || is_digit(s[0]);
    case Form::integer: {
        int i = skip_blanks(s, n);
        return i < n && all_digits(s + i, n - i);
    }
    }
    return false;
}

const char* complaint(Form form) {
    switch (form) {
    case Form::blank: return "is not a blank";
    case Form::catalogue: return "is not a catalogue number";
    case Form::classification: return "is not U, C or S";
    case Form::designator: return "is not a designator";
    case Form::two_digits: return "is not 2 digits";
    case Form::seven_digits: return "is not 7 digits";
    case Form::exponent: return "is not in implied-exponent form";
    case Form::digit_or_blank: return "is not a digit";
    case Form::decimal:
    case Form::integer: return "is not a number";
    }
    return "is malformed";
}

// Field text quoted as Python would show an ASCII str: printable characters
// as they are, backslash and quote escaped, anything else as \xNN.
void quote(const char* s, int n, char* out) {
    constexpr char hex[] = "0123456789abcdef";
    int k = 0;
    out[k++] = '\'';
    for (int i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\' || c == '\'') {
            out[k++] = '\\';
            out[k++] = static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out[k++] = static_cast<char>(c);
        } else {
            out[k++] = '\\';
            out[k++] = 'x';
            out[k++] = hex[c >> 4];
            out[k++] = hex[c & 0xf];
        }
    }
    out[k++] = '\'';
    out[k] = '\0';
}

// Largest quoted field: 12 characters of four each, two quotes, NUL.
constexpr int quoted_size = 4 * max_field_width + 3;

// "column 8" or "columns 9-16".
void columns(int first, int last, char* out, std::size_t size) {
    if (first == last)
        std::snprintf(out, size, "column %d", first);
    else
        std::snprintf(out, size, "columns %d-%d", first, last);
}

bool field_fault(Fault* fault, int line, const Check& check, const char* text, const char* what) {
    char where[24], quoted[quoted_size];
    columns(check.first, check.last, where, sizeof where);
    quote(text, check.last - check.first + 1, quoted);
    std::snprintf(fault->message, fault_size, "line %d, %s: %s %s %s", line, where, check.name, quoted, what);
    return false;
}

// The value the parser reads from a decimal field.
double field_value(const char* line, const Check& check) {
    char text[max_field_width + 1];
    int n = check.last - check.first + 1;
    for (int i = 0; i < n; ++i) text[i] = line[check.first - 1 + i];
    text[n] = '\0';
    return field_atof(text);
}

bool mismatch_fault(Fault* fault, const Check& check, const char* line1, const char* line2) {
    char where[24], ours[quoted_size], theirs[quoted_size];
    int n = check.last - check.first + 1;
    columns(check.first, check.last, where, sizeof where);
    quote(line2 + check.first - 1, n, ours);
    quote(line1 + check.first - 1, n, theirs);
    std::snprintf(fault->message, fault_size, "line 2, %s: %s %s differs from line 1 %s", where, check.name, ours,
                  theirs);
    return false;
}

bool check_fields(const char* line, int number, const Check* checks, std::size_t count, const char* line1,
                  Fault* fault) {
    for (std::size_t k = 0; k < count; ++k) {
        const Check& check = checks[k];
        const char* text = line + check.first - 1;
        int width = check.last - check.first + 1;
        if (!well_formed(check.form, text, width))
            return field_fault(fault, number, check, text, complaint(check.form));
        if (check.range.holds && !check.range.holds(field_value(line, check)))
            return field_fault(fault, number, check, text, check.range.complaint);
        if (check.copy_of_line1)
            for (int i = 0; i < width; ++i)
                if (text[i] != line1[check.first - 1 + i]) return mismatch_fault(fault, check, line1, line);
    }
    return true;
}

bool length_fault(Fault* fault, int number, std::size_t length) {
    // Name the first missing column of a short line, the first extra column
    // of a long one.
    int column = length < line_length ? static_cast<int>(length) + 1 : line_length + 1;
    std::snprintf(fault->message, fault_size, "line %d, column %d: length is %zu, expected %d", number, column,
                  length, line_length);
    return false;
}

bool check_line(const char* line, std::size_t length, int number, const Check* checks, std::size_t count,
                const char* line1, Fault* fault) {
    char quoted[quoted_size];
    if (length != line_length) return length_fault(fault, number, length);
    if (line[0] != '0' + number) {
        quote(line, 1, quoted);
        std::snprintf(fault->message, fault_size, "line %d, column 1: line number is %s, expected '%d'", number,
                      quoted, number);
        return false;
    }
    if (!check_fields(line, number, checks, count, line1, fault)) return false;
    char given = line[checksum_column - 1];
    if (!is_digit(given)) {
        quote(&given, 1, quoted);
        std::snprintf(fault->message, fault_size, "line %d, column %d: checksum %s is not a digit", number,
                      checksum_column, quoted);
        return false;
    }
    int expected = checksum(line);
    if (given - '0' != expected) {
        std::snprintf(fault->message, fault_size, "line %d, column %d: checksum is %d, expected %d", number,
                      checksum_column, given - '0', expected);
        return false;
    }
    return true;
}


// ---------------------------------------------------------------- layout

// What the columns of a field may hold in the fixed-column layout.
enum class Shape {
    blank,           // a separator
    digits,          // digits only
    point,           // [blanks][sign][digits] "." digits [blanks], the point in its column
    exponent,        // sign or blank, 5 digits, exponent sign, exponent digit
    digit_or_blank,  // one digit, or a blank
    integer,         // blanks, then digits (all blank reads as 0)
};

struct Slot {
    int first, last;  // columns, counted from 1
    const char* name;
    Shape shape;
    int point = 0;      // the column of the decimal point (Shape::point)
    bool sign = false;  // a sign may precede the digits (Shape::point)
};

// The numeric fields and separators of each line (the text fields, columns
// 3-17 of line 1 and 3-7 of line 2, are left to the reader).
constexpr int layout_length = 68;
constexpr Slot line1_layout[] = {
    {2, 2, "separator", Shape::blank},
    {9, 9, "separator", Shape::blank},
    {18, 18, "separator", Shape::blank},
    {19, 20, "epoch year", Shape::digits},
    {21, 32, "epoch day", Shape::point, 24},
    {33, 33, "separator", Shape::blank},
    {34, 43, "first derivative of mean motion", Shape::point, 35, true},
    {44, 44, "separator", Shape::blank},
    {45, 52, "second derivative of mean motion", Shape::exponent},
    {53, 53, "separator", Shape::blank},
    {54, 61, "drag term", Shape::exponent},
    {62, 62, "separator", Shape::blank},
    {63, 63, "ephemeris type", Shape::digit_or_blank},
    {64, 64, "separator", Shape::blank},
    {65, 68, "element set number", Shape::integer},
};
constexpr Slot line2_layout[] = {
    {2, 2, "separator", Shape::blank},
    {8, 8, "separator", Shape::blank},
    {9, 16, "inclination", Shape::point, 12},
    {17, 17, "separator", Shape::blank},
    {18, 25, "right ascension of the ascending node", Shape::point, 21},
    {26, 26, "separator", Shape::blank},
    {27, 33, "eccentricity", Shape::digits},
    {34, 34, "separator", Shape::blank},
    {35, 42, "argument of perigee", Shape::point, 38},
    {43, 43, "separator", Shape::blank},
    {44, 51, "mean anomaly", Shape::point, 47},
    {52, 52, "separator", Shape::blank},
    {53, 63, "mean motion", Shape::point, 55},
    {64, 68, "revolution number", Shape::integer},
};

// The first column of a field that departs from its shape, or 0; `wanted`
// receives what the layout has there.
int misplaced(const char* line, const Slot& slot, const char** wanted) {
    const char* s = line + slot.first - 1;
    const int n = slot.last - slot.first + 1;
    switch (slot.shape) {
    case Shape::blank:
        *wanted = "a blank";
        return s[0] == ' ' ? 0 : slot.first;
    case Shape::digits:
        *wanted = "a digit";
        for (int i = 0; i < n; ++i)
            if (!is_digit(s[i])) return slot.first + i;
        return 0;
    case Shape::digit_or_blank:
        *wanted = "a digit or a blank";
        return s[0] == ' ' || is_digit(s[0]) ? 0 : slot.first;
    case Shape::integer: {
        int i = skip_blanks(s, n);
        *wanted = "a digit or a blank";
        for (; i < n; ++i) {
            if (!is_digit(s[i])) return slot.first + i;
            *wanted = "a digit";
        }
        return 0;
    }
    case Shape::exponent:
        if (!(s[0] == ' ' || is_sign(s[0]))) return *wanted = "a sign or a blank", slot.first;
        for (int i = 1; i <= 5; ++i)
            if (!is_digit(s[i])) return *wanted = "a digit", slot.first + i;
        if (!is_sign(s[6])) return *wanted = "the sign of the power of ten", slot.first + 6;
        if (!is_digit(s[7])) return *wanted = "the digit of the power of ten", slot.first + 7;
        return 0;
    case Shape::point: {
        const int p = slot.point - slot.first;
        // Before the point: blanks, then a sign where allowed, then digits.
        int i = skip_blanks(s, p);
        if (slot.sign && i < p && is_sign(s[i])) ++i;
        for (; i < p; ++i) {
            if (!is_digit(s[i])) {
                *wanted = i == 0 && slot.sign ? "a digit, a sign or a blank" : "a digit";
                return slot.first + i;
            }
        }
        *wanted = "its decimal point";
        if (s[p] != '.') return slot.point;
        // After it: at least one digit, then digits, then blanks.
        *wanted = "a digit";
        if (p + 1 < n && !is_digit(s[p + 1])) return slot.first + p + 1;
        bool blanks = false;
        for (i = p + 2; i < n; ++i) {
            if (s[i] == ' ') {
                blanks = true;
            } else if (blanks || !is_digit(s[i])) {
                *wanted = blanks ? "a blank" : "a digit or a blank";
                return slot.first + i;
            }
        }
        return 0;
    }
    }
    return 0;
}

template <std::size_t count>
bool layout_line(const char* line, std::size_t length, int number, const Slot (&slots)[count], Fault* fault) {
    if (length < static_cast<std::size_t>(layout_length)) {
        std::snprintf(fault->message, fault_size, "line %d, column %zu: the line ends after %zu characters; its fields take %d",
                      number, length + 1, length, layout_length);
        return false;
    }
    for (const Slot& slot : slots) {
        const char* wanted = "";
        const int column = misplaced(line, slot, &wanted);
        if (column == 0) continue;
        char field[quoted_size], found[8];
        quote(line + slot.first - 1, slot.last - slot.first + 1, field);
        const char c = line[column - 1];
        if (slot.shape == Shape::point && c == '.') {
            std::snprintf(fault->message, fault_size,
                          "line %d, column %d: %s %s has its decimal point in column %d, not %d (a shifted field?)",
                          number, column, slot.name, field, column, slot.point);
        } else {
            quote(&c, 1, found);
            std::snprintf(fault->message, fault_size,
                          "line %d, column %d: %s %s has %s where the fixed-column layout has %s", number, column,
                          slot.name, field, found, wanted);
        }
        return false;
    }
    return true;
}

}  // namespace

int checksum(const char* line) noexcept {
    int sum = 0;
    for (int i = 0; i < checksum_column - 1; ++i) {
        if (is_digit(line[i]))
            sum += line[i] - '0';
        else if (line[i] == '-')
            sum += 1;
    }
    return sum % 10;
}

bool validate_lines(const char* line1, std::size_t length1, const char* line2, std::size_t length2,
                    Fault* fault) noexcept {
    fault->line = 0;
    fault->message[0] = '\0';
    constexpr std::size_t count1 = sizeof line1_checks / sizeof line1_checks[0];
    constexpr std::size_t count2 = sizeof line2_checks / sizeof line2_checks[0];
    if (!check_line(line1, length1, 1, line1_checks, count1, nullptr, fault)) {
        fault->line = 1;
        return false;
    }
    if (!check_line(line2, length2, 2, line2_checks, count2, line1, fault)) {
        fault->line = 2;
        return false;
    }
    return true;
}

bool check_layout(const char* line1, std::size_t length1, const char* line2, std::size_t length2,
                  Fault* fault) noexcept {
    fault->line = 0;
    fault->message[0] = '\0';
    if (!layout_line(line1, length1, 1, line1_layout, fault)) {
        fault->line = 1;
        return false;
    }
    if (!layout_line(line2, length2, 2, line2_layout, fault)) {
        fault->line = 2;
        return false;
    }
    return true;
}

}  // namespace qv::tle
