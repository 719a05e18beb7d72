"""Module frame of quorvane.state.orbel: export table, module dict, function
objects, defaults captured at import, binding failures."""

import importlib
import struct

import pytest

import quorvane.state.orbel as orbel
from capsules import capsule_name, variable
from quorvane.bodies.bodies import Earth

PERIOD = "double (double const , double)"
ANOMALY = "double (double const , double const )"
ALTITUDE = "double (double const , double const , double const )"

EXPORTS = [
    ("_2pi", "double"),
    ("c_orp_from_sma", PERIOD),
    ("c_sma_from_orp", PERIOD),
    ("c_mnm_from_sma", PERIOD),
    ("c_sma_from_mnm", PERIOD),
    ("c_eca_from_mea", ANOMALY),
    ("c_mea_from_eca", ANOMALY),
    ("c_eca_from_tra", ANOMALY),
    ("c_tra_from_eca", ANOMALY),
    ("c_tra_from_mea", ANOMALY),
    ("c_mea_from_tra", ANOMALY),
    ("c_pge_from_sma_ecc", ALTITUDE),
    ("c_apg_from_sma_ecc", ALTITUDE),
    ("c_sma_from_pge_apg", ALTITUDE),
    ("c_sma_from_ecc_pge", ALTITUDE),
    ("c_sma_from_ecc_apg", ALTITUDE),
    ("c_ecc_from_pge_apg", ALTITUDE),
    ("c_ecc_from_sma_pge", ALTITUDE),
    ("c_ecc_from_sma_apg", ALTITUDE),
    ("c_orbel_from_sv", "void (double *, double *, double const , struct ORBEL_s *)"),
    ("c_sv_from_orbel", "void (struct ORBEL_s const , double const , double *, double *)"),
]

FUNCTIONS = [
    "orp_from_sma", "sma_from_orp", "mnm_from_sma", "sma_from_mnm",
    "eca_from_mea", "mea_from_eca", "eca_from_tra", "tra_from_eca", "tra_from_mea", "mea_from_tra",
    "orbel_from_sv", "sv_from_orbel",
]
SIZE_PERIOD = {"orp_from_sma": "sma", "sma_from_orp": "orp", "mnm_from_sma": "sma", "sma_from_mnm": "mnm"}
ANOMALIES = {"eca_from_mea": "mea", "mea_from_eca": "eca", "eca_from_tra": "tra",
             "tra_from_eca": "eca", "tra_from_mea": "mea", "mea_from_tra": "tra"}
SCALAR_OR_ARRAY = "double | ndarray[double]"


def test_export_table():
    assert [(name, capsule_name(c)) for name, c in orbel.__pyx_capi__.items()] == EXPORTS


def test_2pi_is_native_only():
    value = variable(orbel, "_2pi").value
    assert struct.pack(">d", value).hex() == "401921fb54442d18"
    assert not hasattr(orbel, "_2pi")


def test_module_dict():
    own = [k for k in vars(orbel) if k not in ("__name__", "__doc__", "__file__", "__loader__", "__package__", "__spec__")]
    assert own == ["__pyx_capi__", "numbers", "numpy", "ORBEL_dt", "DatetimeLike", *FUNCTIONS, "__test__"]
    import numbers, numpy
    from quorvane.datamodel import ORBEL_dt
    from quorvane.typing import DatetimeLike
    assert (orbel.numbers, orbel.numpy, orbel.ORBEL_dt, orbel.DatetimeLike) == (numbers, numpy, ORBEL_dt, DatetimeLike)
    assert orbel.__test__ == {}


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_objects(name):
    f = getattr(orbel, name)
    assert (f.__name__, f.__qualname__, f.__module__, f.__kwdefaults__) == (name, name, "quorvane.state.orbel", None)
    if name in SIZE_PERIOD:
        first = SIZE_PERIOD[name]
        assert f.__annotations__ == {first: SCALAR_OR_ARRAY, "GM": "double", "return": SCALAR_OR_ARRAY}
        assert f.__doc__.splitlines()[0] == f"{name}({first}: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]"
        assert f.__defaults__ == (Earth.GM,)
    elif name in ANOMALIES:
        first = ANOMALIES[name]
        assert f.__annotations__ == {first: SCALAR_OR_ARRAY, "ecc": SCALAR_OR_ARRAY, "return": SCALAR_OR_ARRAY}
        assert f.__doc__.splitlines()[0] == f"{name}({first}: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]"
        assert f.__defaults__ is None
    else:
        assert f.__defaults__ == (float(Earth.GM),) and type(f.__defaults__[0]) is float
    assert "Parameters\n----------\n" in f.__doc__ and "Returns\n-------\n" in f.__doc__


