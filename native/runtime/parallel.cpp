#include "runtime/parallel.hpp"

#include "runtime/args.hpp"

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace qv {

int available_cpus() noexcept {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

void parallel_for(std::size_t n, int threads, const std::function<void(std::size_t)>& task) {
    if (n == 0) return;
    std::size_t workers = threads < 1 ? 1 : static_cast<std::size_t>(threads);
    if (workers > n) workers = n;
    if (workers == 1) {
        for (std::size_t i = 0; i < n; ++i) task(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next.fetch_add(1, std::memory_order_relaxed); i < n;
             i = next.fetch_add(1, std::memory_order_relaxed)) {
            task(i);
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (std::size_t k = 1; k < workers; ++k) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads already started (and this one) do the rest
        }
    }
    work();
    for (auto& t : pool) t.join();
}

namespace {

// One thread's share of the tasks, [front, back), both in one word so that
// the owner taking the front and others taking the back never both take the
// last task.
struct alignas(64) Share {
    std::atomic<std::uint64_t> bounds;

    static std::uint64_t pack(std::uint64_t front, std::uint64_t back) { return front << 32 | back; }

    bool take_front(std::size_t* i) {
        std::uint64_t v = bounds.load(std::memory_order_relaxed);
        for (;;) {
            const std::uint64_t front = v >> 32, back = v & 0xffffffffu;
            if (front >= back) return false;
            if (bounds.compare_exchange_weak(v, pack(front + 1, back), std::memory_order_relaxed)) {
                *i = static_cast<std::size_t>(front);
                return true;
            }
        }
    }

    bool take_back(std::size_t* i) {
        std::uint64_t v = bounds.load(std::memory_order_relaxed);
        for (;;) {
            const std::uint64_t front = v >> 32, back = v & 0xffffffffu;
            if (front >= back) return false;
            if (bounds.compare_exchange_weak(v, pack(front, back - 1), std::memory_order_relaxed)) {
                *i = static_cast<std::size_t>(back - 1);
                return true;
            }
        }
    }
};

}  // namespace

void parallel_for_shares(std::size_t n, int threads, const std::function<void(std::size_t)>& task) {
    if (n == 0) return;
    std::size_t workers = threads < 1 ? 1 : static_cast<std::size_t>(threads);
    if (workers > n) workers = n;
    if (workers == 1 || n > 0xffffffffu) {
        parallel_for(n, threads, task);
        return;
    }
    std::vector<Share> shares(workers);
    for (std::size_t k = 0; k < workers; ++k)
        shares[k].bounds.store(Share::pack(n * k / workers, n * (k + 1) / workers), std::memory_order_relaxed);
    auto work = [&](std::size_t k) {
        std::size_t i;
        while (shares[k].take_front(&i)) task(i);
        for (std::size_t step = 1; step < shares.size(); ++step) {
            Share& other = shares[(k + step) % shares.size()];
            while (other.take_back(&i)) task(i);
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (std::size_t k = 1; k < workers; ++k) {
        try {
            pool.emplace_back(work, k);
        } catch (const std::system_error&) {
            break;  // the shares of threads not started are taken from their far ends by the others
        }
    }
    work(0);
    for (auto& t : pool) t.join();
}

int threads_argument(PyObject* value, int* out) {
    long long n = 0;
    int overflow = 0;
    const int given = optional_int_argument(value, "threads", &n, &overflow);
    if (given <= 0) {
        if (given == 0) *out = available_cpus();
        return given;
    }
    if (overflow < 0 || (overflow == 0 && n < 1)) {
        PyErr_Format(PyExc_ValueError, "threads must be at least 1, got %S", value);
        return -1;
    }
    // More threads than processors only time-share them and add start-up
    // cost (each call starts its own); the results do not depend on the
    // count, so a larger request (a huge one included) gets every processor.
    const int cap = available_cpus();
    *out = overflow > 0 || n > cap ? cap : static_cast<int>(n);
    return 0;
}

}  // namespace qv
