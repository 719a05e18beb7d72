"""The screener against the brute-force reference: 1,000 objects of the
synthetic catalogue over one day, every pair every second."""

import numpy as np
import pytest
from markers import not_sanitized
from reference import brute_force

from quorvane.conjunctions import screen
from quorvane.conjunctions.synthetic import synthetic_catalogue

START = np.datetime64("2024-01-01T00:00", "ns")


@not_sanitized  # a long NumPy run; the screener itself runs under the sanitizer in the other tests
@pytest.mark.slow  # about two minutes: started first on a parallel run
@pytest.mark.parametrize("threshold", [5_000.0])
def test_same_events_as_every_pair_every_second(threshold):
    table = synthetic_catalogue(1_000, seed=7, epoch=str(START))
    stop = START + np.timedelta64(1, "D")
    want = brute_force(table, START, stop, threshold)
    got = screen(table, START, stop, threshold=threshold)
    assert len(want["tca"]) > 0  # the test means something
    # No missed and no extra events.
    assert list(zip(got.primary_index, got.secondary_index)) == list(zip(want["primary_index"], want["secondary_index"]))
    dt = np.abs((got.tca - want["tca"]).astype(np.int64))
    assert dt.max() <= 1_000_000  # 1 ms
    np.testing.assert_allclose(got.miss_distance, want["miss_distance"], rtol=0, atol=0.1)
    np.testing.assert_allclose(got.relative_speed, want["relative_speed"], rtol=1e-6)
