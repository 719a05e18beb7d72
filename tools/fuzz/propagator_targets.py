"""Fuzz target for the propagator.

It draws a batch of element sets (real ones and ones with mutated element
fields), reads them as one catalogue table and propagates the table at
random times on a random number of threads and at a random vector width.
Every row must hold the bits SGP4 gives that set's DUOLINE record alone
(one thread, the baseline width).  The times come as minutes (one row for
every set, or one row per set, in either byte order) or as datetime64
instants of any unit, multiple and byte order, NaT and instants outside the
nanosecond range included: those are compared with the same instants given
in nanoseconds, computed here exactly (NaT where they leave the range, so
that both give code 7).
"""

from __future__ import annotations

import numpy as np
from hypothesis import strategies as st

from quorvane._testing import lanes
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from quorvane.propagators.analytical.sgp4.propagator import ERRORS, SGP4

NAT = np.iinfo(np.int64).min
INT64_MAX = np.iinfo(np.int64).max
NS = {"W": 7 * 86400 * 10**9, "D": 86400 * 10**9, "h": 3600 * 10**9, "m": 60 * 10**9, "s": 10**9, "ms": 10**6,
      "us": 10**3, "ns": 1}
PER_NS = {"ps": 10**3, "fs": 10**6, "as": 10**9}
# Units and multiples: NumPy's plain units, small multiples, and multiples
# longer than the whole nanosecond range.
UNITS = ["ns", "us", "ms", "s", "m", "h", "D", "W", "M", "Y", "15m", "7D", "10ps", "3fs", "as", "4Y", "7M",
         "20000W", "2147483647D", "1000000000h", "1000Y", "2147483647M"]
# Around the example catalogue's epochs (January 2024).
BASE_NS = int(np.datetime64("2024-01-10T00:00", "ns").view(np.int64))


def exact_ns(raw: int, unit: str) -> int:
    """The instant of datetime64[unit] value `raw`, in ns; NaT for NaT and outside the range."""
    if raw == NAT:
        return NAT
    name, count = np.datetime_data(np.dtype(f"M8[{unit}]"))
    if name in ("Y", "M"):
        months = raw * count * (12 if name == "Y" else 1)
        if abs(months) > 12_000:
            return NAT
        days = int(np.array([months], "M8[M]").astype("M8[D]").view(np.int64)[0])
        ns = days * NS["D"]
    elif name in PER_NS:
        ns = (raw * count) // PER_NS[name]  # floor, as NumPy converts
    else:
        ns = raw * count * NS[name]
    return ns if NAT < ns <= INT64_MAX else NAT


