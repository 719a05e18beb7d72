"""Station and its look angles: against skyfield's topocentric altaz, simple
geometry, range rate, shapes, widths, threads and bad input."""

import math
import pickle

import numpy as np
import pytest
from markers import not_sanitized

from quorvane.frames import frames
from quorvane._testing import lanes as _lanes
from quorvane.mathtools.ellipsoid import ellipsoid
from quorvane.observers import Station, _observers

DEG = math.pi / 180.0


@pytest.fixture
def restore_width():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


def axes(station):
    rot, origin = _observers._enu_parts(station.enu)
    return rot[0], rot[1], rot[2], origin


@not_sanitized  # skyfield runs python-sgp4's extension, which trips the sanitizer
@pytest.mark.parametrize(
    "lat, lon, height",
    [(30.0, -100.0, 500.0), (-33.9, 18.4, 10.0), (89.9, 45.0, 0.0), (-75.0, 170.0, 3000.0), (0.0, 0.0, -50.0)],
)
def test_against_skyfield_altaz(lat, lon, height):
    # Targets fixed in ITRS (skyfield's ITRSPosition) seen from skyfield's
    # WGS84 site: both sides see the same ITRF vectors, and altaz() without
    # weather has no refraction.  The instant does not matter for a target
    # fixed in ITRS; one per target keeps skyfield's arrays in step.
    api = pytest.importorskip("skyfield.api")
    from skyfield.toposlib import ITRSPosition

    rng = np.random.default_rng(int(abs(lat * 10)))
    n = 500
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    targets = u * rng.uniform(6.6e6, 4.3e7, n)[:, None]
    ts = api.load.timescale()
    t = ts.tt_jd(np.full(n, 2460315.0))
    site = api.wgs84.latlon(lat, lon, elevation_m=height)
    alt, az, distance = (ITRSPosition(api.Distance(m=targets.T)) - site).at(t).altaz()

    station = Station(lat * DEG, lon * DEG, height)
    assert np.max(np.abs(station.itrf - site.itrs_xyz.m)) < 1e-6
    a, e, rng_, rate = station.look(targets)
    assert np.max(np.abs(e / DEG - alt.degrees)) < 1e-6
    daz = (a / DEG - az.degrees + 180.0) % 360.0 - 180.0
    assert np.max(np.abs(daz)) < 1e-6
    assert np.max(np.abs(rng_ - distance.m)) < 1e-3
    assert np.isnan(rate).all()


@pytest.mark.parametrize("lat, lon", [(0.0, 0.0), (0.7, -2.0), (-1.2, 3.0), (math.pi / 2, 0.3), (-math.pi / 2, 1.0)])
def test_directions_of_the_frame(lat, lon):
    station = Station(lat, lon, 120.0)
    east, north, up, origin = axes(station)
    assert np.array_equal(origin, station.itrf)
    assert np.allclose(up, [math.cos(lat) * math.cos(lon), math.cos(lat) * math.sin(lon), math.sin(lat)], atol=1e-15)
    k = 1000.0
    cases = [
        (up, None, math.pi / 2),
        (-up, None, -math.pi / 2),
        (north, 0.0, 0.0),
        (east, math.pi / 2, 0.0),
        (-north, math.pi, 0.0),
        (-east, 3 * math.pi / 2, 0.0),
        ((north + east + math.sqrt(2) * up) / 2, math.pi / 4, math.pi / 4),
    ]
    for direction, azimuth, elevation in cases:
        a, e, r, _ = station.look(station.itrf + k * direction)
        assert e == pytest.approx(elevation, abs=1e-12)
        assert r == pytest.approx(k, abs=1e-9)
        if azimuth is not None:
            assert abs((a - azimuth + math.pi) % (2 * math.pi) - math.pi) < 1e-12
        assert 0.0 <= a < 2 * math.pi


def test_azimuth_range_and_signed_zero():
    # At latitude 0, longitude 0 north is +z and east +y, exactly.
    station = Station(0.0, 0.0)
    x0 = station.itrf[0]
    tiny = np.array([0.0, -0.0, 1e-300, -1e-300, -5e-324])
    targets = np.stack([np.full(5, x0), tiny, np.full(5, 1e3)], axis=1)  # due north, a hair either side
    a = station.look(targets)[0]
    assert np.all((a >= 0.0) & (a < 2 * math.pi))
    assert not np.signbit(a).any()
    below = np.nextafter(2 * math.pi, 0.0)
    assert a[0] == a[1] == 0.0 and 0.0 < a[2] < 1e-302 and a[3] == below and a[4] == 0.0  # atan2 underflows to -0 there


