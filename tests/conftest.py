import os
import subprocess
import sys
import textwrap

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TESTS)
# Helpers shared with the fuzz targets (odd_buffers).
sys.path.insert(1, os.path.join(os.path.dirname(TESTS), "tools", "fuzz"))


def run_python(code, *flags, check=True, env=None):
    """Run `code` in a fresh interpreter with the test folder on its path
    (and the variables `env` added to its environment); returns the
    CompletedProcess."""
    env = {**os.environ, **(env or {})}
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [TESTS, env.get("PYTHONPATH")]))
    proc = subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
    )
    if check and proc.returncode != 0:
        raise AssertionError(f"subprocess failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc


@pytest.fixture
def python():
    return run_python
