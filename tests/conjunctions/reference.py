"""A brute-force conjunction reference, independent of the screener.

Every pair of objects, SGP4 every second: an event is a sign change of the
range rate g = Δr·Δv (SGP4's positions and velocities) from − to + between
two consecutive seconds, refined by bisection on SGP4 itself, kept when the
distance at the root is below the threshold and the root lies in the
window.  The only shortcut is exact: a pair is skipped for a block of
seconds when the triangle inequality proves it stays farther apart than the
threshold, |Δr(t)| ≥ |Δr(t_c)| − (s_i + s_j)·|t − t_c| with s the objects'
largest speed in the block (first over stretches of five minutes, then over
blocks of ten seconds) (widened by 1 %: the speed between two samples
a second apart differs from theirs by far less).  Used by the tests and the
benchmark.
"""

from __future__ import annotations

import numpy as np

from quorvane.propagators.analytical.sgp4.propagator import SGP4

OUTER = 300  # seconds per propagated stretch
BLOCK = 10  # seconds per pruning block
SECOND = np.timedelta64(1, "s")


def _refine(sub, a_ns, b_ns):
    """Bisection on g over [a, b] (g(a) < 0 ≤ g(b)) to one nanosecond."""
    while b_ns - a_ns > 1:
        mid = (a_ns + b_ns) // 2
        r, v, _ = sub.propagate(np.array([mid], "datetime64[ns]"))
        if float((r[1, 0] - r[0, 0]) @ (v[1, 0] - v[0, 0])) < 0.0:
            a_ns = mid
        else:
            b_ns = mid
    return b_ns


def brute_force(table, start, stop, threshold=5_000.0):
    """Events as a dict of arrays (primary_index, secondary_index, tca ns,
    miss_distance, relative_speed), sorted by tca, for all pairs of `table`
    (a Catalogue) over [start, stop] (datetime64)."""
    prop = SGP4(table)
    satno = prop.satno
    n = len(prop)
    start = np.datetime64(start, "ns")
    stop = np.datetime64(stop, "ns")
    seconds = int(np.ceil((stop - start) / SECOND))
    grid = start + np.arange(-1, seconds + 2) * SECOND  # one second either side, for roots at the edges
    events = []
    upper = np.triu(np.ones((n, n), bool), 1) & (satno[:, None] != satno[None, :])
    for b in range(0, len(grid) - 1, OUTER):
        times = grid[b : b + OUTER + 1]
        r, v, err = prop.propagate(times)
        good = err == 0
        speed = np.where(good, np.linalg.norm(v, axis=-1), 0.0) * 1.01
        # Pairs that may come close in this stretch: the Gram-matrix distance
        # at its centre (its rounding, under a square metre, covered by a
        # metre) less how far both can move.  A NaN distance (an object that
        # failed at the centre) keeps the pair.
        c = len(times) // 2
        rc = r[:, c]
        sq = (rc * rc).sum(-1)
        d = np.sqrt(np.maximum(sq[:, None] + sq[None, :] - 2.0 * (rc @ rc.T), 0.0)) - 1.0
        top = speed.max(axis=1)
        reach = (top[:, None] + top[None, :]) * max(c, len(times) - 1 - c)
        ii, jj = np.nonzero(upper & ~(d - reach > threshold))
        # Then per block of seconds, the same test on those pairs alone.
        keep_i, keep_j, keep_k = [], [], []
        for a in range(0, len(times) - 1, BLOCK):
            e = min(a + BLOCK, len(times) - 1)
            m = (a + e) // 2
            dd = np.linalg.norm(r[jj, m] - r[ii, m], axis=-1)
            top = speed[:, a : e + 1].max(axis=1)
            near = ~(dd - (top[ii] + top[jj]) * max(m - a, e - m) > threshold)
            keep_i.append(ii[near])
            keep_j.append(jj[near])
            keep_k.append(np.full(near.sum(), a))
        pi, pj, pk = np.concatenate(keep_i), np.concatenate(keep_j), np.concatenate(keep_k)
        steps = np.arange(BLOCK + 1)
        kk = np.minimum(pk[:, None] + steps[None, :], len(times) - 1)
        dr = r[pj[:, None], kk] - r[pi[:, None], kk]
        dv = v[pj[:, None], kk] - v[pi[:, None], kk]
        ok = good[pi[:, None], kk] & good[pj[:, None], kk]
        g = np.einsum("pkx,pkx->pk", dr, dv)
        dist = np.linalg.norm(dr, axis=-1)
        relspeed = np.linalg.norm(dv, axis=-1)
        change = ok[:, :-1] & ok[:, 1:] & (g[:, :-1] < 0.0) & (g[:, 1:] >= 0.0)
        # Between two samples a second apart the distance cannot fall below
        # the smaller end distance less the relative speed (widened by 1 %).
        low = np.minimum(dist[:, :-1], dist[:, 1:]) - np.maximum(relspeed[:, :-1], relspeed[:, 1:]) * 1.01
        change &= ~(low >= threshold)
        for p, q in zip(*np.nonzero(change)):
            i, j, k = int(pi[p]), int(pj[p]), int(kk[p, q])
            sub = SGP4(table.select(np.array([i, j])))
            tca = _refine(sub, int(times[k].astype(np.int64)), int(times[k + 1].astype(np.int64)))
            if not (start.astype(np.int64) <= tca <= stop.astype(np.int64)):
                continue
            rr, vv, ee = sub.propagate(np.array([tca], "datetime64[ns]"))
            if ee[0, 0] or ee[1, 0]:
                continue
            miss = float(np.linalg.norm(rr[1, 0] - rr[0, 0]))
            if miss < threshold:
                events.append((i, j, tca, miss, float(np.linalg.norm(vv[1, 0] - vv[0, 0]))))
    events.sort(key=lambda e: (e[2], e[0], e[1]))
    names = ("primary_index", "secondary_index", "tca", "miss_distance", "relative_speed")
    columns = list(zip(*events)) if events else [[] for _ in names]
    out = {name: np.asarray(col) for name, col in zip(names, columns)}
    out["tca"] = out["tca"].astype(np.int64).astype("datetime64[ns]")
    return out
