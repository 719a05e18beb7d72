import importlib
import subprocess
import sys

import pytest

MODULES = [
    "quorvane.mathtools.misc.misc",
    "quorvane.bodies.bodies",
    "quorvane.time.time",
    "quorvane.frames.frames",
    "quorvane.mathtools.ellipsoid.ellipsoid",
    "quorvane.utils.representable",
]


@pytest.mark.parametrize("path", MODULES)
def test_import_twice_and_reload(path):
    module = importlib.import_module(path)
    before = dict(vars(module))
    assert importlib.import_module(path) is module
    assert importlib.reload(module) is module
    # reload refreshes the import-system dunders; the module's own names stay as they were.
    assert all(vars(module)[k] is v for k, v in before.items() if not k.startswith("__") or k == "__pyx_capi__")


def test_all_import_in_a_fresh_interpreter_with_assertions_off():
    code = "import importlib\nfor p in %r: importlib.import_module(p)\nprint('ok')" % (MODULES,)
    done = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ok\n"
