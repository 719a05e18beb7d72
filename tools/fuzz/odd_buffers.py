"""Arrays whose data start at an odd address, for the fuzz targets and the tests.

NumPy accepts such buffers (numpy.frombuffer with an offset, packed records);
reading them through a cast `double*` is undefined behaviour that only the
sanitizer build (make test-asan) reports.  On the normal build the users of
these helpers check the values.
"""

import numpy as np


def misaligned(a, step=1):
    """A copy of `a` whose data start one byte past an 8-byte boundary; with
    `step` > 1, a view of every step-th row of a larger such buffer."""
    a = np.asarray(a)
    big = np.repeat(a, step, axis=0) if a.ndim else a
    raw = np.zeros(big.nbytes + 16, np.uint8)
    start = (1 - raw.ctypes.data) % 8
    out = raw[start : start + big.nbytes].view(big.dtype).reshape(big.shape)
    out[...] = big
    assert out.size == 0 or out.ctypes.data % 8 == 1
    return out[::step] if step > 1 else out


class MisalignedNumpy:
    """Stands in for a module's global `numpy`: results are allocated at odd
    addresses (every second element of a larger buffer when `step` is 2)."""

    def __init__(self, step=1):
        self.step = step

    def __getattr__(self, name):
        return getattr(np, name)

    def zeros_like(self, a):
        return misaligned(np.zeros(np.shape(a), np.float64), self.step)

    def zeros(self, shape, dtype=float):
        return misaligned(np.zeros(shape, dtype), self.step)
