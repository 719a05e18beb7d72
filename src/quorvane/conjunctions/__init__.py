"""Conjunction screening of SGP4 catalogues: every close approach between
objects below a distance threshold within a time window.

:func:`screen` returns a columnar :class:`Conjunctions` table.  The synthetic
test catalogues live in :mod:`quorvane.conjunctions.synthetic` (imported on
demand).
"""

from __future__ import annotations

import math
from numbers import Real
from typing import Any

import numpy

from quorvane.conjunctions._table import Conjunctions, Failures

__all__ = ["Conjunctions", "Failures", "screen"]

# Sub-steps of a grid step: the broad phase's time resolution.
_SUBSTEPS = 3
# Memory of a chunk's positions and velocities (bytes), and its bounds in grid steps.
_CHUNK_BYTES = 64 << 20
_CHUNK_STEPS = (4, 90)
# Grid steps of a Dask task, at least.
_TASK_STEPS = 8


def _propagator(value: Any, name: str) -> Any:
    from quorvane.propagators.analytical.sgp4.catalogue import Catalogue
    from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
    from quorvane.propagators.analytical.sgp4.propagator import SGP4

    if isinstance(value, SGP4):
        return value
    if isinstance(value, Catalogue):
        if len(value) == 0:
            raise ValueError(f"{name} is an empty catalogue")
        return SGP4(value)
    if isinstance(value, ELSET):
        raise TypeError(f"{name} is an ELSET (one satellite's history); screening needs distinct objects: "
                        "use a catalogue table (read_catalogue) or SGP4(table)")
    if isinstance(value, DUOLINE):
        return SGP4(value)
    raise TypeError(f"{name} must be an SGP4 propagator, a Catalogue or a DUOLINE, got {type(value).__name__}")


def _instant(value: Any, name: str) -> int:
    from quorvane.time.time import Time

    try:
        t = value if isinstance(value, Time) else Time(value)
    except (TypeError, ValueError) as error:
        raise type(error)(f"{name}: {error}") from None
    ns = t.int64
    if not isinstance(ns, int):
        raise ValueError(f"{name} must be one instant, got {len(t)}")
    return ns


def _threshold(value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, Real):
        raise TypeError(f"threshold must be a real number (m), got {type(value).__name__}")
    x = float(value)
    if not math.isfinite(x) or x <= 0.0:
        raise ValueError(f"threshold must be a positive finite distance (m), got {value!r}")
    return x


def _run(primary: Any, secondary: Any, window: tuple[int, int, int, int, int, int, int], threshold: float,
         threads: int | None, bounds: Any) -> tuple[Any, ...]:
    """One native run over grid segments [first, last) (a Dask task)."""
    from quorvane.conjunctions import _screen

    return _screen.screen(primary, secondary, window, threshold, threads, bounds)


