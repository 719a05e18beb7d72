"""Python side of quorvane.time.time.Time: time scales, arithmetic, ranges and
construction from sequences.  The native Time type calls these functions.

Time scales (`to_jd2`):

* UTC instants are stored as labels, 86400 s per day (the datetime64[ns]
  encoding).  The UTC Julian date follows ERFA's convention: on a day that
  ends with a leap second the fraction is seconds into the day / 86401.
* TAI = UTC + ΔAT in integer nanoseconds, with ΔAT from ERFA's `dat` (the
  IAU's leap-second table, including the 1960–1972 drift rates; before 1960
  UTC is undefined and ΔAT is taken as 0).
* TT = TAI + 32.184 s, exactly.
* UT1 = UTC + (UT1 − UTC) from the Earth orientation table.
"""

from __future__ import annotations

import datetime
import numbers
import warnings

import numpy

from quorvane.time.time import Time

_NS_PER_DAY = 86400 * 10**9
_JD_UNIX = 2440587.5
_TT_TAI_NS = 32_184_000_000
_SCALES = ("utc", "tai", "tt", "ut1")
_INT64_MIN = numpy.iinfo(numpy.int64).min


def _ymd(days: numpy.ndarray):
    d = days.astype("datetime64[D]")
    months = d.astype("datetime64[M]")
    year = d.astype("datetime64[Y]").astype(numpy.int64) + 1970
    month = months.astype(numpy.int64) % 12 + 1
    day = (d - months).astype(numpy.int64) + 1
    return year.astype(numpy.int32), month.astype(numpy.int32), day.astype(numpy.int32)


def _dat(days: numpy.ndarray, fraction: numpy.ndarray) -> numpy.ndarray:
    """TAI − UTC (s) from ERFA's table at the given UTC days and day fractions."""
    import erfa

    y, m, d = _ymd(days)
    with warnings.catch_warnings():
        # ERFA flags years before 1960 (UTC undefined: ΔAT 0) and years
        # far past its table as "dubious"; the values are still its best.
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        return numpy.asarray(erfa.dat(y, m, d, fraction), dtype=numpy.float64)


def _split(ns: numpy.ndarray):
    days = ns // _NS_PER_DAY
    return days, ns - days * _NS_PER_DAY


def _jd2_of_ns(ns: numpy.ndarray):
    days, rest = _split(ns)
    return _JD_UNIX + days.astype(numpy.float64), rest.astype(numpy.float64) / _NS_PER_DAY


def _checked_add(a: numpy.ndarray, b: numpy.ndarray) -> numpy.ndarray:
    with numpy.errstate(over="ignore"):
        out = a + b
    if (((a ^ out) & (b ^ out)) < 0).any() or (out == _INT64_MIN).any():
        raise OverflowError("result outside the int64 nanosecond range (1677-09-21 to 2262-04-11)")
    return out


def tai_ns(ns: numpy.ndarray) -> numpy.ndarray:
    """TAI instants (int64 ns since 1970-01-01 TAI labels) of UTC instants."""
    days, rest = _split(ns)
    dat = _dat(days, rest / _NS_PER_DAY)
    return _checked_add(ns, numpy.rint(dat * 1e9).astype(numpy.int64))


def _scale_jd2(ns: numpy.ndarray, scale: str, eop, eop_policy: str):
    if scale == "utc":
        days, rest = _split(ns)
        # ERFA's quasi-JD: a day ending in a leap second lasts 86400 + Δ s,
        # Δ the step of ΔAT at its end less the drift (ERFA's dtf2d).
        zero = numpy.zeros(days.shape)
        dat0 = _dat(days, zero)
        dat12 = _dat(days, zero + 0.5)
        dat24 = _dat(days + 1, zero)
        length = 86400.0 + (dat24 - (2.0 * dat12 - dat0))
        return _JD_UNIX + days.astype(numpy.float64), (rest.astype(numpy.float64) / 1e9) / length
    if scale in ("tai", "tt"):
        t = tai_ns(ns)
        if scale == "tt":
            t = _checked_add(t, numpy.full_like(t, _TT_TAI_NS))
        return _jd2_of_ns(t)
    from quorvane.frames.eop import resolve

    dut1 = resolve(eop).at(ns, eop_policy)[0]
    jd1, jd2 = _jd2_of_ns(ns)
    jd2 = jd2 + dut1 / 86400.0
    shift = numpy.floor(jd2)
    return jd1 + shift, jd2 - shift


