"""Each fuzz target for a few hundred examples, so that the suite catches regressions.

The long runs are tools/fuzz/run.py's business.
"""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import fuzz_targets
from _reliability import summary
from markers import SANITIZED


# The propagator target compares every batch with each set propagated alone,
# thousands of samples an example: under the sanitizer (no forced inlining,
# every lane operation instrumented) 300 examples took 160 s of the suite's
# 400 there, so it runs 100.  Its long runs are tools/fuzz/run.py's, on the
# normal build.
@pytest.mark.parametrize("name", sorted(fuzz_targets.TARGETS))
def test_target(name):
    examples = 100 if SANITIZED and name == "propagator" else 300
    before = fuzz_targets.counts.copy()
    test = settings(max_examples=examples, deadline=None, database=None, derandomize=True,
                    suppress_health_check=list(HealthCheck))(given(st.data())(fuzz_targets.TARGETS[name]))
    test()
    tried = fuzz_targets.counts["inputs tried"] - before["inputs tried"]
    assert tried >= examples
    if name == "propagator":
        # The draws reach propagation (batches against records), not only refusals.
        assert fuzz_targets.counts["calls made"] - before["calls made"] >= examples // 10
    for key in ("inputs tried", "records built", "sets built", "calls made"):
        summary[f"fuzz {key}"] += fuzz_targets.counts[key] - before[key]


# An orbel function reads an exact ndarray straight from memory.  When Python
# code runs during the loop (item access on the other argument) and empties
# that array, item access must take over and raise IndexError instead of
# reading the freed block.  In a subprocess, so a regression cannot take the
# test run down with it.
EMPTIED_DURING_CALL = """
import numpy as np
from quorvane.state import orbel

class Hostile:
    ndim = 1
    shape = (100000,)
    def __getitem__(self, i):
        if i == 1 and victim.size:
            victim.resize((0,), refcheck=False)
            junk = [np.full(100000, 7.0) for _ in range(5)]
        return 0.1

for fn in (orbel.eca_from_mea, orbel.tra_from_mea, orbel.mea_from_tra, orbel.mea_from_eca):
    victim = np.zeros(100000)  # owns its data, so it can be resized
    victim[:] = np.linspace(0.1, 3.0, 100000)
    try:
        fn(victim, Hostile())
    except IndexError:
        continue
    raise SystemExit(f"{fn.__name__} returned a result over an emptied array")
print("ok")
"""


def test_array_emptied_during_call_raises_index_error(python):
    proc = python(EMPTIED_DURING_CALL, check=False)
    assert proc.returncode == 0 and proc.stdout.strip() == "ok", proc.stderr[-2000:]
