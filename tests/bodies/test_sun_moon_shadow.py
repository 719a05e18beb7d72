"""Sun.position and Moon.position against DE421 (through skyfield), the time
forms they accept, and shadow(): against skyfield's is_sunlit for the ISS,
special geometry, an independent disc-overlap integration, shapes, widths,
threads and bad input."""

import datetime
import math
import os

import numpy as np
import pytest
from markers import not_sanitized

from quorvane.bodies import bodies
from quorvane._testing import lanes as _lanes
from quorvane.time.time import Time

AU = 149597870700.0
RE = 6378137.0
RS = 695700e3
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="module")
def de421():
    skyfield_data = pytest.importorskip("skyfield_data")
    api = pytest.importorskip("skyfield.api")
    load = api.Loader(os.path.join(os.path.dirname(skyfield_data.__file__), "data"))
    return load("de421.bsp"), load.timescale(builtin=True)


@pytest.fixture
def restore_width():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


def instants(start, seconds):
    return np.datetime64(start, "ns") + (np.asarray(seconds) * 1e9).astype("timedelta64[ns]")


def angle(u, v):
    return np.arctan2(np.linalg.norm(np.cross(u, v), axis=-1), np.sum(u * v, axis=-1))


@not_sanitized  # skyfield runs python-sgp4's extension, which trips the sanitizer
def test_sun_and_moon_against_de421(de421):
    eph, ts = de421
    seconds = np.arange(0.0, 20 * 365.25 * 86400, 5.3 * 86400)
    t = ts.utc(2005, 1, 1, 0, 0, seconds)
    times = instants("2005-01-01T00:00:00", seconds)
    sun_ref = (eph["sun"] - eph["earth"]).at(t).position.m.T
    moon_ref = (eph["moon"] - eph["earth"]).at(t).position.m.T
    sun, moon = bodies.Sun.position(times), bodies.Moon.position(times)
    assert sun.shape == moon.shape == (len(seconds), 3)
    # Measured 2005-2025: Sun 0.22" in direction, 6 km in distance; Moon
    # 20 km at most (7 km rms), 12.2" in direction.
    assert np.degrees(angle(sun, sun_ref)).max() * 3600 < 1.0
    assert np.abs(np.linalg.norm(sun, axis=1) - np.linalg.norm(sun_ref, axis=1)).max() < 10e3
    assert np.linalg.norm(moon - moon_ref, axis=1).max() < 25e3
    assert np.degrees(angle(moon, moon_ref)).max() * 3600 < 15.0


@pytest.mark.parametrize(
    "value",
    [
        "2024-03-20T03:06:00",
        "2024-03-20 03:06:00Z",
        datetime.datetime(2024, 3, 20, 3, 6),
        np.datetime64("2024-03-20T03:06:00"),
        Time("2024-03-20T03:06:00"),
        1710903960 * 10**9,
    ],
)
def test_single_time_forms(value):
    want = bodies.Sun.position(np.array(["2024-03-20T03:06:00"], dtype="datetime64[ns]"))[0]
    sun = bodies.Sun.position(value)
    assert sun.shape == (3,) and np.array_equal(sun, want)
    assert bodies.Moon.position(value).shape == (3,)
    assert 0.99 * AU < np.linalg.norm(sun) < 1.0 * AU


@pytest.mark.parametrize(
    "value",
    [
        ["2024-01-01", "2024-06-01T12:00:00"],
        ("2024-01-01", datetime.datetime(2024, 6, 1, 12)),
        np.array(["2024-01-01", "2024-06-01T12:00"], dtype="datetime64[s]"),
        np.array([1704067200, 1717243200]) * 10**9,
        Time(np.array(["2024-01-01", "2024-06-01T12:00"], dtype="datetime64[ns]")),
    ],
)
def test_many_time_forms(value):
    want = bodies.Moon.position(np.array(["2024-01-01", "2024-06-01T12:00"], dtype="datetime64[ns]"))
    assert np.array_equal(bodies.Moon.position(value), want)
    assert bodies.Sun.position(value).shape == (2, 3)


