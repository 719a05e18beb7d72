"""Every width computes the same bits as the one-lane form."""

import itertools

import numpy as np
import pytest

from lanes_data import EDGES, NANS, TINY, bits, random_set
from quorvane._testing import lanes as _lanes

WIDTHS = _lanes.widths()
UNARY = ["sin", "cos", "rem2pi", "cbrt"]
ARGUMENTS = {
    "edges": EDGES,
    "random": random_set(1),
}


def _assert_same_bits(results, what):
    one = results[1]
    for width, other in results.items():
        differ = np.flatnonzero(bits(other) != bits(one))
        assert differ.size == 0, f"{what}: width {width} differs at {differ[:5]}"


@pytest.mark.parametrize("name", UNARY)
@pytest.mark.parametrize("data", list(ARGUMENTS))
def test_unary_functions_give_the_same_bits_at_every_width(name, data):
    x = ARGUMENTS[data]
    function = getattr(_lanes, name)
    _assert_same_bits({w: function(x, width=w) for w in WIDTHS}, f"{name} on {data}")


@pytest.mark.parametrize("data", list(ARGUMENTS))
def test_sincos_is_sin_and_cos_at_every_width(data):
    x = ARGUMENTS[data]
    sines = {w: _lanes.sincos(x, width=w)[0] for w in WIDTHS}
    cosines = {w: _lanes.sincos(x, width=w)[1] for w in WIDTHS}
    _assert_same_bits(sines, "sincos sines")
    _assert_same_bits(cosines, "sincos cosines")
    assert np.array_equal(bits(sines[1]), bits(_lanes.sin(x, width=1)))
    assert np.array_equal(bits(cosines[1]), bits(_lanes.cos(x, width=1)))


def test_sincosm1_gives_the_same_bits_at_every_width():
    # Short series up to 2^-10, longer beyond: vectors mixing both, with
    # lanes beside their neighbours in every combination.
    rng = np.random.default_rng(6)
    x = np.concatenate([rng.uniform(-2.0**-10, 2.0**-10, 5001), rng.uniform(-0.8, 0.8, 5001),
                        [0.0, -0.0, 2.0**-10, -(2.0**-10), np.nextafter(2.0**-10, 1), TINY, -TINY, np.nan]])
    rng.shuffle(x)
    for k in (0, 1):
        _assert_same_bits({w: _lanes.sincosm1(x, width=w)[k] for w in WIDTHS}, f"sincosm1 part {k}")


def test_atan2_gives_the_same_bits_at_every_width():
    pairs = np.array(list(itertools.product(EDGES[::3], repeat=2))).T
    rng = np.random.default_rng(2)
    y, x = random_set(3, 60_001), random_set(4, 60_001)
    rng.shuffle(x)
    for yy, xx in ((pairs[0], pairs[1]), (y, x)):
        _assert_same_bits({w: _lanes.atan2(yy, xx, width=w) for w in WIDTHS}, "atan2")


@pytest.mark.parametrize("length", [0, 1, 3, 5, 7, 9, 12, 17, 31])
def test_lengths_that_are_no_multiple_of_the_width(length):
    x = ARGUMENTS["random"][:length] * 1.0
    for name in UNARY:
        results = {w: getattr(_lanes, name)(x, width=w) for w in WIDTHS}
        _assert_same_bits(results, f"{name}, length {length}")
        assert results[1].shape == (length,)
    y = x[::-1].copy()
    _assert_same_bits({w: _lanes.atan2(y, x, width=w) for w in WIDTHS}, f"atan2, length {length}")


def test_a_lane_does_not_depend_on_its_neighbours():
    # The same argument beside slow-path neighbours (huge, NaN, subnormal)
    # and beside ordinary ones.
    x = np.array([0.7, 3e10, np.nan, 1e-310, 0.7, -1e300, np.inf, 0.7, 0.7])
    for name in UNARY:
        for w in WIDTHS:
            r = getattr(_lanes, name)(x, width=w)
            assert len(set(bits(r)[[0, 4, 7, 8]])) == 1, (name, w)


def test_lane_primitives_agree_at_every_width_and_with_ieee():
    rng = np.random.default_rng(5)
    base = np.concatenate([EDGES[:60], NANS, [0.0, -0.0, 1.0, -1.0]])
    pairs = np.array(list(itertools.product(base, repeat=2))).T
    a = np.concatenate([pairs[0], rng.normal(size=1001) * 1e3])
    b = np.concatenate([pairs[1], rng.normal(size=1001) * 1e3])
    rows = {w: _lanes._primitives(a, b, width=w) for w in WIDTHS}
    # Bit for bit, except which NaN comes out where two NaNs meet (the
    # compiler may swap the operands of + and *) or floor meets a signalling
    # NaN: NaN stays NaN, its payload is not part of the primitives' contract.
    for w, r in rows.items():
        same = (bits(r) == bits(rows[1])) | (np.isnan(r) & np.isnan(rows[1]))
        assert same.all(), f"width {w}"
    two_nans = np.isnan(a) & np.isnan(b)
    for w, r in rows.items():
        assert np.array_equal(bits(r[:, ~two_nans][[0, 1, 2, 3]]), bits(rows[1][:, ~two_nans][[0, 1, 2, 3]])), w
    r = rows[1]
    with np.errstate(all="ignore"):
        expected = [a + b, a - b, a * b, a / b, -a, np.sqrt(a), np.abs(a), np.floor(a),
                    np.where(a < b, a, b), np.where(a > b, a, b)]
        masks = [a < b, a <= b, a > b, a >= b, a == b, a != b, ((a < b) & (a != 0)) | np.isnan(a)]
        compound = ((a + b) * b - a) / b
        mixed = (2.0 * a - b / 4.0) + 1.0
    for i, e in enumerate(expected):
        ok = (bits(r[i]) == bits(e)) | (np.isnan(r[i]) & np.isnan(e))
        assert ok.all(), f"row {i}"
    # The min/max rule is the x86 one: the first operand only where the
    # comparison holds, so signed zeros and NaN give the second.
    assert np.array_equal(bits(r[8][(a == 0) & (b == 0)]), bits(b[(a == 0) & (b == 0)]))
    for i, m in enumerate(masks):
        assert np.array_equal(r[10 + i], m.astype(float)), f"mask row {10 + i}"
    for row, e in ((17, compound), (18, mixed)):
        assert np.array_equal(r[row], e, equal_nan=True)
    assert (r[19] == 1.0).all()
    # The paired lane type (twice the lanes, two independent halves) against
    # the plain one: primitives, functions, interleaving and int8 stores.
    for w, r in rows.items():
        assert (r[20] == 1.0).all(), f"width {w}: paired lanes differ at {np.flatnonzero(r[20] != 1.0)[:5]}"
