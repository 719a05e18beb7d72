"""Earth orientation tables: reading, interpolation against astropy's IERS_A
on the same file, the out-of-table policies, and resolve()."""

import os
import warnings

import numpy as np
import pytest
from markers import not_sanitized

from quorvane.frames import eop as eop_module
from quorvane.frames.eop import EOP, EOPWarning, resolve
from quorvane.time.time import Time

PATH = eop_module._default_path()
ARCSEC = np.pi / 648000.0


def lines_between(first_mjd, last_mjd):
    with open(PATH) as f:
        return [line for line in f if first_mjd <= float(line[7:15]) <= last_mjd]


@pytest.fixture(scope="module")
def astropy_table():
    from astropy.utils import iers

    iers.conf.auto_download = False
    return iers.IERS_A.open(PATH)


def astropy_values(table, ns):
    import astropy.units as u
    from astropy.time import Time as AstropyTime

    t = AstropyTime(np.asarray(ns).view("datetime64[ns]"), scale="utc")
    x, y = table.pm_xy(t)
    return table.ut1_utc(t).to_value(u.s), x.to_value(u.rad), y.to_value(u.rad)


TIMES = Time(np.concatenate([
    np.array(["1980-03-03T01:02:03", "2016-12-30T18:00", "2016-12-31T06:00", "2016-12-31T23:59:59.9",
              "2017-01-01T00:00", "2017-01-01T07:30", "2024-01-01T00:00", "2026-05-05T05:05"], "datetime64[ns]"),
    np.datetime64("1990-01-01", "ns") + np.random.default_rng(5).integers(0, 30 * 365 * 86400, 50) * np.timedelta64(1, "s"),
]))


@not_sanitized
def test_interpolation_matches_astropy(astropy_table):
    dut1, xp, yp, dx, dy = EOP.default().at(TIMES.int64)
    a_dut1, a_xp, a_yp = astropy_values(astropy_table, TIMES.int64)
    # astropy interpolates in its UTC Julian date, whose leap-second day lasts
    # 86401 s: within that day the two differ by a few nanoseconds.
    assert np.abs(dut1 - a_dut1).max() < 2e-8
    assert np.abs(xp - a_xp).max() < 1e-13 and np.abs(yp - a_yp).max() < 1e-13
    assert all(a.dtype == np.float64 and a.shape == (len(TIMES),) for a in (dut1, xp, yp, dx, dy))


@not_sanitized
def test_small_user_file_across_a_leap_second(tmp_path, astropy_table):
    path = tmp_path / "finals.all"
    rows = lines_between(57752, 57756)
    # A last row without UT1-UTC (only the date and MJD) is dropped.
    path.write_text("".join(rows) + "170106 57759.00\n")
    table = EOP.from_file(path)
    assert table.mjd.tolist() == [57752.0, 57753.0, 57754.0, 57755.0, 57756.0]
    assert table.first == Time("2016-12-30") and table.last == Time("2017-01-03")
    t = Time.range("2016-12-30T00:00", "2017-01-02T23:00", np.timedelta64(150, "m"))
    dut1, xp, yp, _, _ = table.at(t.int64)
    # The rows are the default file's: astropy on that whole file is the oracle.
    a_dut1, a_xp, a_yp = astropy_values(astropy_table, t.int64)
    assert np.abs(dut1 - a_dut1).max() < 2e-8
    assert np.abs(xp - a_xp).max() < 1e-13 and np.abs(yp - a_yp).max() < 1e-13
    # No one-second jump inside the day before the leap second.
    inside = (t.int64 >= Time("2016-12-31").int64) & (t.int64 < Time("2017-01-01").int64)
    assert np.ptp(dut1[inside]) < 1e-3


def test_columns_are_si():
    table = EOP.default()
    assert np.abs(table.dut1).max() < 0.9  # seconds
    assert np.abs(table.xp).max() < 1.0 * ARCSEC and np.abs(table.yp).max() < 1.0 * ARCSEC
    assert np.abs(table.dx).max() < 0.1 * ARCSEC and np.abs(table.dx[-1000:-400]).max() < 1e-3 * ARCSEC
    assert np.abs(table.lod).max() < 5e-3
    assert len(table) == table.mjd.size and (np.diff(table.mjd) == 1).all()


EDGES = (Time("1960-01-01"), Time("2200-06-01"))


def test_policy_warn_holds_the_edge_values_with_one_warning():
    table = EOP.default()
    ns = np.array([e.int64 for e in EDGES] + [Time("2020-01-01").int64])
    with pytest.warns(EOPWarning) as record:
        values = table.at(ns)
    assert len(record) == 1
    text = str(record[0].message)
    assert "1960-01-01" in text and "2200-06-01" in text and "edge values are held" in text
    for column, value in zip(("dut1", "xp", "yp", "dx", "dy"), values):
        assert value[0] == getattr(table, column)[0] and value[1] == getattr(table, column)[-1]


def test_policy_raise_names_the_times_and_the_range():
    with pytest.raises(ValueError, match=r"1 time\(s\) outside the Earth orientation table \(1973-01-02.*2200-06-01"):
        EOP.default().at([EDGES[1].int64], policy="raise")


def test_policy_zero_gives_zero_outside_and_values_inside():
    table = EOP.default()
    inside = Time("2020-01-01").int64
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        values = table.at([EDGES[0].int64, inside], policy="zero")
    assert all(v[0] == 0.0 for v in values)
    assert values[0][1] == table.at([inside])[0][0] != 0.0


@pytest.mark.parametrize("policy", ["ignore", None, 1])
def test_unknown_policy(policy):
    with pytest.raises(ValueError, match="'warn', 'raise', 'zero'"):
        EOP.default().at([0], policy=policy)


def test_at_takes_datetime64_and_refuses_floats():
    table = EOP.default()
    t = np.array(["2020-01-01T06:00"], "datetime64[s]")
    assert table.at(t)[0] == table.at(Time(t).int64)[0]
    with pytest.raises(TypeError, match="int64 nanoseconds"):
        table.at([1.5])


def test_resolve(tmp_path):
    assert resolve(None) is EOP.default() is EOP.default()
    table = resolve(PATH)
    assert resolve(PATH) is table and resolve(table) is table
    assert np.array_equal(table.dut1, EOP.default().dut1)
    with pytest.raises(TypeError, match="eop must be None, a path or an EOP"):
        resolve(3)
    with pytest.raises(FileNotFoundError):
        resolve(os.fspath(tmp_path / "missing.all"))


@pytest.mark.parametrize("text, message", [
    ("", "no rows"),
    ("garbage\n", "no MJD"),
    ("170106 57759.00\n", "no UT1-UTC"),
])
def test_bad_files(tmp_path, text, message):
    path = tmp_path / "bad.all"
    path.write_text(text)
    with pytest.raises(ValueError, match=message):
        EOP.from_file(path)
