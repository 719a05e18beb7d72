"""The native error convention: kernels that call atan2_asymmetric pass its
exception on (-1.0, a traceback entry per kernel), with a stand-in for the
angle function that raises on a chosen call (raising_atan2.c)."""

import os

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PRELUDE = """
import ctypes, math, sys, types
import numpy as np
sys.path.insert(0, TESTS)

lib = ctypes.PyDLL(HELPER)
lib.fail_at.argtypes = [ctypes.c_long]
lib.call_count.restype = ctypes.c_long
lib.take_error.restype = ctypes.py_object
for name in ("call_anomaly", "call_anomaly_unlocked"):
    getattr(lib, name).argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double]
    getattr(lib, name).restype = ctypes.c_double
lib.call_orbel_from_sv.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p]
lib.call_orbel_from_sv.restype = None

from fakes import new_capsule
fake = types.ModuleType("quorvane.mathtools.misc.misc")
fake.__pyx_capi__ = {"atan2_asymmetric": new_capsule(ctypes.cast(lib.atan2_asymmetric, ctypes.c_void_p).value,
                                                     "double (double const , double const )")}
sys.modules["quorvane.mathtools.misc.misc"] = fake

import quorvane.state.orbel as orbel
from capsules import address

class Sub(np.ndarray):
    pass

def entries(exc):
    names, tb = [], exc.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return [n for n in names if n.startswith("quorvane.")]

def raises(call):
    try:
        call()
    except ArithmeticError as exc:
        assert str(exc) == "atan2_asymmetric failed"
        return entries(exc)
    raise AssertionError("no exception")

P = "quorvane.state.orbel."
"""


def run(python, helper, body):
    proc = python(f"HELPER = {helper!r}\nTESTS = {TESTS!r}\n" + PRELUDE + body + "\nprint('ok')\n")
    assert proc.stdout.strip().endswith("ok")


def test_reporting_kernels(python, raising_atan2):
    run(python, raising_atan2, """
for name, chain in [("c_eca_from_tra", ["c_eca_from_tra"]), ("c_tra_from_eca", ["c_tra_from_eca"]),
                    ("c_tra_from_mea", ["c_tra_from_mea", "c_tra_from_eca"]),
                    ("c_mea_from_tra", ["c_mea_from_tra", "c_eca_from_tra"])]:
    fn = address(orbel, name)
    for call in (lib.call_anomaly, lib.call_anomaly_unlocked):
        lib.fail_at(0)
        assert call(fn, 1.0, 0.1) == -1.0
        exc = lib.take_error()
        assert type(exc) is ArithmeticError and entries(exc) == [P + c for c in chain], (name, entries(exc))
        lib.fail_at(-1)
        value = call(fn, 1.0, 0.1)
        assert value != -1.0 and lib.take_error() is None and lib.call_count() == 1
# the two kernels that do not call the angle function never report
for name in ("c_eca_from_mea", "c_mea_from_eca"):
    lib.fail_at(0)
    assert lib.call_anomaly(address(orbel, name), 1.0, 0.1) != -1.0 and lib.take_error() is None
    assert lib.call_count() == 0
""")


def test_state_vector_kernel_keeps_the_fields_stored_so_far(python, raising_atan2):
    run(python, raising_atan2, """
FIELDS = orbel.ORBEL_dt.names
fn = address(orbel, "c_orbel_from_sv")
def attempt(r, v, failing):
    out = np.full(1, 99.0, dtype=[(f, "f8") for f in FIELDS])
    r, v = np.array(r, float), np.array(v, float)
    lib.fail_at(failing)
    lib.call_orbel_from_sv(fn, r.ctypes.data, v.ctypes.data, 3.986004418e14, out.ctypes.data)
    exc = lib.take_error()
    assert entries(exc) == [P + "c_orbel_from_sv"] and lib.call_count() == failing + 1
    return [f for f in FIELDS if out[f][0] != 99.0]
inclined = ([7.0e6, 1.0e5, 2.0e5], [100.0, 7.6e3, 1.0e3])
assert attempt(*inclined, 0) == ["ecc", "sma", "inc", "slr"]            # raa failed
assert attempt(*inclined, 1) == ["ecc", "sma", "inc", "raa", "slr"]     # arp failed
assert attempt(*inclined, 2) == ["ecc", "sma", "inc", "raa", "arp", "slr"]
equatorial = ([7.0e6, 1.0e5, 0.0], [100.0, 7.6e3, 0.0])                # raa = 0 without a call
assert attempt(*equatorial, 0) == ["ecc", "sma", "inc", "raa", "slr"]
""")


