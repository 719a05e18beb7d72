"""transform() between TEME, ITRF and GCRF against astropy and skyfield with
the same Earth orientation table, velocities against finite differences,
shapes, threads, bad input, and SGP4.propagate(frame=)."""

import pathlib
import warnings

import numpy as np
import pytest
from markers import not_sanitized

from quorvane.frames import eop as eop_module
from quorvane.frames.eop import EOP, EOPWarning
from quorvane.frames.frames import ENU, GCRF, ITRF, TEME, transform
from quorvane.propagators.analytical.sgp4.catalogue import iter_entries
from quorvane.propagators.analytical.sgp4.duoline import ELSET
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from quorvane.time.time import Time

ROOT = pathlib.Path(__file__).resolve().parents[2]
RECORDS = [record for _, record in iter_entries(ROOT / "examples" / "data" / "stations.tle")]
ISS = RECORDS[0]
PATH = eop_module._default_path()
TIMES = Time.range("2024-01-10T00:00", "2024-01-10T06:00", np.timedelta64(17, "m"))
LEAP = Time(["2016-12-31T23:59:59.5", "2017-01-01T00:00:00.25", "2017-01-01T00:00:01"])


def teme_states(times, record=ISS):
    r, v, err = SGP4(record).propagate(times)
    assert not err.any()
    return r, v


def angle(a, b):
    """Angles between rows of a and b, rad (stable for tiny angles)."""
    return np.arctan2(np.linalg.norm(np.cross(a, b), axis=-1), np.sum(a * b, axis=-1))


@pytest.fixture(scope="module")
def astropy_frames():
    from astropy.utils import iers

    iers.conf.auto_download = False
    iers.earth_orientation_table.set(iers.IERS_A.open(PATH))
    import astropy.coordinates as coord
    import astropy.units as u
    from astropy.time import Time as AstropyTime

    yield coord, u, lambda t: AstropyTime(np.asarray(t), scale="utc")
    iers.earth_orientation_table.set(None)


@not_sanitized
@pytest.mark.parametrize("times", [TIMES, LEAP], ids=["2024", "leap-second"])
def test_teme_to_itrf_within_a_millimetre_of_astropy(astropy_frames, times):
    coord, u, at = astropy_frames
    r = np.random.default_rng(2).normal(0.0, 5e6, (len(times), 3)) + [6e6, 1e6, -2e6]
    mine, _ = transform(r, None, times, TEME, ITRF)
    theirs = coord.TEME(coord.CartesianRepresentation(r.T * u.m), obstime=at(times)).transform_to(
        coord.ITRS(obstime=at(times)))
    assert np.linalg.norm(mine - theirs.cartesian.xyz.to_value(u.m).T, axis=1).max() < 1e-3


@not_sanitized
@pytest.mark.parametrize("frm", [ITRF, TEME])
def test_gcrf_within_a_milliarcsecond_of_astropy_gcrs(astropy_frames, frm):
    coord, u, at = astropy_frames
    r, _ = teme_states(TIMES)
    if frm is ITRF:
        r, _ = transform(r, None, TIMES, TEME, ITRF)
    mine, none = transform(r, None, TIMES, frm, GCRF)
    assert none is None
    source = coord.ITRS if frm is ITRF else coord.TEME
    theirs = source(coord.CartesianRepresentation(r.T * u.m), obstime=at(TIMES)).transform_to(
        coord.GCRS(obstime=at(TIMES))).cartesian.xyz.to_value(u.m).T
    mas = np.degrees(angle(mine, theirs)) * 3.6e6
    assert mas.max() < 1.0


@not_sanitized
def test_gcrf_within_a_metre_of_skyfield_at_leo():
    # Skyfield's timescale and UT1 from skyfield-data's finals2000A.all, and
    # the same file for quorvane: both sides then use the same UT1 and leap
    # seconds.  Skyfield applies no pole offsets dX, dY (under a centimetre).
    import skyfield_data
    from skyfield.api import EarthSatellite, Loader

    data = pathlib.Path(skyfield_data.__file__).parent / "data"
    ts = Loader(str(data), verbose=False).timescale(builtin=False)
    times = Time.range("2024-01-10T00:00", "2024-01-10T03:00", np.timedelta64(7, "m"))
    sat = EarthSatellite(ISS.line1, ISS.line2, ts=ts)
    dt = np.asarray(times).astype("datetime64[us]").astype(object)
    import datetime
    t = ts.from_datetimes([d.replace(tzinfo=datetime.timezone.utc) for d in dt])
    theirs = sat.at(t).position.m.T
    r, _ = teme_states(times)
    mine, _ = transform(r, None, times, TEME, GCRF, eop=data / "finals2000A.all")
    assert np.linalg.norm(mine - theirs, axis=1).max() < 1.0


