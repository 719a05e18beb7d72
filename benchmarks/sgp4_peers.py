"""How quorvane's SGP4 and each peer are called on a workload (`sgp4_work`).

Every builder returns `Call`s: a statement to time, the objects it needs
(made here, outside the timing: parsing, initialisation, compilation, input
arrays) and a function that brings its result into the common layout
(`(n, m, 3)` metres, m/s and `(n, m)` codes) for the accuracy comparison.
Every call allocates its own outputs, as ours does without `out=`.

Peers, all with WGS-72 constants and the "improved" operation mode:

- python-sgp4: `Satrec.twoline2rv` + `Satrec.sgp4_array(jd, fr)` (one call
  per set), or `SatrecArray.sgp4(jd, fr)` on a common grid.  No threads.
- astroz: its python-sgp4 drop-in (`astroz.api`), the same calls; on the
  common grid also `astroz.propagate(Constellation, minutes, start_time=,
  output="teme", velocities=True)`, which returns no error codes and orders
  satellites its own way (`Constellation.satnums`).  No thread setting.
- heyoka: `heyoka.model.sgp4_propagator(satrecs)` (from python-sgp4's
  records; compiled at construction), called with minutes since each epoch
  as an (m, n) array, or with Julian dates (its `jdtype`) on the grid.
  Threads: `heyoka.set_nthreads`.
- satkit: `satkit.sgp4(tle, datetime64 times, gravconst=wgs72,
  opsmode=improved, errflag=True)` per set, or with the list of a file's
  TLEs on the grid.  It initialises on every call.  No thread setting.
"""

from __future__ import annotations

import dataclasses
import datetime as dt
import os
from typing import Any, Callable

import numpy as np

os.environ.setdefault("SATKIT_OFFLINE", "1")  # satkit must never try to download data here

from cases import load  # noqa: E402
from sgp4_work import Workload, julian  # noqa: E402
from timing import Timed  # noqa: E402

OURS = "quorvane.propagators.analytical.sgp4.propagator"
DUOLINE = "quorvane.propagators.analytical.sgp4.duoline"


@dataclasses.dataclass
class Call:
    label: str
    stmt: str = ""
    env: dict[str, Any] = dataclasses.field(default_factory=dict)
    canon: Callable[[Any], tuple] | None = None  # result -> (r m, v m/s, err) in (n, m, 3)/(n, m)
    unavailable: str | None = None
    codes: bool = True  # the result carries error codes
    note: str | None = None  # shown with its accuracy
    peer: str = "quorvane"  # whose call: "python-sgp4", "astroz", "heyoka", "satkit" or "quorvane"

    def timed(self, items: int, prefix: str = "", suffix: str = "", **kw) -> Timed:
        return Timed(prefix + self.label + suffix, self.stmt, self.env, items, unavailable=self.unavailable, **kw)

    def result(self):
        """The statement's result in the common layout (one more call, untimed)."""
        return self.canon(eval(self.stmt, self.env))


def _km(r, v, e):
    """python-sgp4's (e, r km, v km/s) of one or more sets as (r m, v m/s, err)."""
    return np.asarray(r) * 1e3, np.asarray(v) * 1e3, np.asarray(e).astype(np.int16)


def _stack_km(results):
    return _km(np.stack([r for _, r, _ in results]), np.stack([v for _, _, v in results]),
               np.stack([e for e, _, _ in results]))


def _concat_erv(results):
    e, r, v = (np.concatenate([x[k] for x in results]) for k in range(3))
    return _km(r, v, e)


# ----------------------------------------------------------------------------- python-sgp4 and astroz


def satrecs(w: Workload, api) -> list:
    return [api.Satrec.twoline2rv(a, b, api.WGS72) for a, b in w.pairs]


