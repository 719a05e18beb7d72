"""What make test runs: the unit suite on each supported Python, found by
tools/find-python.sh, and nothing from the package index but what
pyproject.toml declares."""

import os
import re
import shutil
import subprocess
import tomllib
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
MAKEFILE = ROOT / "Makefile"
FIND_PYTHON = ROOT / "tools" / "find-python.sh"

# Neither the variables of a make this suite runs under (make test passes
# INSTALLED= and a jobserver to its sub-makes) nor the sanitizer runtime that
# the sanitized suite preloads reach the commands run here.
ENV = {k: v for k, v in os.environ.items()
       if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "MAKEOVERRIDES", "LD_PRELOAD", "PYTHONMALLOC")}

pytestmark = pytest.mark.skipif(
    not MAKEFILE.is_file() or not FIND_PYTHON.is_file() or shutil.which("make") is None,
    reason="needs the source tree (Makefile, tools/) and make",
)


def dry_run(*targets):
    """The commands make would run for the targets, every one of them
    (-B: as if nothing were built yet), sub-makes included."""
    proc = subprocess.run(["make", "-n", "-B", "--no-print-directory", *targets], cwd=ROOT,
                          capture_output=True, text=True, timeout=60, env=ENV)
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
    assert sum("tools/install-build-deps.py" in line for line in lines) == 3


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


def test_make_test_runs_the_unit_suite_on_python_3_12_and_3_13():
    lines = dry_run("test")
    venvs = {}
    for line in lines:
        if match := re.search(r"\$\(bash tools/find-python\.sh ?([\d.]*)\) -m venv (\S+)$", line):
            venvs[match[2]] = match[1] or "3.12"
    assert venvs == {".venv": "3.12", ".venv-313": "3.13", ".venv-asan": "3.12"}
    suites = [line.split()[0] for line in lines if " -m pytest " in line]
    # The 3.13 suite before the normal one, whose summary stays the last line.
    assert [s for s in suites if not s.startswith("bash")] == [".venv-313/bin/python", ".venv/bin/python"]


@pytest.mark.parametrize("version", ["3.12", "3.13"])
def test_find_python_prints_an_interpreter_of_the_version_asked(version):
    proc = subprocess.run(["bash", str(FIND_PYTHON), version], capture_output=True, text=True, timeout=60, env=ENV)
    if proc.returncode == 1:
        pytest.skip(f"no Python {version} on this machine: {proc.stderr.strip()}")
    assert proc.returncode == 0, proc.stderr
    found = subprocess.run([proc.stdout.strip(), "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                           capture_output=True, text=True, timeout=60, env=ENV)
    assert found.stdout.strip() == version


def test_find_python_defaults_to_3_12_and_refuses_what_is_not_supported():
    default = subprocess.run(["bash", str(FIND_PYTHON)], capture_output=True, text=True, timeout=60, env=ENV)
    asked = subprocess.run(["bash", str(FIND_PYTHON), "3.12"], capture_output=True, text=True, timeout=60, env=ENV)
    assert (default.returncode, default.stdout) == (asked.returncode, asked.stdout)
    for bad in ("3.11", "2.7", "3", "abc"):
        proc = subprocess.run(["bash", str(FIND_PYTHON), bad], capture_output=True, text=True, timeout=60, env=ENV)
        assert proc.returncode == 2 and proc.stdout == "", bad
        assert "expected a version such as 3.12 or 3.13" in proc.stderr
