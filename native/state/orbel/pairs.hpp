// Two doubles at a time in one SSE2 register (part of the x86-64 baseline).
//
// Packed division, multiplication and square root are correctly rounded per
// lane, exactly like their scalar forms, so a kernel written once over
// `double` and `Pair` gives the same bits either way; the array loops of the
// element relations use it to do two elements per instruction.  Python-free.
#pragma once

#include <emmintrin.h>

#include <cmath>

#include "runtime/unaligned.hpp"

namespace qv::orbel {

struct Pair {
    __m128d v;
    static Pair splat(double x) { return {_mm_set1_pd(x)}; }
};

inline Pair operator*(Pair a, Pair b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Pair operator*(double a, Pair b) { return {_mm_mul_pd(_mm_set1_pd(a), b.v)}; }
inline Pair operator/(Pair a, Pair b) { return {_mm_div_pd(a.v, b.v)}; }

// The square root as the C library gives it: for a negative lane the library
// is called as well, so that its domain-error signalling (errno, the invalid
// flag) happens just as in the scalar form; the NaN it returns is the one the
// packed instruction gives.
inline Pair sqrt(Pair q) {
    Pair r{_mm_sqrt_pd(q.v)};
    if (_mm_movemask_pd(_mm_cmplt_pd(q.v, _mm_setzero_pd())) != 0) {
        double lanes[2];
        _mm_storeu_pd(lanes, q.v);
        for (double lane : lanes) {
            if (lane < 0.0) {
                volatile double signalled = std::sqrt(lane);
                (void)signalled;
            }
        }
    }
    return r;
}

// Elements i and i + 1 of a strided array of doubles.  The array may sit at
// any byte: unaligned packed moves when contiguous, 8-byte copies otherwise.
inline Pair load(const char* data, std::ptrdiff_t stride, std::ptrdiff_t i) {
    const char* p = data + i * stride;
    if (stride == sizeof(double)) return {_mm_loadu_pd(reinterpret_cast<const double*>(p))};
    return {_mm_set_pd(load_unaligned<double>(p + stride), load_unaligned<double>(p))};
}

inline void store(char* data, std::ptrdiff_t stride, std::ptrdiff_t i, Pair x) {
    char* p = data + i * stride;
    if (stride == sizeof(double)) {
        _mm_storeu_pd(reinterpret_cast<double*>(p), x.v);
        return;
    }
    store_unaligned<double>(p, _mm_cvtsd_f64(x.v));
    store_unaligned<double>(p + stride, _mm_cvtsd_f64(_mm_unpackhi_pd(x.v, x.v)));
}

}  // namespace qv::orbel