def _sgp4_like(w: Workload, name: str, api, sats) -> list[Call]:
    if w.grids is None:
        jd = [np.full(w.m, s.jdsatepoch) for s in sats]
        fr = [s.jdsatepochF + w.tsince / 1440.0 for s in sats]
        if w.n == 1:
            env = {"s": sats[0], "jd": jd[0], "fr": fr[0]}
            return [Call(f"{name} Satrec.sgp4_array", "s.sgp4_array(jd, fr)", env,
                         lambda res: _km(res[1][None], res[2][None], res[0][None]))]
        env = {"W": list(zip(sats, jd, fr))}
        return [Call(f"{name} Satrec.sgp4_array, one call per set", "[s.sgp4_array(j, f) for s, j, f in W]",
                     env, _stack_km)]
    grid = [(api.SatrecArray(sats[g]), *julian(w.grids[k])) for k, g in enumerate(w.groups)]
    return [Call(f"{name} SatrecArray.sgp4, one call per file", "[a.sgp4(j, f) for a, j, f in G]",
                 {"G": grid}, _concat_erv)]


def _whose(peer: str, calls: list[Call]) -> list[Call]:
    for call in calls:
        call.peer = peer
    return calls


def python_sgp4(w: Workload, sats: list | None) -> list[Call]:
    api, why = load("sgp4.api")
    if api is None:
        return _whose("python-sgp4", [Call("python-sgp4", unavailable=why)])
    return _whose("python-sgp4", _sgp4_like(w, "python-sgp4", api, sats))


def astroz(w: Workload) -> list[Call]:
    api, why = load("astroz.api")
    if api is None:
        return _whose("astroz", [Call("astroz", unavailable=why)])
    calls = _sgp4_like(w, "astroz", api, satrecs(w, api))
    if w.grids is not None:
        calls.append(_astroz_constellation(w))
    return _whose("astroz", calls)


