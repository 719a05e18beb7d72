import os
import subprocess
import sysconfig

import pytest

HERE = os.path.dirname(__file__)


@pytest.fixture(scope="session")
def raising_atan2(tmp_path_factory):
    """Path of the compiled test helper raising_atan2.c (a shared library)."""
    out = tmp_path_factory.mktemp("helper") / "raising_atan2.so"
    cc = (sysconfig.get_config_var("CC") or "cc").split()
    cmd = [*cc, "-shared", "-fPIC", "-O1", f"-I{sysconfig.get_paths()['include']}",
           os.path.join(HERE, "raising_atan2.c"), "-o", str(out), "-lm"]
    try:
        subprocess.run(cmd, check=True, capture_output=True, text=True)
    except (OSError, subprocess.CalledProcessError) as exc:
        pytest.skip(f"cannot compile the test helper: {exc}")
    return str(out)