def test_range_rate():
    station = Station(0.6, -1.1, 200.0)
    east, north, up, _ = axes(station)
    d = 3e5 * north + 4e5 * up
    r = station.itrf + d
    line = d / np.linalg.norm(d)
    along, across = 7.0e3 * line, 7.0e3 * east
    _, _, _, rate = station.look(np.stack([r, r]), np.stack([along, across]))
    assert rate[0] == pytest.approx(7.0e3, rel=1e-14)
    assert abs(rate[1]) < 1e-9
    # The derivative of the range along a straight track.
    v = np.array([-3.0e3, 5.5e3, 1.2e3])
    h = 1e-3
    rng_ = station.look(np.stack([r - h * v, r + h * v]))[2]
    assert station.look(r, v)[3] == pytest.approx((rng_[1] - rng_[0]) / (2 * h), rel=1e-7)


def test_shapes():
    station = Station(0.1, 0.2)
    r = np.random.default_rng(0).normal(size=(2, 5, 3)) * 7e6
    out = station.look(r, r * 1e-3)
    assert all(x.shape == (2, 5) and x.dtype == np.float64 for x in out)
    single = station.look([7e6, 0.0, 0.0])
    assert all(x.shape == () for x in single)
    assert all(x.shape == (0,) for x in station.look(np.empty((0, 3))))
    # Any memory layout and integer input.
    assert np.array_equal(station.look(np.asfortranarray(r))[0], out[0])
    assert station.look([7000000, 0, 0])[2] == single[2]


def test_bit_identical_at_every_width_and_thread_count(restore_width):
    station = Station(0.8, 2.0, 35.0)
    rng = np.random.default_rng(3)
    r = rng.normal(size=(50_003, 3)) * 1e7
    v = rng.normal(size=(50_003, 3)) * 7e3
    results = set()
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        for threads in (1, 2, 3):
            results.add(b"".join(x.tobytes() for x in station.look(r, v, threads=threads)))
    assert len(results) == 1


def test_station_attributes_repr_and_pickle():
    s = Station(0.5, -1.0, 250.0, ellipsoid=ellipsoid.GRS80, name="Quito")
    assert (s.lat, s.lon, s.height, s.name) == (0.5, -1.0, 250.0, "Quito")
    assert s.ellipsoid is ellipsoid.GRS80
    assert np.array_equal(s.itrf, ellipsoid.GRS80.cartesian(0.5, -1.0, 250.0))
    assert isinstance(s.enu, frames.ENU)
    assert repr(s) == "Station(lat=0.5, lon=-1.0, height=250.0, ellipsoid=GRS80, name='Quito')"
    assert repr(Station(0, 1)) == "Station(lat=0.0, lon=1.0, height=0.0)"
    copy = pickle.loads(pickle.dumps(s))
    assert copy == s and copy.ellipsoid is ellipsoid.GRS80 and hash(copy) == hash(s)
    assert np.array_equal(copy.look([7e6, 1e6, 0.0])[0], s.look([7e6, 1e6, 0.0])[0])
    custom = Station(0.1, 0.2, ellipsoid=ellipsoid.Ellipsoid(6.4e6, 0.003, "mine"))
    assert pickle.loads(pickle.dumps(custom)).ellipsoid.a == 6.4e6
    with pytest.raises(ValueError):
        s.itrf[0] = 1.0
    with pytest.raises(AttributeError):
        s.lat = 0.0


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: Station(1.6, 0.0), ValueError, r"lat must be within \[-pi/2, pi/2\] rad, got 1.6"),
        (lambda: Station(-2.0, 0.0), ValueError, "lat must be within"),
        (lambda: Station(float("nan"), 0.0), ValueError, "lat must be finite"),
        (lambda: Station(0.0, float("inf")), ValueError, "lon must be finite"),
        (lambda: Station("0", 0.0), TypeError, "lat must be a real number"),
        (lambda: Station(0.0, 0.0, ellipsoid="WGS84"), TypeError, "ellipsoid must be an Ellipsoid"),
        (lambda: Station(0.0, 0.0, name=3), TypeError, "name must be a str"),
        (lambda: Station(0.0, 0.0).look([1.0, 2.0]), ValueError, r"r must have shape \(\.\.\., 3\)"),
        (lambda: Station(0.0, 0.0).look(np.zeros((4, 3)), np.zeros((5, 3))), ValueError, "v must have the shape of r"),
        (lambda: Station(0.0, 0.0).look(np.zeros((4, 3)), np.zeros(3)), ValueError, "v must have the shape of r"),
        (lambda: Station(0.0, 0.0).look("r"), TypeError, "r must be an array of real numbers"),
        (lambda: Station(0.0, 0.0).look(np.zeros(3), threads=0), ValueError, "threads"),
        (lambda: _observers.look(frames.ITRF, np.zeros(3)), TypeError, "enu must be a quorvane.frames.frames.ENU"),
    ],
)
def test_bad_input(call, error, message):
    with pytest.raises(error, match=message):
        call()