def _astroz_constellation(w: Workload) -> Call:
    import astroz as az

    minutes = np.arange(w.m, dtype=np.float64)
    groups, orders = [], []
    for k, g in enumerate(w.groups):
        pairs = w.pairs[g]
        c = az.Constellation("\n".join(f"{a}\n{b}" for a, b in pairs) + "\n")
        ns = int(w.grids[k][0].astype(np.int64))
        start = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc) + dt.timedelta(microseconds=ns // 1000)
        groups.append((c, start))
        orders.append(_column_order(list(c.satnums), [a[2:7] for a, _ in pairs]))
    label = "astroz propagate(Constellation, output='teme'), one call per file"
    env = {"G": groups, "p": az.propagate, "T": minutes}
    stmt = "[p(c, T, start_time=t0, output='teme', velocities=True) for c, t0 in G]"
    if any(o is None for o in orders):
        return Call(label, stmt, env, None, note="satellite order not recoverable")

    def canon(results):
        r = np.concatenate([p.transpose(1, 0, 2)[o] for (p, _), o in zip(results, orders)])
        v = np.concatenate([q.transpose(1, 0, 2)[o] for (_, q), o in zip(results, orders)])
        return r * 1e3, v * 1e3, None

    return Call(label, stmt, env, canon, codes=False, note="no error codes: NaN compared with nonzero codes")


def _column_order(columns: list[int], fields: list[str]) -> np.ndarray | None:
    """Index into `columns` for the satellite number field of each set, or None if not a one-to-one match."""
    try:
        satnums = [int(f) for f in fields]
    except ValueError:  # Alpha-5 numbers: leave the order unknown
        return None
    if sorted(columns) != sorted(satnums) or len(set(satnums)) != len(satnums):
        return None
    where = {s: i for i, s in enumerate(columns)}
    return np.array([where[s] for s in satnums])


# ----------------------------------------------------------------------------- heyoka


def heyoka(w: Workload, sats: list | None) -> list[Call]:
    return _whose("heyoka", _heyoka(w, sats))


def _heyoka(w: Workload, sats: list | None) -> list[Call]:
    hy, why = load("heyoka")
    if hy is None:
        return [Call("heyoka", unavailable=why)]
    if sats is None:
        return [Call("heyoka", unavailable="heyoka is built from python-sgp4's records, which are missing")]

    def canon(res):
        res = res if isinstance(res, np.ndarray) else np.concatenate(res, axis=2)
        r = res[:, 0:3, :].transpose(2, 0, 1) * 1e3
        v = res[:, 3:6, :].transpose(2, 0, 1) * 1e3
        return r, v, res[:, 6, :].T.astype(np.int16)

    if w.grids is None:
        prop = hy.model.sgp4_propagator(sats)
        times = np.ascontiguousarray(np.broadcast_to(w.tsince[:, None], (w.m, w.n)))
        return [Call("heyoka sgp4_propagator, minutes since each epoch", "p(T)", {"p": prop, "T": times}, canon)]
    groups = []
    for k, g in enumerate(w.groups):
        prop = hy.model.sgp4_propagator(sats[g])
        jd, fr = julian(w.grids[k])
        times = np.empty((w.m, g.stop - g.start), dtype=prop.jdtype)
        times["jd"] = jd[:, None]
        times["frac"] = fr[:, None]
        groups.append((prop, times))
    return [Call("heyoka sgp4_propagator, Julian dates, one call per file", "[p(T) for p, T in G]", {"G": groups}, canon)]


# ----------------------------------------------------------------------------- satkit


def satkit(w: Workload) -> list[Call]:
    return _whose("satkit", _satkit(w))


def _satkit(w: Workload) -> list[Call]:
    sk, why = load("satkit")
    if sk is None:
        return [Call("satkit", unavailable=why)]
    tles = sk.TLE.from_lines([line for pair in w.pairs for line in pair])
    if len(tles) != w.n:
        return [Call("satkit", unavailable=f"satkit read {len(tles)} sets, not {w.n}")]
    kw = {"gravconst": sk.sgp4_gravconst.wgs72, "opsmode": sk.sgp4_opsmode.improved, "errflag": True}
    env = {"f": sk.sgp4, "kw": kw}
    if w.grids is None:
        if w.n == 1:
            env.update(t=tles[0], d=w.dates(0))
            return [Call("satkit sgp4, datetime64 times", "f(t, d, **kw)", env,
                         lambda res: (res[0][None], res[1][None], res[2][None].astype(np.int16)))]
        env["W"] = [(t, w.dates(i)) for i, t in enumerate(tles)]
        return [Call("satkit sgp4, datetime64 times, one call per set", "[f(t, d, **kw) for t, d in W]", env,
                     lambda res: tuple(np.stack([x[k] for x in res]) for k in range(3)))]
    env["G"] = [(tles[g], w.grids[k]) for k, g in enumerate(w.groups)]
    return [Call("satkit sgp4, list of TLEs, one call per file", "[f(t, d, **kw) for t, d in G]", env,
                 lambda res: tuple(np.concatenate([x[k] for x in res]) for k in range(3)))]


# ----------------------------------------------------------------------------- ours


def ours(w: Workload, threads: int | None) -> tuple[Call, Call]:
    """Our propagate call on `w` with `threads`, and the same filling preallocated `out=` arrays."""
    label = f"SGP4.propagate, threads={threads}"
    mod, why = load(OURS)
    duo, duo_why = load(DUOLINE)
    why = why or duo_why
    if why is None:
        try:
            records = [duo.DUOLINE(a, b) for a, b in w.pairs]
            if w.grids is None:
                props = [mod.SGP4(records[0] if w.n == 1 else records, gravity="wgs72", mode="improved")]
            else:
                props = [mod.SGP4(records[g], gravity="wgs72", mode="improved") for g in w.groups]
        except Exception as exc:
            why = f"SGP4 could not be built ({type(exc).__name__}: {exc})"
    if why is not None:
        return Call(label, unavailable=why), Call(f"{label}, out= preallocated", unavailable=why)

    single = w.n == 1

    def canon(res):
        if isinstance(res, list):
            return tuple(np.concatenate([x[k] for x in res]) for k in range(3))
        return tuple(x[None] for x in res) if single else res

    def outputs(n):
        shape = (w.m,) if single else (n, w.m)
        return np.empty(shape + (3,)), np.empty(shape + (3,)), np.empty(shape, dtype=np.int8)

    env = {"K": threads}
    if w.grids is None:
        env.update(P=props[0], T=w.tsince, O=outputs(w.n))
        stmt = "P.propagate(tsince=T, threads=K)"
        out_stmt = "P.propagate(tsince=T, threads=K, out=O)"
    else:
        env["G"] = [(p, w.grids[k], outputs(g.stop - g.start)) for k, (p, g) in enumerate(zip(props, w.groups))]
        stmt = "[p.propagate(t, threads=K) for p, t, _ in G]"
        out_stmt = "[p.propagate(t, threads=K, out=o) for p, t, o in G]"
    return Call(label, stmt, env, canon), Call(f"{label}, out= preallocated", out_stmt, env, canon)