def same(a, b) -> bool:
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def make_target(counts, fail, REAL_PAIRS, mutated_line, FIELD_RANGES_2):
    widths = list(lanes.widths())
    pair = st.one_of(
        st.sampled_from(REAL_PAIRS),
        # Mutated element fields of printable ASCII: text that reads as
        # other lines, or not at all, is the catalogue target's.
        st.sampled_from(REAL_PAIRS).flatmap(
            lambda p: mutated_line(p[1], FIELD_RANGES_2).filter(lambda l2: all(" " <= c <= "~" for c in l2))
            .map(lambda l2: (p[0], l2))),
    )

    @st.composite
    def minutes(draw, n):
        m = draw(st.sampled_from([0, 1, 5, 37, 600, 2500]))
        special = st.sampled_from([0.0, -0.0, np.nan, np.inf, -np.inf, 1e9, -1e9, 1.0000001e9, 5e-324, 1440.0])
        values = np.linspace(draw(st.floats(-1e5, 1e5)), draw(st.floats(-1e5, 1e6)), m)
        for _ in range(draw(st.integers(0, 4)) if m else 0):
            values[draw(st.integers(0, m - 1))] = draw(st.one_of(special, st.floats(allow_nan=True)))
        if draw(st.booleans()) and n:
            rows = np.tile(values, (n, 1)) + np.arange(n)[:, None] * draw(st.floats(-100.0, 100.0))
            return rows, [rows[i] for i in range(n)]
        return values, [values] * n

    @st.composite
    def instants(draw):
        unit = draw(st.sampled_from(UNITS))
        m = draw(st.sampled_from([1, 4, 33, 2100]))
        offsets = np.linspace(draw(st.integers(-40, 40)) * NS["D"], draw(st.integers(-40, 400)) * NS["D"], m)
        ns = np.array([BASE_NS + int(x) for x in offsets], dtype=np.int64).view("M8[ns]")
        try:
            raw = ns.astype(f"M8[{unit}]").view(np.int64).copy()
        except OverflowError:  # 2024 is beyond the unit's range (attoseconds): any values
            raw = np.array(draw(st.lists(st.integers(NAT, INT64_MAX), min_size=m, max_size=m)), dtype=np.int64)
        special = st.sampled_from([NAT, INT64_MAX, NAT + 1, 0, 1, -1, 2**62, -(2**62)])
        for _ in range(draw(st.integers(0, 4))):
            raw[draw(st.integers(0, m - 1))] = draw(st.one_of(special, st.integers(NAT, INT64_MAX)))
        expected = np.array([exact_ns(int(x), unit) for x in raw], dtype=np.int64).view("M8[ns]")
        times = raw.view(f"M8[{unit}]")
        layout = draw(st.sampled_from(["native", "swapped", "strided", "unaligned", "scalar"]))
        if layout == "swapped":
            times = times.astype(times.dtype.newbyteorder())
        elif layout == "strided":
            spread = np.empty(2 * m, dtype=times.dtype)
            spread[::2] = times
            times = spread[::2]
        elif layout == "unaligned":
            buffer = np.zeros(8 * m + 1, dtype=np.uint8)[1:].view(times.dtype.newbyteorder())
            buffer[:] = times
            times = buffer
        elif layout == "scalar":
            times, expected = times[0], expected[0]
        return times, expected, f"{unit} {layout}"

    def propagator_target(data) -> None:
        counts["inputs tried"] += 1
        pairs = data.draw(st.lists(pair, min_size=1, max_size=6), label="sets")
        records = []
        for l1, l2 in pairs:
            try:
                records.append(DUOLINE(l1, l2))
            except ValueError:
                return  # a mutated field the records refuse (the catalogue target covers reading)
        counts["records built"] += len(records)
        text = "".join(f"{l1}\n{l2}\n" for l1, l2 in pairs)
        try:
            table = read_catalogue(text, format="tle")
        except ValueError:
            return  # a layout the reader refuses (the catalogue target covers reading)
        counts["catalogues read"] += 1
        if len(table) != len(records):
            fail(f"{len(table)} rows for {len(records)} sets: {text!r}")
        gravity = data.draw(st.sampled_from(["wgs72", "wgs84", "wgs72old"]), label="gravity")
        mode = data.draw(st.sampled_from(["improved", "afspc"]), label="mode")
        batch = SGP4(table, gravity=gravity, mode=mode)
        alone = [SGP4(r, gravity=gravity, mode=mode) for r in records]

        if data.draw(st.booleans(), label="tsince"):
            argument, rows = data.draw(minutes(len(records)), label="minutes")
            if data.draw(st.booleans(), label="swapped"):
                argument = argument.astype(argument.dtype.newbyteorder())
            call = {"tsince": argument}
            what = f"tsince shape {argument.shape}"
            reference = [a.propagate(tsince=row, threads=1) for a, row in zip(alone, rows)]
        else:
            times, expected, what = data.draw(instants(), label="times")
            call = {"times": times}
            reference = [a.propagate(expected, threads=1) for a in alone]
        threads = data.draw(st.sampled_from([1, 2, 3, None]), label="threads")
        width = data.draw(st.sampled_from(widths), label="width")
        previous = lanes._set_max_width(width)
        try:
            got = batch.propagate(**call, threads=threads)
        finally:
            lanes._set_max_width(previous)
        counts["calls made"] += 1
        for i, want in enumerate(reference):
            for name, a, b in zip(("r", "v", "err"), (x[i] for x in got), want):
                if not same(a, b):
                    fail(f"{name} of set {i} ({what}, {threads} threads, width {width}) differs from its "
                         f"record's alone: {pairs[i]!r}")
        codes = set(np.unique(got[2]).tolist()) - {0}
        if not codes <= set(ERRORS):
            fail(f"codes {sorted(codes - set(ERRORS))} are not in ERRORS")
        bad = got[2] != 0
        if not (np.isnan(got[0][bad]).all() and np.isnan(got[1][bad]).all()):
            fail(f"a sample with an error code holds a number ({what})")

    return propagator_target
