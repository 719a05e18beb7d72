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
