"""The top-level names of the package: ``import quorvane as qv`` then
``qv.read_catalogue``, ``qv.SGP4``, ``qv.Time``, ... are the objects of the
deep modules, imported on first use, listed by ``__all__`` and ``dir()``,
and typed for mypy."""

import importlib
import os
import subprocess
import sys
from pathlib import Path

import pytest

from markers import not_sanitized

import quorvane

STATIONS = Path(__file__).resolve().parents[2] / "examples" / "data" / "stations.tle"

# Each top-level name and the module that defines it.
HOMES = {
    "Catalogue": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_catalogue": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_records": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_elsets": "quorvane.propagators.analytical.sgp4.catalogue",
    "DUOLINE": "quorvane.propagators.analytical.sgp4.duoline",
    "ELSET": "quorvane.propagators.analytical.sgp4.duoline",
    "SGP4": "quorvane.propagators.analytical.sgp4.propagator",
    "Time": "quorvane.time.time",
    "GCRF": "quorvane.frames.frames",
    "ITRF": "quorvane.frames.frames",
    "TEME": "quorvane.frames.frames",
    "ENU": "quorvane.frames.frames",
    "transform": "quorvane.frames.frames",
    "EOP": "quorvane.frames.eop",
    "Station": "quorvane.observers",
    "passes": "quorvane.observers",
    "Passes": "quorvane.observers",
    "Earth": "quorvane.bodies.bodies",
    "Sun": "quorvane.bodies.bodies",
    "Moon": "quorvane.bodies.bodies",
    "shadow": "quorvane.bodies.bodies",
    "Ellipsoid": "quorvane.mathtools.ellipsoid.ellipsoid",
    "WGS84": "quorvane.mathtools.ellipsoid.ellipsoid",
    "WGS72": "quorvane.mathtools.ellipsoid.ellipsoid",
    "GRS80": "quorvane.mathtools.ellipsoid.ellipsoid",
    "screen": "quorvane.conjunctions",
    "Conjunctions": "quorvane.conjunctions",
}


@pytest.mark.parametrize("name", sorted(HOMES))
def test_a_top_level_name_is_the_deep_modules_object(name):
    assert getattr(quorvane, name) is getattr(importlib.import_module(HOMES[name]), name)
    assert name in quorvane.__all__
    assert name in dir(quorvane)


def test_all_lists_exactly_the_top_level_names_and_star_import_gives_them():
    assert sorted(quorvane.__all__) == sorted([*HOMES, "get_include", "__version__"])
    assert len(set(quorvane.__all__)) == len(quorvane.__all__)
    scope = {}
    exec("from quorvane import *", scope)
    assert {n: scope[n] for n in HOMES} == {n: getattr(quorvane, n) for n in HOMES}


@pytest.mark.parametrize("name", ["read_tle", "propagator", "catalogue", "Frame", "_LAZY_missing"])
def test_other_names_raise_attribute_error(name):
    with pytest.raises(AttributeError, match=f"module 'quorvane' has no attribute '{name}'"):
        getattr(quorvane, name)
    assert not hasattr(quorvane, name)


def test_importing_the_package_imports_none_of_its_modules(python):
    out = python("""
        import sys
        import quorvane
        loaded = sorted(m for m in sys.modules if m.startswith("quorvane.") or m == "numpy")
        print(loaded)
        print("Time" in dir(quorvane), "Time" in vars(quorvane))
        quorvane.Time
        print("quorvane.time.time" in sys.modules, "Time" in vars(quorvane),
              "quorvane.propagators.analytical.sgp4.propagator" in sys.modules)
        """).stdout.splitlines()
    assert out == ["[]", "True False", "True True False"]


@pytest.mark.skipif(not STATIONS.is_file(), reason="examples/data is not beside this copy of the tests")
def test_deep_imports_and_flat_names_agree_in_either_order(python):
    python(f"""
        from quorvane.propagators.analytical.sgp4.propagator import SGP4
        import quorvane as qv
        from quorvane import Catalogue, read_catalogue
        from quorvane.propagators.analytical.sgp4 import catalogue
        assert qv.SGP4 is SGP4
        assert Catalogue is catalogue.Catalogue and read_catalogue is catalogue.read_catalogue
        table = qv.read_catalogue({str(STATIONS)!r})
        assert isinstance(table, catalogue.Catalogue) and len(table) == 12
        r, v, code = qv.SGP4(table).propagate(qv.Time("2024-01-05T12:00"))
        assert r.shape == (12, 3) and (code == 0).all()
        """)


# A program written against the top-level names; mypy --strict must accept it,
# give the deep modules' types and refuse a misspelt name.
TYPED = """
import quorvane as qv

table = qv.read_catalogue("examples/data/stations.tle")
reveal_type(table)
reveal_type(qv.SGP4(table))
reveal_type(qv.Time("2024-01-05"))
reveal_type(qv.Station(0.5, 0.25))
reveal_type(qv.WGS84)
qv.read_catalog("examples/data/stations.tle")
"""


@not_sanitized
def test_mypy_sees_the_top_level_names(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed in this Python (pip install mypy)")
    (tmp_path / "flat.py").write_text(TYPED)
    # Outside the source tree, so the installed package is what mypy reads.
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), "flat.py"],
        capture_output=True, text=True, timeout=300, cwd=tmp_path,
        env={k: v for k, v in os.environ.items() if k != "MYPYPATH"},
    )
    lines = [line.partition(": ")[2] for line in proc.stdout.splitlines() if line.startswith("flat.py:")]
    revealed = [line.removeprefix("note: Revealed type is ") for line in lines[:-1]]
    # The classes of the deep modules (where inside them a class is defined may move).
    assert [r.strip('"').rpartition(".")[2] for r in revealed] == [
        "Catalogue", "SGP4", "Time", "Station", "Ellipsoid"], proc.stdout
    assert all(r.startswith('"quorvane.') for r in revealed), proc.stdout
    assert lines[-1].startswith('error: Module has no attribute "read_catalog"'), proc.stdout
    assert proc.returncode == 1, proc.stdout + proc.stderr
