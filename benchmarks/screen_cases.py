"""The "screen" group: conjunction screening of whole catalogues.

Workloads from the synthetic catalogue builder (seeded, LEO-heavy like the
real catalogue it is drawn from), at a 5 km threshold:

- 30,000 objects all against all over 24 hours and over 7 days, on every
  thread of this machine: wall time, events found;
- 1,000 objects over one day against the brute-force reference of the tests
  (every pair, SGP4 every second, refined by bisection; pruned only by the
  triangle inequality): wall time of both and whether the events agree;
- Dask: a LocalCluster of one worker process and of two (one thread each),
  the same 30,000-object, 24-hour call with ``client=``: the speed-up of two
  workers over one, with Dask's defaults and with the workers' statistical
  profiler off.

ESA's cascade is the published reference for numerical screening; it has
no release for Python 3.12 on PyPI (``pip install esa-cascade`` finds no
distribution), so its row records that.
"""

from __future__ import annotations

import sys
import time
from pathlib import Path

import numpy as np

from cases import load
from model import Case, PeerRow, Target
from timing import Measured, unavailable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "conjunctions"))

START = np.datetime64("2024-01-01T00:00", "ns")
DAY = np.timedelta64(1, "D")
THRESHOLD = 5_000.0


def _wall(label: str, call, items: int, repeat: int = 1, note: str | None = None) -> tuple[Measured, object]:
    """Median wall time of `call` over `repeat` runs (these calls take seconds: no loop count)."""
    samples = []
    result = None
    for _ in range(repeat):
        started = time.perf_counter()
        result = call()
        samples.append(time.perf_counter() - started)
    return Measured(label, float(np.median(samples)), samples, 1, items, "", note), result


def _profile_note(result) -> str:
    stats = getattr(result, "_stats", None) or {}
    stages = {name: stats[name] for name in ("propagation", "broad", "narrow", "refinement") if name in stats}
    if not stages:
        return f"{len(result)} events"
    total = sum(stages.values()) or 1.0
    shares = ", ".join(f"{name} {100 * seconds / total:.0f} %" for name, seconds in stages.items())
    return f"{len(result)} events; {shares}"


def screen_cases() -> list[Case]:
    conj, why = load("quorvane.conjunctions")
    synth, synth_why = load("quorvane.conjunctions.synthetic")
    why = why or synth_why or (None if hasattr(conj, "screen") else "quorvane.conjunctions.screen is missing")
    if why:
        return [Case("screen: 30,000 objects, 24 h, 5 km", unavailable("screen", why), [])]
    cases = []
    big = synth.synthetic_catalogue(30_000, seed=1, epoch=str(START))
    day, res = _wall("screen, 30,000 objects × 24 h, all threads", lambda: conj.screen(big, START, START + DAY,
                                                                                        threshold=THRESHOLD), 30_000,
                     repeat=2)
    day.note = _profile_note(res)
    cascade = unavailable("esa-cascade (numerical screening)",
                          "no release for Python 3.12 on PyPI (pip: no matching distribution for esa-cascade)")
    cases.append(Case("screen: 30,000 objects, 5 km", day, [PeerRow(cascade, None)],
                      targets=[Target("24 h all-vs-all ≤ 10 s on this machine", day.median, "<=", 10.0, "s")]))
    week, res = _wall("screen, 30,000 objects × 7 days, all threads", lambda: conj.screen(big, START, START + 7 * DAY,
                                                                                           threshold=THRESHOLD), 30_000)
    week.note = _profile_note(res)
    cases.append(Case("screen: 30,000 objects, 5 km", week, [],
                      targets=[Target("7 days all-vs-all ≤ 60 s on this machine", week.median, "<=", 60.0, "s")]))

    reference, ref_why = load("reference")
    small = synth.synthetic_catalogue(1_000, seed=2, epoch=str(START))
    ours, got = _wall("screen, 1,000 objects × 24 h", lambda: conj.screen(small, START, START + DAY,
                                                                          threshold=THRESHOLD), 1_000, repeat=3)
    if reference is None:
        brute = unavailable("brute force (every pair, every second)", ref_why)
    else:
        brute, want = _wall("brute force, every pair, SGP4 every second (NumPy)",
                            lambda: reference.brute_force(small, START, START + DAY, THRESHOLD), 1_000)
        same = len(want["tca"]) == len(got) and np.array_equal(want["primary_index"], got.primary_index) and \
            np.array_equal(want["secondary_index"], got.secondary_index)
        brute.note = f"{len(want['tca'])} events; ours {len(got)}: {'the same pairs' if same else 'DIFFERENT'}"
    cases.append(Case("screen: 1,000 objects, 24 h", ours, [PeerRow(brute, ours.median / brute.median
                                                                     if brute.median else None)]))
    cases.extend(_dask_case(conj, big))
    return cases


def _dask_case(conj, table) -> list[Case]:
    distributed, why = load("dask.distributed")
    if distributed is None:
        return [Case("screen: Dask LocalCluster", unavailable("dask", why), [])]
    import dask

    # The day of the main case.  A call's fixed costs (scattering the
    # propagators, scheduling, the workers' event loops, merging: about
    # 0.7 s of CPU, measured) are a fifth of the work of a 6-hour window
    # (about 3 s of one core) and a fifteenth of a day's (about 11 s).
    window = (START, START + DAY)
    # Two pairs of clusters (one worker and two), with Dask's defaults and
    # with the workers' statistical profiler off: every 10 ms it walks the
    # stack of the thread running a task, about a tenth of a core per
    # worker, which two workers on two cores take from the tasks themselves
    # (one worker leaves it the idle core).  One pair at a time (an idle
    # cluster's heartbeats and monitors are not free on two cores), its two
    # clusters timed in alternation so that the machine's drift falls on
    # both alike.
    configs = {"defaults": {}, "profiler off": {"distributed.worker.profile.enabled": False}}
    samples: dict[tuple[str, int], list[float]] = {}
    for name, config in configs.items():
        with dask.config.set(config):
            clusters = {workers: distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                          dashboard_address=None) for workers in (1, 2)}
        clients = {workers: distributed.Client(cluster) for workers, cluster in clusters.items()}
        try:
            for client in clients.values():
                # One thread a task: the workers, not the threads inside a task, share the cores.
                conj.screen(table, *window, threshold=THRESHOLD, threads=1, client=client)  # warm the workers
            for _ in range(3):
                for workers, client in clients.items():
                    started = time.perf_counter()
                    conj.screen(table, *window, threshold=THRESHOLD, threads=1, client=client)
                    samples.setdefault((name, workers), []).append(time.perf_counter() - started)
        finally:
            for client in clients.values():
                client.close()
            for cluster in clusters.values():
                cluster.close()
    cases = []
    for name in configs:
        measured = {workers: Measured(f"screen with client=, {workers} worker process(es), 1 thread each, {name}",
                                      float(np.median(samples[name, workers])), samples[name, workers], 1, len(table),
                                      "", None)
                    for workers in (1, 2)}
        speedup = measured[1].median / measured[2].median
        cases.append(Case(f"screen: 30,000 objects × 24 h on a Dask LocalCluster ({name})", measured[2], [
            PeerRow(measured[1], measured[2].median / measured[1].median,
                    Target("2 workers ≥ 1.7× one worker", 1 / speedup, "<=", 1 / 1.7))]))
    return cases
