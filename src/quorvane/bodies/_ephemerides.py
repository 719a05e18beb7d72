"""Geocentric positions of the Sun and the Moon from ERFA (through pyerfa).

The Sun is the negated heliocentric position of the Earth from ERFA's epv00
(a fit to VSOP2000), the Moon ERFA's moon98 (Meeus's truncation of
ELP-2000/82); both in GCRS axes, called once per time, vectorised.  The
time argument is the TT Julian date: TDB, which epv00 asks for, differs from
TT by under 2 ms, in which the Earth moves under 60 m.  TT = UTC + Delta AT
+ 32.184 s, Delta AT from ERFA's leap-second table (through erfa.utctai).
Errors against DE421 are recorded in docs/decisions.md.
"""

from __future__ import annotations

import datetime
from typing import Any

import erfa  # type: ignore[import-untyped]
import numpy as np
from numpy.typing import NDArray

from quorvane.time.time import Time

AU = 149597870700.0  # m (IAU 2012 Resolution B2)
_DAY_NS = 86_400_000_000_000


def utc_nanoseconds(times: Any) -> tuple[NDArray[np.int64], bool]:
    """UTC nanoseconds since 1970 of `times` (anything Time accepts, a Time, or
    a sequence of instants), as a one-dimensional array, and whether the
    input was a single instant."""
    if isinstance(times, Time):
        ns = np.asarray(times.int64, dtype=np.int64)
    elif isinstance(times, (str, datetime.date, np.datetime64, int, np.integer)):
        ns = np.asarray(Time(times).int64, dtype=np.int64)
    else:
        array = np.asarray(times)
        if array.dtype.kind in "Mi" and array.ndim == 1:
            ns = np.asarray(Time(array.astype("datetime64[ns]") if array.dtype.kind == "M" else array).int64)
        elif array.ndim == 1:
            ns = np.array([_one(x) for x in array.tolist()], dtype=np.int64)
        elif array.ndim == 0 and array.dtype.kind in "US":
            ns = np.asarray(Time(str(array)).int64, dtype=np.int64)
        else:
            raise TypeError(
                "times must be a Time, ISO 8601 text, a datetime, a datetime64, int nanoseconds, "
                f"or a one-dimensional sequence of these; got {type(times).__name__}"
                + (f" of shape {array.shape}" if array.ndim > 1 else "")
            )
    scalar = ns.ndim == 0
    return np.atleast_1d(ns).astype(np.int64, copy=False), scalar


def _one(value: Any) -> int:
    if isinstance(value, Time):
        return int(value.int64)
    return int(Time(value).int64)


def tt_jd(ns: NDArray[np.int64]) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """Two-part TT Julian date of UTC nanoseconds since 1970."""
    days = ns // _DAY_NS
    utc1 = 2440587.5 + days.astype(np.float64)
    utc2 = (ns - days * _DAY_NS).astype(np.float64) / _DAY_NS
    tai1, tai2 = erfa.utctai(utc1, utc2)
    tt1, tt2 = erfa.taitt(tai1, tai2)
    return np.asarray(tt1, dtype=np.float64), np.asarray(tt2, dtype=np.float64)


def sun_positions(times: Any) -> tuple[NDArray[np.float64], bool]:
    """Geocentric GCRF positions of the Sun, m, shape (m, 3), and the scalar flag."""
    ns, scalar = utc_nanoseconds(times)
    tt1, tt2 = tt_jd(ns)
    pvh, _ = erfa.epv00(tt1, tt2)
    return np.ascontiguousarray(-AU * pvh["p"], dtype=np.float64).reshape(-1, 3), scalar


def sun_position(times: Any) -> NDArray[np.float64]:
    """Geometric geocentric position of the Sun in GCRF.

    Parameters
    ----------
    times : Time, str, datetime, datetime64, int, or a sequence of these
        UTC instants (ISO 8601 text, datetime64 arrays, int64 nanoseconds ...).

    Returns
    -------
    numpy.ndarray of float64
        Position in metres, shape (m, 3) for m times, (3,) for a single time.
        ERFA epv00 (the Earth's heliocentric position, negated) at TDB ~ TT.
    """
    r, scalar = sun_positions(times)
    return r[0] if scalar else r


def moon_position(times: Any) -> NDArray[np.float64]:
    """Geometric geocentric position of the Moon in GCRF.

    Parameters
    ----------
    times : Time, str, datetime, datetime64, int, or a sequence of these
        UTC instants.

    Returns
    -------
    numpy.ndarray of float64
        Position in metres, shape (m, 3) for m times, (3,) for a single time.
        ERFA moon98 at TT.
    """
    ns, scalar = utc_nanoseconds(times)
    tt1, tt2 = tt_jd(ns)
    pv = erfa.moon98(tt1, tt2)
    r = np.ascontiguousarray(AU * pv["p"], dtype=np.float64).reshape(-1, 3)
    return r[0] if scalar else r
