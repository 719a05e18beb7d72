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
