// Reduction of huge arguments modulo pi/2 (Payne-Hanek), one lane at a time.
//
// sin and cos reduce |x| < 1.5 * 2^20 in vector registers (vmath.hpp); the
// rare lanes beyond come here.  The code is plain integer arithmetic and
// correctly rounded double operations, so every instruction set computes the
// same bits, and it is exact enough for any finite double: the closest a
// double comes to a multiple of pi/2 is about 2^-61, and the remainder here
// carries well over 120 correct bits.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "mathtools/simd/constants.hpp"

namespace qv::simd {
inline namespace QV_SIMD_ISA {
namespace detail {

// Bits p, p+1, ..., p+63 of 2/pi (bit k weighs 2^-k; bits k <= 0 are zero).
inline std::uint64_t two_over_pi_bits(int p) {
    constexpr int words = sizeof(constants::two_over_pi) / sizeof(std::uint64_t);
    auto word = [](int i) { return i < words ? constants::two_over_pi[i] : std::uint64_t{0}; };
    if (p <= 0) {
        int zeros = 1 - p;
        return zeros >= 64 ? 0 : two_over_pi_bits(1) >> zeros;
    }
    int index = (p - 1) / 64, offset = (p - 1) % 64;
    std::uint64_t bits = word(index) << offset;
    return offset == 0 ? bits : bits | word(index + 1) >> (64 - offset);
}

// Exact product of two doubles as p + e (Dekker; no fused multiply-add).
inline void two_prod_scalar(double a, double b, double* p, double* e) {
    auto split = [](double v, double* hi, double* lo) {
        double c = 134217729.0 * v;  // 2^27 + 1
        *hi = c - (c - v);
        *lo = v - *hi;
    };
    double ah, al, bh, bl;
    split(a, &ah, &al);
    split(b, &bh, &bl);
    *p = a * b;
    *e = ((ah * bh - *p) + ah * bl + al * bh) + al * bl;
}

// x = q * pi/2 + (hi + lo) with |hi + lo| <= pi/4, for finite x with
// |x| >= 2^20; returns q mod 4 (0, 1, 2 or 3).
inline double reduce_huge(double x, double* hi, double* lo) {
    using u64 = std::uint64_t;
    using u128 = unsigned __int128;
    u64 bits = std::bit_cast<u64>(x);
    u64 m = (bits & ((u64{1} << 52) - 1)) | (u64{1} << 52);
    int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;  // |x| = m * 2^e
    // Bits of 2/pi before k0 = e - 1 add multiples of 4 to x * 2/pi: left out.
    // The next 192 bits times m put the quarter turns at bits 190-191 of the
    // product and 190 bits of fraction below them.
    int k0 = e - 1;
    u64 w2 = two_over_pi_bits(k0), w1 = two_over_pi_bits(k0 + 64), w0 = two_over_pi_bits(k0 + 128);
    u128 t0 = static_cast<u128>(m) * w0;
    u128 t1 = static_cast<u128>(m) * w1 + (t0 >> 64);
    u128 t2 = static_cast<u128>(m) * w2 + (t1 >> 64);
    u64 f0 = static_cast<u64>(t0), f1 = static_cast<u64>(t1), p2 = static_cast<u64>(t2);
    u64 q = p2 >> 62;
    constexpr u64 low62 = (u64{1} << 62) - 1;
    u64 f2 = p2 & low62;
    bool negative = (f2 >> 61) != 0;  // fraction >= 1/2: one more quarter turn, minus the rest
    if (negative) {
        q += 1;
        f0 = ~f0 + 1;
        u64 carry = f0 == 0;
        f1 = ~f1 + carry;
        carry = carry && f1 == 0;
        f2 = (~f2 + carry) & low62;
    }
    // Normalise the 190-bit fraction F (value F * 2^-190) to a double-double.
    int shift = f2 ? std::countl_zero(f2) : f1 ? 64 + std::countl_zero(f1) : f0 ? 128 + std::countl_zero(f0) : 192;
    double h = 0.0, l = 0.0;
    if (shift < 192) {
        u64 g[3] = {f2, f1, f0};
        for (int s = shift; s >= 64; s -= 64) g[0] = g[1], g[1] = g[2], g[2] = 0;
        if (int s = shift % 64) {
            g[0] = g[0] << s | g[1] >> (64 - s);
            g[1] = g[1] << s | g[2] >> (64 - s);
        }
        h = std::ldexp(static_cast<double>(g[0] >> 11), -51 - shift);
        l = std::ldexp(static_cast<double>(g[0] & 0x7ff) * 0x1p64 + static_cast<double>(g[1]), -126 - shift);
    }
    // Times pi/2, as a double-double.
    double p, pe;
    two_prod_scalar(h, constants::pio2_hi, &p, &pe);
    double t = pe + (h * constants::pio2_lo + l * constants::pio2_hi);
    double rh = p + t, rl = t - (rh - p);
    if (negative != (x < 0)) rh = -rh, rl = -rl;
    if (x < 0) q = 4 - (q & 3);
    *hi = rh;
    *lo = rl;
    return static_cast<double>(q & 3);
}

}  // namespace detail
}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
