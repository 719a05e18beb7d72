// The geodetic loops, compiled once per instruction set: a vector of the
// widest lane type of the unit at a time, the tail padded with its last
// sample (whose lanes are computed and dropped).
#include <cstring>

#include "mathtools/ellipsoid/kernels.hpp"

namespace qv::ellipsoid::loops::QV_SIMD_ISA {

namespace {
using V = lanes::Widest;
constexpr std::size_t W = lanes::Width<V>;
// The geodetic chain (square roots, a cube root, divisions, each waiting for
// the last) is bound by latency: four independent vectors in one
// instruction stream overlap their waits, and the loop is flattened (the
// kernel, the lane library's cbrt and the rare paths inlined) so that no
// call passes the lanes through memory.  At 4 lanes on AVX2: 33 ns a
// sample with one vector, 22 with two, 15 with four (cached inputs).  The
// fast path (geodetic_lanes) too is best with four: 15.7 ns with one
// vector, 12.4 with two, 10.9 with four; the closed form, which it calls
// out of line for the rare lanes outside its region, is no longer inlined.
// Rows of three load into lanes with load3 (vector loads and shuffles).
using G = lanes::Two<lanes::Two<lanes::Widest>>;
constexpr std::size_t GW = lanes::Width<G>;

// Lanes from rows of three for the tail: x, y, z of samples i .. i + count - 1,
// the last repeated.
inline void gather(const double* r, double* x, double* y, double* z, std::size_t count) {
    for (std::size_t j = 0; j < GW; ++j) {
        std::size_t k = 3 * (j < count ? j : count - 1);
        x[j] = r[k];
        y[j] = r[k + 1];
        z[j] = r[k + 2];
    }
}

template <bool exact>
QV_FORCE_INLINE inline void convert(const Shape& s, G x, G y, G z, G& lat, G& lon, G& h) {
    if constexpr (exact) {
        geodetic_exact_lanes(s, x, y, z, lat, lon, h);
    } else {
        geodetic_lanes(s, x, y, z, lat, lon, h);
    }
}

template <bool exact>
QV_FORCE_INLINE inline void geodetic_loop(const Shape& s, const double* r, std::size_t n, double* lat, double* lon,
                                          double* h) noexcept {
    double x[GW], y[GW], z[GW];
    std::size_t i = 0;
    for (; i + GW <= n; i += GW) {
        G xs, ys, zs, la, lo, he;
        lanes::load3(r + 3 * i, xs, ys, zs);
        convert<exact>(s, xs, ys, zs, la, lo, he);
        lanes::store(lat + i, la);
        lanes::store(lon + i, lo);
        lanes::store(h + i, he);
    }
    if (i == n) return;
    std::size_t m = n - i;
    gather(r + 3 * i, x, y, z, m);
    G la, lo, he;
    convert<exact>(s, lanes::load<G>(x), lanes::load<G>(y), lanes::load<G>(z), la, lo, he);
    double t[3][GW];
    lanes::store(t[0], la);
    lanes::store(t[1], lo);
    lanes::store(t[2], he);
    std::memcpy(lat + i, t[0], m * sizeof(double));
    std::memcpy(lon + i, t[1], m * sizeof(double));
    std::memcpy(h + i, t[2], m * sizeof(double));
}
}  // namespace

QV_FLATTEN void geodetic(const Shape& s, const double* r, std::size_t n, double* lat, double* lon,
                         double* h) noexcept {
    geodetic_loop<false>(s, r, n, lat, lon, h);
}

QV_FLATTEN void geodetic_exact(const Shape& s, const double* r, std::size_t n, double* lat, double* lon,
                               double* h) noexcept {
    geodetic_loop<true>(s, r, n, lat, lon, h);
}

void cartesian(const Shape& s, const double* lat, const double* lon, const double* h, std::size_t n,
               double* r) noexcept {
    std::size_t i = 0;
    for (; i + W <= n; i += W) {
        V x, y, z;
        cartesian_lanes(s, lanes::load<V>(lat + i), lanes::load<V>(lon + i), lanes::load<V>(h + i), x, y, z);
        lanes::store3(r + 3 * i, x, y, z);
    }
    if (i == n) return;
    std::size_t m = n - i;
    double in[3][W], out[3 * W];
    for (std::size_t j = 0; j < W; ++j) {
        std::size_t k = i + (j < m ? j : m - 1);
        in[0][j] = lat[k];
        in[1][j] = lon[k];
        in[2][j] = h[k];
    }
    V x, y, z;
    cartesian_lanes(s, lanes::load<V>(in[0]), lanes::load<V>(in[1]), lanes::load<V>(in[2]), x, y, z);
    lanes::store3(out, x, y, z);
    std::memcpy(r + 3 * i, out, 3 * m * sizeof(double));
}

}  // namespace qv::ellipsoid::loops::QV_SIMD_ISA
