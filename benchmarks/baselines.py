"""NumPy baselines written for the benchmark.

They are what a careful NumPy user would write without quorvane: vectorised
over whole arrays, in-place where that saves a pass, and following the same
conventions as the functions they are compared with (angles in [0, 2π),
Kepler's equation solved by Newton-Raphson to a relative step of 1e-7).
"""

from __future__ import annotations

import math

import numpy as np

TWO_PI = 2.0 * math.pi
RTOL = 1e-7


def kepler_newton(mea: np.ndarray, ecc: np.ndarray, rtol: float = RTOL) -> np.ndarray:
    """Eccentric anomaly from mean anomaly, Newton-Raphson on whole arrays.

    Starts from M + e (M < π) or M − e and takes Newton steps until every
    element's step, relative to its estimate before the step, is at most
    `rtol`.  Each step runs only on the elements still moving (compacting the
    working set costs less than refining converged elements: 0.18 s against
    0.24 s for the 10⁶-element case here).  M = 0, M = π and e = 0 return M.
    """
    eca = np.where(mea < math.pi, mea + ecc, mea - ecc)
    fixed = (mea == 0.0) | (mea == math.pi) | (ecc == 0.0)
    eca[fixed] = mea[fixed]
    idx = np.flatnonzero(~fixed)
    m, e, x = mea[idx], ecc[idx], eca[idx]
    while idx.size:
        inc = ((m - x) + e * np.sin(x)) / (1.0 - e * np.cos(x))
        err = np.abs(inc / x)
        x = x + inc
        eca[idx] = x
        keep = err > rtol
        idx, m, e, x = idx[keep], m[keep], e[keep], x[keep]
    return eca


def tra_from_eca(eca: np.ndarray, ecc: np.ndarray) -> np.ndarray:
    """True anomaly in [0, 2π) from eccentric anomaly."""
    tra = np.arctan2(np.sqrt(1.0 - ecc * ecc) * np.sin(eca), np.cos(eca) - ecc)
    tra[tra < 0.0] += TWO_PI
    return tra


def tra_from_mea(mea: np.ndarray, ecc: np.ndarray) -> np.ndarray:
    return tra_from_eca(kepler_newton(mea, ecc), ecc)


def _rowdot(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    return np.einsum("ij,ij->i", a, b)


def rv2coe(r: np.ndarray, v: np.ndarray, GM: float):
    """Classical elements of N states, the textbook way (arccos + quadrant tests).

    Returns (ecc, sma, inc, raa, arp, tra, slr), each of shape (N,).
    """
    h = np.cross(r, v)
    h2 = _rowdot(h, h)
    h_norm = np.sqrt(h2)
    r_norm = np.sqrt(_rowdot(r, r))
    inc = np.arccos(h[:, 2] / h_norm)
    # node vector k × h = (-h_y, h_x, 0)
    n = np.stack((-h[:, 1], h[:, 0], np.zeros(len(h))), axis=1)
    n_norm = np.hypot(n[:, 0], n[:, 1])
    e_vec = np.cross(v, h) / GM - r / r_norm[:, None]
    ecc = np.sqrt(_rowdot(e_vec, e_vec))
    slr = h2 / GM
    sma = slr / (1.0 - ecc * ecc)
    raa = np.arccos(n[:, 0] / n_norm)
    raa = np.where(n[:, 1] < 0.0, TWO_PI - raa, raa)
    arp = np.arccos(np.clip(_rowdot(n, e_vec) / (n_norm * ecc), -1.0, 1.0))
    arp = np.where(e_vec[:, 2] < 0.0, TWO_PI - arp, arp)
    tra = np.arccos(np.clip(_rowdot(e_vec, r) / (ecc * r_norm), -1.0, 1.0))
    tra = np.where(_rowdot(r, v) < 0.0, TWO_PI - tra, tra)
    return ecc, sma, inc, raa, arp, tra, slr


def coe2rv(ecc, inc, raa, arp, tra, slr, GM: float):
    """Position and velocity (each (N, 3)) of N element sets, perifocal frame rotated."""
    ci, si = np.cos(inc), np.sin(inc)
    cr, sr = np.cos(raa), np.sin(raa)
    ca, sa = np.cos(arp), np.sin(arp)
    ct, st = np.cos(tra), np.sin(tra)
    p = np.stack((cr * ca - sr * sa * ci, sr * ca + cr * sa * ci, sa * si), axis=1)
    q = np.stack((-cr * sa - sr * ca * ci, -sr * sa + cr * ca * ci, ca * si), axis=1)
    r_norm = slr / (ct * ecc + 1.0)
    v_norm = np.sqrt(GM / slr)
    r = (r_norm * ct)[:, None] * p + (r_norm * st)[:, None] * q
    v = (-v_norm * st)[:, None] * p + (v_norm * (ecc + ct))[:, None] * q
    return r, v
