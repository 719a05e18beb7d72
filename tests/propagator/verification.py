"""The published verification set shipped with python-sgp4: SGP4-VER.TLE
(element sets with start, stop and step minutes after line 2) and
tcppver.out (the reference program's output: minutes since epoch, position
in km and velocity in km/s at every time it propagated without error)."""

import importlib.resources

import numpy as np


def _package_file(name):
    return importlib.resources.files("sgp4").joinpath(name).read_text()


def cases():
    """[(line1, line2, start, stop, step)] in file order."""
    out, line1 = [], None
    for line in _package_file("SGP4-VER.TLE").splitlines():
        if line.startswith("1 "):
            line1 = line
        elif line.startswith("2 "):
            start, stop, step = map(float, line[69:].split())
            out.append((line1, line[:69], start, stop, step))
    return out


def reference():
    """[(satno, array (k, 7) of t, r, v)] in file order."""
    out = []
    for line in _package_file("tcppver.out").splitlines():
        fields = line.split()
        if not fields:
            continue
        if fields[-1] == "xx":
            out.append((int(fields[0]), []))
        else:
            out[-1][1].append([float(x) for x in fields[:7]])
    return [(satno, np.array(rows).reshape(-1, 7)) for satno, rows in out]


def driver_times(start, stop, step):
    """The times the reference program steps through: start, then start +
    k·step up to stop, stop itself last."""
    times = [start]
    t = start
    while t < stop:
        t = min(t + step, stop)
        times.append(t)
    return np.array(times)


def real_pairs():
    """(line1, line2) of every set in examples/data/real, in file order."""
    import pathlib

    root = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data" / "real"
    pairs = []
    for path in sorted(root.glob("*.tle")):
        lines = [line.rstrip() for line in path.read_text().splitlines() if line.strip()]
        for first, second in zip(lines, lines[1:]):
            if first.startswith("1 ") and second.startswith("2 "):
                pairs.append((first, second))
    return pairs


def exact_epoch(line1):
    """Days since 1949-12-31 00:00 of line 1's epoch, rounded once to a float."""
    import datetime
    from fractions import Fraction

    yy = int(line1[18:20])
    year = 2000 + yy if yy <= 56 else 1900 + yy
    start = (datetime.date(year, 1, 1) - datetime.date(1949, 12, 31)).days
    return float(start + Fraction(line1[20:32].strip()) - 1)
