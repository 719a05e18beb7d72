"""Arguments for the lane library's tests: edge values and seeded random sets."""

import math

import numpy as np

from quorvane._testing import lanes as _lanes


def from_bits(*patterns):
    return np.array(patterns, dtype=np.uint64).view(np.float64)


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


TINY = np.nextafter(0.0, 1.0)
FAST_TRIG = 1.5 * 2.0**20  # sin/cos reduce in vector registers below this
FAST_REM = 6.5e6  # rem2pi likewise

NANS = from_bits(0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8000000000123, 0x7FF0000000000001, 0xFFF4000000000abc)


def _around(values):
    """Each value and its two neighbours, both signs."""
    v = np.asarray(values, dtype=np.float64)
    around = np.concatenate([np.nextafter(v, -np.inf), v, np.nextafter(v, np.inf)])
    return np.concatenate([around, -around])


EDGES = np.concatenate(
    [
        [0.0, -0.0, np.inf, -np.inf, TINY, -TINY, 2.2250738585072014e-308, 2.225073858507201e-308, 1e-310],
        NANS,
        _around([1.0, 0.5, 2.0**-26, 2.0**-27, 1e-300, np.finfo(np.float64).max / 2, 3.0, 7.0]),
        _around([math.pi / 4, math.pi / 2, math.pi, 2 * math.pi, 3 * math.pi / 4, 1.5707963267948966e5]),
        _around([FAST_TRIG, FAST_REM, 2.0**20, 2.0**21, 2.0**23, 2.0**52, 2.0**53, 2.0**63, 1e22, 1e300]),
        [np.finfo(np.float64).max, -np.finfo(np.float64).max],
        # Doubles close to multiples of pi/2 (the hardest reductions), among
        # them the closest of all doubles, 6381956970095103 * 2^797.
        [math.ldexp(6381956970095103, 797), 5.319372648326541e255, 1.2148195012808012e289, 355.0, 103993.0],
        np.round(np.arange(1, 2000) * (math.pi / 2) * 1e3) / 1e3,
        np.arange(1, 400) * (2 * math.pi),
    ]
)


def random_set(seed, n=100_003):
    """Random doubles over every scale and sign, plus uniform ones in the
    ranges propagators use (angles to 1e5 rad)."""
    rng = np.random.default_rng(seed)
    scale = 10.0 ** rng.uniform(-310, 308, n // 3)
    mixed = scale * rng.choice([-1.0, 1.0], scale.size)
    near = rng.uniform(-10, 10, n // 3)
    far = rng.uniform(-1e5, 1e5, n - mixed.size - near.size)
    return np.concatenate([mixed, near, far])


def widths():
    return _lanes.widths()
