// The sample loop, compiled once per instruction set: runs of times of one
// element set go through four vectors of the widest lane type of the unit
// at once (4, 16 or 32 times), the tail padded with its last time (whose
// lanes are computed and dropped).  A sample is a long chain of dependent
// steps, so one vector at a time leaves the processor waiting on latencies;
// four independent ones fill those waits.  Every width gives the same bits
// (propagate.hpp).
#include <cstring>

#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "propagators/analytical/sgp4/propagator/propagate.hpp"

namespace qv::sgp4 {

namespace {

using V = lanes::Two<lanes::Two<lanes::Widest>>;  // four vectors
constexpr std::size_t W = lanes::Width<V>;

// One sample vector's results into rows of three (metres, m/s) and codes.
inline void put(const State<V>& st, double* r, double* v, std::int8_t* err) {
    lanes::store3(r, st.r[0] * 1000.0, st.r[1] * 1000.0, st.r[2] * 1000.0);
    lanes::store3(v, st.v[0] * 1000.0, st.v[1] * 1000.0, st.v[2] * 1000.0);
    lanes::store_int8(err, st.code);
}

}  // namespace

namespace loops::QV_SIMD_ISA {

void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept {
    Resonance<V> resonance;
    std::size_t i = 0;
    for (; i + W <= count; i += W) put(sample(s, lanes::load<V>(tsince + i), resonance), r + 3 * i, v + 3 * i, err + i);
    if (i == count) return;
    // The tail: padded with its last time, the padding's results dropped.
    std::size_t n = count - i;
    double t[W], rs[3 * W], vs[3 * W];
    std::int8_t es[W];
    for (std::size_t j = 0; j < W; ++j) t[j] = tsince[i + (j < n ? j : n - 1)];
    put(sample(s, lanes::load<V>(t), resonance), rs, vs, es);
    std::memcpy(r + 3 * i, rs, 3 * n * sizeof(double));
    std::memcpy(v + 3 * i, vs, 3 * n * sizeof(double));
    std::memcpy(err + i, es, n);
}

// One time in one lane (compiled in every unit like the loop; the binding
// layer calls the baseline one).
void sample_one(const Satellite& s, double tsince, double* r, double* v, std::int8_t* err) noexcept {
    Resonance<double> resonance;
    State<double> st = sample(s, tsince, resonance);
    for (int k = 0; k < 3; ++k) {
        r[k] = st.r[k] * 1000.0;
        v[k] = st.v[k] * 1000.0;
    }
    *err = static_cast<std::int8_t>(st.code);
}

}  // namespace loops::QV_SIMD_ISA

}  // namespace qv::sgp4
