"""The "sgp4" group: quorvane's SGP4 propagator against its peers.

Three workloads (`sgp4_work`): the ISS at 10⁶ times, the 1,511 real sets at
1,440 minutes from each epoch, and the same sets on a common UTC grid per
catalogue file.  Two tables:

- one thread: every thread of the process pinned to one CPU
  (`os.sched_setaffinity` on each task), heyoka told `set_nthreads(1)`, ours
  called with `threads=1`;
- all threads: the process on all its CPUs, ours with `threads=None`, the
  peers at their defaults.  The ratio of ours with `threads=None` to ours
  with `threads=1` comes from a pair timed on its own (their repeats
  interleaved, nothing else in between): a peer's thread pool may keep
  spinning after its call (heyoka's TBB workers do) and take a core from
  whatever runs next, which would make the ratio a measure of the peers.

Set-up (parsing, initialisation, heyoka's compilation, input arrays) happens
before the timing and has a row of its own; the outputs are allocated
inside every timed call.  Accuracy is measured once, outside the timing,
against python-sgp4 on the same samples.
"""

from __future__ import annotations

import contextlib
import os
import time

import numpy as np

import sgp4_peers as peers
import sgp4_work as work
from cases import load
from model import Case, Target, compare, fastest
from timing import Timed, time_together, traced_peak

ONE = "SGP4, one thread (all threads pinned to one CPU)"
ALL = "SGP4, all threads"
MEMORY_SLACK = 2**20  # a propagate call may allocate 1 MiB besides its outputs
SLOW = {"repeat": 5, "budget": 3.0}  # python-sgp4 takes ~1 s a call on the larger workloads


def sgp4_cases() -> list[Case]:
    api, _ = load("sgp4.api")
    prepared = []
    for w in (work.iss(), work.catalogue_tsince(), work.catalogue_grid()):
        sats = peers.satrecs(w, api) if api is not None else None
        if sats is not None:
            w.deep = np.array([s.method == "d" for s in sats])
        calls = peers.python_sgp4(w, sats) + peers.astroz(w) + peers.heyoka(w, sats) + peers.satkit(w)
        prepared.append((w, calls))
    done = []
    with one_cpu() as heyoka_threads:
        done.append(setup_case(prepared[1][0], api))
        for w, calls in prepared:
            done += one_thread_cases(w, calls)
    for w, calls in prepared:
        done.append(all_threads_case(w, calls, heyoka_threads))
    return done


# ----------------------------------------------------------------------------- thread settings


def _pin(cpus) -> None:
    """Set the CPU affinity of every thread of this process (sched_setaffinity(0) sets only the caller's)."""
    for tid in os.listdir("/proc/self/task"):
        try:
            os.sched_setaffinity(int(tid), cpus)
        except OSError:  # the thread ended meanwhile
            pass


@contextlib.contextmanager
def one_cpu():
    """Pin the process to one CPU and heyoka to one thread; yields heyoka's own default."""
    before = os.sched_getaffinity(0)
    hy, _ = load("heyoka")
    default = hy.get_nthreads() if hy is not None else None
    _pin({min(before)})
    if hy is not None:
        hy.set_nthreads(1)
    try:
        yield default
    finally:
        if hy is not None:
            hy.set_nthreads(default)
        _pin(before)


def _cpu_share(call: peers.Call) -> str | None:
    """CPU time ÷ wall time of one call: about the number of cores it kept busy."""
    if call.unavailable:
        return None
    wall, cpu = time.perf_counter(), time.process_time()
    eval(call.stmt, call.env)
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    return f"CPU time ÷ wall time of one call: {cpu / wall:.2f}"


# ----------------------------------------------------------------------------- cases


def setup_case(w: work.Workload, api) -> Case:
    """Text to a propagator ready to run, for the whole catalogue (one thread)."""
    duo, duo_why = load(peers.DUOLINE)
    mod, mod_why = load(peers.OURS)
    az, az_why = load("astroz.api")
    hy, hy_why = load("heyoka")
    sk, sk_why = load("satkit")
    sgp4_why = None if api is not None else "sgp4 not importable"
    env = {
        "P": w.pairs,
        "L": [line for pair in w.pairs for line in pair],
        "S": [api.Satrec.twoline2rv(a, b, api.WGS72) for a, b in w.pairs] if api is not None else None,
        "D": duo and duo.DUOLINE,
        "SGP4": mod and mod.SGP4,
    }
    kw = {"repeat": 5, "budget": 1.0}
    timings = [
        Timed("DUOLINE(line1, line2) ×1,511 + SGP4(records)", "SGP4([D(a, b) for a, b in P])", env, w.n,
              unavailable=mod_why or duo_why, **kw),
        Timed("python-sgp4 Satrec.twoline2rv ×1,511", "[t2(a, b, C) for a, b in P]",
              {**env, "t2": api and api.Satrec.twoline2rv, "C": api and api.WGS72}, w.n, unavailable=sgp4_why, **kw),
        Timed("astroz Satrec.twoline2rv ×1,511", "[t2(a, b, C) for a, b in P]",
              {**env, "t2": az and az.Satrec.twoline2rv, "C": az and az.WGS72}, w.n, unavailable=az_why, **kw),
        Timed("heyoka sgp4_propagator(python-sgp4 records), compiled code from its disk cache", "f(S)",
              {**env, "f": hy and hy.model.sgp4_propagator}, w.n, unavailable=hy_why or sgp4_why, **kw),
        Timed("satkit TLE.from_lines (parsing only: satkit initialises in every sgp4 call)", "f(L)",
              {**env, "f": sk and sk.TLE.from_lines}, w.n, unavailable=sk_why, **kw),
    ]
    mine, *rest = time_together(timings)
    return Case("SGP4 set-up: text of 1,511 sets to a propagator ready to run, one thread", mine,
                [compare(mine, m) for m in rest])


