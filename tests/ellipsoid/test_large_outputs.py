"""Large results (4 MiB and more) of geodetic, cartesian and SGP4.propagate
come from a memory handler of their own (whole 2 MiB huge pages): they must
still be ordinary arrays that own their data, the same values as small
calls, resizable, and counted and released as NumPy's memory."""

import pathlib
import tracemalloc

import numpy as np
import pytest

from quorvane.frames.frames import ITRF
from quorvane.mathtools.ellipsoid.ellipsoid import WGS84
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.propagator import SGP4

ROOT = pathlib.Path(__file__).resolve().parents[2]
HUGE = 1 << 21
N = 600_000  # 4.8 MB a geodetic output


def positions(n):
    rng = np.random.default_rng(11)
    r = rng.normal(size=(n, 3))
    return r / np.linalg.norm(r, axis=1)[:, None] * rng.uniform(6.5e6, 4.5e7, n)[:, None]


def large_results():
    r = positions(N)
    lat, lon, h = WGS84.geodetic(r, threads=2)
    xyz = WGS84.cartesian(lat, lon, h, threads=2)
    table = read_catalogue(str(ROOT / "examples" / "data" / "real" / "gpredict-2018.tle"))
    times = np.datetime64("2018-01-22T01:05", "ns") + np.arange(1440) * np.timedelta64(60, "s")
    pr, pv, pe = SGP4(table).propagate(times, frame=ITRF, threads=2)
    return r, (lat, lon, h), xyz, (pr, pv, pe), (table, times)


def test_large_outputs_are_plain_owning_arrays_with_the_values_of_small_calls():
    r, geo, xyz, prop, (table, times) = large_results()
    for a in (*geo, xyz, prop[0], prop[1]):
        assert a.nbytes >= 1 << 22
        assert a.flags.owndata and a.flags.c_contiguous and a.flags.writeable and a.base is None
        assert a.ctypes.data % HUGE == 0
    # Below 4 MiB the usual allocation: the same bits piece by piece.
    for part in np.array_split(np.arange(N), 8):
        small = WGS84.geodetic(r[part], threads=1)
        for big, little in zip(geo, small):
            assert np.array_equal(big[part], little)
        assert np.array_equal(xyz[part], WGS84.cartesian(geo[0][part], geo[1][part], geo[2][part]))
    rows = SGP4([table[i] for i in range(40)]).propagate(times, frame=ITRF)
    for big, little in zip(prop, rows):
        assert np.array_equal(big[:40], little, equal_nan=True)


@pytest.mark.parametrize("size", [10, N, 2 * N + 7])
def test_large_output_resizes_keeping_its_values(size):
    lat = WGS84.geodetic(positions(N))[0]
    want = lat.copy()
    lat.resize(size, refcheck=False)
    keep = min(size, N)
    assert np.array_equal(lat[:keep], want[:keep])
    if size > N:
        assert np.all(lat[N:] == 0.0)


def test_large_outputs_are_traced_and_released():
    r = positions(N)
    WGS84.geodetic(r)
    tracemalloc.start()
    try:
        start = tracemalloc.get_traced_memory()[0]
        out = WGS84.geodetic(r)
        held = tracemalloc.get_traced_memory()[0] - start
        assert held >= 3 * 8 * N
        del out
        for _ in range(20):
            out = WGS84.geodetic(r)
            del out
        assert tracemalloc.get_traced_memory()[0] - start < 64 * 1024
    finally:
        tracemalloc.stop()
