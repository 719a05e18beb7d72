// The sample loop, compiled once per instruction set: runs of times of one
// element set go through four vectors of the widest lane type of the unit
// at once (4, 16 or 32 times), the tail padded with its last time (whose
// lanes are computed and dropped).  A sample is a long chain of dependent
// steps, so one vector at a time leaves the processor waiting on latencies;
// four independent ones fill those waits.  Every width gives the same bits
// (propagate.hpp).
#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "propagators/analytical/sgp4/propagator/propagate.hpp"

namespace qv::sgp4 {

namespace {

using V = lanes::Two<lanes::Two<lanes::Widest>>;  // four vectors
constexpr std::size_t W = lanes::Width<V>;

struct Lanes {
    double r[3][W], v[3][W], code[W];
};

}  // namespace

namespace loops::QV_SIMD_ISA {

void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept {
    Resonance<V> resonance;
    for (std::size_t i = 0; i < count; i += W) {
        std::size_t n = count - i < W ? count - i : W;
        double t[W];
        for (std::size_t j = 0; j < W; ++j) t[j] = tsince[i + (j < n ? j : n - 1)];
        State<V> st = sample(s, lanes::load<V>(t), resonance);
        Lanes out;
        for (int k = 0; k < 3; ++k) {
            lanes::store(out.r[k], st.r[k] * 1000.0);
            lanes::store(out.v[k], st.v[k] * 1000.0);
        }
        lanes::store(out.code, st.code);
        for (std::size_t j = 0; j < n; ++j) {
            for (int k = 0; k < 3; ++k) {
                r[3 * (i + j) + k] = out.r[k][j];
                v[3 * (i + j) + k] = out.v[k][j];
            }
            err[i + j] = static_cast<std::int8_t>(out.code[j]);
        }
    }
}

}  // namespace loops::QV_SIMD_ISA

}  // namespace qv::sgp4
