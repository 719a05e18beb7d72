"""Build and drop many records, element sets and array results, good and bad.

After a warm-up, the memory traced by tracemalloc and the process's resident
size must not grow with the number of calls, and the objects passed in must
keep their reference counts.  Every failing case is first checked to fail
the way it should, so that a churn of failures really runs the error path.
"""

import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest

from _reliability import summary
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.state import orbel
from quorvane.time.time import Time

L1 = "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976"
L2 = "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676"
L1B = "1 25544U 98067A   24006.48765432  .00021463  00000-0  38251-3 0  9976"
OTHER1 = "1 20580U 90037B   24005.51002987  .00001523  00000-0  77437-4 0  9993"
OTHER2 = "2 20580  28.4698 115.5813 0002617 115.7236 330.4133 15.15609004667093"
LETTER1 = "1 A0580U 90037B   24005.51002987  .00001523  00000-0  77437-4 0  9993"

PAGE = os.sysconf("SC_PAGE_SIZE")
TRACED_SLACK = 32 * 1024  # interpreter caches (interned names, free lists) may settle
RSS_SLACK = 4 * 1024 * 1024
# AddressSanitizer keeps freed blocks in quarantine, so the resident size of
# a sanitizer run grows without a leak; its traced memory still counts.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


class StrSub(str):
    pass


class Unordered:
    """An epoch that cannot be ordered."""

    def __lt__(self, other):
        raise TypeError("no order")


class LookAlike:
    def __init__(self, epoch, satno):
        self.epoch, self.satno = epoch, satno


class NoSatno:
    def __init__(self, epoch):
        self.epoch = epoch


class RaisingBool:
    def __bool__(self):
        raise ZeroDivisionError


REC = DUOLINE(L1, L2)
REC_B = DUOLINE(L1B, L2)
REC_OTHER = DUOLINE(OTHER1, OTHER2)
REC_LETTER = DUOLINE(LETTER1, OTHER2)
EPOCH = REC.epoch
A = np.linspace(7.0e6, 4.2e7, 16)
ECC = np.linspace(0.0, 0.9, 16)
R = np.array([[7.0e6, 1.0e5, 2.0e3], [8.0e6, -3.0e5, 1.0e4]])
V = np.array([[1.0e2, 7.5e3, 1.0e1], [-2.0e2, 6.9e3, 3.0e2]])
ELEMENTS = orbel.orbel_from_sv(R, V)

RECORD_CASES = [
    ("record", DUOLINE, (L1, L2), None),
    ("record, strict flag", DUOLINE, (L1, L2, False), None),
    ("too few arguments", DUOLINE, (L1,), TypeError),
    ("too many arguments", DUOLINE, (L1, L2, False, 1), TypeError),
    ("line1 None", DUOLINE, (None, L2), TypeError),
    ("line2 bytes", DUOLINE, (L1, L2.encode()), TypeError),
    ("line1 str subclass", DUOLINE, (StrSub(L1), L2), TypeError),
    ("line1 not ASCII", DUOLINE, (L1 + "\u00e9", L2), UnicodeEncodeError),
    ("line2 not ASCII", DUOLINE, (L1, "\u0663" + L2), UnicodeEncodeError),
    ("line2 lone surrogate", DUOLINE, (L1, L2 + "\ud800"), UnicodeEncodeError),
    ("truth test raises", DUOLINE, (L1, L2, RaisingBool()), ZeroDivisionError),
    ("epoch out of range", DUOLINE, (L1[:20] + "1e300       " + L1[32:], L2), OverflowError),
]
RECORD_KEYWORD_CASES = [
    ("unexpected keyword", DUOLINE, (L1, L2), {"strict": True}, TypeError),
    ("keyword repeats a positional", DUOLINE, (L1, L2), {"line1": L1}, TypeError),
]

SET_CASES = [
    ("set of three", ELSET, (REC_B, REC, REC), None),
    ("set with a name", ELSET, (REC, REC_B), None),
    ("no records", ELSET, (), AssertionError),
    ("two satellites", ELSET, (REC, REC_OTHER), AssertionError),
    ("no epoch attribute (name by position)", ELSET, (REC, "ISS"), AttributeError),
    ("epochs not ordered", ELSET, (LookAlike(Unordered(), 25544), LookAlike(Unordered(), 25544)), TypeError),
    ("no satno attribute", ELSET, (REC, NoSatno(EPOCH)), AttributeError),
    ("satellite number not decimal", ELSET, (REC_LETTER,), TypeError),
    ("satellite number too large", ELSET, (LookAlike(EPOCH, 2**40),), OverflowError),
    ("not a record", ELSET, (LookAlike(EPOCH, 25544),), TypeError),
]
SET_KEYWORD_CASES = [
    ("set with a name", ELSET, (REC, REC_B), {"satname": "ISS"}, None),
    ("satname bytes", ELSET, (REC,), {"satname": b"ISS"}, TypeError),
    ("satname str subclass", ELSET, (REC,), {"satname": StrSub("ISS")}, TypeError),
    ("unexpected keyword", ELSET, (REC,), {"name": "ISS"}, TypeError),
]

