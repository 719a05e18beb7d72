"""Timing and memory helpers shared by the benchmark cases.

Every implementation is timed the same way: a `timeit.Timer` over a statement
string (so a scalar call is not wrapped in an extra Python frame), a warm-up,
an autoranged loop count for small calls, several repeats and the median of
the per-call times.  Only `time.perf_counter` is used.
"""

from __future__ import annotations

import dataclasses
import statistics
import time
import timeit
import tracemalloc
from typing import Any, Callable


@dataclasses.dataclass
class Measured:
    """Median time of one implementation on one case."""

    label: str
    median: float | None  # seconds per call of the statement
    samples: list[float]  # seconds per call, one per repeat
    number: int  # calls per repeat
    items: int  # elements, states or records handled per call
    stmt: str
    note: str | None = None  # why there is no time, or how the call was made

    @property
    def per_item(self) -> float | None:
        if self.median is None or not self.items:
            return None
        return self.median / self.items


def unavailable(label: str, why: str, items: int = 1) -> Measured:
    return Measured(label, None, [], 0, items, "", note=why)


def time_stmt(
    label: str,
    stmt: str,
    env: dict[str, Any],
    *,
    items: int = 1,
    min_sample: float = 0.05,
    repeat: int = 9,
    budget: float = 2.0,
    min_repeat: int = 3,
    warmup: int = 1,
    note: str | None = None,
) -> Measured:
    """Time `stmt` evaluated in `env`.

    The warm-up calls run first (they also trigger JIT compilation of peers
    that compile on first call).  The loop count is the smallest of 1, 2, 5,
    10, 20, ... whose loop lasts at least `min_sample` seconds, as timeit's
    autorange does.  The number of repeats is `repeat`, reduced for slow
    statements so that the repeats together stay within about `budget`
    seconds, but never below `min_repeat`.
    """
    timer = timeit.Timer(stmt, timer=time.perf_counter, globals=env)
    if warmup:
        timer.timeit(warmup)
    number = 1
    elapsed = timer.timeit(1)
    while elapsed < min_sample:
        number = _next_number(number)
        elapsed = timer.timeit(number)
    runs = max(min_repeat, min(repeat, int(budget / max(elapsed, 1e-9))))
    samples = [elapsed / number]
    samples += [t / number for t in timer.repeat(repeat=runs - 1, number=number)]
    return Measured(label, statistics.median(samples), samples, number, items, stmt, note)


def _next_number(number: int) -> int:
    # 1, 2, 5, 10, 20, 50, ... as timeit.Timer.autorange
    digits = len(str(number)) - 1
    lead = number // 10**digits
    if lead == 1:
        return 2 * 10**digits
    if lead == 2:
        return 5 * 10**digits
    return 10 ** (digits + 1)


@dataclasses.dataclass
class Memory:
    """Peak traced memory of one call against the size of what it returns."""

    label: str
    peak: int | None  # bytes traced at the peak, above the level before the call
    result: int | None  # bytes of the arrays returned
    baseline: bool = False  # a peer's call, shown for comparison only

    @property
    def excess(self) -> int | None:
        if self.peak is None or self.result is None:
            return None
        return self.peak - self.result


def traced_peak(label: str, call: Callable[[], Any], baseline: bool = False) -> Memory:
    """Run `call` once under tracemalloc and compare its peak with its result.

    NumPy reports its data buffers to tracemalloc, so the result arrays are
    part of the peak; anything above their size is what the call allocated on
    the way (temporaries, per-element Python objects).
    """
    call()  # warm caches (attribute lookups, first-call allocations)
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        before, _ = tracemalloc.get_traced_memory()
        result = call()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return Memory(label, peak - before, _nbytes(result), baseline)


def _nbytes(result: Any) -> int:
    if isinstance(result, tuple):
        return sum(_nbytes(item) for item in result)
    return int(getattr(result, "nbytes", 0))
