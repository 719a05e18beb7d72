"""Time scales (to_jd2) against ERFA, leap-second refusal, and Time's
arithmetic, ranges, constructors and array protocol against numpy datetime64."""

import datetime
import warnings

import erfa
import numpy as np
import pytest

from quorvane.frames.eop import EOP, EOPWarning
from quorvane.time.time import Time

# Around the leap seconds at the end of 1972-06-30 and 2016-12-31, the
# drift era before 1972, and ordinary dates.
DATES = [
    (1965, 3, 1, 6, 0, 0.0),
    (1970, 1, 1, 0, 0, 0.0),
    (1971, 12, 31, 23, 59, 59.5),
    (1972, 1, 1, 0, 0, 0.0),
    (1972, 6, 30, 23, 59, 59.25),
    (1972, 7, 1, 0, 0, 0.0),
    (1999, 12, 31, 12, 0, 0.0),
    (2016, 12, 31, 0, 0, 0.0),
    (2016, 12, 31, 12, 0, 0.0),
    (2016, 12, 31, 23, 59, 59.999999999),
    (2017, 1, 1, 0, 0, 0.0),
    (2017, 1, 1, 0, 0, 0.5),
    (2024, 2, 29, 18, 30, 15.123456789),
]


def iso(y, mo, d, h, mi, s):
    whole = int(s)
    frac = round((s - whole) * 1e9)
    return f"{y:04d}-{mo:02d}-{d:02d}T{h:02d}:{mi:02d}:{whole:02d}.{frac:09d}"


def erfa_utc(y, mo, d, h, mi, s):
    return erfa.dtf2d("UTC", y, mo, d, h, mi, s)


@pytest.mark.parametrize("date", DATES)
def test_utc_tai_tt_agree_with_erfa(date):
    t = Time(iso(*date))
    u1, u2 = erfa_utc(*date)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        a1, a2 = erfa.utctai(u1, u2)
    tt1, tt2 = erfa.taitt(a1, a2)
    for scale, (e1, e2) in {"utc": (u1, u2), "tai": (a1, a2), "tt": (tt1, tt2)}.items():
        j1, j2 = t.to_jd2(scale)
        assert isinstance(j1, float) and isinstance(j2, float)
        assert j1 - 0.5 == int(j1 - 0.5) and 0.0 <= j2 < 1.0
        assert abs(((j1 - e1) + (j2 - e2)) * 86400.0) < 2e-9, scale


def test_array_time_gives_arrays_matching_scalars():
    t = Time([iso(*d) for d in DATES])
    for scale in ("utc", "tai", "tt", "ut1"):
        j1, j2 = t.to_jd2(scale, eop_policy="zero")
        assert j1.dtype == j2.dtype == np.float64 and j1.shape == (len(DATES),)
        for k in range(len(DATES)):
            assert (j1[k], j2[k]) == t[k].to_jd2(scale, eop_policy="zero")


def test_tai_is_exact_in_nanoseconds_across_the_2016_leap_second():
    before, after = Time("2016-12-31T23:59:59.999999999"), Time("2017-01-01T00:00:00")
    # One label nanosecond apart, one SI second and a nanosecond apart in TAI.
    tai = [t.to_jd2("tai") for t in (before, after)]
    jd1_step = tai[1][0] - tai[0][0]
    seconds = (jd1_step + (tai[1][1] - tai[0][1])) * 86400.0
    assert seconds == pytest.approx(1.000000001, abs=1e-9)
    # TT - TAI is 32.184 s exactly: the day fractions differ by exactly that.
    j1, j2 = after.to_jd2("tt")
    assert (j1, j2) == (2457754.5, (37 + 32.184) / 86400.0)


def test_ut1_is_utc_plus_the_tables_dut1():
    eop = EOP.default()
    t = Time(["2010-05-05T05:05:05", "2021-01-01T12:00:00"])
    dut1 = eop.at(t.int64)[0]
    u1, u2 = t.to_jd2("utc")
    b1, b2 = t.to_jd2("ut1")
    assert np.allclose(((b1 - u1) + (b2 - u2)) * 86400.0, dut1, atol=1e-9, rtol=0)
    with pytest.warns(EOPWarning):
        Time("1900-01-01").to_jd2("ut1")
    with pytest.raises(ValueError, match="outside the Earth orientation table"):
        Time("2200-01-01").to_jd2("ut1", eop_policy="raise")