def test_state_vector_metadata():
    assert orbel.orbel_from_sv.__annotations__ == {
        "r": "ndarray[double]", "v": "ndarray[double]", "GM": "float", "return": "ndarray[ORBEL_dt]"}
    assert orbel.sv_from_orbel.__annotations__ == {
        "orbel": "ndarray[ORBEL_dt]", "GM": "float", "return": "tuple[ndarray[double], 2]"}
    assert orbel.orbel_from_sv.__doc__.splitlines()[:3] == [
        "orbel_from_sv(r: ndarray[double], v: ndarray[double], double GM: float = Earth.GM) -> ndarray[ORBEL_dt]",
        "", "Convert Cartesian state vector(s) to classical orbital elements (ORBELs)."]
    assert orbel.sv_from_orbel.__doc__.splitlines()[0] == (
        "sv_from_orbel(orbel: ndarray[ORBEL_dt], double GM: float = Earth.GM) -> tuple[ndarray[double], 2]")


def test_import_twice_and_reload():
    capi = orbel.__pyx_capi__
    f = orbel.mnm_from_sma
    assert importlib.import_module("quorvane.state.orbel") is orbel
    assert importlib.reload(orbel) is orbel
    assert orbel.__pyx_capi__ is capi and orbel.mnm_from_sma is f


def test_defaults_captured_at_import(python):
    proc = python("""
        from fractions import Fraction
        from quorvane.bodies.bodies import Earth
        gm = Fraction(398600441800000, 1)
        Earth.GM = gm                     # an object, kept as it is by four functions
        import quorvane.state.orbel as orbel
        assert orbel.mnm_from_sma.__defaults__[0] is gm
        assert orbel.sma_from_orp.__defaults__[0] is gm
        # each function read Earth.GM for itself: holders are not shared
        assert orbel.mnm_from_sma.__defaults__ is not orbel.orp_from_sma.__defaults__
        assert orbel.orbel_from_sv.__defaults__ == (398600441800000.0,)
        mnm = orbel.mnm_from_sma(7.0e6)
        Earth.GM = 1.0
        assert orbel.mnm_from_sma.__defaults__[0] is gm
        assert orbel.sv_from_orbel.__defaults__ == (398600441800000.0,)
        assert orbel.mnm_from_sma(7.0e6) == mnm == (398600441800000.0 / 7.0e6) ** 0.5 / 7.0e6
        print("ok")
    """)
    assert proc.stdout.strip() == "ok"


PRELUDE = """
import sys
from fakes import fake_of
def attempt():
    try:
        import quorvane.state.orbel
    except Exception as exc:
        print(type(exc).__name__, exc, sep=": ")
        print("quorvane.state.orbel" in sys.modules)
    else:
        print("imported")
"""


@pytest.mark.parametrize("setup, expected", [
    ('fake_of("quorvane.mathtools.arqel.arqel", drop=["normalize"])',
     "ImportError: quorvane.mathtools.arqel.arqel does not export expected C function normalize"),
    # the angle function is bound before the vector kernels
    ('fake_of("quorvane.mathtools.arqel.arqel", drop=["dot"]); fake_of("quorvane.mathtools.misc.misc", drop=["atan2_asymmetric"])',
     "ImportError: quorvane.mathtools.misc.misc does not export expected C function atan2_asymmetric"),
    # types, then variables: a missing TEME is reported before anything of misc
    ('fake_of("quorvane.frames.frames", drop=["TEME"]); fake_of("quorvane.mathtools.misc.misc", drop=["atan2_asymmetric"])',
     "ImportError: quorvane.frames.frames does not export expected C variable TEME"),
    ('fake_of("quorvane.time.time", Time=type("Time", (), {}))',
     "ValueError: quorvane.time.time.Time size changed, may indicate binary incompatibility. "
     "Expected 32 from C header, got 16 from PyObject"),
    ('fake_of("quorvane.datamodel", ORBEL_dt=None); del sys.modules["quorvane.datamodel"].ORBEL_dt',
     "ImportError: cannot import name ORBEL_dt"),
    # the state-vector functions convert Earth.GM at import
    ('import quorvane.bodies.bodies as b; b.Earth.GM = "398600441800000"',
     "TypeError: must be real number, not str"),
])
def test_binding_failures(python, setup, expected):
    proc = python(PRELUDE + setup + "\nattempt()\n")
    assert proc.stdout.splitlines() == [expected, "False"]
