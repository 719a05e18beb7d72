"""Accuracy against references no one here wrote: the published verification
set (SGP4-VER.TLE with the reference program's tcppver.out) and python-sgp4
on real catalogues, for every gravity model and operation mode."""

import numpy as np
import pytest

from markers import not_sanitized
from verification import cases, driver_times, exact_epoch, real_pairs, reference

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from quorvane.propagators.analytical.sgp4.propagator import SGP4

pytestmark = not_sanitized

CASES = cases()
REFERENCE = reference()
DEEP = {line1[2:7].strip().lstrip("0") for line1, line2, *_ in CASES if float(line2[52:63]) * 225 <= 1440}
# The reference program rounds the epoch of 94305.49999999 to 19 µs off the
# stated instant (python-sgp4 rounds it the same way); on the 0.97-eccentric
# WIND orbit the lunar-solar terms turn that into 4 mm at perigee.  This
# propagator uses the exact epoch: see test_rounded_epoch_explains_wind.
EPOCH_ROUNDED = {23333}


def oracle(line1, line2, gravity="wgs72", mode="improved", epoch=None):
    from sgp4.api import WGS72, WGS72OLD, WGS84, Satrec

    constants = {"wgs72": WGS72, "wgs72old": WGS72OLD, "wgs84": WGS84}[gravity]
    sat = Satrec.twoline2rv(line1, line2, constants)
    if mode != "improved" or epoch is not None:
        epoch = sat.jdsatepoch + sat.jdsatepochF - 2433281.5 if epoch is None else epoch
        sat.sgp4init(constants, mode[0], sat.satnum, epoch, sat.bstar, sat.ndot, sat.nddot, sat.ecco, sat.argpo,
                     sat.inclo, sat.mo, sat.no_kozai, sat.nodeo)
    return sat


def oracle_run(sat, tsince):
    e, r, v = sat.sgp4_array(np.full(len(tsince), sat.jdsatepoch), sat.jdsatepochF + np.asarray(tsince) / 1440)
    return r, v, e


@pytest.mark.parametrize("index", range(len(CASES)), ids=[c[0][2:7] for c in CASES])
def test_verification_case_matches_the_reference_output(index):
    line1, line2, start, stop, step = CASES[index]
    satno, ref = REFERENCE[index]
    prop = SGP4(DUOLINE(line1, line2))
    r, v, err = prop.propagate(tsince=ref[:, 0])
    # The reference program prints the epoch state whatever its error (case
    # 33334, code 3 at epoch); every later time it printed had none.
    ok = err == 0
    assert (ok | (ref[:, 0] == 0)).all()
    r, v, ref = r[ok], v[ok], ref[ok]
    deep = str(satno) in DEEP
    tol_r, tol_v = (1e-3, 1e-3) if deep else (1e-4, 1e-4)  # m, m/s
    if satno in EPOCH_ROUNDED:
        tol_r = 5e-3
    assert np.abs(r - ref[:, 1:4] * 1000).max(initial=0) < tol_r
    assert np.abs(v - ref[:, 4:7] * 1000).max(initial=0) < tol_v

    # Error codes at the times the reference program stepped through (it
    # stops at the first error and prints no state there): python-sgp4's.
    times = driver_times(start, stop, step)
    _, _, want = oracle_run(oracle(line1, line2), times)
    r, v, err = prop.propagate(tsince=times)
    assert err.tolist() == want.tolist()
    assert np.isnan(r[err != 0]).all() and np.isnan(v[err != 0]).all()
    assert not np.isnan(r[err == 0]).any()


def test_the_verification_set_exercises_every_code_python_sgp4_gives():
    seen = set()
    for line1, line2, start, stop, step in CASES:
        seen |= set(SGP4(DUOLINE(line1, line2)).propagate(tsince=driver_times(start, stop, step))[2].tolist())
    assert seen == {0, 1, 3, 4, 6}


def test_rounded_epoch_explains_wind():
    line1, line2, start, stop, step = next(c for c in CASES if c[0][2:7] == "23333")
    times = driver_times(start, stop, step)
    r, v, err = SGP4(DUOLINE(line1, line2)).propagate(tsince=times)
    want_r, want_v, _ = oracle_run(oracle(line1, line2, epoch=exact_epoch(line1)), times)
    assert np.abs(r - want_r * 1000).max() < 1e-4
    assert np.abs(v - want_v * 1000).max() < 1e-7


@pytest.mark.parametrize("mode", ["improved", "afspc"])
@pytest.mark.parametrize("gravity", ["wgs72", "wgs84", "wgs72old"])
def test_real_catalogues_match_python_sgp4_over_six_days(gravity, mode):
    pairs = real_pairs()
    assert len(pairs) == 1511
    tsince = np.linspace(-3 * 1440, 3 * 1440, 73)
    r, v, err = SGP4([DUOLINE(a, b) for a, b in pairs], gravity=gravity, mode=mode).propagate(tsince=tsince)
    worst_r = worst_v = 0.0
    for i, (line1, line2) in enumerate(pairs):
        want_r, want_v, want_err = oracle_run(oracle(line1, line2, gravity, mode), tsince)
        assert err[i].tolist() == want_err.tolist(), line1
        ok = want_err == 0
        worst_r = max(worst_r, np.abs(r[i, ok] - want_r[ok] * 1000).max(initial=0))
        worst_v = max(worst_v, np.abs(v[i, ok] - want_v[ok] * 1000).max(initial=0))
    assert worst_r < 1e-3  # m
    assert worst_v < 1e-6  # m/s


def test_absolute_times_match_python_sgp4_julian_dates():
    # Times as instants: python-sgp4 takes the same instants as two-part
    # Julian dates; the difference is the rounding of those dates (< 1 µs).
    line1, line2 = real_pairs()[0]
    sat = oracle(line1, line2)
    ns = np.datetime64("2018-01-05T00:00", "ns").astype(np.int64) + np.arange(0, 86400, 600) * 10**9
    jd = 2440587.5 + ns // 86400_000_000_000
    fr = (ns % 86400_000_000_000) / 86400e9
    _, want, _ = sat.sgp4_array(jd.astype(float), fr)
    r, _, err = SGP4(DUOLINE(line1, line2)).propagate(ns.astype("datetime64[ns]"))
    assert (err == 0).all()
    assert np.abs(r - want * 1000).max() < 0.01  # m: 1 µs at 7.5 km/s
