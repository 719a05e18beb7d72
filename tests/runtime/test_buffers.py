"""Typed buffer views: the ValueErrors for buffers of the wrong kind."""

import numpy as np
import pytest

import quorvane.state.orbel as orbel
from quorvane.datamodel import ORBEL_dt


@pytest.mark.parametrize(
    "array, message",
    [
        (np.ones(3, dtype=np.int64), "Buffer dtype mismatch, expected 'double' but got 'long'"),
        (np.ones(3, dtype=np.float32), "Buffer dtype mismatch, expected 'double' but got 'float'"),
        (np.ones(3, dtype=np.bool_), "Buffer dtype mismatch, expected 'double' but got 'bool'"),
        (np.ones(3, dtype=">f8"), "Big-endian buffer not supported on little-endian compiler"),
        (np.ones((2, 2)), "Buffer has wrong number of dimensions (expected 1, got 2)"),
    ],
)
def test_result_view_of_wrong_kind(python, array, message):
    # (the 2-D case reaches the view only with assertions disabled)
    if array.ndim == 2:
        proc = python(
            f"""
            import numpy as np, quorvane.state.orbel as orbel
            try:
                orbel.mnm_from_sma(np.ones((2, 2)))
            except ValueError as exc:
                print(exc)
            """,
            "-O",
        )
        assert proc.stdout.strip() == message
        return
    with pytest.raises(ValueError) as info:
        orbel.mnm_from_sma(array)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "records, message",
    [
        (np.zeros(2), "Buffer dtype mismatch, expected 'ORBEL_t' but got 'double'"),
        (np.zeros(2, dtype=[("a", "f8")] * 1), "Buffer dtype mismatch, expected 'ORBEL_t' but got 'a struct'"),
        (np.zeros((2, 2), dtype=ORBEL_dt), "Buffer has wrong number of dimensions (expected 1, got 2)"),
        (np.zeros(2, dtype=ORBEL_dt.newbyteorder(">")), "Big-endian buffer not supported on little-endian compiler"),
    ],
)
def test_record_view_of_wrong_kind(records, message):
    with pytest.raises(ValueError) as info:
        orbel.sv_from_orbel(records)
    assert str(info.value) == message


def test_record_view_any_stride():
    records = np.zeros(6, dtype=ORBEL_dt)
    records["slr"] = 7.0e6
    records["tra"] = np.arange(6) * 0.5
    r_all, _ = orbel.sv_from_orbel(records)
    r_every_second, _ = orbel.sv_from_orbel(records[::2])
    assert r_every_second.tolist() == r_all[::2].tolist()
