// The sample loop, compiled once per instruction set: runs of times of one
// element set go through the widest lane type of the unit, the tail padded
// with its last time.  Every width gives the same bits.
#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "propagators/analytical/sgp4/propagator/propagate.hpp"

namespace qv::sgp4 {

namespace {

using V = double;
constexpr int W = lanes::Width<V>;

struct Lanes {
    double r[3][W], v[3][W], code[W];
};

inline void put(const State<V>& st, Lanes& out) {
    for (int k = 0; k < 3; ++k) {
        lanes::store(out.r[k], st.r[k] * 1000.0);
        lanes::store(out.v[k], st.v[k] * 1000.0);
    }
    lanes::store(out.code, st.code);
}

}  // namespace

void run_times_1(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                 std::int8_t* err) noexcept {
    Resonance<V> resonance;
    for (std::size_t i = 0; i < count; i += W) {
        std::size_t n = count - i < W ? count - i : W;
        double t[W];
        for (std::size_t j = 0; j < W; ++j) t[j] = tsince[i + (j < n ? j : n - 1)];
        Lanes out;
        put(sample(s, lanes::load<V>(t), resonance), out);
        for (std::size_t j = 0; j < n; ++j) {
            for (int k = 0; k < 3; ++k) {
                r[3 * (i + j) + k] = out.r[k][j];
                v[3 * (i + j) + k] = out.v[k][j];
            }
            err[i + j] = static_cast<std::int8_t>(out.code[j]);
        }
    }
}

int widest_width() noexcept { return 1; }

RunTimes run_times_for(int width) noexcept { return width == 1 ? run_times_1 : nullptr; }

}  // namespace qv::sgp4