ARRAY_CASES = [
    (f"{fn.__name__} array", fn, (A,), None) for fn in
    (orbel.mnm_from_sma, orbel.sma_from_mnm, orbel.orp_from_sma, orbel.sma_from_orp)
] + [
    (f"{fn.__name__} arrays", fn, (A[::-1] * 1e-7, ECC), None) for fn in
    (orbel.eca_from_mea, orbel.mea_from_eca, orbel.eca_from_tra, orbel.tra_from_eca, orbel.tra_from_mea,
     orbel.mea_from_tra)
] + [
    ("orbel_from_sv", orbel.orbel_from_sv, (R, V), None),
    ("sv_from_orbel", orbel.sv_from_orbel, (ELEMENTS,), None),
    ("two dimensions", orbel.mnm_from_sma, (R,), AssertionError),
    ("int64 array", orbel.mnm_from_sma, (np.arange(4),), ValueError),
    ("list", orbel.eca_from_mea, ([0.1, 0.2], 0.1), AttributeError),
    ("lengths differ", orbel.eca_from_mea, (A, ECC[:3]), AssertionError),
    ("element not a number", orbel.eca_from_tra, (ECC[:3], np.array([0.1, None, 0.3], object)), TypeError),
    ("GM not a number", orbel.orbel_from_sv, (R, V, "GM"), TypeError),
    ("state shapes", orbel.orbel_from_sv, (R, V[:1]), AssertionError),
    ("not element records", orbel.sv_from_orbel, (A,), ValueError),
    ("None records", orbel.sv_from_orbel, (None,), AttributeError),
    ("too many arguments", orbel.mnm_from_sma, (A, 1.0, 2.0), TypeError),
]


def normalise(cases):
    return [(name, fn, args, {}, exc) for name, fn, args, exc in cases]


def churn(fn, args, kwargs, n):
    for _ in range(n):
        try:
            fn(*args, **kwargs)
        except Exception:
            pass


def check_stable(cases, n, built, n_ok=None):
    """Run every failing case n times and every good one n_ok times (default n) after a warm-up.

    Memory and the reference counts of the arguments must not grow.
    """
    n_ok = n_ok or n
    for name, fn, args, kwargs, exc in cases:
        if exc is None:
            fn(*args, **kwargs)
        else:
            with pytest.raises(exc):
                fn(*args, **kwargs)
    passed = [*{id(a): a for _, _, args, kwargs, _ in cases for a in (*args, *kwargs.values())}.values()]
    for name, fn, args, kwargs, _ in cases:
        churn(fn, args, kwargs, 200)
    gc.collect()
    refcounts = [sys.getrefcount(a) for a in passed]
    rss_before = rss()
    retained = {}
    for name, fn, args, kwargs, exc in cases:
        count = n if exc else n_ok
        gc.collect()
        tracemalloc.start()
        start = tracemalloc.get_traced_memory()[0]
        churn(fn, args, kwargs, count)
        gc.collect()
        retained[name] = tracemalloc.get_traced_memory()[0] - start
        tracemalloc.stop()
        summary[f"{built} ({'refused' if exc else 'built'})"] += count
    grown = rss() - rss_before
    summary["bytes retained"] += sum(retained.values())
    leaking = {name: size for name, size in retained.items() if size > TRACED_SLACK}
    assert not leaking, f"traced memory kept after {n} calls: {leaking}"
    assert UNDER_ASAN or grown < RSS_SLACK, f"resident size grew by {grown} bytes"
    gc.collect()
    assert [sys.getrefcount(a) for a in passed] == refcounts


def test_records_leave_nothing_behind():
    check_stable(normalise(RECORD_CASES) + RECORD_KEYWORD_CASES, 10_000, "records", n_ok=100_000)


def test_element_sets_leave_nothing_behind():
    check_stable(normalise(SET_CASES) + SET_KEYWORD_CASES, 10_000, "element sets", n_ok=30_000)


def test_array_results_leave_nothing_behind():
    check_stable(normalise(ARRAY_CASES), 5_000, "orbel array calls", n_ok=10_000)


def test_arrays_taken_from_a_set_own_their_memory():
    """An element array keeps the set's storage alive; dropping both frees it."""
    gc.collect()
    tracemalloc.start()
    start = tracemalloc.get_traced_memory()[0]
    for _ in range(20_000):
        ecc = ELSET(REC, REC_B).ecc
        assert ecc[0] == REC.ecc
        del ecc
    gc.collect()
    retained = tracemalloc.get_traced_memory()[0] - start
    tracemalloc.stop()
    summary["bytes retained"] += retained
    assert retained < TRACED_SLACK
