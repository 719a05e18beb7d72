// Tiles of a batch and the threads that run them.
#include "propagators/analytical/sgp4/propagator/batch.hpp"

#include <algorithm>
#include <cmath>

#include "runtime/parallel.hpp"

namespace qv::sgp4 {

namespace {

// Times per tile: small enough that the scratch arrays stay in the first
// cache level, large enough that a tile outweighs taking it.  A resonant
// deep-space set integrates from epoch at the first time of each tile (and
// resumes within it), so catalogues holding one get longer tiles.
constexpr std::size_t chunk = 512;
constexpr std::size_t resonant_chunk = 4096;
// Below this many samples a call runs on the calling thread alone.
constexpr std::size_t min_parallel = 8192;

const double nan_value = std::nan("");

// Index of the set a history uses at an instant, and the minutes from its
// epoch.  Before the first epoch the first set; `nearest` takes the closer
// of the neighbouring epochs, the later one on a tie.
void history_instant(const Job& job, std::int64_t t, std::size_t* k, double* ts) {
    if (t == nat) {
        *k = 0;
        *ts = nan_value;
        return;
    }
    const std::int64_t* end = job.epochs + job.n;
    std::size_t i = static_cast<std::size_t>(std::upper_bound(job.epochs, end, t) - job.epochs);
    std::size_t j = i == 0 ? 0 : i - 1;
    if (job.nearest && i > 0 && i < job.n) {
        __int128 before = static_cast<__int128>(t) - job.epochs[j];
        __int128 after = static_cast<__int128>(job.epochs[i]) - t;
        if (after <= before) j = i;
    }
    *k = j;
    *ts = minutes_between(job.epochs[j], t);
}

void history_tsince(const Job& job, double x, std::size_t* k, double* ts) {
    if (!(x == x)) {
        *k = 0;
        *ts = x;
        return;
    }
    const double* end = job.offsets + job.n;
    std::size_t i = static_cast<std::size_t>(std::upper_bound(job.offsets, end, x) - job.offsets);
    std::size_t j = i == 0 ? 0 : i - 1;
    if (job.nearest && i > 0 && i < job.n && job.offsets[i] - x <= x - job.offsets[j]) j = i;
    *k = j;
    *ts = x - job.offsets[j];
}

void history_tile(const Job& job, std::size_t first, std::size_t count) {
    std::size_t set[resonant_chunk];
    double ts[resonant_chunk];
    for (std::size_t j = 0; j < count; ++j) {
        if (job.times)
            history_instant(job, instant(job, first + j), &set[j], &ts[j]);
        else
            history_tsince(job, job.tsince[first + j], &set[j], &ts[j]);
    }
    // Runs of times that use the same set go through the vector loop together.
    for (std::size_t a = 0; a < count;) {
        std::size_t b = a + 1;
        while (b < count && set[b] == set[a]) ++b;
        std::size_t at = first + a;
        if (job.turn)
            job.run_turned(job.sats[set[a]], ts + a, b - a, job.r + 3 * at, job.v + 3 * at, job.err + at, *job.turn,
                           at);
        else
            job.run(job.sats[set[a]], ts + a, b - a, job.r + 3 * at, job.v + 3 * at, job.err + at);
        a = b;
    }
}

void set_tile(const Job& job, std::size_t i, std::size_t first, std::size_t count) {
    std::size_t at = i * job.m + first;
    const double* ts;
    double scratch[resonant_chunk];
    if (job.times) {
        const std::int64_t epoch = job.epochs[i];
        if (job.time_scale.identity()) {
            const std::int64_t* raw = job.times + first;
            for (std::size_t j = 0; j < count; ++j)
                scratch[j] = raw[j] == nat ? nan_value : minutes_between(epoch, raw[j]);
        } else {
            for (std::size_t j = 0; j < count; ++j) {
                std::int64_t t = instant(job, first + j);
                scratch[j] = t == nat ? nan_value : minutes_between(epoch, t);
            }
        }
        ts = scratch;
    } else {
        ts = job.tsince + (job.tsince_per_set ? at : first);
    }
    if (job.turn)
        job.run_turned(job.sats[i], ts, count, job.r + 3 * at, job.v + 3 * at, job.err + at, *job.turn, first);
    else
        job.run(job.sats[i], ts, count, job.r + 3 * at, job.v + 3 * at, job.err + at);
}

}  // namespace

std::int64_t instant(const Job& job, std::size_t j) noexcept { return time::scaled_instant(job.times[j], job.time_scale); }

RunTimes run_times_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::run_times;
        case 4: return loops::avx2::run_times;
        default: return loops::baseline::run_times;
    }
}

RunTimesTurned run_times_turned_for(int lanes) noexcept {
    switch (lanes) {
        case 8: return loops::avx512::run_times_turned;
        case 4: return loops::avx2::run_times_turned;
        default: return loops::baseline::run_times_turned;
    }
}

void run_job(const Job& job, int threads) {
    bool resonant = false;
    for (std::size_t i = 0; i < job.n && !resonant; ++i) resonant = job.sats[i].irez != 0;
    const std::size_t size = resonant ? resonant_chunk : chunk;
    std::size_t chunks = (job.m + size - 1) / size;
    std::size_t tiles = job.history ? chunks : job.n * chunks;
    std::size_t samples = job.history ? job.m : job.n * job.m;
    if (tiles == 0) return;
    if (samples < min_parallel) threads = 1;
    // Each thread starts on its own contiguous share of the tiles and then
    // takes single tiles from the far end of the others' (parallel_for_shares):
    // the threads write (and first touch) new pages of the outputs far
    // apart, where threads taking neighbouring tiles in turn would fault the
    // same 2 MiB huge pages at once and wait for each other's zeroing; the
    // single tiles at the end even out sets of unequal cost (deep-space and
    // resonant sets).
    parallel_for_shares(tiles, threads, [&job, chunks, size](std::size_t tile) {
        std::size_t i = tile / chunks, c = tile % chunks;
        std::size_t first = c * size, count = std::min(size, job.m - first);
        if (job.history)
            history_tile(job, first, count);
        else
            set_tile(job, i, first, count);
    });
}

}  // namespace qv::sgp4
