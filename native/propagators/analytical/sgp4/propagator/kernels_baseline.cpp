// The sample loop for the baseline instruction set: one time per step.
#include "propagators/analytical/sgp4/propagator/batch.hpp"
#include "propagators/analytical/sgp4/propagator/propagate.hpp"

namespace qv::sgp4 {

void run_times_1(const Satellite& s, const double* tsince, std::size_t count, double* r, double* v,
                 std::int8_t* err) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        State<double> st = sample<double>(s, tsince[i]);
        for (int k = 0; k < 3; ++k) {
            r[3 * i + k] = st.r[k] * 1000.0;
            v[3 * i + k] = st.v[k] * 1000.0;
        }
        err[i] = static_cast<std::int8_t>(st.code);
    }
}

int widest_width() noexcept { return 1; }

RunTimes run_times_for(int width) noexcept { return width == 1 ? run_times_1 : nullptr; }

}  // namespace qv::sgp4
