"""Measure the lane functions' errors (the figures in docs/decisions.md):

    python native/mathtools/simd/accuracy.py [millions per range, default 10]

Needs the installed package and mpmath.  Errors are in units in the last place
against NumPy's long-double functions (64-bit significands, far more precise
than the errors measured); the worst argument of each range is checked again
with mpmath at 200 bits.
"""

import math
import sys

import mpmath as mp
import numpy as np

from quorvane._testing import lanes as _lanes

LD = np.longdouble
CHUNK = 10**6
mp.mp.prec = 200


def ulps(got, reference):
    """|got - reference| in ulps of the double nearest the reference (half that
    unit just below a normal power of two)."""
    near = reference.astype(np.float64)
    unit = np.spacing(np.abs(near)).astype(LD)
    below = (np.abs(reference) < np.abs(near.astype(LD))) & (np.frexp(np.abs(near))[0] == 0.5)
    below &= np.abs(near) > np.finfo(np.float64).tiny
    with np.errstate(invalid="ignore"):
        return np.abs(got.astype(LD) - reference) / np.where(below, unit / 2, unit)


def measure(name, generate, ours, reference, exact, chunks):
    worst, where, total, count = 0.0, None, 0.0, 0
    for _ in range(chunks):
        args = generate()
        error = ulps(ours(*args), reference(*(a.astype(LD) for a in args)))
        error = np.where(np.isfinite(error), error, 0.0)
        i = int(np.argmax(error))
        total, count = total + float(error.sum()), count + error.size
        if error[i] > worst:
            worst, where = float(error[i]), tuple(float(a[i]) for a in args)
    got = mp.mpf(float(ours(*(np.array([v]) for v in where))[0]))
    value = exact(*(mp.mpf(v) for v in where))
    check = float(abs(got - value) / mp.mpf(float(np.spacing(abs(float(value))))))
    print(f"{name}: {count / 1e6:.0f}M arguments, max {worst:.4f} ulp (mpmath: {check:.4f}), "
          f"mean {total / count:.4f}, worst at {where}", flush=True)


def main():
    chunks = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    rng = np.random.default_rng(2024)
    sign = lambda: rng.choice([-1.0, 1.0], CHUNK)  # noqa: E731
    ranges = {
        "|x| < pi/4": lambda: (rng.uniform(-math.pi / 4, math.pi / 4, CHUNK),),
        "|x| < 2pi": lambda: (rng.uniform(-2 * math.pi, 2 * math.pi, CHUNK),),
        "|x| < 1e5": lambda: (rng.uniform(-1e5, 1e5, CHUNK),),
        "1e5 < |x| < 1.57e6": lambda: (rng.uniform(1e5, 1.57e6, CHUNK) * sign(),),
        "1.6e6 < |x| < 1e308": lambda: (10.0 ** rng.uniform(6.2, 308, CHUNK) * sign(),),
    }
    for label, generate in ranges.items():
        measure(f"sin {label}", generate, _lanes.sin, np.sin, mp.sin, chunks)
        measure(f"cos {label}", generate, _lanes.cos, np.cos, mp.cos, chunks)

    def coordinates():
        return tuple(rng.normal(size=CHUNK) * 10.0 ** rng.uniform(-5, 5, CHUNK) for _ in range(2))

    measure("atan2", coordinates, _lanes.atan2, np.arctan2, mp.atan2, chunks)
    measure("atan2, ratios near 1", lambda: (rng.uniform(0.5, 2, CHUNK) * sign(), rng.uniform(0.5, 2, CHUNK) * sign()),
            _lanes.atan2, np.arctan2, mp.atan2, chunks)
    measure("cbrt", lambda: (10.0 ** rng.uniform(-320, 308, CHUNK) * sign(),), _lanes.cbrt, np.cbrt,
            lambda v: mp.sign(v) * mp.cbrt(abs(v)), chunks)
    differ = 0
    for _ in range(chunks):
        x = np.concatenate([rng.uniform(-1e7, 1e7, CHUNK // 2), 10.0 ** rng.uniform(-300, 308, CHUNK // 2)])
        x *= rng.choice([-1.0, 1.0], x.size)
        differ += int(np.count_nonzero(_lanes.rem2pi(x).view(np.uint64) != np.fmod(x, 2 * math.pi).view(np.uint64)))
    print(f"rem2pi: {chunks}M arguments, {differ} differ from C's fmod(x, 2pi)")


if __name__ == "__main__":
    main()
