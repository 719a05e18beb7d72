"""Markers shared by the test folders."""

import os

import pytest

#: Set by tools/sanitized.sh, which runs the suite on the sanitizer build.
SANITIZED = bool(os.environ.get("QUORVANE_SANITIZED"))

#: For tests whose other party cannot run under the sanitizer runtime: other
#: projects' extensions (python-sgp4 and matplotlib trip AddressSanitizer
#: inside their own code, mypy is compiled with mypyc) or whole builds in
#: fresh environments.
not_sanitized = pytest.mark.skipif(
    SANITIZED, reason="runs code outside quorvane that cannot run under the sanitizer runtime"
)


def sanitizer_env():
    """The sanitizer runtime's variables, for subprocesses given an
    environment of their own (empty outside the sanitizer run)."""
    names = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "UBSAN_OPTIONS", "QUORVANE_SANITIZED")
    return {k: os.environ[k] for k in names if SANITIZED and k in os.environ}
