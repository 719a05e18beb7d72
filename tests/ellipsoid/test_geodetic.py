"""Ellipsoid.geodetic and Ellipsoid.cartesian: accuracy against ERFA and by
round trips, the evolute and the centre, shapes, widths, threads, bad input,
and the exported kernel."""

import ctypes

import erfa
import numpy as np
import pytest

from quorvane._testing import lanes as _lanes
from quorvane.mathtools.ellipsoid import ellipsoid

from capsules import capsule_name, kernel

WGS84 = ellipsoid.WGS84
ELLIPSOIDS = [(ellipsoid.WGS84, 1), (ellipsoid.GRS80, 2), (ellipsoid.WGS72, 3)]
MM = 1e-4  # 0.1 mm


@pytest.fixture
def restore_width():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


def random_positions(n, rmin, rmax, seed):
    rng = np.random.default_rng(seed)
    u = rng.normal(size=(n, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    return u * (10 ** rng.uniform(np.log10(rmin), np.log10(rmax), n))[:, None]


def special_points(e):
    a, b, e2 = e.a, e.b, e.e2
    cusp = a * e2  # the evolute meets the equatorial plane here
    axis_cusp = a * e2 / np.sqrt(1.0 - e2)
    return np.array(
        [
            [0.0, 0.0, 0.0],
            [0.0, 0.0, b],
            [0.0, 0.0, -b],
            [0.0, 0.0, 1.0],
            [0.0, 0.0, 4e8],
            [0.0, 0.0, -4e8],
            [a, 0.0, 0.0],
            [-a, 0.0, 0.0],
            [-a, -0.0, 0.0],
            [0.0, a, 0.0],
            [4e8, 0.0, 0.0],
            [1.0, 0.0, 0.0],
            [0.5 * cusp, 0.0, 0.0],
            [0.5 * cusp, 0.0, -1e-3],
            [cusp * (1 - 1e-12), 0.0, 0.0],
            [cusp, 0.0, 0.0],
            [cusp * (1 + 1e-12), 0.0, 0.0],
            [cusp * 0.999, 0.0, 1.0],
            [0.0, 0.0, axis_cusp],
            [1e-3, 0.0, axis_cusp * (1 - 1e-9)],
            [1e-300, 0.0, 1e-300],
            [1000.0, 2000.0, 3000.0],
        ]
    )


@pytest.mark.parametrize("e, n", ELLIPSOIDS)
def test_round_trip_from_the_centre_to_the_moon(e, n):
    r = np.vstack([random_positions(100_000, 1e-3, 4e8, n), special_points(e)])
    lat, lon, h = e.geodetic(r)
    assert np.all(np.abs(lat) <= np.pi / 2) and np.all((lon > -np.pi) & (lon <= np.pi))
    back = e.cartesian(lat, lon, h)
    assert np.max(np.linalg.norm(back - r, axis=1)) < MM


@pytest.mark.parametrize("e, n", ELLIPSOIDS)
def test_near_the_surface_against_erfa(e, n):
    rng = np.random.default_rng(10 + n)
    m = 100_000
    lat0 = np.concatenate([rng.uniform(-np.pi / 2, np.pi / 2, m), [np.pi / 2, -np.pi / 2, 0.0]])
    lon0 = np.concatenate([rng.uniform(-np.pi, np.pi, m), [0.0, 1.0, -2.0]])
    h0 = np.concatenate([rng.uniform(-10e3, 1000e3, m), [0.0, -10e3, 1000e3]])
    r = erfa.gd2gc(n, lon0, lat0, h0)
    elon, elat, eh = erfa.gc2gd(n, r)
    lat, lon, h = e.geodetic(r)
    assert np.max(np.abs(lat - elat)) < 1e-11
    assert np.max(np.abs(lon - elon)) < 1e-11
    assert np.max(np.abs(h - eh)) < MM
    # And the forward conversion against ERFA's.
    assert np.max(np.abs(e.cartesian(lat0, lon0, h0) - r)) < MM


@pytest.mark.parametrize("e, n", ELLIPSOIDS)
def test_geodetic_of_cartesian(e, n):
    rng = np.random.default_rng(20 + n)
    m = 100_000
    lat0 = rng.uniform(-np.pi / 2, np.pi / 2, m)
    lon0 = rng.uniform(-np.pi, np.pi, m)
    h0 = rng.uniform(-100e3, 4e8, m)
    lat, lon, h = e.geodetic(e.cartesian(lat0, lon0, h0))
    assert np.max(np.abs(lat - lat0)) < 1e-11
    # Longitude is meaningless at the poles; compare away from them.
    away = np.abs(lat0) < 1.5
    assert np.max(np.abs(lon - lon0)[away]) < 1e-11
    assert np.max(np.abs(h - h0)) < MM


def octant_directions():
    # Every octant of the plane, its edges (the axes, signed zeros), the
    # diagonals and both sides of the split at tan(pi/8) of the arctangent.
    edge = np.tan(np.pi / 8)
    ratios = np.concatenate([np.geomspace(1e-12, 1.0, 2001), [edge * (1 - 1e-15), edge, edge * (1 + 1e-15), 1.0]])
    pairs = [(1.0, q) for q in ratios] + [(q, 1.0) for q in ratios] + [(1.0, 0.0), (0.0, 1.0)]
    out = []
    for u, w in pairs:
        for su in (1.0, -1.0):
            for sw in (1.0, -1.0):
                out.append((su * u, sw * w))
    return np.array(out)


@pytest.mark.parametrize("scale", [1.0, 7e6, 4e8])
def test_longitude_and_latitude_are_the_arctangents_to_a_few_ulp(scale):
    # Longitude is atan2(y, x): against numpy's arctan2 within 3 ulp of pi
    # (the kernel's own arctangent is a few ulp; the geodesy bounds tested
    # elsewhere are far wider).
    d = octant_directions() * scale
    r = np.column_stack([d[:, 0], d[:, 1], np.zeros(len(d))])
    _, lon, _ = WGS84.geodetic(r)
    expected = np.arctan2(d[:, 1], d[:, 0])
    expected[expected == -np.pi] = np.pi
    assert np.max(np.abs(lon - expected)) <= 3 * np.spacing(np.pi)
    # The sign of a zero y does not matter: (x, -0) and (-x, -0) give 0 and pi.
    _, lon0, _ = WGS84.geodetic([[scale, -0.0, 0.0], [-scale, -0.0, 0.0], [-0.0, 0.0, scale]])
    assert lon0.tolist() == [0.0, np.pi, 0.0]
    # Latitude through the same arctangent: its sign and range in every
    # octant of the meridian plane (its accuracy is tested against ERFA).
    rz = np.column_stack([np.abs(d[:, 0]), np.zeros(len(d)), d[:, 1]])
    lat, _, _ = WGS84.geodetic(rz)
    off_plane = d[:, 1] != 0.0  # the equatorial plane inside the evolute takes the northern point
    assert np.all(np.sign(lat[off_plane]) == np.sign(d[off_plane, 1])) and np.all(np.abs(lat) <= np.pi / 2)


def test_inside_the_evolute_is_the_nearest_point_of_the_meridian_ellipse():
    e = WGS84
    rng = np.random.default_rng(5)
    r = rng.uniform(-1.0, 1.0, (20, 3)) * e.a * e.e2
    lat, lon, h = e.geodetic(r)
    phi = np.linspace(-np.pi / 2, np.pi / 2, 2_000_001)
    n = e.a / np.sqrt(1.0 - e.e2 * np.sin(phi) ** 2)
    ex, ez = n * np.cos(phi), n * (1.0 - e.e2) * np.sin(phi)
    for k in range(len(r)):
        rho = np.hypot(r[k, 0], r[k, 1])
        distance = np.hypot(ex - rho, ez - r[k, 2])
        assert -h[k] == pytest.approx(distance.min(), abs=1e-6)
        assert lat[k] == pytest.approx(phi[distance.argmin()], abs=2e-6)


@pytest.mark.parametrize(
    "point, lat, lon, h",
    [
        ((0.0, 0.0, 0.0), np.pi / 2, 0.0, -WGS84.b),
        ((0.0, 0.0, -0.0), np.pi / 2, 0.0, -WGS84.b),
        ((0.0, 0.0, WGS84.b + 5.0), np.pi / 2, 0.0, 5.0),
        ((0.0, 0.0, -WGS84.b - 5.0), -np.pi / 2, 0.0, 5.0),
        ((WGS84.a + 7.0, 0.0, 0.0), 0.0, 0.0, 7.0),
        ((-WGS84.a, 0.0, 0.0), 0.0, np.pi, 0.0),
        ((-WGS84.a, -0.0, 0.0), 0.0, np.pi, 0.0),
        ((0.0, -WGS84.a, 0.0), 0.0, -np.pi / 2, 0.0),
        ((4e8, 0.0, 0.0), 0.0, 0.0, 4e8 - WGS84.a),
    ],
)
def test_special_points(point, lat, lon, h):
    got = WGS84.geodetic(point)
    assert all(type(x) is float for x in got)
    assert got[0] == pytest.approx(lat, abs=1e-15)
    assert got[1] == pytest.approx(lon, abs=1e-15)
    assert got[2] == pytest.approx(h, abs=1e-8)


def test_equatorial_disc_inside_the_evolute_takes_the_hemisphere_of_z():
    x = 0.5 * WGS84.a * WGS84.e2
    north = WGS84.geodetic([x, 0.0, 0.0])
    south = WGS84.geodetic([x, 0.0, -1e-3])
    # tan phi = sqrt((e^4 - p) / ((1 - e^2) p)), p = (x/a)^2.
    p, e2 = (x / WGS84.a) ** 2, WGS84.e2
    phi = np.arctan(np.sqrt((e2 * e2 - p) / ((1 - e2) * p)))
    assert north[0] == pytest.approx(phi, abs=1e-12) and north[2] < 0
    assert south[0] == pytest.approx(-phi, abs=1e-6)


def test_shapes_and_broadcasting():
    r = random_positions(24, 6e6, 7e6, 1).reshape(2, 4, 3, 3)
    lat, lon, h = WGS84.geodetic(r)
    assert lat.shape == lon.shape == h.shape == (2, 4, 3) and lat.dtype == np.float64
    assert WGS84.cartesian(lat, lon, h).shape == (2, 4, 3, 3)
    empty = WGS84.geodetic(np.empty((0, 3)))
    assert [x.shape for x in empty] == [(0,)] * 3
    assert WGS84.cartesian(0.5, 1.0, 0.0).shape == (3,)
    grid = WGS84.cartesian(np.linspace(-1, 1, 5)[:, None], np.linspace(-3, 3, 7), 100.0)
    assert grid.shape == (5, 7, 3)
    assert np.array_equal(grid[2, 3], WGS84.cartesian(0.0, 0.0, 100.0))
    # Strided and integer input is read as float64.
    assert np.array_equal(WGS84.geodetic(np.asfortranarray(r))[0], lat)
    assert WGS84.geodetic([6378137, 0, 0]) == (0.0, 0.0, 0.0)


def test_nan_in_nan_out():
    lat, lon, h = WGS84.geodetic([[np.nan, 0.0, 0.0], [7e6, 0.0, np.nan], [7e6, 0.0, 0.0]])
    assert np.isnan(lat[:2]).all() and np.isnan(h[:2]).all() and np.isnan(lon[0])
    assert np.isfinite([lat[2], lon[2], h[2]]).all()
    r = WGS84.cartesian([np.nan, 0.0, 0.0], [0.0, np.nan, 0.0], [0.0, 0.0, np.nan])
    assert np.isnan(r[0]).all() and np.isnan(r[1, :2]).all() and np.isnan(r[2]).all()


def test_bit_identical_at_every_width_and_thread_count(restore_width):
    r = np.vstack([random_positions(40_003, 1e-3, 4e8, 7), special_points(WGS84)])
    lat0, lon0, h0 = WGS84.geodetic(r)
    results = []
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        for threads in (1, 2, 3):
            g = WGS84.geodetic(r, threads=threads)
            c = WGS84.cartesian(lat0, lon0, h0, threads=threads)
            results.append(b"".join(x.tobytes() for x in (*g, c)))
    assert len(set(results)) == 1


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: WGS84.geodetic([1.0, 2.0]), ValueError, r"r must have shape \(\.\.\., 3\), got shape \(2,\)"),
        (lambda: WGS84.geodetic(np.zeros((4, 2))), ValueError, r"shape \(4, 2\)"),
        (lambda: WGS84.geodetic(5.0), ValueError, r"got shape \(\)"),
        (lambda: WGS84.geodetic("abc"), TypeError, "r must be an array of real numbers"),
        (lambda: WGS84.geodetic([1.0, 2.0, 3.0], threads=0), ValueError, "threads"),
        (lambda: WGS84.cartesian(2.0, 0.0, 0.0), ValueError, r"lat must be within \[-pi/2, pi/2\] rad, got 2.0"),
        (lambda: WGS84.cartesian([0.0, -1.6], 0.0, 0.0), ValueError, "lat must be within .* got -1.6"),
        (lambda: WGS84.cartesian([0.0, 1.0], [1.0, 2.0, 3.0], 0.0), ValueError, "broadcast"),
        (lambda: WGS84.cartesian(0.0, "x", 0.0), TypeError, "lon must be an array of real numbers"),
        (lambda: WGS84.cartesian(0.0, 0.0), TypeError, r"cartesian\(\) takes exactly 3 positional arguments"),
        (lambda: ellipsoid.Ellipsoid.geodetic(1.0, [0.0, 0.0, 0.0]), TypeError, "needs an Ellipsoid"),
    ],
)
def test_bad_input(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_exported_geodetic_kernel_matches_the_method():
    capi = ellipsoid.__pyx_capi__
    assert capsule_name(capi["c_geodetic_from_cartesian"]) == (
        "void (double, double, double const *, size_t, double *, double *, double *)"
    )
    P = ctypes.POINTER(ctypes.c_double)
    fn = kernel(ellipsoid, "c_geodetic_from_cartesian", None, ctypes.c_double, ctypes.c_double, P, ctypes.c_size_t,
                P, P, P)
    e = ellipsoid.GRS80
    r = np.vstack([random_positions(1001, 1.0, 4e8, 3), special_points(e)])
    out = [np.empty(len(r)) for _ in range(3)]
    fn(e.a, e.e2, *(x.ctypes.data_as(P) for x in (r,)), len(r), *(x.ctypes.data_as(P) for x in out))
    for got, want in zip(out, e.geodetic(r)):
        assert got.tobytes() == want.tobytes()
