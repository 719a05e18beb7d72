"""Ellipsoid.geodetic's fast path (0.8 a to 1e8 a from the centre, off the
polar axis) against the closed form it stands in for, over dense samples of
the region and across its boundaries, at every width and thread count."""

import numpy as np
import pytest

from quorvane._testing import lanes as _lanes
from quorvane.mathtools.ellipsoid import ellipsoid

ELLIPSOIDS = [ellipsoid.WGS84, ellipsoid.GRS80, ellipsoid.WGS72]
closed_form = ellipsoid._geodetic_closed_form


@pytest.fixture
def restore_width():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


def positions(e, distances, seed):
    """Points at the given distances (m) from the centre: uniform latitudes,
    a tenth within 1e-45 .. 1e-1 rad of the axis and a tenth as near the
    equatorial plane, both signs of z."""
    rng = np.random.default_rng(seed)
    m = len(distances)
    th = rng.uniform(-np.pi / 2, np.pi / 2, m)
    k = m // 10
    sign = np.where(rng.uniform(size=m) < 0.5, -1.0, 1.0)
    th[:k] = sign[:k] * (np.pi / 2 - 10 ** rng.uniform(-45, -1, k))
    th[k:2 * k] = sign[k:2 * k] * 10 ** rng.uniform(-300, -1, k)
    lon = rng.uniform(-np.pi, np.pi, m)
    c = np.cos(th)
    return np.column_stack([distances * c * np.cos(lon), distances * c * np.sin(lon), distances * np.sin(th)])


def assert_close_to_closed_form(e, r):
    lat, lon, h = e.geodetic(r)
    lat0, lon0, h0 = closed_form(e, r)
    distance = np.linalg.norm(r, axis=1)
    assert np.max(np.abs(lat - lat0)) < 2e-15
    assert np.max(np.abs(lon - lon0)) == 0.0  # the same arctangent arithmetic
    assert np.max(np.abs(h - h0) / distance) < 2e-15


@pytest.mark.parametrize("e", ELLIPSOIDS)
def test_fast_path_is_the_closed_form_over_its_region(e):
    rng = np.random.default_rng(1)
    distances = e.a * 10 ** rng.uniform(np.log10(0.7), 8.5, 400_000)
    assert_close_to_closed_form(e, positions(e, distances, 2))


@pytest.mark.parametrize("e", ELLIPSOIDS)
@pytest.mark.parametrize("edge", [0.8, 1e8])
def test_fast_path_across_the_edges_of_its_region(e, edge):
    rng = np.random.default_rng(3)
    distances = e.a * edge * (1.0 + rng.uniform(-1e-3, 1e-3, 100_000))
    distances[:5] = e.a * edge * (1.0 + np.array([-1e-15, -2e-16, 0.0, 2e-16, 1e-15]))
    assert_close_to_closed_form(e, positions(e, distances, 4))


def test_near_the_axis_and_the_equator():
    e = ellipsoid.WGS84
    # Off the axis by 1e-300 .. 1e-3 m (the fast path from 1e-40 a), at the
    # surface and at 4e8 m; on the equatorial plane the height is exact.
    off = np.geomspace(1e-300, 1e-3, 2001)
    for z in (e.b, -e.b - 100.0, 4e8):
        r = np.column_stack([off, np.zeros_like(off), np.full_like(off, z)])
        lat, _, h = e.geodetic(r)
        lat0, _, h0 = closed_form(e, r)
        assert np.max(np.abs(lat - lat0)) < 2e-15
        assert np.max(np.abs(h - h0)) <= 2e-15 * abs(z)
    rho = e.a * np.geomspace(0.8, 1e8, 2001)
    _, _, h = e.geodetic(np.column_stack([rho, np.zeros_like(rho), np.zeros_like(rho)]))
    assert np.array_equal(h, rho - e.a)


def test_satellite_orbits_round_trip():
    # The shells of the catalogue (low orbits to beyond geostationary) back to
    # within a micrometre, as the closed form.
    e = ellipsoid.WGS84
    rng = np.random.default_rng(5)
    r = positions(e, rng.uniform(6.5e6, 5e7, 200_000), 6)
    back = e.cartesian(*e.geodetic(r))
    assert np.max(np.linalg.norm(back - r, axis=1)) < 1e-6


def test_groups_mixing_both_paths_give_each_sample_its_own_path(restore_width):
    # A sample's result does not depend on its neighbours: fast and closed-form
    # samples interleaved one by one give the bits of each taken alone, at
    # every width and thread count.
    e = ellipsoid.WGS84
    rng = np.random.default_rng(7)
    fast = positions(e, e.a * 10 ** rng.uniform(0.0, 2.0, 20_000), 8)
    slow = positions(e, e.a * 10 ** rng.uniform(-8.0, -0.2, 20_000), 9)
    mixed = np.empty((40_000, 3))
    mixed[0::2], mixed[1::2] = fast, slow
    results = []
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        alone_fast = e.geodetic(fast, threads=1)
        alone_slow = e.geodetic(slow, threads=1)
        for threads in (1, 2, 3):
            got = e.geodetic(mixed, threads=threads)
            for k in range(3):
                assert np.array_equal(got[k][0::2], alone_fast[k])
                assert np.array_equal(got[k][1::2], alone_slow[k])
            results.append(b"".join(x.tobytes() for x in got))
    assert len(set(results)) == 1
    # The slow samples are the closed form's.
    assert all(np.array_equal(a, b) for a, b in zip(e.geodetic(slow), closed_form(e, slow)))


def test_closed_form_hook_checks_its_arguments():
    with pytest.raises(TypeError, match="needs an Ellipsoid"):
        closed_form(1.0, [0.0, 0.0, 0.0])
    with pytest.raises(ValueError, match=r"r must have shape \(\.\.\., 3\)"):
        closed_form(ellipsoid.WGS84, [1.0, 2.0])
