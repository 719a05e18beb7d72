"""Native export binding: each error an importer raises when an exporter in
sys.modules does not offer what it expects.  Each case runs in a fresh
interpreter with a fake exporter put in place of the real one."""

import textwrap

import pytest

PRELUDE = "import importlib, sys\nfrom fakes import attempt, fake_of, renamed\n"

ORBEL = "quorvane.state.orbel"
DUOLINE = "quorvane.propagators.analytical.sgp4.duoline"

CASES = {
    "function missing": (
        """
        fake = fake_of("quorvane.mathtools.arqel.arqel")
        del fake.__pyx_capi__["normalize"]
        attempt(ORBEL)
        """,
        "ImportError: quorvane.mathtools.arqel.arqel does not export expected C function normalize",
    ),
    "function signature": (
        """
        fake = fake_of("quorvane.state.orbel")
        fake.__pyx_capi__["c_sma_from_mnm"] = renamed(fake.__pyx_capi__["c_sma_from_mnm"], "double (double, double)")
        attempt(DUOLINE)
        """,
        "TypeError: C function quorvane.state.orbel.c_sma_from_mnm has wrong signature "
        "(expected double (double const , double), got double (double, double))",
    ),
    "variable missing": (
        """
        fake = fake_of("quorvane.units.units")
        del fake.__pyx_capi__["kg"]
        attempt(DUOLINE)
        """,
        "ImportError: quorvane.units.units does not export expected C variable kg",
    ),
    "variable signature": (
        """
        fake = fake_of("quorvane.units.units")
        fake.__pyx_capi__["deg"] = renamed(fake.__pyx_capi__["deg"], "float")
        attempt(DUOLINE)
        """,
        "TypeError: C variable quorvane.units.units.deg has wrong signature (expected double, got float)",
    ),
    "not a type": (
        """
        fake = fake_of("quorvane.time.time")
        fake.Time = lambda *args: None
        attempt(ORBEL)
        """,
        "TypeError: quorvane.time.time.Time is not a type object",
    ),
    "type smaller": (
        """
        fake = fake_of("quorvane.bodies.bodies")
        fake.Earth = type("Earth", (), {"GM": 3.986004418e14, "Re": 6378137.0})
        attempt(ORBEL)
        """,
        "ValueError: quorvane.bodies.bodies.Earth size changed, may indicate binary incompatibility. "
        "Expected 24 from C header, got 16 from PyObject",
    ),
}


@pytest.mark.parametrize("case", CASES)
def test_binding_error(python, case):
    body, expected = CASES[case]
    code = PRELUDE + f"ORBEL = {ORBEL!r}\nDUOLINE = {DUOLINE!r}\n" + textwrap.dedent(body)
    assert python(code).stdout.strip() == expected


def test_failed_import_is_discarded_and_can_be_retried(python):
    code = PRELUDE + textwrap.dedent(
        """
        real = importlib.import_module("quorvane.mathtools.arqel.arqel")
        fake = fake_of("quorvane.mathtools.arqel.arqel")
        del fake.__pyx_capi__["dot"]
        attempt("quorvane.state.orbel")
        assert "quorvane.state.orbel" not in sys.modules
        sys.modules["quorvane.mathtools.arqel.arqel"] = real
        import quorvane.state.orbel as orbel
        print(orbel.mnm_from_sma(7.0e6) > 0)
        """
    )
    assert python(code).stdout.split("\n")[:2] == [
        "ImportError: quorvane.mathtools.arqel.arqel does not export expected C function dot",
        "True",
    ]
