"""No baseline function of a built extension contains AVX instructions.

Kernels compiled per instruction set keep their inline functions in a
namespace named after the set (qv::...::avx2::, qv::...::avx512::); were an
AVX copy of a shared inline function picked by the linker for baseline code,
a processor without AVX would crash.  The installed modules are stripped, so
this reads the build tree's copies (the development build and CI's).
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$")
# VEX/EVEX mnemonics (v...), 256/512-bit registers and AVX-512 mask registers.
AVX = re.compile(r"\t(v(?!err|erw)[a-z0-9]+)\b|%[yz]mm\d|%k[0-7]\b")
ISA_NAMESPACE = re.compile(r"::(avx2|avx512)::")
# objdump without the sanitizer runtime the sanitized suite preloads.
ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def _built_modules():
    build = ROOT / "build"
    return sorted(p for p in build.glob("*/native/**/*.so")) if build.is_dir() else []


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
    if shutil.which("objdump") is None:
        pytest.skip("objdump is not installed")
    modules = _built_modules()
    if not any(p.name.startswith("lanes.") for p in modules):
        pytest.skip("no build tree beside the tests")
    for path in modules:
        assert _avx_outside_isa_namespaces(path) == set(), path.name
    lanes = next(p for p in modules if p.name.startswith("lanes."))
    text = subprocess.run(["objdump", "-d", "-C", str(lanes)], capture_output=True, text=True, env=ENV).stdout
    # The check sees the wide kernels (it would notice them outside their namespaces).
    assert "qv::simd::avx512::apply" in text and "%zmm" in text
