#include "time/time/calendar.hpp"

#include <cmath>
#include <cstdio>

namespace qv::time {

// Day counts after H. Hinnant, "chrono-Compatible Low-Level Date Algorithms"
// (eras of 400 years, years starting on 1 March); days_from_civil is in
// instants.hpp.
void civil_from_days(int64_t days, int64_t* year, unsigned* month, unsigned* day) noexcept {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

namespace {

struct Cursor {
    const char* p;
    const char* end;
    bool digits(int n, unsigned* value) {
        if (end - p < n) return false;
        unsigned v = 0;
        for (int i = 0; i < n; ++i) {
            if (p[i] < '0' || p[i] > '9') return false;
            v = v * 10 + static_cast<unsigned>(p[i] - '0');
        }
        p += n;
        *value = v;
        return true;
    }
    bool take(char c) {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
};

bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned days_in_month(int64_t year, unsigned month) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

// Whole days (rounded down) and the nanoseconds into the day, [0, ns_per_day);
// written so that no step overflows, even at the ends of the int64 range.
void split_days(int64_t ns, int64_t* days, int64_t* rest) {
    int64_t q = ns / ns_per_day, r = ns % ns_per_day;
    if (r < 0) {
        r += ns_per_day;
        --q;
    }
    *days = q;
    *rest = r;
}

// days * ns_per_day + into_day (0 <= into_day <= ns_per_day) without an
// intermediate overflow: the first day of the range starts before INT64_MIN.
bool combine(int64_t days, int64_t into_day, int64_t* ns) {
    if (days < 0) {
        days += 1;
        into_day -= ns_per_day;
    }
    int64_t start;
    return !__builtin_mul_overflow(days, ns_per_day, &start) && !__builtin_add_overflow(start, into_day, ns) &&
           *ns != nat;
}

}  // namespace

Status ns_from_iso(const char* text, std::size_t length, int64_t* ns) noexcept {
    Cursor c{text, text + length};
    unsigned year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int64_t fraction = 0;
    if (!c.digits(4, &year)) return Status::syntax;
    if (c.take('-')) {
        if (!c.digits(2, &month)) return Status::syntax;
        if (c.take('-') && !c.digits(2, &day)) return Status::syntax;
    }
    bool has_day = c.p - text == 10;
    if (has_day && (c.take('T') || c.take(' '))) {
        if (!c.digits(2, &hour) || !c.take(':') || !c.digits(2, &minute)) return Status::syntax;
        if (c.take(':')) {
            if (!c.digits(2, &second)) return Status::syntax;
            if (c.take('.')) {
                int n = 0;
                while (c.p < c.end && *c.p >= '0' && *c.p <= '9') {
                    if (++n > 9) return Status::syntax;
                    fraction = fraction * 10 + (*c.p++ - '0');
                }
                if (n == 0) return Status::syntax;
                for (; n < 9; ++n) fraction *= 10;
            }
        }
        c.take('Z');
    }
    if (c.p != c.end) return Status::syntax;
    if (hour == 23 && minute == 59 && second == 60 && month >= 1 && month <= 12 && day >= 1 &&
        day <= days_in_month(year, month)) {
        return Status::leap_second;
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return Status::field_range;
    }
    int64_t seconds = (static_cast<int64_t>(hour) * 60 + minute) * 60 + second;
    return ns_from_civil(year, month, day, seconds * ns_per_second + fraction, ns);
}

Status ns_from_civil(int64_t year, unsigned month, unsigned day, int64_t into_day, int64_t* ns) noexcept {
    if (year < -1'000'000 || year > 1'000'000) return Status::overflow;
    int64_t days, rest;
    split_days(into_day, &days, &rest);
    days += days_from_civil(year, month, day);
    return combine(days, rest, ns) ? Status::ok : Status::overflow;
}

void iso_from_ns(int64_t ns, char* out) noexcept {
    int64_t days, rest;
    split_days(ns, &days, &rest);
    int64_t year;
    unsigned month, day;
    civil_from_days(days, &year, &month, &day);
    int64_t seconds = rest / ns_per_second;
    std::snprintf(out, iso_size, "%04lld-%02u-%02uT%02d:%02d:%02d.%09lld", static_cast<long long>(year), month, day,
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                  static_cast<long long>(rest % ns_per_second));
}

double jd_from_ns(int64_t ns) noexcept {
    int64_t days, rest;
    split_days(ns, &days, &rest);
    return (jd_unix_epoch + static_cast<double>(days)) + static_cast<double>(rest) / 86400e9;
}

Status ns_from_jd(double jd, int64_t* ns) noexcept {
    if (!std::isfinite(jd)) return Status::syntax;
    // Exact for every Julian date whose instant fits in int64 nanoseconds
    // (both lie within a factor of two of each other).
    double d = jd - jd_unix_epoch;
    double whole = std::floor(d);
    if (!(whole >= -106752.0 && whole <= 106751.0)) return Status::overflow;
    double part = std::nearbyint((d - whole) * 86400e9);  // in [0, 86400e9]
    return combine(static_cast<int64_t>(whole), static_cast<int64_t>(part), ns) ? Status::ok : Status::overflow;
}

}  // namespace qv::time
