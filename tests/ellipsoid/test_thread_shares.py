"""Threads take contiguous shares of the blocks (geodetic, cartesian) and of
the tiles (SGP4.propagate), then single ones from the far ends of the others'
shares: every sample is computed exactly once, with the bits of one thread,
whatever the thread count against the number of blocks or tiles."""

import pathlib

import numpy as np
import pytest

from quorvane.frames.frames import ITRF
from quorvane.mathtools.ellipsoid.ellipsoid import WGS84
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.propagator import SGP4

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLE = read_catalogue(str(ROOT / "examples" / "data" / "real" / "gpredict-2018.tle"))


@pytest.mark.parametrize("n", [16384, 17 * 1024 + 5, 100_003])
def test_geodetic_and_cartesian_shares_give_the_bits_of_one_thread(n):
    rng = np.random.default_rng(n)
    r = rng.normal(size=(n, 3)) * 7e6
    one = WGS84.geodetic(r, threads=1)
    back = WGS84.cartesian(*one, threads=1)
    for threads in (2, 3, 5, 8, 64):
        got = WGS84.geodetic(r, threads=threads)
        assert all(np.array_equal(a, b) for a, b in zip(got, one))
        assert np.array_equal(WGS84.cartesian(*got, threads=threads), back)


@pytest.mark.parametrize("sets", [3, 41])
def test_propagate_shares_give_the_bits_of_one_thread(sets):
    # Near-Earth sets (tiles of 512 times) and, among the 41, resonant ones
    # (tiles of 4096): from fewer tiles than threads to many.
    prop = SGP4([TABLE[i] for i in range(0, 41 * 23, 23)][:sets])
    times = np.datetime64("2018-01-22T01:05", "ns") + np.arange(3000) * np.timedelta64(17, "s")
    one = prop.propagate(times, frame=ITRF, threads=1)
    for threads in (2, 3, 7, 200):
        got = prop.propagate(times, frame=ITRF, threads=threads)
        assert all(np.array_equal(a, b, equal_nan=True) for a, b in zip(got, one))
