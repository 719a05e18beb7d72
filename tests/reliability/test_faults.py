"""Sibling modules that misbehave at run time.

Whatever a sibling raises reaches the caller unchanged (the same exception
object where the sibling raised one), and no record, element set or result
is left behind half-built.
"""

import gc
import json
import sys

import numpy as np
import pytest

from quorvane.bodies.bodies import Earth
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.state import orbel
from quorvane.utils.representable import Representable

L1 = "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976"
L2 = "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676"


class Injected(Exception):
    pass


class RaisingFloat:
    def __init__(self):
        self.exc = Injected("float")

    def __float__(self):
        raise self.exc


def live(type_):
    gc.collect()
    return sum(1 for o in gc.get_objects() if isinstance(o, type_))


def assert_propagates(call, expected, *passed):
    """`call` raises `expected` (a type, or the very exception object) and builds nothing."""
    before = (live(DUOLINE), live(ELSET), [sys.getrefcount(p) for p in passed])
    exc_type = expected if isinstance(expected, type) else type(expected)
    with pytest.raises(exc_type) as info:
        call()
    if not isinstance(expected, type):
        assert info.value is expected
        expected.__traceback__ = None  # its frames hold the raising object
    del info
    assert (live(DUOLINE), live(ELSET), [sys.getrefcount(p) for p in passed]) == before


@pytest.mark.parametrize("name", ["GM", "Re"])
@pytest.mark.parametrize("value, error", [("x", TypeError), (None, TypeError), (RaisingFloat(), None)])
def test_earth_constant_not_a_number(monkeypatch, name, value, error):
    monkeypatch.setattr(Earth, name, value)
    assert_propagates(lambda: DUOLINE(L1, L2), error or value.exc, L1, L2)


@pytest.mark.parametrize("name", ["GM", "Re"])
def test_earth_constant_missing(monkeypatch, name):
    monkeypatch.delattr(Earth, name)
    assert_propagates(lambda: DUOLINE(L1, L2), AttributeError, L1, L2)


def test_orbel_gm_raising_propagates():
    gm = RaisingFloat()
    assert_propagates(lambda: orbel.mnm_from_sma(np.ones(4), gm), gm.exc, gm)
    assert_propagates(lambda: orbel.orbel_from_sv(np.ones(3), np.ones(3), gm), gm.exc, gm)
    assert_propagates(lambda: orbel.sv_from_orbel(np.zeros(2, orbel.ORBEL_dt), gm), gm.exc, gm)


@pytest.mark.parametrize("method", ["_create_formatted_form", "_create_formatted_frame", "_format_as_property"])
def test_representable_method_raising(monkeypatch, method):
    exc = Injected(method)

    def raising(self, arg):
        raise exc

    monkeypatch.setattr(Representable, method, raising)
    record = DUOLINE(L1, L2)
    with pytest.raises(Injected) as info:
        record._get_body()
    assert info.value is exc
    with pytest.raises(Injected):
        repr(record)
    # The record is untouched and prints again once the base class behaves.
    monkeypatch.undo()
    assert record._get_body().startswith(L1 + "\n" + L2 + "\n{fence}\n")


# ---- Time misbehaving: a stand-in module that wraps the real class.

FAKE_TIME = """
import gc, json, sys, types
import quorvane.time.time as real

class Injected(Exception):
    pass

MODE = None
RAISED = []

def fault(where):
    if MODE == where:
        exc = Injected(where)
        RAISED.append(exc)
        raise exc

class Time:
    # Large enough for the size check of the binding; the wrapped instant lives in _t.
    __slots__ = ("_t", "_pad1", "_pad2")

    def __init__(self, value, format=None):
        if isinstance(value, str):
            fault("year")
        elif format == "jd":
            fault("jd call")
        else:
            fault("array")
        self._t = real.Time(value, format=format) if format else real.Time(value)

    @property
    def jd(self):
        fault("jd")
        return "not a number" if MODE == "jd text" else self._t.jd

    @property
    def int64(self):
        fault("int64")
        return 2**70 if MODE == "int64 huge" else self._t.int64

    def __lt__(self, other):
        fault("lt")
        return self._t < other._t

    @property
    def utc(self):
        fault("utc")
        return self._t.utc

fake = types.ModuleType(real.__name__)
fake.__dict__.update({k: v for k, v in vars(real).items() if not k.startswith("__")})
fake.Time = Time
sys.modules[real.__name__] = fake

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET

L1 = %(L1)r
L2 = %(L2)r
L1B = L1[:20] + "6" + L1[21:]

def live():
    gc.collect()
    return sum(1 for o in gc.get_objects() if isinstance(o, (DUOLINE, ELSET)))

records = [DUOLINE(L1, L2), DUOLINE(L1B, L2)]
results = {}
for mode, call in [
    ("year", lambda: DUOLINE(L1, L2)),
    ("jd", lambda: DUOLINE(L1, L2)),
    ("jd text", lambda: DUOLINE(L1, L2)),
    ("jd call", lambda: DUOLINE(L1, L2)),
    ("lt", lambda: ELSET(*records)),
    ("int64", lambda: ELSET(*records)),
    ("int64 huge", lambda: ELSET(*records)),
    ("array", lambda: ELSET(*records)),
    ("utc", lambda: records[0]._get_body()),
]:
    MODE = mode
    RAISED.clear()
    before = (live(), sys.getrefcount(L1), [sys.getrefcount(r) for r in records])
    try:
        call()
        outcome = "no exception"
    except Exception as exc:
        outcome = type(exc).__name__ + (" (same object)" if RAISED and exc is RAISED[0] else "")
    MODE = None
    RAISED.clear()
    after = (live(), sys.getrefcount(L1), [sys.getrefcount(r) for r in records])
    results[mode] = [outcome, before == after]
# The same records still make a set once Time behaves.
results["recovered"] = ELSET(*records).size
print(json.dumps(results))
""" % {"L1": L1, "L2": L2}