def test_entry_points_raise(python, raising_atan2):
    run(python, raising_atan2, """
angles = np.linspace(0.1, 3.0, 6)
for name, chain in [("eca_from_tra", ["c_eca_from_tra"]), ("tra_from_eca", ["c_tra_from_eca"]),
                    ("tra_from_mea", ["c_tra_from_mea", "c_tra_from_eca"]),
                    ("mea_from_tra", ["c_mea_from_tra", "c_eca_from_tra"])]:
    f = getattr(orbel, name)
    for args in ((angles, 0.2), (angles.view(Sub), 0.2), (0.5, np.full(6, 0.2)), (angles, np.full(6, 0.2))):
        lib.fail_at(3)
        assert raises(lambda: f(*args)) == [P + c for c in chain]
        assert lib.call_count() == 4                                     # stopped at once
    lib.fail_at(0)
    assert raises(lambda: f(0.5, 0.2)) == [P + c for c in chain]
    lib.fail_at(-1)
    assert f(angles, 0.2).shape == (6,)
r = np.array([[7.0e6, 1.0e5, 2.0e5]] * 4)
v = np.array([[100.0, 7.6e3, 1.0e3]] * 4)
# three calls per inclined state: the fifth is the second state's arp
for args, failing in (((r, v), 4), ((r.view(Sub), v.view(Sub)), 4), ((r[0], v[0]), 1)):
    lib.fail_at(failing)
    assert raises(lambda: orbel.orbel_from_sv(*args)) == [P + "c_orbel_from_sv"]
    assert lib.call_count() == failing + 1
""")


# The entry points call the vector kernels bound from arqel at import, as the
# exported kernel does: a replaced kernel changes both results alike, and an
# exception it leaves pending ends the call.
BOUND_VECTORS = """
import ctypes, sys, types
import numpy as np
sys.path.insert(0, TESTS)
from capsules import address, capsule_name
from fakes import fake_of, new_capsule, renamed

lib = ctypes.PyDLL(HELPER)
lib.fail_at.argtypes = [ctypes.c_long]
lib.call_count.restype = ctypes.c_long
lib.fail_at(-1)
# A fake arqel: cross computes a + b, normalize raises on the chosen call.
arqel = fake_of("quorvane.mathtools.arqel.arqel")
table = arqel.__pyx_capi__
table["cross"] = renamed(table["add"], capsule_name(table["cross"]))
table["normalize"] = new_capsule(ctypes.cast(lib.normalize, ctypes.c_void_p).value, capsule_name(table["normalize"]))
import quorvane.state.orbel as orbel

r = np.array([[7.0e6, 1.0e5, 2.0e5], [6.9e6, -3.0e5, 1.0e6]])
v = np.array([[100.0, 7.6e3, 1.0e3], [-50.0, 7.1e3, 2.0e3]])

# c_orbel_from_sv through its capsule, record by record
kernel = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p)(
    address(orbel, "c_orbel_from_sv"))
expected = np.zeros(2, dtype=orbel.ORBEL_dt)
for i in range(2):
    ri, vi = np.ascontiguousarray(r[i]), np.ascontiguousarray(v[i])
    kernel(ri.ctypes.data, vi.ctypes.data, 3.986004418e14, expected[i:].ctypes.data)
Sub = type("Sub", (np.ndarray,), {})
for args in ((r, v), (r[0], v[0]), (r.view(Sub), v.view(Sub))):
    got = orbel.orbel_from_sv(*args, 3.986004418e14)
    assert got.tobytes() == expected[: len(got)].tobytes(), (got, expected)
# ... which is not what the genuine kernels give
assert not np.allclose(expected["inc"], GENUINE_INC)

# an exception left by the bound normalize ends the call at once
for failing in (0, 1, 2, 3):
    lib.fail_at(failing)
    try:
        orbel.orbel_from_sv(r, v)
    except ArithmeticError as exc:
        assert str(exc) == "normalize failed"
        tb, names = exc.__traceback__, []
        while tb is not None:
            names.append(tb.tb_frame.f_code.co_name)
            tb = tb.tb_next
        assert names[-1] == "quorvane.state.orbel.c_orbel_from_sv", names
    else:
        raise AssertionError("no exception")
    assert lib.call_count() == failing + 1
print("ok")
"""


def test_entry_points_call_the_bound_vector_kernels(python, raising_atan2):
    import numpy as np
    from quorvane.state import orbel

    r = np.array([[7.0e6, 1.0e5, 2.0e5], [6.9e6, -3.0e5, 1.0e6]])
    v = np.array([[100.0, 7.6e3, 1.0e3], [-50.0, 7.1e3, 2.0e3]])
    genuine = orbel.orbel_from_sv(r, v)["inc"].tolist()
    proc = python(f"HELPER = {raising_atan2!r}\nTESTS = {TESTS!r}\nGENUINE_INC = {genuine!r}\n" + BOUND_VECTORS)
    assert proc.stdout.strip() == "ok"
