// Constants of vmath.hpp, written by coefficients.py (mpmath); do not edit.
#pragma once

#include <cstdint>

namespace qv::simd::constants {

// pi/2 in three 33-bit parts and a rounded tail (Cody-Waite reduction).
inline constexpr double pio2_1 = 0x1.921fb54400000p+0;
inline constexpr double pio2_2 = 0x1.0b4611a600000p-34;
inline constexpr double pio2_3 = 0x1.3198a2e000000p-69;
inline constexpr double pio2_3t = 0x1.b839a252049c1p-104;  // rounded
inline constexpr double inv_pio2 = 0x1.45f306dc9c883p-1;  // rounded 2/pi
// pi/2 as a double-double (Payne-Hanek results, atan2 quadrants).
inline constexpr double pio2_hi = 0x1.921fb54442d18p+0;
inline constexpr double pio2_lo = 0x1.1a62633145c07p-54;  // rounded
inline constexpr double pi_hi = 0x1.921fb54442d18p+1;
inline constexpr double pi_lo = 0x1.1a62633145c07p-53;  // rounded
inline constexpr double pio4_hi = 0x1.921fb54442d18p-1;
inline constexpr double pio4_lo = 0x1.1a62633145c07p-55;  // rounded
inline constexpr double atan_half_hi = 0x1.dac670561bb4fp-2;
inline constexpr double atan_half_lo = 0x1.a2b7f222f65e2p-56;  // rounded
// The double nearest 2 pi, the divisor of rem2pi, in two exact parts.
inline constexpr double two_pi = 0x1.921fb54442d18p+2;
inline constexpr double two_pi_1 = 0x1.921fb54400000p+2;
inline constexpr double two_pi_2 = 0x1.0b46000000000p-32;
inline constexpr double inv_two_pi = 0x1.45f306dc9c883p-3;  // rounded
inline constexpr double cbrt2 = 0x1.428a2f98d728bp+0;  // rounded
inline constexpr double cbrt4 = 0x1.965fea53d6e3dp+0;  // rounded
// sin x = x + x^3 (c0 + c1 x^2 + ...), |x| <= 0.786; max relative error 3.75e-18.
inline constexpr double sin_c[6] = {-0x1.5555555555548p-3, 0x1.111111110f730p-7, -0x1.a01a019be9217p-13, 0x1.71de35552b52cp-19, -0x1.ae5e4b83e46f4p-26, 0x1.5d8b559495e30p-33};
// cos x = 1 - x^2/2 + x^4 (c0 + c1 x^2 + ...), |x| <= 0.786; max relative error 5.76e-20.
inline constexpr double cos_c[6] = {0x1.555555555554bp-5, -0x1.6c16c16c15009p-10, 0x1.a01a019c8d25bp-16, -0x1.27e4f7efab97cp-22, 0x1.1ee9da45af13cp-29, -0x1.8fa59db133b80p-37};
// atan t = t + t^3 (c0 + c1 t^2 + ...), |t| <= 0.25; max relative error 6.61e-20.
inline constexpr double atan_c[9] = {-0x1.5555555555553p-2, 0x1.9999999998db5p-3, -0x1.24924923ec298p-3, 0x1.c71c713917da6p-4, -0x1.745cf4e9c1920p-4, 0x1.3b0ea90630bc3p-4, -0x1.109c458f28920p-4, 0x1.d4fc68f8105ffp-5, -0x1.47b234f7e03e2p-5};
// cbrt m = c0 + c1 m + ... + c4 m^4, 1 <= m <= 2; max relative error 9.21e-06.
inline constexpr double cbrt_c[5] = {0x1.0392ccec6293dp-1, 0x1.6fb1dfe048ff8p-1, -0x1.33d3850724970p-2, 0x1.60a15372de9e6p-4, -0x1.5b77f08c7f1afp-7};

// Bits of 2/pi after the binary point, most significant first (Payne-Hanek).
inline constexpr std::uint64_t two_over_pi[20] = {
    0xa2f9836e4e441529, 0xfc2757d1f534ddc0, 0xdb6295993c439041,
    0xfe5163abdebbc561, 0xb7246e3a424dd2e0, 0x06492eea09d1921c,
    0xfe1deb1cb129a73e, 0xe88235f52ebb4484, 0xe99c7026b45f7e41,
    0x3991d639835339f4, 0x9c845f8bbdf9283b, 0x1ff897ffde05980f,
    0xef2f118b5a0a6d1f, 0x6d367ecf27cb09b7, 0x4f463f669e5fea2d,
    0x7527bac7ebe5f17b, 0x3d0739f78a5292ea, 0x6bfb5fb11f8d5d08,
    0x56033046fc7b6bab, 0xf0cfbc209af4361d,
};

}  // namespace qv::simd::constants
