"""Each fuzz target for a few hundred examples, so that the suite catches regressions.

The long runs are tools/fuzz/run.py's business.
"""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import fuzz_targets
from _reliability import summary


@pytest.mark.parametrize("name", sorted(fuzz_targets.TARGETS))
def test_target(name):
    before = fuzz_targets.counts.copy()
    test = settings(max_examples=300, deadline=None, database=None, derandomize=True,
                    suppress_health_check=list(HealthCheck))(given(st.data())(fuzz_targets.TARGETS[name]))
    test()
    tried = fuzz_targets.counts["inputs tried"] - before["inputs tried"]
    assert tried >= 300
    for key in ("inputs tried", "records built", "sets built", "calls made"):
        summary[f"fuzz {key}"] += fuzz_targets.counts[key] - before[key]


# An orbel function reads an exact ndarray straight from memory; when Python
# code run during the loop (the float conversion of the other argument)
# empties that array, item access would raise IndexError, but the loop keeps
# reading the freed block.  Kept in a subprocess because it crashes today.
EMPTIED_DURING_CALL = """
import numpy as np
from quorvane.state import orbel

class Emptying(float):
    def __float__(self):
        if victim.size:
            victim.resize((0,), refcheck=False)
            [np.full(100000, 7.0) for _ in range(4)]
        return 0.5

for fn, arguments in [
    (orbel.mnm_from_sma, lambda e: (victim, e)),
    (orbel.eca_from_mea, lambda e: (victim, e)),
    (orbel.mea_from_tra, lambda e: (victim, e)),
]:
    victim = np.zeros(100000)
    victim[:] = 0.25
    try:
        fn(*arguments(Emptying(0.5)))
    except IndexError:
        continue
    raise SystemExit(f"{fn.__name__} returned a result over an emptied array")
print("ok")
"""


@pytest.mark.xfail(strict=True, reason="orbel's memory path keeps the data pointer of an array emptied mid-call")
def test_array_emptied_during_call_raises_index_error(python):
    proc = python(EMPTIED_DURING_CALL, check=False)
    assert proc.returncode == 0 and proc.stdout.strip() == "ok", proc.stderr[-2000:]
