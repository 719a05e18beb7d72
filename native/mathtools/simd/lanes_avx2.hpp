// Four lanes of doubles in AVX2 registers (see lanes.hpp).  Included by
// lanes.hpp in translation units compiled with -mavx2.
#pragma once

#include <immintrin.h>

namespace qv::simd {
inline namespace QV_SIMD_ISA {

struct Avx2Mask {
    __m256d m;  // all ones where the lane holds, else all zeros
};

struct Avx2 {
    __m256d v;
    Avx2() = default;
    Avx2(double x) : v(_mm256_set1_pd(x)) {}
    Avx2(__m256d x) : v(x) {}

    Avx2& operator+=(Avx2 b) { v = _mm256_add_pd(v, b.v); return *this; }
    Avx2& operator-=(Avx2 b) { v = _mm256_sub_pd(v, b.v); return *this; }
    Avx2& operator*=(Avx2 b) { v = _mm256_mul_pd(v, b.v); return *this; }
    Avx2& operator/=(Avx2 b) { v = _mm256_div_pd(v, b.v); return *this; }
};

template <>
struct LaneTraits<Avx2> {
    static constexpr int width = 4;
    using Mask = Avx2Mask;
};

template <>
inline Avx2 load<Avx2>(const double* p) {
    return _mm256_loadu_pd(p);
}
inline void store(double* p, Avx2 x) { _mm256_storeu_pd(p, x.v); }
// [x0 y0 z0 x1] [y1 z1 x2 y2] [z2 x3 y3 z3] from the 128-bit halves of
// [x0 y0 | x2 y2], [z0 x1 | z2 x3] and [y1 z1 | y3 z3].
inline void store3(double* p, Avx2 x, Avx2 y, Avx2 z) {
    __m256d xy = _mm256_unpacklo_pd(x.v, y.v);
    __m256d zx = _mm256_shuffle_pd(z.v, x.v, 0b1010);
    __m256d yz = _mm256_shuffle_pd(y.v, z.v, 0b1111);
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(xy, zx, 0x20));
    _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(yz, xy, 0x30));
    _mm256_storeu_pd(p + 8, _mm256_permute2f128_pd(zx, yz, 0x31));
}
// The inverse of store3: [x0 y0 | x2 y2], [z0 x1 | z2 x3] and [y1 z1 | y3 z3]
// from the 128-bit halves of the three rows, then x, y, z by shuffles.
inline void load3(const double* p, Avx2& x, Avx2& y, Avx2& z) {
    __m256d m0 = _mm256_loadu_pd(p), m1 = _mm256_loadu_pd(p + 4), m2 = _mm256_loadu_pd(p + 8);
    __m256d xy = _mm256_permute2f128_pd(m0, m1, 0x30);
    __m256d zx = _mm256_permute2f128_pd(m0, m2, 0x21);
    __m256d yz = _mm256_permute2f128_pd(m1, m2, 0x30);
    x = _mm256_shuffle_pd(xy, zx, 0b1010);
    y = _mm256_shuffle_pd(xy, yz, 0b0101);
    z = _mm256_shuffle_pd(zx, yz, 0b1010);
}
inline void store_int8(std::int8_t* p, Avx2 x) {
    __m128i i32 = _mm256_cvttpd_epi32(x.v);
    __m128i i8 = _mm_packs_epi16(_mm_packs_epi32(i32, i32), _mm_setzero_si128());
    int four = _mm_cvtsi128_si32(i8);
    __builtin_memcpy(p, &four, 4);
}

inline Avx2 operator+(Avx2 a, Avx2 b) { return _mm256_add_pd(a.v, b.v); }
inline Avx2 operator-(Avx2 a, Avx2 b) { return _mm256_sub_pd(a.v, b.v); }
inline Avx2 operator*(Avx2 a, Avx2 b) { return _mm256_mul_pd(a.v, b.v); }
inline Avx2 operator/(Avx2 a, Avx2 b) { return _mm256_div_pd(a.v, b.v); }
inline Avx2 operator-(Avx2 a) { return _mm256_xor_pd(a.v, _mm256_set1_pd(-0.0)); }

inline Avx2Mask operator<(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
inline Avx2Mask operator<=(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
inline Avx2Mask operator>(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
inline Avx2Mask operator>=(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)}; }
inline Avx2Mask operator==(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
inline Avx2Mask operator!=(Avx2 a, Avx2 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_NEQ_UQ)}; }

inline Avx2Mask operator&(Avx2Mask a, Avx2Mask b) { return {_mm256_and_pd(a.m, b.m)}; }
inline Avx2Mask operator|(Avx2Mask a, Avx2Mask b) { return {_mm256_or_pd(a.m, b.m)}; }
inline Avx2Mask operator!(Avx2Mask a) {
    return {_mm256_xor_pd(a.m, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)))};
}

inline Avx2 select(Avx2Mask m, Avx2 a, Avx2 b) { return _mm256_blendv_pd(b.v, a.v, m.m); }
inline unsigned bits(Avx2Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m.m)); }
inline bool any(Avx2Mask m) { return bits(m) != 0; }
inline bool all(Avx2Mask m) { return bits(m) == 0xf; }

inline Avx2 sqrt(Avx2 x) { return _mm256_sqrt_pd(x.v); }
inline Avx2 abs(Avx2 x) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x.v); }
inline Avx2 floor(Avx2 x) { return _mm256_round_pd(x.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
inline Avx2 min(Avx2 a, Avx2 b) { return _mm256_min_pd(a.v, b.v); }
inline Avx2 max(Avx2 a, Avx2 b) { return _mm256_max_pd(a.v, b.v); }

namespace detail {
inline Avx2 bit_and(Avx2 a, Avx2 b) { return _mm256_and_pd(a.v, b.v); }
inline Avx2 bit_or(Avx2 a, Avx2 b) { return _mm256_or_pd(a.v, b.v); }
inline Avx2 bit_xor(Avx2 a, Avx2 b) { return _mm256_xor_pd(a.v, b.v); }
// The field lands in the low mantissa bits of 2^52, which is then subtracted.
inline Avx2 exponent_field(Avx2 x) {
    const __m256i two52 = _mm256_set1_epi64x(0x4330000000000000);
    __m256i e = _mm256_srli_epi64(_mm256_castpd_si256(x.v), 52);
    e = _mm256_and_si256(e, _mm256_set1_epi64x(0x7ff));
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(e, two52)), _mm256_set1_pd(0x1p52));
}
inline Avx2 pow2(Avx2 k) {
    __m256d biased = _mm256_add_pd(k.v, _mm256_set1_pd(0x1p52 + 1023.0));
    return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(biased), 52));
}
}  // namespace detail

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
