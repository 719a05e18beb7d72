"""The lane library's functions at each vector width, against NumPy and the C library.

Group "lanes": sin, cos, atan2, rem2pi and cbrt of the private module
quorvane._testing.lanes over 10⁶ float64 elements, at every width this
machine runs (1, 4, 8 lanes), each written into a preallocated array; NumPy's
ufuncs with the same `out=`; and the C library's scalar functions called in a
plain native loop (`_lanes._clib`).  Angles are uniform in ±1e5 rad, the
range SGP4's mean anomalies reach over years; atan2 takes normal coordinates.
"""

from __future__ import annotations

import math

import numpy as np

from model import Case, compare
from timing import Timed, time_together

SEED = 20240611
N = 10**6


def _load():
    try:
        from quorvane._testing import lanes as _lanes

        return _lanes, None
    except Exception as exc:  # any import failure means "not available"
        return None, f"quorvane._testing.lanes not importable ({type(exc).__name__}: {exc})"


def _max_ulps(ours, theirs) -> str:
    """Largest difference in units in the last place of ours, for the record."""
    a, b = np.asarray(ours), np.asarray(theirs)
    if np.array_equal(a, b, equal_nan=True):
        return "identical bits"
    with np.errstate(all="ignore"):
        d = np.abs(a - b) / np.spacing(np.abs(a))
    return f"max {np.nanmax(d):.2g} ulp apart"


def lanes_cases() -> list[Case]:
    lanes, why = _load()
    rng = np.random.default_rng(SEED)
    env = {
        "np": np,
        "L": lanes,
        "x": rng.uniform(-1e5, 1e5, N),
        "y": rng.normal(size=N),
        "x2": rng.normal(size=N),
        "o": np.empty(N),
        "TWO_PI": 2.0 * math.pi,
    }
    functions = [
        # name, our call, NumPy's, the C library loop's
        ("sin", "L.sin(x, width={w}, out=o)", "np.sin(x, out=o)", "L._clib('sin', x, out=o)"),
        ("cos", "L.cos(x, width={w}, out=o)", "np.cos(x, out=o)", "L._clib('cos', x, out=o)"),
        ("atan2", "L.atan2(y, x2, width={w}, out=o)", "np.arctan2(y, x2, out=o)", "L._clib('atan2', y, x2, out=o)"),
        ("rem2pi", "L.rem2pi(x, width={w}, out=o)", "np.fmod(x, TWO_PI, out=o)", "L._clib('fmod', x, out=o)"),
        ("cbrt", "L.cbrt(x, width={w}, out=o)", "np.cbrt(x, out=o)", "L._clib('cbrt', x, out=o)"),
    ]
    widths = lanes.widths() if lanes else (1,)
    cases = []
    for name, ours, numpy_stmt, clib_stmt in functions:
        timed = [
            Timed(f"{name}, {w} lane{'s' if w > 1 else ''}", ours.format(w=w), env, N, unavailable=why)
            for w in widths
        ]
        timed.append(Timed(f"NumPy {numpy_stmt.split('(')[0]}", numpy_stmt, env, N))
        timed.append(Timed(f"C library {name if name != 'rem2pi' else 'fmod'} (scalar loop)", clib_stmt, env, N,
                           unavailable=why))
        measured = time_together(timed)
        numpy_, clib = measured[-2], measured[-1]
        agree_numpy = agree_clib = None
        if lanes:
            mine = eval(ours.format(w=widths[-1]).replace(", out=o", ""), env)
            agree_numpy = _max_ulps(mine, eval(numpy_stmt.replace(", out=o", ""), env))
            agree_clib = _max_ulps(mine, eval(clib_stmt.replace(", out=o", ""), env))
        for w, mine_w in zip(widths, measured):
            rows = [compare(mine_w, numpy_, agreement=agree_numpy), compare(mine_w, clib, agreement=agree_clib)]
            if w == widths[-1]:
                rows[1] = compare(mine_w, clib, ("widest width faster than the C library", "<", 1.0), agree_clib)
            cases.append(Case("lanes: 10⁶ float64 elements", mine_w, rows))
    return cases
