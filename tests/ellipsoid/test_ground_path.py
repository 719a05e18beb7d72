"""From SGP4 to the ground: propagate(frame=ITRF/GCRF) rotates each vector of
samples as it leaves SGP4, before it is stored; the results must be those of propagating
in TEME and rotating afterwards, bit for bit, at every vector width and
thread count, and so must their geodetic coordinates."""

import pathlib

import numpy as np
import pytest

from quorvane.frames.frames import GCRF, ITRF, TEME, transform
from quorvane._testing import lanes as _lanes
from quorvane.mathtools.ellipsoid.ellipsoid import WGS84
from quorvane.propagators.analytical.sgp4.catalogue import iter_entries, read_catalogue
from quorvane.propagators.analytical.sgp4.duoline import ELSET
from quorvane.propagators.analytical.sgp4.propagator import SGP4

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLE = read_catalogue(str(ROOT / "examples" / "data" / "real" / "gpredict-2018.tle"))
RECORDS = [TABLE[i] for i in range(len(TABLE))]
# More than one tile of times per set (tiles hold 512 times, or 4096 when a
# resonant deep-space set is among them), a NaT among them.
TIMES = np.datetime64("2018-01-22T01:05", "ns") + np.arange(1300) * np.timedelta64(61, "s")
TIMES_NAT = TIMES.copy()
TIMES_NAT[700] = np.datetime64("NaT", "ns")


@pytest.fixture
def restore_width():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


@pytest.mark.parametrize("frame", [ITRF, GCRF])
@pytest.mark.parametrize("rows", [slice(0, 12), slice(None, None, 40)])  # near-Earth only; resonant sets among all
def test_frame_is_teme_then_transform_at_every_width_and_thread_count(frame, rows, restore_width):
    prop = SGP4(RECORDS[rows])
    r0, v0, e0 = prop.propagate(TIMES_NAT)
    ok = ~np.isnat(TIMES_NAT)
    want_r, want_v = transform(r0[:, ok], v0[:, ok], TIMES_NAT[ok], TEME, frame)
    seen = set()
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        for threads in (1, 2, 3):
            r, v, e = prop.propagate(TIMES_NAT, frame=frame, threads=threads)
            assert np.array_equal(e, e0)
            assert np.array_equal(r[:, ok], want_r, equal_nan=True) and np.array_equal(v[:, ok], want_v, equal_nan=True)
            assert np.isnan(r[:, ~ok]).all()
            seen.add(r.tobytes() + v.tobytes())
    assert len(seen) == 1


def test_history_in_a_frame_is_teme_then_transform():
    stations = [record for _, record in iter_entries(ROOT / "examples" / "data" / "stations.tle")]
    history = SGP4(ELSET(*stations[:3]))  # a history: each time takes one of the sets
    r0, v0, _ = history.propagate(TIMES)
    for threads in (1, 2):
        r, v, _ = history.propagate(TIMES, frame=ITRF, threads=threads)
        want = transform(r0, v0, TIMES, TEME, ITRF)
        assert np.array_equal(r, want[0], equal_nan=True) and np.array_equal(v, want[1], equal_nan=True)


def test_ground_track_bits_at_every_width_and_thread_count(restore_width):
    prop = SGP4(RECORDS[::25])
    seen = set()
    for width in _lanes.widths():
        _lanes._set_max_width(width)
        for threads in (1, 2):
            lat, lon, h = WGS84.geodetic(prop.propagate(TIMES, frame=ITRF, threads=threads)[0], threads=threads)
            seen.add(lat.tobytes() + lon.tobytes() + h.tobytes())
    assert len(seen) == 1
    # Sane ground tracks: latitudes within the inclination bound, heights
    # of orbits (the file's sets are all above 150 km when propagated).
    assert np.nanmax(np.abs(lat)) <= np.pi / 2 and np.nanmin(h) > 100e3