@pytest.mark.parametrize("frm, to", [(TEME, ITRF), (ITRF, TEME), (TEME, GCRF), (GCRF, TEME), (ITRF, GCRF),
                                     (GCRF, ITRF)])
def test_velocities_are_the_derivative_of_positions(frm, to):
    # Uniform motion in the source frame, so that the central difference of
    # the transformed positions (step 0.05 s, error ~ omega^2 r h^2 / 6 ~ 2e-5
    # m/s) checks the Earth-rotation terms of the velocities.
    h = 0.05
    centre = Time.range("2024-01-10T00:00", "2024-01-10T03:00", np.timedelta64(20, "m"))
    r0, v0 = teme_states(centre)
    states = {}
    for key, dt in (("-", -h), ("0", 0.0), ("+", h)):
        states[key] = transform(r0 + v0 * dt, v0, centre + dt, frm, to)
    numeric = (states["+"][0] - states["-"][0]) / (2 * h)
    assert np.abs(numeric - states["0"][1]).max() < 1e-4


@pytest.mark.parametrize("frm, to", [(TEME, ITRF), (TEME, GCRF), (ITRF, GCRF)])
def test_round_trips(frm, to):
    r, v = teme_states(TIMES)
    r2, v2 = transform(*transform(r, v, TIMES, frm, to), TIMES, to, frm)
    assert np.abs(r2 - r).max() < 1e-7 and np.abs(v2 - v).max() < 1e-10


def test_same_frame_is_the_identity():
    r, v = teme_states(TIMES)
    r2, v2 = transform(r, v, TIMES, GCRF, GCRF)
    assert np.array_equal(r2, r) and np.array_equal(v2, v)


def test_many_satellites_match_one_at_a_time_and_threads_change_no_bit():
    r = np.stack([teme_states(TIMES, rec)[0] for rec in RECORDS[:5]])
    v = np.stack([teme_states(TIMES, rec)[1] for rec in RECORDS[:5]])
    one, vone = transform(r, v, TIMES, TEME, GCRF, threads=1)
    assert one.shape == v.shape == (5, len(TIMES), 3)
    for i in range(5):
        ri, vi = transform(r[i], v[i], TIMES, TEME, GCRF)
        assert np.array_equal(ri, one[i]) and np.array_equal(vi, vone[i])
    big = np.repeat(r, 2000, axis=0)
    a, _ = transform(big, None, TIMES, TEME, ITRF, threads=1)
    b, _ = transform(big, None, TIMES, TEME, ITRF, threads=2)
    assert a.tobytes() == b.tobytes()


def test_scalar_time_and_inputs_of_any_real_dtype():
    t = TIMES[3]
    r, v = teme_states(TIMES)
    ri, vi = transform(r[3], v[3], t, TEME, ITRF)
    rall, vall = transform(r, v, TIMES, TEME, ITRF)
    assert ri.shape == (3,) and np.array_equal(ri, rall[3]) and np.array_equal(vi, vall[3])
    many, _ = transform(np.stack([r[3], r[3]]), None, "2024-01-10T00:51", TEME, ITRF)
    assert many.shape == (2, 3) and np.array_equal(many[0], ri)
    as_int, _ = transform(np.array([7000000, 0, 0]), None, t, TEME, ITRF)
    assert np.array_equal(as_int, transform(np.array([7e6, 0.0, 0.0]), None, t, TEME, ITRF)[0])


@pytest.mark.parametrize("call, error, text", [
    (lambda r: transform(r, None, TIMES, TEME, ENU(0.1, 0.2)), ValueError, "TEME, ITRF or GCRF"),
    (lambda r: transform(r, None, TIMES, "TEME", ITRF), ValueError, "frm must be TEME, ITRF or GCRF"),
    (lambda r: transform(r, None, TIMES, TEME, None), ValueError, "to must be"),
    (lambda r: transform(r[:-1], None, TIMES, TEME, ITRF), ValueError, "shape"),
    (lambda r: transform(r[:, :2], None, TIMES, TEME, ITRF), ValueError, "shape"),
    (lambda r: transform(r, r[:-1], TIMES, TEME, ITRF), ValueError, "v has shape"),
    (lambda r: transform(np.stack([r, r]), None, TIMES[0], TEME, ITRF), ValueError, "one time"),
    (lambda r: transform("abc", None, TIMES, TEME, ITRF), ValueError, "real numbers"),
    (lambda r: transform(r, None, [1.5] * len(TIMES), TEME, ITRF), TypeError, "Time"),
    (lambda r: transform(r, None, np.full(len(TIMES), np.datetime64("NaT", "ns")), TEME, ITRF), ValueError, "NaT"),
    (lambda r: transform(r, None, TIMES, TEME, ITRF, eop_policy="never"), ValueError, "'warn', 'raise', 'zero'"),
    (lambda r: transform(r, None, TIMES, TEME, ITRF, eop=1.0), TypeError, "eop must be"),
    (lambda r: transform(r, None, TIMES, TEME, ITRF, threads=0), ValueError, "threads"),
])
def test_bad_input(call, error, text):
    r, _ = teme_states(TIMES)
    with pytest.raises(error, match=text):
        call(r)