@pytest.mark.parametrize("args, kwargs, error, text", [
    (("gps",), {}, ValueError, "'utc', 'tai', 'tt', 'ut1'"),
    ((1,), {}, TypeError, "scale must be a str"),
    (("ut1",), {"eop_policy": "ignore"}, ValueError, "'warn', 'raise', 'zero'"),
    (("ut1",), {"eop": 3}, TypeError, "eop must be None, a path or an EOP"),
    ((), {}, TypeError, "positional argument"),
])
def test_to_jd2_bad_arguments(args, kwargs, error, text):
    with pytest.raises(error, match=text):
        Time("2020-01-01").to_jd2(*args, **kwargs)


@pytest.mark.parametrize("value", ["2016-12-31T23:59:60", "2016-12-31T23:59:60.5", ["2024-01-01", "1972-06-30 23:59:60"]])
def test_leap_second_text_is_refused(value):
    with pytest.raises(ValueError, match="leap second .*cannot hold it"):
        Time(value)


def test_other_second_60_is_out_of_range():
    with pytest.raises(ValueError, match="out of range"):
        Time("2016-12-31T12:00:60")


# --- Arithmetic, ranges, constructors -----------------------------------------

T0 = np.datetime64("2024-03-01T12:00:00.123456789", "ns")


@pytest.mark.parametrize("delta", [
    np.timedelta64(90, "s"), np.timedelta64(-3, "D"), np.timedelta64(1, "ns"), np.timedelta64(2500, "us"),
])
def test_plus_and_minus_durations_match_datetime64(delta):
    t = Time(T0)
    assert (t + delta).int64 == (T0 + delta).astype("datetime64[ns]").view("int64")
    assert (t - delta).int64 == (T0 - delta).astype("datetime64[ns]").view("int64")
    arr = Time(np.array([T0, T0 + np.timedelta64(1, "h")]))
    assert np.array_equal(np.asarray(arr + delta), np.array([T0, T0 + np.timedelta64(1, "h")]) + delta)


def test_float_seconds_and_timedelta_and_arrays_of_durations():
    t = Time(T0)
    assert (t + 1.5).int64 == Time(T0 + np.timedelta64(1500, "ms")).int64
    assert (t - datetime.timedelta(days=1)).int64 == Time(T0 - np.timedelta64(1, "D")).int64
    many = t + np.array([0, 60, 120], "timedelta64[s]")
    assert np.array_equal(np.asarray(many), T0 + np.array([0, 60, 120], "timedelta64[s]"))
    assert np.array_equal(np.asarray(t + np.array([0.5, 1.0])), T0 + np.array([500, 1000], "timedelta64[ms]"))


@pytest.mark.parametrize("left", [
    np.timedelta64(90, "s"), np.array([0, 60, 120], "timedelta64[s]"), np.float64(1.5), 1.5,
    datetime.timedelta(seconds=-7),
], ids=["timedelta64", "timedelta64 array", "float64", "float", "timedelta"])
@pytest.mark.parametrize("instants", [T0, np.array([T0, T0 + np.timedelta64(1, "h"), T0])], ids=["scalar", "array"])
def test_duration_plus_time_is_the_time_of_time_plus_duration(left, instants):
    t = Time(instants)
    for got in (left + t, np.add(left, t), np.add(t, left)):
        assert isinstance(got, Time)
        assert np.array_equal(np.asarray(got.int64), np.asarray((t + left).int64))


def test_ufuncs_other_than_adding_a_duration_see_datetime64():
    t = Time(np.array([T0, T0 + np.timedelta64(1, "D")]))
    later = T0 + np.timedelta64(1, "h")
    assert (later > t).tolist() == [True, False] and (np.asarray(t) < later).tolist() == [True, False]
    assert np.array_equal(later - t, later - np.asarray(t))
    assert np.array_equal(np.minimum(t, later), np.minimum(np.asarray(t), later))
    with pytest.raises(TypeError):
        np.add(t, t)  # two instants do not add
    with pytest.raises(TypeError):
        np.add(np.timedelta64(1, "h"), t, out=(t,))  # nor is a Time written to


def test_difference_is_timedelta64_ns():
    a, b = Time("2024-01-01T00:00:01"), Time("2023-12-31T00:00:00")
    d = a - b
    assert isinstance(d, np.timedelta64) and d == np.timedelta64(86401, "s") and d.dtype == "m8[ns]"
    arr = Time(["2024-01-01", "2024-01-02"]) - b
    assert arr.dtype == np.dtype("m8[ns]") and arr.tolist() == [86400 * 10**9, 2 * 86400 * 10**9]
    assert (a - np.datetime64("2024-01-01")) == np.timedelta64(1, "s")
    assert (np.datetime64("2024-01-01") - a) == np.timedelta64(-1, "s")