def test_time_misbehaving(python):
    results = json.loads(python(FAKE_TIME).stdout)
    same = "Injected (same object)"
    assert results == {
        "year": [same, True],
        "jd": [same, True],
        "jd text": ["TypeError", True],
        "jd call": [same, True],
        "lt": [same, True],
        "int64": [same, True],
        "int64 huge": ["OverflowError", True],
        "array": [same, True],
        "utc": [same, True],
        "recovered": 2,
    }


# ---- atan2_asymmetric leaving an exception pending: a stand-in misc module
# whose capsule points at PyErr_NoMemory, which sets MemoryError and returns.

FAKE_MISC = """
import ctypes, gc, json, sys, traceback, types
import numpy as np
import quorvane.mathtools.misc.misc as real

name = b"double (double const , double const )"
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
address = ctypes.cast(ctypes.pythonapi.PyErr_NoMemory, ctypes.c_void_p).value
fake = types.ModuleType(real.__name__)
fake.__pyx_capi__ = dict(real.__pyx_capi__, atan2_asymmetric=new_capsule(address, name, None))
sys.modules[real.__name__] = fake

from quorvane.state import orbel
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

L1 = %(L1)r
L2 = %(L2)r
a = np.linspace(0.1, 3.0, 5)
elements = np.zeros(2, orbel.ORBEL_dt)
elements["sma"] = 7e6
elements["ecc"] = 0.1
calls = {
    "eca_from_tra": lambda: orbel.eca_from_tra(1.0, 0.1),
    "tra_from_eca": lambda: orbel.tra_from_eca(a, 0.1),
    "tra_from_mea": lambda: orbel.tra_from_mea(a, a * 0.1),
    "mea_from_tra": lambda: orbel.mea_from_tra(0.5, a * 0.1),
    "orbel_from_sv": lambda: orbel.orbel_from_sv(np.array([7e6, 1e5, 0.0]), np.array([0.0, 7.5e3, 1e2])),
    "DUOLINE": lambda: DUOLINE(L1, L2),
    "mea_from_eca": lambda: orbel.mea_from_eca(a, 0.1),
    "eca_from_mea": lambda: orbel.eca_from_mea(a, 0.1),
}

def live():
    gc.collect()
    return sum(1 for o in gc.get_objects() if isinstance(o, DUOLINE))

results = {}
for label, call in calls.items():
    before = (live(), sys.getrefcount(a), sys.getrefcount(L1))
    try:
        value = call()
        outcome = ["returned", type(value).__name__]
    except Exception as exc:
        names = [f.name for f in traceback.extract_tb(exc.__traceback__)]
        outcome = [type(exc).__name__, [n for n in names if n.startswith("quorvane.")]]
        del exc
    results[label] = outcome + [before == (live(), sys.getrefcount(a), sys.getrefcount(L1))]
print(json.dumps(results))
""" % {"L1": L1, "L2": L2}


def test_atan2_leaving_an_exception(python):
    results = json.loads(python(FAKE_MISC).stdout)
    path = "quorvane.state.orbel."
    assert results["eca_from_tra"] == ["MemoryError", [path + "c_eca_from_tra"], True]
    assert results["tra_from_eca"] == ["MemoryError", [path + "c_tra_from_eca"], True]
    for label in ("tra_from_mea", "mea_from_tra", "orbel_from_sv", "DUOLINE"):
        outcome, names, clean = results[label]
        assert outcome == "MemoryError" and clean, (label, results[label])
        assert names and all(n.startswith(path + "c_") for n in names), (label, names)
    # Kernels that never call atan2_asymmetric are unaffected.
    assert results["mea_from_eca"] == ["returned", "ndarray", True]
    assert results["eca_from_mea"] == ["returned", "ndarray", True]
