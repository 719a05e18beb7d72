"""The duoline module: start-up, bindings, module contents, locale, -O."""

import importlib
import shutil
import subprocess
import sys
import textwrap

import pytest

PATH = "quorvane.propagators.analytical.sgp4.duoline"


def test_module_contents(duoline):
    names = {k for k in vars(duoline) if not (k.startswith("__") and k.endswith("__"))}
    assert names == {"numpy", "DUOLINE", "ELSET"}
    assert duoline.__test__ == {}
    assert duoline.numpy is sys.modules["numpy"]
    assert not hasattr(duoline, "__pyx_capi__")


def test_types(duoline):
    from quorvane.utils.representable import Representable

    for cls, name in [(duoline.DUOLINE, "DUOLINE"), (duoline.ELSET, "ELSET")]:
        assert cls.__bases__ == (Representable,)
        assert cls.__module__ == PATH and cls.__name__ == name
    assert type(duoline.DUOLINE.__dict__["__pyx_vtable__"]).__name__ == "PyCapsule"
    assert "__pyx_vtable__" not in duoline.ELSET.__dict__
    assert duoline.ELSET.__doc__ == "TODO: must behave like Ephemeris"


def test_import_twice_and_reload(duoline):
    again = importlib.import_module(PATH)
    assert again is duoline
    cls = duoline.DUOLINE
    assert importlib.reload(duoline) is duoline
    assert duoline.DUOLINE is cls


# One interpreter tries each broken exporter in turn: a failed import is
# discarded, so the next attempt starts afresh.  Each case prints the
# exception; the last line shows that the real modules still import it.
BROKEN_EXPORTERS = """
import importlib, sys
from fakes import fake_of, renamed

def attempt(path, edit):
    real = importlib.import_module(path)
    fake = fake_of(path)
    edit(fake)
    try:
        importlib.import_module(DUOLINE)
    except Exception as exc:
        print(f"{type(exc).__name__}: {exc}")
    else:
        print("imported")
    finally:
        sys.modules[path] = real
    assert DUOLINE not in sys.modules

DUOLINE = "quorvane.propagators.analytical.sgp4.duoline"
ORBEL = "quorvane.state.orbel"
UNITS = "quorvane.units.units"
UNIT_NAMES = ["s", "sec", "second", "minute", "hour", "day", "sday", "m", "km", "rad", "deg", "rev", "kg"]
KERNELS = ["c_orp_from_sma", "c_sma_from_mnm", "c_eca_from_mea", "c_tra_from_eca", "c_pge_from_sma_ecc",
           "c_apg_from_sma_ecc"]

for name in UNIT_NAMES:
    attempt(UNITS, lambda fake: fake.__pyx_capi__.pop(name))
for name in KERNELS:
    attempt(ORBEL, lambda fake: fake.__pyx_capi__.__setitem__(name, renamed(fake.__pyx_capi__[name], "double (double, double)")))
attempt(ORBEL, lambda fake: fake.__pyx_capi__.pop("_2pi"))
attempt(ORBEL, lambda fake: fake.__pyx_capi__.pop("c_apg_from_sma_ecc"))
attempt("quorvane.frames.frames", lambda fake: fake.__pyx_capi__.pop("TEME"))
attempt("quorvane.utils.representable", lambda fake: setattr(fake, "Representable", object()))
attempt("quorvane.bodies.bodies", lambda fake: delattr(fake, "Moon"))
print(importlib.import_module(DUOLINE).DUOLINE.__name__)
"""


def test_every_binding_is_checked_and_failures_are_discarded(python):
    lines = python(BROKEN_EXPORTERS).stdout.splitlines()
    units = [f"ImportError: quorvane.units.units does not export expected C variable {name}" for name in
             ["s", "sec", "second", "minute", "hour", "day", "sday", "m", "km", "rad", "deg", "rev", "kg"]]
    signatures = {
        "c_orp_from_sma": "double (double const , double)",
        "c_sma_from_mnm": "double (double const , double)",
        "c_eca_from_mea": "double (double const , double const )",
        "c_tra_from_eca": "double (double const , double const )",
        "c_pge_from_sma_ecc": "double (double const , double const , double const )",
        "c_apg_from_sma_ecc": "double (double const , double const , double const )",
    }
    kernels = [
        f"TypeError: C function quorvane.state.orbel.{name} has wrong signature "
        f"(expected {expected}, got double (double, double))"
        for name, expected in signatures.items()
    ]
    assert lines == units + kernels + [
        "ImportError: quorvane.state.orbel does not export expected C variable _2pi",
        "ImportError: quorvane.state.orbel does not export expected C function c_apg_from_sma_ecc",
        "ImportError: quorvane.frames.frames does not export expected C variable TEME",
        "TypeError: quorvane.utils.representable.Representable is not a type object",
        "AttributeError: module 'quorvane.bodies.bodies' has no attribute 'Moon'",
        "DUOLINE",
    ]


@pytest.mark.parametrize("flags, expected", [((), ["AssertionError", "AssertionError"]), (("-O",), ["2", "KeyError"])])
def test_satellite_check_follows_debug_at_import(python, flags, expected):
    # Under -O the check is skipped: two satellites pass, and no records fail
    # only when the number is taken out of the empty set.
    code = """
        from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
        two = DUOLINE("1 25544U", "2 25544"), DUOLINE("1 00005U", "2 00005")
        for records in (two, ()):
            try:
                print(ELSET(*records).size)
            except Exception as exc:
                print(type(exc).__name__)
    """
    assert python(code, *flags).stdout.splitlines() == expected


# ---- Numbers are read the same whatever the process locale


@pytest.fixture(scope="module")
def comma_locale(tmp_path_factory):
    """A locale directory holding de_DE.UTF-8 (decimal comma), built with localedef."""
    localedef = shutil.which("localedef")
    if not localedef:
        pytest.skip("localedef is not available to build a comma-decimal locale")
    root = tmp_path_factory.mktemp("locales")
    proc = subprocess.run([localedef, "-i", "de_DE", "-f", "UTF-8", str(root / "de_DE.UTF-8")], capture_output=True)
    if proc.returncode not in (0, 1) or not (root / "de_DE.UTF-8").exists():
        pytest.skip(f"localedef could not build de_DE.UTF-8: {proc.stderr.decode(errors='replace').strip()}")
    return root


LOCALE_PROBE = """
import ctypes, locale, sys
if len(sys.argv) > 1:
    locale.setlocale(locale.LC_ALL, sys.argv[1])
libc = ctypes.CDLL(None)
libc.atof.restype = ctypes.c_double
print("atof", libc.atof(b"51.6416"))
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
r = DUOLINE("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
            "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
print(*(getattr(r, n).hex() for n in ("inc", "raa", "ecc", "arp", "mea", "mnm", "sma")), r.epoch.int64)
"""


def test_fields_do_not_depend_on_the_locale(comma_locale):
    def probe(*args):
        env = {"LOCPATH": str(comma_locale), "PATH": "/usr/bin:/bin"}
        proc = subprocess.run([sys.executable, "-c", LOCALE_PROBE, *args], capture_output=True, text=True, env=env)
        assert proc.returncode == 0, proc.stderr
        return proc.stdout.splitlines()

    plain, comma = probe(), probe("de_DE.UTF-8")
    assert plain[0] == "atof 51.6416"
    assert comma[0] == "atof 51.0"  # the C library's atof now stops at the point
    assert comma[1] == plain[1]
