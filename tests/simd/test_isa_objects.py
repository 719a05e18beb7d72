"""What the compiler made of the build: no baseline function of a built
extension contains AVX instructions, and each compile line holds one
optimisation level.

Kernels compiled per instruction set keep their inline functions in a
namespace named after the set (qv::...::avx2::, qv::...::avx512::); were an
AVX copy of a shared inline function picked by the linker for baseline code,
a processor without AVX would crash.  The installed modules are stripped, so
this reads the build tree's copies: the tree (under build/ of the source
tree) that was configured with this interpreter, which is the one the
package under test was built in (the development build, CI's normal and
sanitizer builds).  Run from a source tree, a missing build tree fails; only
tests copied out of the source tree (the packaging test runs the suite on an
installed wheel) have none to read.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import quorvane

ROOT = Path(__file__).resolve().parents[2]
SOURCE_TREE = (ROOT / "pyproject.toml").is_file() and (ROOT / "native").is_dir()
FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$")
# VEX/EVEX mnemonics (v...), 256/512-bit registers and AVX-512 mask registers.
AVX = re.compile(r"\t(v(?!err|erw)[a-z0-9]+)\b|%[yz]mm\d|%k[0-7]\b")
ISA_NAMESPACE = re.compile(r"::(avx2|avx512)::")
# objdump without the sanitizer runtime the sanitized suite preloads.
ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

pytestmark = pytest.mark.skipif(
    not SOURCE_TREE, reason="tests copied out of the source tree: no build tree beside them (installed modules are "
    "stripped)")


def _configured_python(cache):
    for line in cache.read_text(errors="replace").splitlines():
        if line.startswith("Python_EXECUTABLE:"):
            return Path(line.partition("=")[2])
    return None


def build_tree():
    """The build tree configured with this interpreter's environment (its bin folder)."""
    here = Path(os.path.abspath(sys.executable)).parent
    trees = [cache.parent for cache in sorted(ROOT.glob("build/*/CMakeCache.txt"))
             if (python := _configured_python(cache)) is not None and Path(os.path.abspath(python)).parent == here]
    assert trees, (f"no build tree under {ROOT / 'build'} was configured with {sys.executable}: the package under "
                   "test was not built from this source tree (make install builds it there)")
    assert len(trees) == 1, f"several build trees were configured with {sys.executable}: {trees}"
    return trees[0]


def built_modules(tree):
    modules = sorted(tree.glob("native/**/*.so"))
    installed = {p.name for p in Path(quorvane.__file__).parent.rglob("*.so")}
    missing = installed - {p.name for p in modules}
    assert installed and not missing, f"{tree} lacks the installed modules {sorted(missing)}"
    return modules


def _avx_outside_isa_namespaces(path):
    text = subprocess.run(
        ["objdump", "-d", "-C", "--no-show-raw-insn", str(path)], capture_output=True, text=True, check=True, env=ENV
    ).stdout
    offenders, function = set(), None
    for line in text.splitlines():
        match = FUNCTION.match(line)
        if match:
            function = match.group(1)
        elif function and AVX.search(line) and not ISA_NAMESPACE.search(function):
            offenders.add(function)
    return offenders


def test_baseline_functions_hold_no_avx_instructions():
    assert shutil.which("objdump"), "objdump (binutils, which the build uses too) is not installed"
    modules = built_modules(build_tree())
    for path in modules:
        assert _avx_outside_isa_namespaces(path) == set(), path.name
    lanes = next(p for p in modules if p.name.startswith("lanes."))
    text = subprocess.run(["objdump", "-d", "-C", str(lanes)], capture_output=True, text=True, env=ENV).stdout
    # The check sees the wide kernels (it would notice them outside their namespaces).
    assert "qv::simd::avx512::apply" in text and "%zmm" in text


def test_each_compile_line_holds_one_optimisation_level():
    # The build types' own -O flags (Release: -O3) are dropped; the
    # project's level is the only one on each line: -O2, or -O1 in the
    # sanitizer build.
    tree = build_tree()
    sanitized = "QUORVANE_SANITIZE:BOOL=ON" in (tree / "CMakeCache.txt").read_text()
    lines = [line for line in (tree / "build.ninja").read_text().splitlines()
             if line.lstrip().startswith("FLAGS =")]
    assert lines
    for line in lines:
        assert re.findall(r"(?:^|\s)(-O\S*)", line) == ["-O1" if sanitized else "-O2"], line
