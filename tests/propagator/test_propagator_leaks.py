"""Building propagators and propagating, good calls and refused ones, leave
no memory and no references behind."""

import gc
import pickle
import sys
import tracemalloc

import numpy as np
import pytest

from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.propagators.analytical.sgp4.propagator import SGP4

L1 = "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976"
L2 = "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676"
L1B = "1 25544U 98067A   24006.48765432  .00021463  00000-0  38251-3 0  9976"
RECORD, LATER = DUOLINE(L1, L2), DUOLINE(L1B, L2)
HISTORY = ELSET(RECORD, LATER)
TABLE = read_catalogue(f"{L1}\n{L2}\n{L1B}\n{L2}\n")
PROP, PROP_H, PROP_T = SGP4([RECORD, LATER]), SGP4(HISTORY), SGP4(TABLE)
TS = np.linspace(0.0, 100.0, 7)
TIMES = np.datetime64("2024-01-06", "s") + np.arange(7) * np.timedelta64(60, "s")
OUT = (np.empty((2, 7, 3)), np.empty((2, 7, 3)), np.empty((2, 7), np.int8))
BAD_OUT = (np.empty((2, 7, 3)), np.empty((2, 7, 3)), np.empty((2, 7), np.int16))

CASES = [
    (SGP4, (RECORD,), {}, None),
    (SGP4, ([RECORD, LATER],), {"gravity": "wgs84"}, None),
    (SGP4, (HISTORY,), {"mode": "afspc"}, None),
    (SGP4, (TABLE,), {}, None),
    (SGP4, ([RECORD, "x"],), {}, TypeError),
    (SGP4, (RECORD,), {"gravity": "x"}, ValueError),
    (PROP.propagate, (), {"tsince": TS}, None),
    (PROP.propagate, (TIMES,), {}, None),
    (PROP_H.propagate, (TIMES,), {"select": "nearest"}, None),
    (PROP.propagate, (), {"tsince": TS, "out": OUT}, None),
    (PROP.propagate, (), {"tsince": TS, "out": BAD_OUT}, TypeError),
    (PROP.propagate, (TIMES,), {"tsince": TS}, TypeError),
    (PROP.propagate, ([1, 2],), {}, TypeError),
    (PROP.propagate, (), {"tsince": TS, "select": "x"}, ValueError),
    (pickle.dumps, (PROP_T,), {}, None),
    (pickle.dumps, (PROP,), {}, TypeError),
]


def call(fn, args, kwargs):
    try:
        fn(*args, **kwargs)
    except Exception:
        pass


@pytest.mark.parametrize("fn, args, kwargs, error", CASES)
def test_calls_leave_nothing_behind(fn, args, kwargs, error):
    if error:
        with pytest.raises(error):
            fn(*args, **kwargs)
    passed = [*args, *kwargs.values()]
    for _ in range(200):
        call(fn, args, kwargs)
    gc.collect()
    counts = [sys.getrefcount(a) for a in passed]
    tracemalloc.start()
    try:
        # Caches of the interpreter and NumPy fill during the first window
        # (more so without pymalloc, as under the sanitizer); a leak keeps
        # growing in the second.
        for _ in range(1000):
            call(fn, args, kwargs)
        gc.collect()
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(2000):
            call(fn, args, kwargs)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert grown < 32 * 1024
    assert [sys.getrefcount(a) for a in passed] == counts
