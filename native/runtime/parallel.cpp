#include "runtime/parallel.hpp"

#include "runtime/args.hpp"

#include <sched.h>

#include <atomic>
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
    // More threads than processors only time-share them; the cap keeps a
    // huge request from trying to start millions of threads.
    constexpr long long cap = 1024;
    *out = overflow > 0 || n > cap ? static_cast<int>(cap) : static_cast<int>(n);
    return 0;
}

}  // namespace qv