@pytest.mark.parametrize("value, error", [(1.5, TypeError), ([[1, 2], [3, 4]], TypeError), ("not a time", ValueError)])
def test_bad_times(value, error):
    with pytest.raises(error):
        bodies.Sun.position(value)


def iss_track(de421, seconds):
    eph, ts = de421
    from skyfield.api import EarthSatellite

    with open(os.path.join(ROOT, "examples", "data", "stations.tle")) as f:
        name, line1, line2 = f.read().splitlines()[:3]
    sat = EarthSatellite(line1, line2, name, ts)
    geocentric = sat.at(ts.utc(2024, 1, 5, 12, 0, seconds))
    return geocentric.position.m.T, geocentric.is_sunlit(eph)


@not_sanitized  # skyfield runs python-sgp4's extension, which trips the sanitizer
def test_iss_shadow_entries_and_exits_against_skyfield(de421):
    # skyfield's GCRS positions of the ISS stand for r, so that only the
    # shadow model is compared; its is_sunlit flips where the Sun's centre
    # meets the Earth's limb, within a second of our fraction crossing 1/2.
    seconds = np.arange(0.0, 43200.0, 1.0)
    r, lit = iss_track(de421, seconds)
    f = bodies.shadow(r, instants("2024-01-05T12:00:00", seconds))
    assert f.shape == (len(seconds),)
    ours = np.flatnonzero(np.diff((f > 0.5).astype(int)))
    theirs = np.flatnonzero(np.diff(lit.astype(int)))
    assert len(ours) == len(theirs) >= 14
    assert np.abs(ours - theirs).max() <= 1
    # Umbra, penumbra (about 9 s at each crossing) and sunlight all occur.
    assert (f == 0).any() and (f == 1).any()
    penumbra = (f > 0) & (f < 1)
    assert 5 * len(ours) < penumbra.sum() < 15 * len(ours)


def overlap_fraction(a, b, c, n=2001):
    """Visible fraction of a disc of radius a at the origin behind one of
    radius b at (c, 0), by counting grid points (flat-sky approximation)."""
    x, y = np.meshgrid(np.linspace(-a, a, n), np.linspace(-a, a, n))
    sun = x * x + y * y <= a * a
    hidden = (x - c) ** 2 + y * y <= b * b
    return 1.0 - (sun & hidden).sum() / sun.sum()


def geometry(distance_behind, offset, sun_distance=AU):
    """A satellite `distance_behind` the Earth on the anti-Sun axis, moved
    `offset` metres sideways, with the Sun on +x."""
    sun = np.array([sun_distance, 0.0, 0.0])
    r = np.array([-distance_behind, offset, 0.0])
    s = sun - r
    a = math.asin(RS / np.linalg.norm(s))
    b = math.asin(RE / np.linalg.norm(r))
    c = angle(-r, s)
    return r, sun, a, b, c


def test_special_geometry(monkeypatch):
    time = "2024-03-20T03:06:00"
    sun = bodies.Sun.position(time)
    u = sun / np.linalg.norm(sun)
    side = np.cross(u, [0.0, 0.0, 1.0])
    side /= np.linalg.norm(side)
    assert bodies.shadow(7e6 * u, time) == 1.0
    assert bodies.shadow(-7e6 * u, time) == 0.0
    assert bodies.shadow(7e6 * side, time) == 1.0
    assert bodies.shadow(4e8 * side, time) == 1.0
    # Beyond the umbra's apex (about 1.4e9 m) on the axis: the Earth's disc
    # inside the Sun's, an annulus: 1 - b^2/a^2.
    r = -3e9 * u
    a = math.asin(RS / np.linalg.norm(sun - r))
    b = math.asin(RE / 3e9)
    assert bodies.shadow(r, time) == pytest.approx(1 - b * b / (a * a), rel=1e-12)
    # Inside the Earth: half the sky is the Earth.
    assert bodies.shadow(1e6 * u, time) == 1.0 and bodies.shadow(-1e6 * u, time) == 0.0
    assert bodies.shadow([0.0, 0.0, 0.0], time) == 1.0  # the centre: c = pi


