// The instant encoding every module shares (Python-free, header-only):
// int64 nanoseconds since 1970-01-01T00:00:00 UTC, the datetime64[ns]
// encoding, with every day 86400 s long and INT64_MIN (NaT) never an
// instant; and the checked scaling of other datetime64 units into it.
#pragma once

#include <cstdint>
#include <cstring>

namespace qv::time {

inline constexpr std::int64_t ns_per_second = 1'000'000'000;
inline constexpr std::int64_t ns_per_day = 86400 * ns_per_second;
inline constexpr std::int64_t nat = INT64_MIN;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// algorithm: eras of 400 years, years starting on 1 March).
constexpr std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) noexcept {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A datetime64 unit of fixed length as a rational number of nanoseconds:
// ns = floor(raw × factor / divisor).  A unit longer than the whole
// nanosecond range (datetime64[20000W], [2147483647D]) keeps factor 2^63:
// any raw value but 0 is then outside the range, as it is for the true
// factor, and raw × factor never leaves 128 bits.
struct UnitScale {
    __int128 factor = 1;
    std::int64_t divisor = 1;
    bool identity() const noexcept { return factor == 1 && divisor == 1; }
};

// The scale of `count` units named `unit` (W, D, h, m, s, ms, us, μs, ns,
// ps, fs, as: NumPy's names); false for any other name (the calendar units
// Y and M, and generic datetime64, have no fixed length).
inline bool unit_scale(const char* unit, std::int64_t count, UnitScale* out) noexcept {
    struct Unit {
        const char* name;
        std::int64_t factor, divisor;
    };
    static constexpr Unit units[] = {
        {"W", 7 * ns_per_day, 1}, {"D", ns_per_day, 1},   {"h", 3600 * ns_per_second, 1},
        {"m", 60 * ns_per_second, 1}, {"s", ns_per_second, 1}, {"ms", 1'000'000, 1},
        {"us", 1000, 1},          {"\xce\xbcs", 1000, 1}, {"ns", 1, 1},
        {"ps", 1, 1000},          {"fs", 1, 1'000'000},   {"as", 1, 1'000'000'000},
    };
    if (count < 1) return false;
    for (const Unit& u : units) {
        if (std::strcmp(unit, u.name) != 0) continue;
        constexpr __int128 cap = static_cast<__int128>(1) << 63;
        // Both factors are below 2^63, so the product fits 126 bits.
        __int128 factor = static_cast<__int128>(u.factor) * count;
        out->factor = factor > cap ? cap : factor;
        out->divisor = u.divisor;
        return true;
    }
    return false;
}

// The instant of a raw datetime64 value: NaT stays NaT, and an instant
// outside the nanosecond range becomes NaT too (callers that must tell the
// two apart test `raw == nat` first).  Floors, as NumPy converts.
inline std::int64_t scaled_instant(std::int64_t raw, const UnitScale& scale) noexcept {
    if (raw == nat || scale.identity()) return raw;
    __int128 x = static_cast<__int128>(raw) * scale.factor;  // |x| <= 2^126
    __int128 q = x / scale.divisor;
    if (x % scale.divisor != 0 && x < 0) q -= 1;
    return q <= static_cast<__int128>(nat) || q > static_cast<__int128>(INT64_MAX) ? nat
                                                                                   : static_cast<std::int64_t>(q);
}

// The instant of a raw value of the calendar units datetime64[<count>Y]
// and [<count>M] (the start of that year or month): NaT for NaT and for
// an instant outside the nanosecond range.  Computed here because NumPy's
// own conversion of these units wraps silently far outside the range.
inline std::int64_t calendar_instant(std::int64_t raw, std::int64_t count, bool years) noexcept {
    if (raw == nat) return nat;
    std::int64_t months;
    if (__builtin_mul_overflow(raw, count, &months) || (years && __builtin_mul_overflow(months, 12, &months)))
        return nat;
    constexpr std::int64_t beyond = 1000 * 12;  // the range is 1677-09 to 2262-04
    if (months > beyond || months < -beyond) return nat;
    const std::int64_t year = 1970 + (months >= 0 ? months / 12 : -((11 - months) / 12));
    const auto month = static_cast<unsigned>(months - (year - 1970) * 12 + 1);
    const __int128 ns = static_cast<__int128>(days_from_civil(year, month, 1)) * ns_per_day;
    return ns <= static_cast<__int128>(nat) || ns > static_cast<__int128>(INT64_MAX) ? nat
                                                                                     : static_cast<std::int64_t>(ns);
}

}  // namespace qv::time