@pytest.mark.parametrize("operation, error", [
    (lambda t: t + "1", TypeError),
    (lambda t: t + t, TypeError),
    (lambda t: t + float("nan"), ValueError),
    (lambda t: t + np.timedelta64("NaT", "s"), ValueError),
    (lambda t: t + np.timedelta64(1, "M"), TypeError),
    (lambda t: t + 1e30, OverflowError),
    (lambda t: t + np.timedelta64(300, "Y").astype("m8[D]"), OverflowError),
    (lambda t: Time("2262-04-11") + np.timedelta64(1, "D"), OverflowError),
    (lambda t: Time(["2024-01-01", "2024-01-02"]) + np.zeros(3, "m8[s]"), ValueError),
    (lambda t: Time("1677-09-22") - Time("2262-04-10"), OverflowError),
])
def test_bad_arithmetic(operation, error):
    with pytest.raises(error):
        operation(Time(T0))


@pytest.mark.parametrize("start, stop, step", [
    ("2024-01-01", "2024-01-02", np.timedelta64(1, "h")),
    ("2024-01-01", "2024-01-01T00:00:10", 3.0),
    (np.datetime64("2024-01-02"), datetime.datetime(2024, 1, 1), np.timedelta64(-7, "h")),
    ("2024-01-01", "2024-01-01", np.timedelta64(1, "s")),
])
def test_range_matches_numpy_arange(start, stop, step):
    got = np.asarray(Time.range(start, stop, step))
    a, b = np.datetime64(Time(start).int64, "ns"), np.datetime64(Time(stop).int64, "ns")
    s = step if isinstance(step, np.timedelta64) else np.timedelta64(int(step * 1e9), "ns")
    assert np.array_equal(got, np.arange(a, b, s.astype("m8[ns]")))


@pytest.mark.parametrize("step, error", [(0.0, ValueError), (np.timedelta64(0, "s"), ValueError), ("1h", TypeError)])
def test_range_bad_step(step, error):
    with pytest.raises(error):
        Time.range("2024-01-01", "2024-01-02", step)


def test_construct_from_sequences_and_arrays_of_text():
    expected = np.array(["2024-01-01T00:00:00", "2024-06-30T12:00:00.5"], "datetime64[ns]")
    for value in (
        ["2024-01-01", "2024-06-30T12:00:00.5"],
        ("2024-01-01T00:00:00Z", datetime.datetime(2024, 6, 30, 12, 0, 0, 500000)),
        np.array(["2024-01-01", "2024-06-30T12:00:00.5"]),
        [np.datetime64("2024-01-01"), np.datetime64("2024-06-30T12:00:00.5")],
        [datetime.datetime(2024, 1, 1, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=1))),
         "2024-06-30T12:00:00.500"],
    ):
        assert np.array_equal(np.asarray(Time(value)), expected), value
    assert len(Time([])) == 0


def test_construct_from_pandas_index_converts_to_utc():
    pd = pytest.importorskip("pandas")
    naive = pd.date_range("2024-01-01", periods=3, freq="h")
    assert np.array_equal(np.asarray(Time(naive)), naive.to_numpy())
    aware = pd.date_range("2024-01-01T01:00", periods=3, freq="h", tz="Europe/Paris")
    assert np.array_equal(np.asarray(Time(aware)), naive.to_numpy())
    with pytest.raises(ValueError, match="NaT"):
        Time(pd.DatetimeIndex(["2024-01-01", None]))


@pytest.mark.parametrize("value, error", [
    ([1, 2], TypeError),
    (["2024-01-01", 1.5], TypeError),
    (["2024-13-01"], ValueError),
    ([["2024-01-01"]], ValueError),
    ([np.datetime64("NaT", "ns")], ValueError),
    (np.array([["2024-01-01"]]), ValueError),
    ({"2024-01-01"}, TypeError),
])
def test_bad_sequences(value, error):
    with pytest.raises(error):
        Time(value)


def test_asarray_is_datetime64_ns():
    t = Time(["2024-01-01", "2024-01-02"])
    a = np.asarray(t)
    assert a.dtype == np.dtype("M8[ns]") and a.view("int64").tolist() == t.int64.tolist()
    assert np.asarray(Time("2024-01-01")).shape == ()
    assert np.asarray(t, dtype="M8[s]").dtype == np.dtype("M8[s]")
    copied = np.array(t, copy=True)
    copied[0] = np.datetime64("2000-01-01")
    assert t[0] == Time("2024-01-01")
