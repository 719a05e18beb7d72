// Eight lanes of doubles in AVX-512 registers (see lanes.hpp).  Included by
// lanes.hpp in translation units compiled with -mavx512f -mavx512dq.
#pragma once

#include <immintrin.h>

namespace qv::simd {
inline namespace QV_SIMD_ISA {

struct Avx512Mask {
    __mmask8 k;  // bit i set where lane i holds
};

struct Avx512 {
    __m512d v;
    Avx512() = default;
    Avx512(double x) : v(_mm512_set1_pd(x)) {}
    Avx512(__m512d x) : v(x) {}

    Avx512& operator+=(Avx512 b) { v = _mm512_add_pd(v, b.v); return *this; }
    Avx512& operator-=(Avx512 b) { v = _mm512_sub_pd(v, b.v); return *this; }
    Avx512& operator*=(Avx512 b) { v = _mm512_mul_pd(v, b.v); return *this; }
    Avx512& operator/=(Avx512 b) { v = _mm512_div_pd(v, b.v); return *this; }
};

template <>
struct LaneTraits<Avx512> {
    static constexpr int width = 8;
    using Mask = Avx512Mask;
};

template <>
inline Avx512 load<Avx512>(const double* p) {
    return _mm512_loadu_pd(p);
}
inline void store(double* p, Avx512 x) { _mm512_storeu_pd(p, x.v); }
// Each output vector takes its x and y entries from one two-source
// permutation and its z entries from a second one, under a mask.
inline void store3(double* p, Avx512 x, Avx512 y, Avx512 z) {
    // Output element j (of 24) is lane j / 3 of x, y or z (j % 3).
    const __m512i xy0 = _mm512_setr_epi64(0, 8, 0, 1, 9, 0, 2, 10);
    const __m512i xy1 = _mm512_setr_epi64(0, 3, 11, 0, 4, 12, 0, 5);
    const __m512i xy2 = _mm512_setr_epi64(13, 0, 6, 14, 0, 7, 15, 0);
    const __m512i z0 = _mm512_setr_epi64(0, 0, 0, 0, 0, 1, 0, 0);
    const __m512i z1 = _mm512_setr_epi64(2, 0, 0, 3, 0, 0, 4, 0);
    const __m512i z2 = _mm512_setr_epi64(0, 5, 0, 0, 6, 0, 0, 7);
    __m512d o0 = _mm512_permutex2var_pd(x.v, xy0, y.v);
    __m512d o1 = _mm512_permutex2var_pd(x.v, xy1, y.v);
    __m512d o2 = _mm512_permutex2var_pd(x.v, xy2, y.v);
    o0 = _mm512_mask_permutexvar_pd(o0, 0b00100100, z0, z.v);
    o1 = _mm512_mask_permutexvar_pd(o1, 0b01001001, z1, z.v);
    o2 = _mm512_mask_permutexvar_pd(o2, 0b10010010, z2, z.v);
    _mm512_storeu_pd(p, o0);
    _mm512_storeu_pd(p + 8, o1);
    _mm512_storeu_pd(p + 16, o2);
}
// The inverse of store3, through memory (exact, as every load).
inline void load3(const double* p, Avx512& x, Avx512& y, Avx512& z) {
    alignas(64) double t[3][8];
    for (int i = 0; i < 8; ++i) {
        t[0][i] = p[3 * i];
        t[1][i] = p[3 * i + 1];
        t[2][i] = p[3 * i + 2];
    }
    x = _mm512_load_pd(t[0]);
    y = _mm512_load_pd(t[1]);
    z = _mm512_load_pd(t[2]);
}
inline void store_int8(std::int8_t* p, Avx512 x) {
    __m128i i8 = _mm512_maskz_cvtepi64_epi8(0xff, _mm512_maskz_cvttpd_epi64(0xff, x.v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), i8);
}

inline Avx512 operator+(Avx512 a, Avx512 b) { return _mm512_add_pd(a.v, b.v); }
inline Avx512 operator-(Avx512 a, Avx512 b) { return _mm512_sub_pd(a.v, b.v); }
inline Avx512 operator*(Avx512 a, Avx512 b) { return _mm512_mul_pd(a.v, b.v); }
inline Avx512 operator/(Avx512 a, Avx512 b) { return _mm512_div_pd(a.v, b.v); }
inline Avx512 operator-(Avx512 a) { return _mm512_xor_pd(a.v, _mm512_set1_pd(-0.0)); }

inline Avx512Mask operator<(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline Avx512Mask operator<=(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
inline Avx512Mask operator>(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
inline Avx512Mask operator>=(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)}; }
inline Avx512Mask operator==(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
inline Avx512Mask operator!=(Avx512 a, Avx512 b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_NEQ_UQ)}; }

inline Avx512Mask operator&(Avx512Mask a, Avx512Mask b) { return {static_cast<__mmask8>(a.k & b.k)}; }
inline Avx512Mask operator|(Avx512Mask a, Avx512Mask b) { return {static_cast<__mmask8>(a.k | b.k)}; }
inline Avx512Mask operator!(Avx512Mask a) { return {static_cast<__mmask8>(~a.k)}; }

inline Avx512 select(Avx512Mask m, Avx512 a, Avx512 b) { return _mm512_mask_blend_pd(m.k, b.v, a.v); }
inline unsigned bits(Avx512Mask m) { return m.k; }
inline bool any(Avx512Mask m) { return m.k != 0; }
inline bool all(Avx512Mask m) { return m.k == 0xff; }

// The all-lanes masked forms of these instructions are the plain ones; they
// spare GCC 12 a false "used uninitialized" warning on the plain intrinsics.
inline Avx512 sqrt(Avx512 x) { return _mm512_maskz_sqrt_pd(0xff, x.v); }
inline Avx512 abs(Avx512 x) { return _mm512_andnot_pd(_mm512_set1_pd(-0.0), x.v); }
inline Avx512 floor(Avx512 x) {
    return _mm512_maskz_roundscale_pd(0xff, x.v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}
inline Avx512 min(Avx512 a, Avx512 b) { return _mm512_maskz_min_pd(0xff, a.v, b.v); }
inline Avx512 max(Avx512 a, Avx512 b) { return _mm512_maskz_max_pd(0xff, a.v, b.v); }

namespace detail {
inline Avx512 bit_and(Avx512 a, Avx512 b) { return _mm512_and_pd(a.v, b.v); }
inline Avx512 bit_or(Avx512 a, Avx512 b) { return _mm512_or_pd(a.v, b.v); }
inline Avx512 bit_xor(Avx512 a, Avx512 b) { return _mm512_xor_pd(a.v, b.v); }
inline Avx512 exponent_field(Avx512 x) {
    __m512i e = _mm512_maskz_srli_epi64(0xff, _mm512_castpd_si512(x.v), 52);
    return _mm512_cvtepi64_pd(_mm512_and_si512(e, _mm512_set1_epi64(0x7ff)));
}
inline Avx512 pow2(Avx512 k) {
    __m512d biased = _mm512_add_pd(k.v, _mm512_set1_pd(0x1p52 + 1023.0));
    return _mm512_castsi512_pd(_mm512_maskz_slli_epi64(0xff, _mm512_castpd_si512(biased), 52));
}
}  // namespace detail

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
