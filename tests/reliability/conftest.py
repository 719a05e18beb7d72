import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "fuzz"))

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from _reliability import summary  # noqa: E402


def pytest_terminal_summary(terminalreporter):
    if summary:
        terminalreporter.section("reliability")
        for key in sorted(summary):
            terminalreporter.write_line(f"{key}: {summary[key]}")
