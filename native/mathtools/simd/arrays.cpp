#include "mathtools/simd/arrays.hpp"

#include <cstring>

namespace qv::simd {
inline namespace QV_SIMD_ISA {

namespace {

template <class V>
void step(Op f, const double* a, const double* b, double* out, double* out2) {
    V x = load<V>(a);
    switch (f) {
        case Op::sin: store(out, sin(x)); break;
        case Op::cos: store(out, cos(x)); break;
        case Op::sincos:
        case Op::sincosm1: {
            V s, c;
            if (f == Op::sincos)
                sincos(x, &s, &c);
            else
                sincosm1(x, &s, &c);
            store(out, s);
            store(out2, c);
            break;
        }
        case Op::atan2: store(out, atan2(x, load<V>(b))); break;
        case Op::rem2pi: store(out, rem2pi(x)); break;
        case Op::cbrt: store(out, cbrt(x)); break;
    }
}

template <class V>
V flag(Mask<V> m) {
    return select(m, V(1.0), V(0.0));
}

// Rows: a+b, a-b, a*b, a/b, -a, sqrt a, abs a, floor a, min, max, a<b, a<=b,
// a>b, a>=b, a==b, a!=b, mask logic, compound assignment, mixed scalar
// operands, and 1 where bits/any/all agree with the lanes of a<b (the
// first primitive_rows - 1 rows).
template <class V>
void primitives_step(const double* a, const double* b, double* out, std::size_t stride) {
    V x = load<V>(a), y = load<V>(b);
    int row = 0;
    auto put = [&](V v) { store(out + stride * row++, v); };
    put(x + y);
    put(x - y);
    put(x * y);
    put(x / y);
    put(-x);
    put(sqrt(x));
    put(abs(x));
    put(floor(x));
    put(min(x, y));
    put(max(x, y));
    Mask<V> lt = x < y;
    put(flag<V>(lt));
    put(flag<V>(x <= y));
    put(flag<V>(x > y));
    put(flag<V>(x >= y));
    put(flag<V>(x == y));
    put(flag<V>(x != y));
    put(flag<V>((lt & (!(x == 0.0))) | (x != x)));
    V t = x;
    t += y;
    t *= y;
    t -= x;
    t /= y;
    put(t);
    put((2.0 * x - y / 4.0) + 1.0);
    alignas(64) double lanes[Width<V>];
    store(lanes, flag<V>(lt));
    unsigned set = bits(lt);
    bool agree = any(lt) == (set != 0) && all(lt) == (set == (1u << Width<V>) - 1);
    for (int i = 0; i < Width<V>; ++i) agree = agree && ((set >> i & 1u) != 0) == (lanes[i] == 1.0);
    put(V(agree ? 1.0 : 0.0));
}

// Everything a lane of V computes from a and b that Two<V> must repeat: the
// primitives' rows, the library's functions (sincos and sincosm1 as two
// rows each), and the interleaving and int8 stores (their lanes put back in
// order).  `stride` separates the rows.
inline constexpr int lane_rows = primitive_rows - 1 + 11;

template <class V>
void lane_step(const double* a, const double* b, double* out, std::size_t stride) {
    constexpr int w = Width<V>;
    primitives_step<V>(a, b, out, stride);
    V x = load<V>(a), y = load<V>(b);
    int row = primitive_rows - 1;
    auto put = [&](V v) { store(out + stride * row++, v); };
    V s, c;
    sincos(x, &s, &c);
    put(s);
    put(c);
    sincosm1(x, &s, &c);
    put(s);
    put(c);
    put(atan2(x, y));
    put(rem2pi(x));
    put(cbrt(x));
    // Rows of three, read back lane by lane.
    alignas(64) double rows3[3 * w];
    store3(rows3, x, y, x + y);
    for (int k = 0; k < 3; ++k) {
        alignas(64) double lane[w];
        for (int i = 0; i < w; ++i) lane[i] = rows3[3 * i + k];
        put(load<V>(lane));
    }
    // Small integers (|a| mod 128 truncated, with its sign) through int8.
    V small = floor(abs(x) - 128.0 * floor(abs(x) * (1.0 / 128.0)));
    small = select(x < 0.0, -small, small);
    small = select(small == small, small, V(0.0));
    std::int8_t codes[w];
    store_int8(codes, small);
    alignas(64) double back[w];
    for (int i = 0; i < w; ++i) back[i] = codes[i];
    put(load<V>(back) - small);
}

// 1 where every row of lane_step agrees bit for bit between V and Two<V>
// (two NaNs agree: where two NaNs meet in + - * / the compiler may swap the
// operands, as between widths).
template <class V>
void paired_agree(const double* a, const double* b, double* flag) {
    using P = Two<V>;
    constexpr int w = Width<P>;
    double one[lane_rows * w], two[lane_rows * w];
    for (int half = 0; half < 2; ++half) {
        lane_step<V>(a + half * Width<V>, b + half * Width<V>, one + half * Width<V>, w);
    }
    lane_step<P>(a, b, two, w);
    for (int i = 0; i < w; ++i) {
        bool same = true;
        for (int r = 0; r < lane_rows; ++r) {
            double x = one[r * w + i], y = two[r * w + i];
            same = same && (std::memcmp(&x, &y, sizeof(double)) == 0 || (x != x && y != y));
        }
        flag[i] = same ? 1.0 : 0.0;
    }
}

}  // namespace

void primitives(const double* a, const double* b, double* out, std::size_t n) {
    using V = Widest;
    constexpr std::size_t w = Width<V>;
    std::size_t i = 0;
    for (; i + w <= n; i += w) primitives_step<V>(a + i, b + i, out + i, n);
    if (i < n) {
        double ta[w], tb[w], to[primitive_rows * w];
        for (std::size_t j = 0; j < w; ++j) ta[j] = tb[j] = 1.0;
        std::size_t rest = n - i;
        std::memcpy(ta, a + i, rest * sizeof(double));
        std::memcpy(tb, b + i, rest * sizeof(double));
        primitives_step<V>(ta, tb, to, w);
        for (int r = 0; r < primitive_rows - 1; ++r) std::memcpy(out + r * n + i, to + r * w, rest * sizeof(double));
    }
    // The last row: Two<Widest> against Widest, the tail padded with ones.
    constexpr std::size_t pw = Width<Two<V>>;
    double* flags = out + (primitive_rows - 1) * n;
    for (i = 0; i < n; i += pw) {
        double ta[pw], tb[pw], tf[pw];
        std::size_t count = n - i < pw ? n - i : pw;
        for (std::size_t j = 0; j < pw; ++j) ta[j] = tb[j] = 1.0;
        std::memcpy(ta, a + i, count * sizeof(double));
        std::memcpy(tb, b + i, count * sizeof(double));
        paired_agree<V>(ta, tb, tf);
        std::memcpy(flags + i, tf, count * sizeof(double));
    }
}

void apply(Op f, const double* a, const double* b, double* out, double* out2, std::size_t n) {
    using V = Widest;
    constexpr std::size_t w = Width<V>;
    std::size_t i = 0;
    for (; i + w <= n; i += w) step<V>(f, a + i, b ? b + i : nullptr, out + i, out2 ? out2 + i : nullptr);
    if (i == n) return;
    // The tail, padded with ones (a harmless argument for every function).
    double ta[w], tb[w], to[w], to2[w];
    for (std::size_t j = 0; j < w; ++j) ta[j] = tb[j] = 1.0;
    std::size_t rest = n - i;
    std::memcpy(ta, a + i, rest * sizeof(double));
    if (b) std::memcpy(tb, b + i, rest * sizeof(double));
    step<V>(f, ta, tb, to, to2);
    std::memcpy(out + i, to, rest * sizeof(double));
    if (out2) std::memcpy(out2 + i, to2, rest * sizeof(double));
}

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