def to_jd2(t, scale, eop=None, eop_policy="warn"):
    if not isinstance(scale, str):
        raise TypeError(f"to_jd2() scale must be a str, got {type(scale).__name__}")
    if scale not in _SCALES:
        raise ValueError(f"to_jd2() scale must be one of 'utc', 'tai', 'tt', 'ut1', got {scale!r}")
    if not isinstance(eop_policy, str) or eop_policy not in ("warn", "raise", "zero"):
        raise ValueError(f"eop_policy must be one of 'warn', 'raise', 'zero', got {eop_policy!r}")
    value = t.int64
    scalar = isinstance(value, int)
    ns = numpy.atleast_1d(numpy.asarray(value, dtype=numpy.int64))
    jd1, jd2 = _scale_jd2(ns, scale, eop, eop_policy)
    if scalar:
        return float(jd1[0]), float(jd2[0])
    return numpy.ascontiguousarray(jd1), numpy.ascontiguousarray(jd2)


# --- Construction from sequences ----------------------------------------------


def _from_pandas(value) -> numpy.ndarray:
    tz = getattr(value, "tz", None)
    if tz is None and hasattr(value, "dt"):
        tz = getattr(value.dt, "tz", None)
        if tz is not None:
            value = value.dt.tz_convert("UTC").dt.tz_localize(None)
    elif tz is not None:
        value = value.tz_convert("UTC").tz_localize(None)
    array = numpy.asarray(value)
    if array.dtype.kind != "M":
        raise TypeError(f"Time() needs datetimes from pandas, got dtype {array.dtype}")
    if numpy.isnat(array).any():
        raise ValueError("Time() got NaT (datetime64's not-a-time, int64 -2**63), which is no instant")
    return array.astype("datetime64[ns]").view(numpy.int64)


def from_sequence(value) -> numpy.ndarray:
    """int64 nanoseconds of a list, tuple, object/text array or pandas index."""
    module = type(value).__module__ or ""
    if module.startswith("pandas"):
        return _from_pandas(value)
    if isinstance(value, numpy.ndarray):
        if value.ndim != 1:
            raise ValueError(f"Time() needs a one-dimensional array, got {value.ndim} dimensions")
        items = value.tolist()
    elif isinstance(value, (list, tuple)):
        items = value
    else:
        raise TypeError(f"Time() cannot read {type(value).__name__}")
    out = numpy.empty(len(items), dtype=numpy.int64)
    for i, item in enumerate(items):
        if isinstance(item, (list, tuple, numpy.ndarray)) or isinstance(item, Time) and not _is_scalar(item):
            raise ValueError(f"Time() needs a flat sequence of instants; item {i} is a {type(item).__name__}")
        if isinstance(item, (numbers.Number, numpy.number)) and not isinstance(item, numpy.datetime64):
            raise TypeError(
                "Time() needs a sequence of ISO 8601 text, datetimes or datetime64 "
                f"(numbers go in an int64 array); item {i} is {type(item).__name__}"
            )
        if isinstance(item, bytes):
            item = item.decode("ascii")
        t = item if isinstance(item, Time) else Time(item)
        out[i] = t.int64
    return out


def _is_scalar(t) -> bool:
    return isinstance(t.int64, int)


# --- Arithmetic ---------------------------------------------------------------


