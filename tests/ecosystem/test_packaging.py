"""The sdist builds a wheel that installs into a fresh Python and passes the tests.

Steps: export the project's files (tracked and not ignored, as a fresh
checkout has them), build the sdist with the build backend, build a wheel from
the sdist inside a new virtual environment (an isolated build, as pip does for
users), check what the wheel holds, install it with its test extra and run the
test suite (less the tests marked slow) from a copy outside the source tree.
Takes about six minutes on two cores beside the rest of the suite; the build
requirements come from the package index (or pip's cache).
"""

import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

from markers import not_sanitized

ROOT = Path(__file__).resolve().parents[2]
THIS = Path(__file__).resolve().relative_to(ROOT) if (ROOT / "pyproject.toml").is_file() else None

pytestmark = pytest.mark.slow


def run(args, **kwargs):
    proc = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=600, **kwargs)
    assert proc.returncode == 0, f"{' '.join(map(str, args))} failed:\n{proc.stdout[-4000:]}\n{proc.stderr[-4000:]}"
    return proc.stdout


def export_tree(destination):
    """Copy the files a fresh checkout holds: tracked or untracked-but-not-ignored."""
    listing = run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"])
    for name in filter(None, listing.split("\0")):
        source = ROOT / name
        if source.is_file():
            target = destination / name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target)


def wheel_problems(wheel):
    """Members a wheel must not hold: C++ sources other than the shipped headers."""
    sources = (".cpp", ".cc", ".cxx", ".c", ".hpp", ".h", ".txt", ".cmake")
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
    bad = [n for n in names if n.endswith(sources) and not n.startswith("quorvane/include/quorvane/")
           and ".dist-info/" not in n]
    required = ["quorvane/py.typed", "quorvane/include/quorvane/state/orbel/orbel.hpp", "quorvane/state/orbel.pyi"]
    return bad, [r for r in required if r not in names]


@not_sanitized
@pytest.mark.skipif(THIS is None or shutil.which("git") is None or not (ROOT / ".git").exists(),
                    reason="needs a git checkout of the project")
def test_sdist_builds_installs_and_passes_the_tests_from_the_installed_copy(tmp_path):
    source = tmp_path / "source"
    export_tree(source)

    # The sdist, through the backend's PEP 517 hook (what `python -m build --sdist` calls).
    dist = tmp_path / "dist"
    dist.mkdir()
    run([sys.executable, "-c", f"from scikit_build_core.build import build_sdist; build_sdist({str(dist)!r})"],
        cwd=source)
    (sdist,) = dist.glob("quorvane-*.tar.gz")

    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", venv])
    python = venv / "bin" / "python"
    assert run([python, "-c", "import sys; print(sys.version_info[:2])"]).strip() == str(sys.version_info[:2])
    # Nothing of this interpreter's environment, nor of the pytest-xdist worker this may run on.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("PYTHON", "VIRTUAL_ENV", "SKBUILD", "PYTEST_XDIST", "PYTEST_CURRENT_TEST"))}
    run([python, "-m", "pip", "wheel", "-q", "--no-deps", "--wheel-dir", dist, sdist], env=env, cwd=tmp_path)
    (wheel,) = dist.glob("quorvane-*.whl")
    assert wheel_problems(wheel) == ([], [])

    run([python, "-m", "pip", "install", "-q", f"{wheel}[test]"], env=env, cwd=tmp_path)

    # Tests, the fuzz targets they run and the example data copied beside
    # each other, no source tree.
    copy = tmp_path / "copy"
    shutil.copytree(source / "tests", copy / "tests")
    shutil.copytree(source / "tools" / "fuzz", copy / "tools" / "fuzz")
    shutil.copytree(source / "examples", copy / "examples")
    where = run([python, "-c", "import quorvane; print(quorvane.__file__)"], env=env, cwd=copy)
    assert Path(where.strip()).is_relative_to(venv)
    # On two pytest-xdist workers (the test extra brings it), as make test
    # runs the suite; less the tests marked slow, as on Python 3.13: this
    # test itself, and the brute-force screening reference (native
    # arithmetic, which the suite around this test has just run on the same
    # sources and flags).
    out = run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-n", "2", "--dist", "loadgroup",
               "-m", "not slow", "--ignore", copy / THIS, "tests"], env=env, cwd=copy)
    assert " passed" in out and " failed" not in out, out
    print(out.strip().splitlines()[-1])
