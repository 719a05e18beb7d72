"""Timing and memory helpers shared by the benchmark cases.

Every implementation is timed the same way: a `timeit.Timer` over a statement
string (so a scalar call is not wrapped in an extra Python frame), a warm-up,
an autoranged loop count for small calls, several repeats interleaved with
those of the implementations it is compared with, and the median of the
per-call times.  Only `time.perf_counter` is used.
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


@dataclasses.dataclass
class Timed:
    """A statement to time: `stmt` evaluated in `env`, handling `items` per call."""

    label: str
    stmt: str
    env: dict[str, Any]
    items: int = 1
    note: str | None = None
    repeat: int = 9
    budget: float = 2.0  # seconds all repeats together should take, about
    min_repeat: int = 3
    unavailable: str | None = None  # reason it cannot run; then nothing is timed
    gc: bool = False  # keep the cyclic garbage collector running while timing (timeit stops it)


def time_together(timings: list[Timed], *, min_sample: float = 0.05, warmup: int = 1,
                  alternate: bool = False) -> list[Measured]:
    """Time several statements, interleaving their repeats.

    Each statement is warmed up (which also triggers JIT compilation of peers
    that compile on first call) and given a loop count: the smallest of 1, 2,
    5, 10, 20, ... whose loop lasts at least `min_sample` seconds, as timeit's
    autorange does.  Its number of repeats is `repeat`, reduced for slow
    statements so that they stay within about `budget` seconds, but never
    below `min_repeat`.  The repeats then run round-robin (one of each
    statement in turn), so that a change in the machine's load during the
    case affects ours and the peers alike; each result is the median of its
    per-call times.  With `alternate`, every other round runs the statements
    in reverse order (A B, B A, A B, ...), so that neither always follows the
    other; `paired` then compares them round by round.  A statement that
    raises is reported, not timed.
    """
    plans = []
    for timed in timings:
        if timed.unavailable:
            plans.append(None)
            continue
        try:
            setup = "import gc; gc.enable()" if timed.gc else "pass"
            timer = timeit.Timer(timed.stmt, setup, timer=time.perf_counter, globals=timed.env)
            if warmup:
                timer.timeit(warmup)
            number = 1
            elapsed = timer.timeit(1)
            while elapsed < min_sample:
                number = _next_number(number)
                elapsed = timer.timeit(number)
        except Exception as exc:  # an unfinished module or a peer that fails on these inputs
            timed.unavailable = f"raised {type(exc).__name__}: {exc}"
            plans.append(None)
            continue
        runs = max(timed.min_repeat, min(timed.repeat, int(timed.budget / max(elapsed, 1e-9))))
        plans.append([timer, number, runs, [elapsed / number]])
    for round_ in range(1, max((p[2] for p in plans if p), default=0)):
        for plan in (plans[::-1] if alternate and round_ % 2 else plans):
            if plan and round_ < plan[2]:
                timer, number, _, samples = plan
                samples.append(timer.timeit(number) / number)
    out = []
    for timed, plan in zip(timings, plans):
        if plan is None:
            out.append(unavailable(timed.label, timed.unavailable, timed.items))
        else:
            _, number, _, samples = plan
            out.append(Measured(timed.label, statistics.median(samples), samples, number, timed.items, timed.stmt, timed.note))
    return out


def paired(a: Measured, b: Measured, how: Callable[[float, float], float]) -> float | None:
    """Median over the rounds both were timed in of how(a's time, b's time).

    Two statements timed together (with `alternate`) ran one right after the
    other in every round, so a round's pair saw the same machine: the median
    of the per-round differences or ratios is steadier than the difference or
    ratio of the two medians when the machine's speed drifts during the case.
    The first sample of each (taken while choosing the loop count) is left
    out: it was not interleaved.
    """
    if a.median is None or b.median is None:
        return None
    pairs = list(zip(a.samples[1:], b.samples[1:])) or [(a.median, b.median)]
    return statistics.median(how(x, y) for x, y in pairs)


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
    slack: int = 64 * 1024  # bytes the call may allocate besides its result (the target)

    @property
    def excess(self) -> int | None:
        if self.peak is None or self.result is None:
            return None
        return self.peak - self.result


def traced_peak(label: str, call: Callable[[], Any], baseline: bool = False, slack: int = 64 * 1024) -> Memory:
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
    return Memory(label, peak - before, _nbytes(result), baseline, slack)


def _nbytes(result: Any) -> int:
    if isinstance(result, (tuple, list)):
        return sum(_nbytes(item) for item in result)
    return int(getattr(result, "nbytes", 0))
