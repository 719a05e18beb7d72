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


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "slow: runs for minutes on its own (the packaging test, the brute-force screening "
        "reference); started first, deselect with -m 'not slow'")
    # Registered by pytest-xdist itself; named here so that a run without it does not warn.
    config.addinivalue_line("markers", "xdist_group(name): tests of one group run on the same worker, one after another")


def pytest_collection_modifyitems(config, items):
    # The long tests first, in their collection order, the rest after them:
    # with parallel workers (make test runs pytest-xdist with --dist
    # loadgroup, which hands tests out in this order) each worker starts on a
    # long test and the short ones fill in around them, instead of one worker
    # finishing the suite alone with a long test near the end.
    items.sort(key=lambda item: item.get_closest_marker("slow") is None)


# The reliability tests count what they built and checked (tests/reliability
# prints them at the end of the run).  Under pytest-xdist those counts live in
# the worker processes: each worker hands its own to the controller, which
# adds them up and prints the same section.
_worker_counts = {}


@pytest.hookimpl(optionalhook=True)
def pytest_testnodedown(node, error):
    for key, value in getattr(node, "workeroutput", {}).get("reliability", {}).items():
        _worker_counts[key] = _worker_counts.get(key, 0) + value


def pytest_terminal_summary(terminalreporter):
    if _worker_counts:
        terminalreporter.section("reliability")
        for key in sorted(_worker_counts):
            terminalreporter.write_line(f"{key}: {_worker_counts[key]}")