FAR = Time(["2100-01-01T00:00", "2100-01-01T01:00"])


@pytest.mark.parametrize("frm, to", [(TEME, ITRF), (TEME, GCRF), (GCRF, ITRF)])
def test_times_outside_the_table_follow_the_policy(frm, to):
    r = np.array([[7e6, 0.0, 0.0], [0.0, 7e6, 0.0]])
    with pytest.warns(EOPWarning) as record:
        held, _ = transform(r, None, FAR, frm, to)
    assert len(record) == 1
    with pytest.raises(ValueError, match="outside the Earth orientation table"):
        transform(r, None, FAR, frm, to, eop_policy="raise")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        zero, _ = transform(r, None, FAR, frm, to, eop_policy="zero")
    # Held values and zero corrections differ (UT1-UTC alone moves metres;
    # TEME to GCRF depends on the pole offsets alone).
    assert np.abs(held - zero).max() > (1e-6 if GCRF in (frm, to) and ITRF not in (frm, to) else 1.0)


# --- SGP4.propagate(frame=) ------------------------------------------------------


@pytest.mark.parametrize("frame", [ITRF, GCRF])
def test_propagate_in_a_frame_is_propagate_then_transform(frame):
    prop = SGP4(RECORDS[:4])
    r, v, err = prop.propagate(TIMES)
    expected = transform(r, v, TIMES, TEME, frame)
    rf, vf, ef = prop.propagate(TIMES, frame=frame)
    assert np.array_equal(rf, expected[0]) and np.array_equal(vf, expected[1]) and np.array_equal(ef, err)
    history = SGP4(ELSET(*RECORDS[:3]))
    rh, vh, _ = history.propagate(TIMES, frame=frame, threads=1)
    r0, v0, _ = history.propagate(TIMES)
    assert np.array_equal(rh, transform(r0, v0, TIMES, TEME, frame)[0])


def test_propagate_teme_is_unchanged_and_times_take_text():
    prop = SGP4(ISS)
    times = ["2024-01-10T00:00", "2024-01-10T00:10"]
    a = prop.propagate(np.array(times, "datetime64[ns]"))
    b = prop.propagate(times, frame=TEME)
    assert all(x.tobytes() == y.tobytes() for x, y in zip(a, b))
    assert prop.propagate("2024-01-10T00:10")[0].tobytes() == a[0][1].tobytes()


def test_propagate_frame_with_datetime64_units_and_nat():
    prop = SGP4(ISS)
    times = np.array(["2024-01-10T00:00", "NaT", "2024-01-10T00:10"], "datetime64[s]")
    r, v, err = prop.propagate(times, frame=GCRF)
    assert err.tolist() == [0, 7, 0] and np.isnan(r[1]).all()
    good = Time(times[[0, 2]])
    assert np.array_equal(r[[0, 2]], prop.propagate(good, frame=GCRF)[0])


@pytest.mark.parametrize("kwargs, error, text", [
    ({"tsince": 10.0, "frame": ITRF}, ValueError, "needs times="),
    ({"times": TIMES, "frame": ENU(0.0, 0.0)}, ValueError, "TEME, ITRF or GCRF"),
    ({"times": TIMES, "frame": "ITRF"}, ValueError, "TEME, ITRF or GCRF"),
    ({"times": TIMES, "frame": ITRF, "eop_policy": "no"}, ValueError, "'warn', 'raise', 'zero'"),
    ({"times": FAR, "frame": ITRF, "eop_policy": "raise"}, ValueError, "outside the Earth orientation table"),
])
def test_propagate_frame_bad_arguments(kwargs, error, text):
    with pytest.raises(error, match=text):
        SGP4(ISS).propagate(**kwargs)