@pytest.mark.parametrize("distance", [7e6, 4.2e7, 5e8])
def test_penumbra_against_a_disc_overlap_integration(distance):
    time = "2024-03-20T03:06:00"
    sun = bodies.Sun.position(time)
    u = sun / np.linalg.norm(sun)
    side = np.cross(u, [0.0, 0.0, 1.0])
    side /= np.linalg.norm(side)
    # Offsets across the penumbra: from the edge of the umbra to sunlight.
    b = math.asin(RE / distance)
    a = math.asin(RS / np.linalg.norm(sun))
    samples = []
    for t in np.linspace(0.02, 0.98, 9):
        c = (b - a) + t * 2 * a if b > a else (a - b) + t * 2 * b
        samples.append(distance * (-math.cos(c) * u + math.sin(c) * side))
    samples = np.array(samples)
    f = bodies.shadow(samples, time)
    assert np.all(np.diff(f) > 0) and np.all((f > 0) & (f < 1))
    for r, got in zip(samples, f):
        s = sun - r
        want = overlap_fraction(math.asin(RS / np.linalg.norm(s)), math.asin(RE / np.linalg.norm(r)), angle(-r, s))
        assert got == pytest.approx(want, abs=3e-3)


def test_shapes_and_nan():
    seconds = np.arange(4.0) * 600
    times = instants("2024-01-05T12:00:00", seconds)
    r = np.random.default_rng(1).normal(size=(3, 4, 3)) * 7e6
    f = bodies.shadow(r, times)
    assert f.shape == (3, 4)
    for k in range(3):
        assert np.array_equal(bodies.shadow(r[k], times), f[k])
        for j in range(4):
            assert bodies.shadow(r[k, j], times[j]) == f[k, j]
    assert bodies.shadow(r, times[0]).shape == (3, 4)  # one time for every position
    assert type(bodies.shadow([7e6, 0.0, 0.0], times[0])) is float
    assert np.isnan(bodies.shadow([[np.nan, 0.0, 0.0]], times[:1])).all()
    assert bodies.shadow(np.zeros((0, 3)), []).shape == (0,)
    assert bodies.Sun.position([]).shape == (0, 3)


def test_bit_identical_at_every_width_and_thread_count(restore_width):
    m = 5003  # 8 m samples: enough for the threaded path
    times = instants("2024-01-05T12:00:00", np.arange(m) * 10.0)
    rng = np.random.default_rng(2)
    r = rng.normal(size=(8, m, 3)) * rng.uniform(6.5e6, 5e8, (8, m, 1))
    results = set()
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        for threads in (1, 2, 3):
            results.add(bodies.shadow(r, times, threads=threads).tobytes())
    assert len(results) == 1


@pytest.mark.parametrize(
    "r, times, error, message",
    [
        (np.zeros((5, 3)), ["2024-01-01"] * 4, ValueError, r"r must have shape \(m, 3\) or \(n, m, 3\) for m = 4 times"),
        (np.zeros((2, 5, 3)), ["2024-01-01"] * 4, ValueError, "for m = 4 times, got shape \\(2, 5, 3\\)"),
        (np.zeros(3), ["2024-01-01"] * 2, ValueError, "for m = 2 times"),
        (np.zeros((4, 2)), ["2024-01-01"] * 4, ValueError, r"r must have shape \(\.\.\., 3\)"),
        ("r", "2024-01-01", TypeError, "r must be an array of real numbers"),
        (np.zeros(3), 1.5, TypeError, "times"),
    ],
)
def test_bad_input(r, times, error, message):
    with pytest.raises(error, match=message):
        bodies.shadow(r, times)
