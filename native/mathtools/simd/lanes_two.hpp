// Two<V>: twice the lanes of V, as two independent halves (see lanes.hpp).
//
// Every operation applies the operation of V to each half, so a lane of
// Two<V> computes exactly what a lane of V (and of double) computes.  What it
// buys is independence: a kernel whose steps depend on one another (a
// polynomial, Newton's method) leaves the processor idle between dependent
// instructions; with two halves in one instruction stream each waiting
// instruction has an independent twin to overlap with.  Kernels whose one
// vector is bound by latency rather than by throughput run on Two<Widest>.
//
// Included by lanes.hpp after the lane types it pairs.
#pragma once

#include <cstdint>

namespace qv::simd {
inline namespace QV_SIMD_ISA {

template <class V>
struct TwoMask {
    Mask<V> a, b;

    friend TwoMask operator&(TwoMask x, TwoMask y) { return {Mask<V>(x.a & y.a), Mask<V>(x.b & y.b)}; }
    friend TwoMask operator|(TwoMask x, TwoMask y) { return {Mask<V>(x.a | y.a), Mask<V>(x.b | y.b)}; }
    friend TwoMask operator!(TwoMask x) { return {!x.a, !x.b}; }
};

// The operators are hidden friends (not templates), so a double operand
// converts to Two<V> as it converts to V.
template <class V>
struct Two {
    V a, b;  // lanes 0 .. Width<V> - 1, then the rest

    Two() = default;
    Two(double x) : a(x), b(x) {}
    Two(V x, V y) : a(x), b(y) {}

    static Two load_from(const double* p) { return {load<V>(p), load<V>(p + Width<V>)}; }

    friend Two operator+(Two x, Two y) { return {x.a + y.a, x.b + y.b}; }
    friend Two operator-(Two x, Two y) { return {x.a - y.a, x.b - y.b}; }
    friend Two operator*(Two x, Two y) { return {x.a * y.a, x.b * y.b}; }
    friend Two operator/(Two x, Two y) { return {x.a / y.a, x.b / y.b}; }
    friend Two operator-(Two x) { return {-x.a, -x.b}; }
    Two& operator+=(Two y) { return *this = *this + y; }
    Two& operator-=(Two y) { return *this = *this - y; }
    Two& operator*=(Two y) { return *this = *this * y; }
    Two& operator/=(Two y) { return *this = *this / y; }

    friend TwoMask<V> operator<(Two x, Two y) { return {x.a < y.a, x.b < y.b}; }
    friend TwoMask<V> operator<=(Two x, Two y) { return {x.a <= y.a, x.b <= y.b}; }
    friend TwoMask<V> operator>(Two x, Two y) { return {x.a > y.a, x.b > y.b}; }
    friend TwoMask<V> operator>=(Two x, Two y) { return {x.a >= y.a, x.b >= y.b}; }
    friend TwoMask<V> operator==(Two x, Two y) { return {x.a == y.a, x.b == y.b}; }
    friend TwoMask<V> operator!=(Two x, Two y) { return {x.a != y.a, x.b != y.b}; }
};

template <class V>
struct LaneTraits<Two<V>> {
    static constexpr int width = 2 * Width<V>;
    using Mask = TwoMask<V>;
};

template <class V>
inline void store(double* p, Two<V> x) {
    store(p, x.a);
    store(p + Width<V>, x.b);
}

template <class V>
inline void store3(double* p, Two<V> x, Two<V> y, Two<V> z) {
    store3(p, x.a, y.a, z.a);
    store3(p + 3 * Width<V>, x.b, y.b, z.b);
}
template <class V>
inline void load3(const double* p, Two<V>& x, Two<V>& y, Two<V>& z) {
    load3(p, x.a, y.a, z.a);
    load3(p + 3 * Width<V>, x.b, y.b, z.b);
}
template <class V>
inline void store_int8(std::int8_t* p, Two<V> x) {
    store_int8(p, x.a);
    store_int8(p + Width<V>, x.b);
}

template <class V>
inline Two<V> select(TwoMask<V> m, Two<V> x, Two<V> y) {
    return {select(m.a, x.a, y.a), select(m.b, x.b, y.b)};
}
template <class V>
inline unsigned bits(TwoMask<V> m) {
    return bits(m.a) | bits(m.b) << Width<V>;
}
template <class V>
inline bool any(TwoMask<V> m) {
    return any(Mask<V>(m.a | m.b));
}
template <class V>
inline bool all(TwoMask<V> m) {
    return all(Mask<V>(m.a & m.b));
}

// The exact per-lane functions, on each half.
#define QV_SIMD_TWO_UNARY(f)                \
    template <class V>                      \
    inline Two<V> f(Two<V> x) {             \
        return {f(x.a), f(x.b)};            \
    }
#define QV_SIMD_TWO_BINARY(f)                   \
    template <class V>                          \
    inline Two<V> f(Two<V> x, Two<V> y) {       \
        return {f(x.a, y.a), f(x.b, y.b)};      \
    }

QV_SIMD_TWO_UNARY(sqrt)
QV_SIMD_TWO_UNARY(abs)
QV_SIMD_TWO_UNARY(floor)
QV_SIMD_TWO_BINARY(min)
QV_SIMD_TWO_BINARY(max)

namespace detail {
QV_SIMD_TWO_BINARY(bit_and)
QV_SIMD_TWO_BINARY(bit_or)
QV_SIMD_TWO_BINARY(bit_xor)
QV_SIMD_TWO_UNARY(exponent_field)
QV_SIMD_TWO_UNARY(pow2)
}  // namespace detail

#undef QV_SIMD_TWO_UNARY
#undef QV_SIMD_TWO_BINARY

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
