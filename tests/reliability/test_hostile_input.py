"""Callers that hand over buffers at odd addresses, or change their own
arguments while a call is reading them.

The misaligned cases are undefined behaviour that only the sanitizer build
reports (make test-asan); on the normal build they check that the values are
those of the aligned arrays.  The mutation cases run in a fresh interpreter
with Python's debug allocator, which makes a read of freed memory crash even
on the normal build.
"""

import math

import numpy as np
import pytest

from markers import SANITIZED
from odd_buffers import MisalignedNumpy, misaligned
from quorvane.state import orbel

SIZE = ["mnm_from_sma", "sma_from_mnm", "orp_from_sma", "sma_from_orp"]
ANOMALY = ["eca_from_mea", "mea_from_eca", "eca_from_tra", "tra_from_eca", "tra_from_mea", "mea_from_tra"]

ANGLES = np.linspace(0.1, 6.0, 7)
ECCS = np.linspace(0.0, 0.9, 7)
SMAS = np.linspace(6.6e6, 4.2e7, 7)


def same_bits(a, b):
    return np.asarray(a).tobytes() == np.asarray(b).tobytes()


@pytest.mark.parametrize("step", [1, 2], ids=["contiguous", "strided"])
@pytest.mark.parametrize("name", SIZE)
@pytest.mark.parametrize("gm", [None, 3.986004418e14, np.float32(4e14)], ids=["default", "float", "float32"])
def test_size_functions_read_misaligned_arrays(name, step, gm):
    fn = getattr(orbel, name)
    args = () if gm is None else (gm,)
    assert same_bits(fn(misaligned(SMAS, step), *args), fn(SMAS, *args))


@pytest.mark.parametrize("step", [1, 2], ids=["contiguous", "strided"])
@pytest.mark.parametrize("name", ANOMALY)
@pytest.mark.parametrize("which", ["angle", "ecc", "both"])
def test_anomaly_functions_read_misaligned_arrays(name, which, step):
    fn = getattr(orbel, name)
    angle = misaligned(ANGLES, step) if which != "ecc" else ANGLES
    ecc = misaligned(ECCS, step) if which != "angle" else ECCS
    assert same_bits(fn(angle, ecc), fn(ANGLES, ECCS))
    if which == "angle":
        assert same_bits(fn(angle, 0.3), fn(ANGLES, 0.3))
    if which == "ecc":
        assert same_bits(fn(1.0, ecc), fn(1.0, ECCS))


@pytest.mark.parametrize("step", [1, 2], ids=["contiguous", "strided"])
def test_element_functions_write_misaligned_results(monkeypatch, step):
    expected = {name: getattr(orbel, name)(SMAS) for name in SIZE}
    expected.update({name: getattr(orbel, name)(ANGLES, ECCS) for name in ANOMALY})
    expected["eca_from_mea scalar ecc"] = orbel.eca_from_mea(ANGLES, 0.3)
    monkeypatch.setattr(orbel, "numpy", MisalignedNumpy(step))
    got = {name: getattr(orbel, name)(SMAS) for name in SIZE}
    got.update({name: getattr(orbel, name)(ANGLES, ECCS) for name in ANOMALY})
    got["eca_from_mea scalar ecc"] = orbel.eca_from_mea(ANGLES, 0.3)
    for name, value in got.items():
        assert value.ctypes.data % 8 == 1 and same_bits(value, expected[name]), name


@pytest.fixture
def states():
    rng = np.random.default_rng(5)
    r = rng.uniform(-7e6, 7e6, (6, 3)) + np.array([7e6, 0.0, 0.0])
    v = rng.uniform(-1e3, 1e3, (6, 3)) + np.array([0.0, 7.5e3, 0.0])
    return r, v


@pytest.mark.parametrize("step", [1, 2], ids=["contiguous", "strided"])
def test_state_vector_functions_on_misaligned_buffers(monkeypatch, states, step):
    r, v = states
    elements = orbel.orbel_from_sv(r, v)
    positions = orbel.sv_from_orbel(elements)
    # Inputs at odd addresses: states read from memory, records read packed.
    assert same_bits(orbel.orbel_from_sv(misaligned(r, step), misaligned(v, step)), elements)
    odd = misaligned(elements, step)
    assert same_bits(orbel.sv_from_orbel(odd), positions)
    # Results at odd addresses.
    monkeypatch.setattr(orbel, "numpy", MisalignedNumpy(step))
    got = orbel.orbel_from_sv(r, v)
    assert got.ctypes.data % 8 == 1 and same_bits(got, elements)
    got_r, got_v = orbel.sv_from_orbel(odd)
    assert got_r.ctypes.data % 8 == 1 and same_bits((got_r, got_v), positions)


def test_the_reported_reproducer():
    x = np.frombuffer(bytearray(33), np.float64, offset=1, count=4)
    assert orbel.eca_from_mea(x, 0.3).tolist() == [0.0] * 4


# --------------------------------------------------------------------------
# Arguments changed by the caller's own code during the call.

def run_checked(python, code):
    """Run `code` in a fresh interpreter where a read of freed memory
    crashes: the debug allocator on the normal build, the sanitizer's own
    under make test-asan.  Returns its output."""
    proc = python(code, check=False, env=None if SANITIZED else {"PYTHONMALLOC": "debug"})
    assert proc.returncode == 0, f"exit status {proc.returncode}\n{proc.stderr[-3000:]}"
    return proc.stdout


# Each case empties the dict it was given from inside a str() or hash() the
# formatting calls, at the n-th call; the text is made from what was read.
FORMATTING = """
from quorvane.utils.representable import Representable
r = Representable()

class Clearing:
    calls = 0
    def __init__(self, text, when, method):
        self.text, self.when, self.method = text, when, method
    def clear(self, method):
        Clearing.calls += 1
        if method == self.method and Clearing.calls == self.when:
            victim.clear()
    def __str__(self):
        self.clear("str")
        return self.text
    def __hash__(self):
        self.clear("hash")
        return hash(self.text)
    def __eq__(self, other):
        return self is other

results = []
for method in ("str", "hash"):
    for when in range(1, 9):
        # a form: label -> text
        Clearing.calls = -100
        victim = {Clearing(f"k{i}", when, method): Clearing(f"v{i}", when, method) for i in range(3)}
        Clearing.calls = 0
        results.append(r._create_formatted_form(victim))
        # a frame: heading -> {row label -> text}; the column is the victim
        Clearing.calls = -100
        victim = {Clearing(f"r{i}", when, method): Clearing(f"c{i}", when, method) for i in range(3)}
        Clearing.calls = 0
        results.append(r._create_formatted_frame({"col": victim, "other": dict(victim)}))
print(len(results))
"""


def test_formatting_survives_the_caller_emptying_its_dict(python):
    assert run_checked(python, FORMATTING).strip() == "32"


ENU_ORIGIN = """
from quorvane.frames.frames import ENU

class Clearing:
    def __init__(self, value):
        self.value = value
    def __float__(self):
        origin.clear()
        return self.value

origin = [Clearing(1.0), Clearing(2.0), Clearing(3.0)]
site = ENU(0.1, 0.2, origin)
print(origin, site.name)
"""


def test_enu_origin_list_emptied_during_conversion(python):
    assert run_checked(python, ENU_ORIGIN).strip() == "[] ENU"
