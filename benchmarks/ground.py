"""Ground-side kernels per sample: Ellipsoid.geodetic and .cartesian,
Station.look and shadow(), at every vector width this machine runs, one
thread, against ERFA's gc2gd/gd2gc loops (pyerfa) on the same inputs.

    .venv/bin/python benchmarks/ground.py

Prints nanoseconds per sample: the best of seven calls over 10^6 samples, in
processor time of this process (time.process_time), so that time the
process spends waiting for a core on a shared machine is not counted.
"""

from __future__ import annotations

import time

import erfa
import numpy as np

from quorvane.bodies import bodies
from quorvane._testing import lanes as _lanes
from quorvane.mathtools.ellipsoid import ellipsoid
from quorvane.observers import Station

N = 10**6
SEED = 20240612


def per_sample(call, repeats=7, n=N):
    best = float("inf")
    for _ in range(repeats):
        start = time.process_time()
        call()
        best = min(best, time.process_time() - start)
    return best / n * 1e9


def main() -> None:
    rng = np.random.default_rng(SEED)
    wgs84 = ellipsoid.WGS84
    lat0 = rng.uniform(-np.pi / 2, np.pi / 2, N)
    lon0 = rng.uniform(-np.pi, np.pi, N)
    h0 = rng.uniform(-10e3, 1000e3, N)
    r = erfa.gd2gc(1, lon0, lat0, h0)
    v = rng.normal(size=(N, 3)) * 7e3
    station = Station(0.5, 1.0, 100.0)
    m = 1000
    times = np.datetime64("2024-01-05T12:00", "ns") + (np.arange(m) * 60e9).astype("timedelta64[ns]")
    orbits = rng.normal(size=(N // m, m, 3)) * 7e6
    rows = []
    previous = _lanes._set_max_width(None)
    try:
        for width in _lanes.widths():
            _lanes._set_max_width(width)
            rows.append(
                (
                    f"{width} lane(s)",
                    per_sample(lambda: wgs84.geodetic(r, threads=1)),
                    per_sample(lambda: wgs84.cartesian(lat0, lon0, h0, threads=1)),
                    per_sample(lambda: station.look(r, threads=1)),
                    per_sample(lambda: station.look(r, v, threads=1)),
                    per_sample(lambda: bodies.shadow(orbits, times, threads=1)),
                )
            )
    finally:
        _lanes._set_max_width(previous)
    rows.append(
        (
            "ERFA (pyerfa)",
            per_sample(lambda: erfa.gc2gd(1, r), 3),
            per_sample(lambda: erfa.gd2gc(1, lon0, lat0, h0), 3),
            float("nan"),
            float("nan"),
            float("nan"),
        )
    )
    print(f"{'ns per sample':16}{'geodetic':>10}{'cartesian':>11}{'look':>8}{'look+v':>8}{'shadow':>8}")
    for name, *values in rows:
        print(f"{name:16}" + "".join(f"{x:{w}.1f}" for x, w in zip(values, (10, 11, 8, 8, 8))))


if __name__ == "__main__":
    main()
