// The shadow loop, compiled once per instruction set: a vector of the widest
// lane type of the unit at a time, the tail padded with its last sample.
#include <cstring>

#include "bodies/bodies/shadow.hpp"

namespace qv::bodies::loops::QV_SIMD_ISA {

void shadow(const double* r, const double* sun, std::size_t m, std::size_t first, std::size_t count,
            double* out) noexcept {
    using V = lanes::Widest;
    constexpr std::size_t W = lanes::Width<V>;
    for (std::size_t i = 0; i < count; i += W) {
        std::size_t n = count - i < W ? count - i : W;
        double c[6][W];
        for (std::size_t j = 0; j < W; ++j) {
            std::size_t k = i + (j < n ? j : n - 1);
            std::size_t t = (first + k) % m;
            for (int d = 0; d < 3; ++d) {
                c[d][j] = r[3 * k + d];
                c[3 + d][j] = sun[3 * t + d];
            }
        }
        V f = sunlit_fraction(lanes::load<V>(c[0]), lanes::load<V>(c[1]), lanes::load<V>(c[2]), lanes::load<V>(c[3]),
                              lanes::load<V>(c[4]), lanes::load<V>(c[5]));
        if (n == W) {
            lanes::store(out + i, f);
        } else {
            double t[W];
            lanes::store(t, f);
            std::memcpy(out + i, t, n * sizeof(double));
        }
    }
}

}  // namespace qv::bodies::loops::QV_SIMD_ISA