def _duration_ns(other):
    """int64 nanoseconds (scalar or array) of a duration, or None if `other` is none."""
    if isinstance(other, bool):
        return None
    if isinstance(other, datetime.timedelta):
        return numpy.int64(other // datetime.timedelta(microseconds=1) * 1000)
    if isinstance(other, (numpy.timedelta64, numpy.ndarray)) and numpy.asarray(other).dtype.kind == "m":
        a = numpy.asarray(other)
        if numpy.isnat(a).any():
            raise ValueError("cannot add NaT (not-a-time) to a Time")
        unit = numpy.datetime_data(a.dtype)[0]
        if unit in ("Y", "M"):
            raise TypeError("years and months are no fixed duration: give the step in days or finer units")
        if unit == "generic":
            raise TypeError("a timedelta64 without a unit is no duration")
        try:
            ns = a.astype("timedelta64[ns]")
        except OverflowError as exc:
            raise OverflowError("duration outside the int64 nanosecond range") from exc
        # NumPy's unit conversion wraps silently: check it on the way back.
        if (ns.astype(a.dtype) != a).any():
            raise OverflowError("duration outside the int64 nanosecond range")
        return ns.view(numpy.int64) if ns.ndim else numpy.int64(ns.view(numpy.int64))
    if isinstance(other, (numbers.Real, numpy.floating, numpy.integer)) or (
        isinstance(other, numpy.ndarray) and other.dtype.kind in "fiu"
    ):
        seconds = numpy.asarray(other, dtype=numpy.float64)
        if not numpy.isfinite(seconds).all():
            raise ValueError("cannot add a non-finite number of seconds to a Time")
        ns = numpy.rint(seconds * 1e9)
        if (numpy.abs(ns) >= 2.0**63).any():
            raise OverflowError("duration outside the int64 nanosecond range")
        return ns.astype(numpy.int64) if ns.ndim else numpy.int64(ns)
    return None


def _result(ns, scalar: bool):
    if scalar:
        return Time(int(ns))
    return Time(numpy.ascontiguousarray(ns, dtype=numpy.int64))


def _shift(t, delta):
    a = numpy.asarray(t.int64, dtype=numpy.int64)
    d = numpy.asarray(delta, dtype=numpy.int64)
    if d.ndim > 1:
        raise ValueError(f"a Time takes one-dimensional durations, got {d.ndim} dimensions")
    try:
        a, d = numpy.broadcast_arrays(a, d)
    except ValueError:
        raise ValueError(f"cannot add {d.shape[0]} durations to {a.shape[0]} instants") from None
    out = _checked_add(a, d)
    return _result(out, out.ndim == 0)


def add(t, other):
    delta = _duration_ns(other)
    if delta is None:
        return NotImplemented
    return _shift(t, delta)


def _as_instants(other):
    if isinstance(other, Time):
        return other
    if isinstance(other, (numpy.datetime64, datetime.date)) or (
        isinstance(other, numpy.ndarray) and other.dtype.kind == "M"
    ):
        return Time(other)
    return None


def _difference(a_time, b_time):
    a = numpy.asarray(a_time.int64, dtype=numpy.int64)
    b = numpy.asarray(b_time.int64, dtype=numpy.int64)
    try:
        a, b = numpy.broadcast_arrays(a, b)
    except ValueError:
        raise ValueError(f"cannot subtract {b.shape[0]} instants from {a.shape[0]} instants") from None
    with numpy.errstate(over="ignore"):
        out = a - b
    if (((a ^ b) & (a ^ out)) < 0).any() or (out == _INT64_MIN).any():
        raise OverflowError("time difference outside the int64 nanosecond range")
    result = out.view("timedelta64[ns]")
    return result[()] if result.ndim == 0 else result


def sub(t, other):
    instants = _as_instants(other)
    if instants is not None:
        return _difference(t, instants)
    delta = _duration_ns(other)
    if delta is None:
        return NotImplemented
    neg = numpy.asarray(delta, dtype=numpy.int64)
    if (neg == _INT64_MIN).any():
        raise OverflowError("duration outside the int64 nanosecond range")
    return _shift(t, -neg)


def rsub(t, other):
    instants = _as_instants(other)
    if instants is None:
        return NotImplemented
    return _difference(instants, t)


def time_range(start, stop, step):
    a, b = Time(start), Time(stop)
    if not (_is_scalar(a) and _is_scalar(b)):
        raise ValueError("Time.range() needs a single instant for start and stop")
    s = _duration_ns(step)
    if s is None:
        raise TypeError(f"Time.range() step must be a timedelta64 or seconds, got {type(step).__name__}")
    if numpy.ndim(s) != 0:
        raise ValueError("Time.range() step must be a single duration")
    s = int(s)
    if s == 0:
        raise ValueError("Time.range() step must not be zero")
    values = numpy.arange(a.int64, b.int64, s, dtype=numpy.int64)
    return Time(values)


def array_ufunc(t, ufunc, method, *inputs, **kwargs):
    # NumPy hands its binary operators to this hook when a Time is the
    # right operand: numpy.timedelta64(1, "h") + t comes here as
    # numpy.add(delta, t), and is the Time that t + delta gives, not the
    # datetime64 that converting t would.  Everything else (comparisons with
    # datetime64, datetime64 - t, explicit ufunc calls) sees the instants as
    # datetime64[ns], as NumPy did through __array__.
    if any(isinstance(x, Time) for x in kwargs.get("out", ())):
        return NotImplemented  # a Time is immutable
    if ufunc is numpy.add and method == "__call__" and len(inputs) == 2 and not kwargs:
        a, b = inputs
        if isinstance(a, Time) != isinstance(b, Time):
            result = add(a, b) if isinstance(a, Time) else add(b, a)
            if result is not NotImplemented:
                return result
    arrays = [as_array(x) if isinstance(x, Time) else x for x in inputs]
    return getattr(ufunc, method)(*arrays, **kwargs)


def as_array(t, dtype=None, copy=None):
    value = t.int64
    if isinstance(value, int):
        array = numpy.array(value, dtype=numpy.int64).view("datetime64[ns]")
        if copy is False and dtype is None:
            raise ValueError("a scalar Time cannot be viewed as an array without a copy")
    else:
        array = value.view("datetime64[ns]")
        if copy:
            array = array.copy()
    if dtype is not None and numpy.dtype(dtype) != array.dtype:
        if copy is False:
            raise ValueError(f"a Time cannot become dtype {numpy.dtype(dtype)} without a copy")
        array = array.astype(dtype)
    return array
