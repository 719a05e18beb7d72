"""Per-time rotation matrices between TEME, ITRF and GCRF (pyerfa, vectorised).

For each time the transformation into ITRF is a matrix M and its rate Mdot
(r_itrf = M r, v_itrf = M v + Mdot r):

* TEME → ITRF (Vallado, Crawford, Hujsak & Kelso, "Revisiting Spacetrack
  Report #3", AIAA 2006-6753): M = W · R3(GMST82(UT1)), with the polar motion
  W = erfa.pom00(xp, yp, erfa.sp00(TT)).
* GCRF → ITRF (IAU 2006/2000A, CIO based, IERS Conventions 2010 ch. 5):
  x, y, s = erfa.xys06a(TT); x += dX; y += dY; C = erfa.c2ixys(x, y, s);
  M = W · R3(ERA(UT1)) · C.
* Mdot = W · (−ω [ẑ×]) · R3 · (C), the Earth-rotation term, with
  ω = 7.292115146706979e-5 · (1 − LOD / 86400) rad/s.

Between two frames F and G: R = M_G^T M_F and Rdot = M_G^T Mdot_F + Mdot_G^T M_F.
"""

from __future__ import annotations

import numpy

from quorvane.frames import eop as _eop
from quorvane.time import _support

OMEGA_EARTH = 7.292115146706979e-5  # rad/s, mean angular velocity (Vallado, IERS)
_NAMES = ("TEME", "ITRF", "GCRF")


def _spin(w: numpy.ndarray, angle: numpy.ndarray, omega: numpy.ndarray):
    """W · R3(angle) and its rate W · (−ω [ẑ×]) · R3(angle), each (m, 3, 3),
    written out column by column: numpy's stacked products of 3×3 matrices
    cost four times as much for 1,440 times.  With c, s = cos, sin(angle):
    W R3 has the columns W₀ c − W₁ s, W₀ s + W₁ c, W₂ (Wₖ the columns of W),
    and −ω [ẑ×] R3 = ω [[−s, c, 0], [−c, −s, 0], [0, 0, 0]]."""
    c, s = numpy.cos(angle)[:, None], numpy.sin(angle)[:, None]
    w0, w1 = w[:, :, 0], w[:, :, 1]
    mat = numpy.empty(w.shape)
    mat[:, :, 0] = w0 * c - w1 * s
    mat[:, :, 1] = w0 * s + w1 * c
    mat[:, :, 2] = w[:, :, 2]
    oc, os = omega[:, None] * c, omega[:, None] * s
    rate = numpy.empty(w.shape)
    rate[:, :, 0] = -(w0 * os) - w1 * oc
    rate[:, :, 1] = w0 * oc - w1 * os
    rate[:, :, 2] = 0.0
    return mat, rate


def _to_itrf(name: str, ns: numpy.ndarray, table, policy: str):
    """(M, Mdot), each (m, 3, 3), of the transformation from `name` to ITRF."""
    import erfa

    m = ns.shape[0]
    if name == "ITRF":
        eye = numpy.broadcast_to(numpy.eye(3), (m, 3, 3))
        return eye, numpy.zeros((m, 3, 3))
    dut1, xp, yp, dx, dy, lod = table._interpolate(ns, policy)
    tt1, tt2 = _support._jd2_of_ns(_support._checked_add(_support.tai_ns(ns), numpy.full_like(ns, _support._TT_TAI_NS)))
    utc1, utc2 = _support._jd2_of_ns(ns)
    ut1a, ut1b = utc1, utc2 + dut1 / 86400.0
    w = erfa.pom00(xp, yp, erfa.sp00(tt1, tt2))
    omega = OMEGA_EARTH * (1.0 - lod / 86400.0)
    if name == "TEME":
        angle = erfa.gmst82(ut1a, ut1b)
        rest = None
    else:
        x, y, s = erfa.xys06a(tt1, tt2)
        rest = erfa.c2ixys(x + dx, y + dy, s)
        angle = erfa.era00(ut1a, ut1b)
    mat, rate = _spin(numpy.asarray(w, dtype=numpy.float64).reshape(m, 3, 3), numpy.asarray(angle).reshape(m),
                      numpy.asarray(omega, dtype=numpy.float64).reshape(m))
    if rest is not None:
        mat = mat @ rest
        rate = rate @ rest
    return mat, rate


def matrices(ns, frm: str, to: str, eop=None, eop_policy: str = "warn"):
    """Rotation matrices R and rates Rdot, (m, 3, 3) C-contiguous float64, from
    frame `frm` to frame `to` at the UTC instants `ns` (int64 array)."""
    if not isinstance(eop_policy, str) or eop_policy not in ("warn", "raise", "zero"):
        raise ValueError(f"eop_policy must be one of 'warn', 'raise', 'zero', got {eop_policy!r}")
    ns = numpy.ascontiguousarray(ns, dtype=numpy.int64)
    table = _eop.resolve(eop) if frm != to and (frm != "ITRF" or to != "ITRF") else None
    m = ns.shape[0]
    if frm == to:
        return numpy.ascontiguousarray(numpy.broadcast_to(numpy.eye(3), (m, 3, 3))), numpy.zeros((m, 3, 3))
    if frm == "ITRF":
        # Only `to` needs the table: interpolate once.
        mg, mgdot = _to_itrf(to, ns, table, eop_policy)
        return (
            numpy.ascontiguousarray(numpy.swapaxes(mg, 1, 2)),
            numpy.ascontiguousarray(numpy.swapaxes(mgdot, 1, 2)),
        )
    mf, mfdot = _to_itrf(frm, ns, table, eop_policy)
    if to == "ITRF":
        return numpy.ascontiguousarray(mf), numpy.ascontiguousarray(mfdot)
    import warnings

    with warnings.catch_warnings():
        # One warning per call: the first interpolation has given it.
        warnings.simplefilter("ignore", _eop.EOPWarning)
        mg, mgdot = _to_itrf(to, ns, table, eop_policy)
    mgt = numpy.swapaxes(mg, 1, 2)
    r = mgt @ mf
    rdot = mgt @ mfdot + numpy.swapaxes(mgdot, 1, 2) @ mf
    return numpy.ascontiguousarray(r), numpy.ascontiguousarray(rdot)