def screen(source: Any, start: Any, stop: Any, *, threshold: float = 5_000.0, against: Any = None,
           threads: int | None = None, client: Any = None) -> Conjunctions:
    """Find the conjunctions of SGP4 objects within a window.

    An event is a time in [start, stop] where the range rate
    g(t) = Δr·Δv (SGP4's own positions and velocities, TEME) changes sign from
    negative to non-negative while the distance is strictly below
    `threshold`: every local minimum of the distance below the threshold.

    Parameters
    ----------
    source : SGP4, Catalogue or DUOLINE
        The objects (an SGP4 propagator of many sets or one record, or a
        catalogue table, propagated with ``SGP4(table)``).  An ELSET history
        raises TypeError.
    start, stop : Time, datetime64 or ISO text
        The window (UTC), stop after start.
    threshold : float, optional
        Distance below which a closest approach is reported, m.
    against : same types as `source`, optional
        None screens every pair of `source` once (primary_index <
        secondary_index); otherwise `source` (primaries) against these
        (secondaries).
    threads : int, optional
        Threads to run on (None: all processors).  Results are identical
        bit for bit for every count.
    client : dask.distributed.Client, optional
        Run the window as grid-aligned time chunks on the cluster (the
        propagators are pickled, so build them from catalogue tables); the
        result is the same table.

    Returns
    -------
    Conjunctions
        One row per event, sorted by tca; ``.failed`` lists objects that
        could not be propagated (events before their failure are kept).
        Pairs with the same satellite number are not screened.
    """
    threshold = _threshold(threshold)
    primary = _propagator(source, "source")
    secondary = None if against is None else _propagator(against, "against")
    t0 = _instant(start, "start")
    t1 = _instant(stop, "stop")
    if t1 <= t0:
        raise ValueError(f"stop must be after start, got start={numpy.datetime64(t0, 'ns')}, "
                         f"stop={numpy.datetime64(t1, 'ns')}")
    from quorvane.conjunctions import _screen

    # Every object's state at the start, once: the grid step and the slow
    # objects' strides come from it (each Dask task takes it as it is).
    bounds = _screen.start_bounds(primary, secondary, t0, threads)
    step = _screen.step(primary, secondary, t0, _SUBSTEPS, bounds)
    segments = -(-(t1 - t0) // step)
    n = len(primary) + (0 if secondary is None else len(secondary))
    per = _CHUNK_BYTES // (56 * max(n, 1)) - 1
    chunk = min(max(per, _CHUNK_STEPS[0]), _CHUNK_STEPS[1])
    if client is None:
        parts = [_run(primary, secondary, (t0, t1, step, _SUBSTEPS, 0, segments, chunk), threshold, threads, bounds)]
    else:
        workers = max(len(client.scheduler_info().get("workers", {})), 1)
        # Four tasks a worker, of equal length, so that the workers finish
        # together; not shorter than _TASK_STEPS, where the setup of a task
        # (its chunk's buffers, the padding of each object's last sample
        # vector) would begin to tell.
        size = max(min(_TASK_STEPS, segments), -(-segments // (4 * workers)))
        # The propagators travel to each worker once; not hashed (hashing a
        # catalogue's propagator costs more than sending it).
        sources: list[Any] = [primary, secondary]
        if hasattr(client, "scatter"):
            sources = [client.scatter(primary, broadcast=True, hash=False),
                       None if secondary is None else client.scatter(secondary, broadcast=True, hash=False)]
        futures = [client.submit(_run, sources[0], sources[1],
                                 (t0, t1, step, _SUBSTEPS, first, min(segments, first + size), chunk),
                                 threshold, threads, bounds, pure=False)
                   for first in range(0, segments, size)]
        parts = client.gather(futures)
    return _merge(parts, primary, secondary, t0, step)


def _merge(parts: list[tuple[Any, ...]], primary: Any, secondary: Any, start: int, step: int) -> Conjunctions:
    """The events and failures of runs over disjoint segment ranges as one
    table: duplicates of a sub-step refined by two runs dropped, each object's
    first failure kept, events at or after a failed object's last screened
    segment removed, sorted by (tca, primary_index, secondary_index)."""
    events = [numpy.concatenate([p[0][k] for p in parts]) for k in range(7)]
    pi, si, tca, miss, speed, rtn, bracket = events
    rtn = rtn.reshape(-1, 3)
    fails = [numpy.concatenate([p[1][k] for p in parts]) for k in range(5)]
    fsrc, fidx, fseg, ftime, fcode = fails
    # First failure of each object: the earliest failing sample.
    order = numpy.lexsort((ftime, fidx, fsrc))
    fsrc, fidx, fseg, ftime, fcode = (a[order] for a in (fsrc, fidx, fseg, ftime, fcode))
    first = numpy.ones(len(fsrc), bool)
    first[1:] = (fsrc[1:] != fsrc[:-1]) | (fidx[1:] != fidx[:-1])
    fsrc, fidx, fseg, ftime, fcode = (a[first] for a in (fsrc, fidx, fseg, ftime, fcode))
    # Unique events by (pair, sub-step, tca): a sub-step may hold more than one.
    order = numpy.lexsort((tca, bracket, si, pi))
    pi, si, tca, miss, speed, rtn, bracket = (a[order] for a in (pi, si, tca, miss, speed, rtn, bracket))
    keep = numpy.ones(len(pi), bool)
    keep[1:] = (pi[1:] != pi[:-1]) | (si[1:] != si[:-1]) | (bracket[1:] != bracket[:-1]) | (tca[1:] != tca[:-1])
    # Events from a failed object's failing segment on.
    two = secondary is not None
    limit_p = numpy.full(len(primary), numpy.iinfo(numpy.int64).max)
    limit_s = numpy.full(len(secondary) if two else len(primary), numpy.iinfo(numpy.int64).max)
    ends = start + fseg * step
    limit_p[fidx[fsrc == 0]] = ends[fsrc == 0]
    if two:
        limit_s[fidx[fsrc == 1]] = ends[fsrc == 1]
    else:
        limit_s = limit_p
    keep &= (tca < limit_p[pi]) & (tca < limit_s[si])
    pi, si, tca, miss, speed, rtn = (a[keep] for a in (pi, si, tca, miss, speed, rtn))
    order = numpy.lexsort((si, pi, tca))
    pi, si, tca, miss, speed, rtn = (a[order] for a in (pi, si, tca, miss, speed, rtn))
    sat_p = numpy.asarray(primary.satno)
    sat_s = numpy.asarray((secondary if two else primary).satno)
    fsat = numpy.empty(len(fidx), numpy.int64)
    fsat[fsrc == 0] = sat_p[fidx[fsrc == 0]]
    fsat[fsrc == 1] = sat_s[fidx[fsrc == 1]]
    failed = Failures({"source": fsrc, "index": fidx, "satno": fsat, "code": fcode,
                       "time": ftime.astype("datetime64[ns]")})
    table = Conjunctions({
        "primary": sat_p[pi], "secondary": sat_s[si], "primary_index": pi, "secondary_index": si,
        "tca": tca.astype("datetime64[ns]"), "miss_distance": miss, "relative_speed": speed, "rtn": rtn,
    }, failed)
    stats: dict[str, float] = {}
    for p in parts:
        for key, value in p[2].items():
            stats[key] = stats.get(key, 0) + value
    table._stats = stats
    return table
