// The sample loop, compiled once per instruction set: runs of times of one
// element set go through four vectors of the widest lane type of the unit
// at once (4, 16 or 32 times), the tail padded with its last time (whose
// lanes are computed and dropped).  A sample is a long chain of dependent
// steps, so one vector at a time leaves the processor waiting on latencies;
// four independent ones fill those waits.  Every width gives the same bits
// (propagate.hpp).
#include <cstring>

#include "frames/frames/rotate.hpp"
#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "propagators/analytical/sgp4/propagator/propagate.hpp"

namespace qv::sgp4 {

// Everything in the unit's own namespace, helpers too: a sanitizer build
// does not inline them, and a baseline function must hold no AVX code.
namespace loops::QV_SIMD_ISA {

namespace {

using V = lanes::Two<lanes::Two<lanes::Widest>>;  // four vectors
constexpr std::size_t W = lanes::Width<V>;

// One sample vector's results into rows of three (metres, m/s) and codes.
inline void put(const State<V>& st, double* r, double* v, std::int8_t* err) {
    lanes::store3(r, st.r[0] * 1000.0, st.r[1] * 1000.0, st.r[2] * 1000.0);
    lanes::store3(v, st.v[0] * 1000.0, st.v[1] * 1000.0, st.v[2] * 1000.0);
    lanes::store_int8(err, st.code);
}

// The same, turned into another frame by the matrices of times j, j + 1, ...
// on the way out (frames::rotate_lanes: the bits of rotate_sample applied to
// what put() stores).
inline void put_turned(const State<V>& st, double* r, double* v, std::int8_t* err, const Turn& q, std::size_t j) {
    V ro[3], vo[3];
    frames::rotate_lanes(q.soa, q.m, j, st.r[0] * 1000.0, st.r[1] * 1000.0, st.r[2] * 1000.0, st.v[0] * 1000.0,
                         st.v[1] * 1000.0, st.v[2] * 1000.0, ro, vo);
    lanes::store3(r, ro[0], ro[1], ro[2]);
    lanes::store3(v, vo[0], vo[1], vo[2]);
    lanes::store_int8(err, st.code);
}

template <bool turned>
QV_FORCE_INLINE inline void run_loop(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                                     std::int8_t* err, const Turn* q, std::size_t j0) {
    Resonance<V> resonance;
    std::size_t i = 0;
    for (; i + W <= count; i += W) {
        State<V> st = sample(s, lanes::load<V>(tsince + i), resonance);
        if constexpr (turned)
            put_turned(st, r + 3 * i, v + 3 * i, err + i, *q, j0 + i);
        else
            put(st, r + 3 * i, v + 3 * i, err + i);
    }
    if (i == count) return;
    // The tail: padded with its last time, the padding's results dropped;
    // turned sample by sample (the same bits as the lanes).
    std::size_t n = count - i;
    double t[W], rs[3 * W], vs[3 * W];
    std::int8_t es[W];
    for (std::size_t j = 0; j < W; ++j) t[j] = tsince[i + (j < n ? j : n - 1)];
    put(sample(s, lanes::load<V>(t), resonance), rs, vs, es);
    if constexpr (turned) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t j = j0 + i + k;
            frames::rotate_sample(q->R + 9 * j, q->Rdot + 9 * j, rs + 3 * k, vs + 3 * k, rs + 3 * k, vs + 3 * k);
        }
    }
    std::memcpy(r + 3 * i, rs, 3 * n * sizeof(double));
    std::memcpy(v + 3 * i, vs, 3 * n * sizeof(double));
    std::memcpy(err + i, es, n);
}

}  // namespace

void run_times(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
               std::int8_t* err) noexcept {
    run_loop<false>(s, tsince, count, r, v, err, nullptr, 0);
}

void run_times_turned(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                      std::int8_t* err, const Turn& turn, std::size_t j0) noexcept {
    run_loop<true>(s, tsince, count, r, v, err, &turn, j0);
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