def one_thread_cases(w: work.Workload, calls: list[peers.Call]) -> list[Case]:
    mine_call, out_call = peers.ours(w, 1)
    label = f"{w.label}: "
    timings = [mine_call.timed(w.samples, label), out_call.timed(w.samples, label)]
    suffix = {"heyoka": " (set_nthreads(1))"}
    timings += [c.timed(w.samples, suffix=suffix.get(c.peer, ""), **(SLOW if c.peer == "python-sgp4" else {}))
                for c in calls]
    mine, mine_out, *measured = time_together(timings)
    rows, targets = [], []
    for call, m in zip(calls, measured):
        target = ("≥ 10× faster than python-sgp4", "<=", 0.1) if call.peer == "python-sgp4" else None
        rows.append(compare(mine, m, target))
    astroz_rows = [row for row, call in zip(rows, calls) if call.peer == "astroz"]
    best = fastest(astroz_rows)
    targets.append(Target(f"no slower than astroz ({best.measured.label if best else 'not measured'})",
                          best.ratio if best else None, "<=", 1.0))
    case = Case(ONE, mine, rows, targets, accuracy=accuracies(w, [mine_call] + calls))
    return [case, Case(ONE, mine_out, [compare(mine_out, mine)])]


def all_threads_case(w: work.Workload, calls: list[peers.Call], heyoka_threads) -> Case:
    mine_call, _ = peers.ours(w, None)
    one_call, _ = peers.ours(w, 1)
    label = f"{w.label}: "
    suffix = {"heyoka": f" (its default: {heyoka_threads} threads)"}
    # Ours against ours first, with no peer in between.
    mine_pair, one = time_together([mine_call.timed(w.samples, label), one_call.timed(w.samples, label)])
    timings = [mine_call.timed(w.samples, label)]
    timings += [c.timed(w.samples, suffix=suffix.get(c.peer, ""), **(SLOW if c.peer == "python-sgp4" else {}))
                for c in calls]
    mine, *measured = time_together(timings)
    same = None
    if not mine_call.unavailable and not one_call.unavailable:
        same = "threads=None vs threads=1: " + _bits(mine_call.result(), one_call.result())
    share = _cpu_share(mine_call)
    pair = None
    if mine_pair.per_item is not None:
        pair = f"threads=None in this pair: {mine_pair.per_item * 1e9:.1f} ns a sample"
    remark = "; ".join(x for x in (pair, share and f"threads=None: {share}") if x) or None
    rows = [compare(mine_pair, one, ("≥ 1.8× faster than our threads=1 (timed as a pair, no peer between)", "<=",
                                     1 / 1.8), agreement=same, remark=remark)]
    rows += [compare(mine, m, remark=_cpu_share(c)) for c, m in zip(calls, measured)]
    case = Case(ALL, mine, rows)
    if not mine_call.unavailable:
        case.memory.append(traced_peak(mine.label, lambda: eval(mine_call.stmt, mine_call.env), slack=MEMORY_SLACK))
    return case


def _bits(a, b) -> str:
    same = all(np.array_equal(x, y, equal_nan=True) for x, y in zip(a, b))
    return "identical bits" if same else "results differ"


def accuracies(w: work.Workload, calls: list[peers.Call]):
    """Each implementation's largest differences from python-sgp4's result (one untimed call each)."""
    ref_call = next((c for c in calls if c.peer == "python-sgp4" and not c.unavailable), None)
    if ref_call is None:
        return []
    ref = ref_call.result()
    found = []
    for call in calls:
        if call is ref_call or call.unavailable or call.canon is None:
            continue
        try:
            got = call.result()
        except Exception as exc:  # an unfinished module: say so instead of failing the run
            found.append(work.accuracy_failed(call.label, ref_call.label, w.samples, f"{type(exc).__name__}: {exc}"))
            continue
        found.append(work.accuracy(call.label, ref_call.label, ref, got, w.deep, call.codes, call.note))
        del got
    for a in found:
        a.workload = w.label
    return found
