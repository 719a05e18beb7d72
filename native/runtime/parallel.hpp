// Work split over threads, for kernels that run without the interpreter lock.
//
// Results must never depend on how many threads ran: callers cut the work
// into tasks whose outputs are disjoint and whose arithmetic does not depend
// on which thread takes them, so any thread count gives the same bits.
// Threads are started for one call and joined before it returns: no pool
// outlives a call, so a process may fork (worker processes of multiprocessing
// or Dask) at any time between calls.
#pragma once

#include <cstddef>
#include <functional>

#include "runtime/ref.hpp"

namespace qv {

// Number of processors this process may run on (its affinity mask), at least 1.
int available_cpus() noexcept;

// Run task(i) for every i in [0, n) on at most `threads` threads, the calling
// thread included; tasks are handed out in increasing order from a shared
// counter.  Returns when every task has run.  Tasks must not throw.  When a
// thread cannot be started, the threads already running take its share.
void parallel_for(std::size_t n, int threads, const std::function<void(std::size_t)>& task);

// As parallel_for, for tasks that write consecutive stretches of fresh
// outputs: thread k starts on its own contiguous share of the tasks (the
// k-th of `threads` equal shares) in increasing order, and once it is done
// takes tasks one at a time from the far end of the others' shares.  The
// threads first touch (fault and zero) pages far apart, instead of
// neighbouring ones at the same moment, and single tasks still even out
// the load at the end.  At most 2^32 - 1 tasks.
void parallel_for_shares(std::size_t n, int threads, const std::function<void(std::size_t)>& task);

// The `threads=` argument of the Python-facing layers: None (or a null
// pointer, for an argument not given) is every available processor; an int
// of at least 1 is that many, at most every available processor (the one
// cap of every caller).  Returns 0 and sets *out, or -1 with TypeError
// ("threads must be None or an int") or ValueError ("threads must be at
// least 1, got N").  Holds the interpreter lock.
int threads_argument(PyObject* value, int* out);

}  // namespace qv
