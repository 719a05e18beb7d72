import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "fuzz"))

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from _reliability import summary  # noqa: E402


def pytest_sessionfinish(session):
    # A pytest-xdist worker sends its counts to the controller (tests/conftest.py prints them).
    workeroutput = getattr(session.config, "workeroutput", None)
    if workeroutput is not None:
        workeroutput["reliability"] = dict(summary)


def pytest_terminal_summary(terminalreporter):
    if summary:
        terminalreporter.section("reliability")
        for key in sorted(summary):
            terminalreporter.write_line(f"{key}: {summary[key]}")
