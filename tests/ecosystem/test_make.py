"""What make test runs: nothing from the package index but what
pyproject.toml declares."""

import re
import shutil
import subprocess
import tomllib
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
MAKEFILE = ROOT / "Makefile"
FIND_PYTHON = ROOT / "tools" / "find-python.sh"

pytestmark = pytest.mark.skipif(
    not MAKEFILE.is_file() or not FIND_PYTHON.is_file() or shutil.which("make") is None,
    reason="needs the source tree (Makefile, tools/) and make",
)


def dry_run(*targets):
    """The commands make would run for the targets, every one of them
    (-B: as if nothing were built yet), sub-makes included."""
    proc = subprocess.run(["make", "-n", "-B", "--no-print-directory", *targets], cwd=ROOT,
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    # One line per command: continuation lines joined, blanks collapsed.
    return [" ".join(line.split()) for line in proc.stdout.replace("\\\n", " ").splitlines()]


def test_make_test_installs_nothing_but_the_package_and_its_declared_needs():
    lines = dry_run("test")
    pip = [line for line in lines if re.search(r"\bpip\b", line)]
    assert pip, lines
    for line in pip:
        assert "--upgrade" not in line and " -U " not in line, line
        # The project itself with its extras, nothing named on the command line.
        assert re.search(r"-m pip install -q --no-build-isolation (-C \S+ )*'\.\[[a-z,]+\]'$", line), line
    # Everything else comes from tools/install-build-deps.py, once per venv.
    assert sum("tools/install-build-deps.py" in line for line in lines) == 2


def test_the_build_requirements_are_those_of_pyproject(monkeypatch):
    config = tomllib.loads((ROOT / "pyproject.toml").read_text())
    calls = []
    monkeypatch.setattr(subprocess, "check_call", calls.append)
    source = (ROOT / "tools" / "install-build-deps.py").read_text()
    exec(compile(source, "install-build-deps.py", "exec"), {"__file__": str(ROOT / "tools" / "x.py")})
    (call,) = calls
    tools = config["tool"]["scikit-build"]
    assert call[1:5] == ["-m", "pip", "install", "-q"]
    assert call[5:] == [*config["build-system"]["requires"], "cmake" + tools["cmake"]["version"],
                        "ninja" + tools["ninja"]["version"]]
