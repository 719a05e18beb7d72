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
        case Op::sincos: {
            V s, c;
            sincos(x, &s, &c);
            store(out, s);
            store(out2, c);
            break;
        }
        case Op::atan2: store(out, atan2(x, load<V>(b))); break;
        case Op::rem2pi: store(out, rem2pi(x)); break;
        case Op::cbrt: store(out, cbrt(x)); break;
    }
}

}  // namespace

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
