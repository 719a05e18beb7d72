"""Synthetic catalogues and crafted encounters (quorvane.conjunctions.synthetic)."""

import math
import re

import numpy
import pytest

from quorvane.conjunctions.synthetic import (
    KINDS,
    _packaged_seed,
    crafted_encounter,
    synthetic_catalogue,
    synthetic_tle,
    with_encounters,
)
from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue
from quorvane.propagators.analytical.sgp4.propagator import SGP4

EPOCH_NS = int(numpy.datetime64("2024-01-01T00:00:00", "ns").astype(numpy.int64))


@pytest.fixture(scope="module")
def big():
    return synthetic_catalogue(30_000, seed=7)


# ---------------------------------------------------------------- catalogues


def test_same_seed_same_text_other_seed_other_text():
    a = synthetic_tle(500, seed=3)
    assert a == synthetic_tle(500, seed=3)
    assert a != synthetic_tle(500, seed=4)
    assert a != synthetic_tle(500, seed=3, epoch_spread=86400.0)
    assert synthetic_catalogue(200, seed=3) == synthetic_catalogue(200, seed=3)


def test_thirty_thousand_sets_pass_strict_validation(big):
    text = synthetic_tle(30_000, seed=7)
    assert read_catalogue(text, strict=True) == big
    assert len(big) == 30_000
    numpy.testing.assert_array_equal(big.satno, numpy.arange(1, 30_001))
    assert big.name[0] == "SYN-00001" and big.name[-1] == "SYN-30000"
    assert (big.epoch_ns == EPOCH_NS).all()
    assert len(numpy.unique(big.intl_designator)) == len(big)
    assert all(re.fullmatch(r"\d{5}[A-Z]{1,3}", d) for d in big.intl_designator[:2000])
    # Two-line form reads back to the same elements.
    two = read_catalogue(synthetic_tle(30_000, seed=7, names=False), strict=True)
    numpy.testing.assert_array_equal(two.mnm, big.mnm)
    assert (two.name == "").all()


def test_alpha5_numbers_beyond_99999():
    text = synthetic_tle(100_002, seed=1, names=False)
    lines = text.splitlines()
    assert [line[2:7] for line in lines[-8::2]] == ["99999", "A0000", "A0001", "A0002"]
    table = read_catalogue("\n".join(lines[-8:]), strict=True)
    assert table.satno.tolist() == [99_999, 100_000, 100_001, 100_002]


def test_elements_come_from_the_seed_sets(big):
    seed = _packaged_seed()
    pairs = set(zip(seed.mnm.tolist(), seed.inc.tolist(), seed.ecc.tolist(), seed.bstar.tolist(), seed.ndot.tolist()))
    drawn = set(zip(big.mnm.tolist(), big.inc.tolist(), big.ecc.tolist(), big.bstar.tolist(), big.ndot.tolist()))
    assert drawn <= pairs
    assert len(drawn) > 0.9 * len(pairs)  # 30,000 draws of 1,375 sets reach nearly all


def test_orbit_mix_follows_the_seed_sets(big):
    seed = _packaged_seed()
    leo_seed = numpy.mean(seed.apg < 2_000e3)
    assert 0.6 < leo_seed < 0.8  # the real catalogue is mostly low orbits
    assert abs(numpy.mean(big.apg < 2_000e3) - leo_seed) < 0.02
    assert abs(numpy.mean(big.orp > 225 * 60) - numpy.mean(seed.orp > 225 * 60)) < 0.02
    bins = numpy.radians(numpy.arange(0, 190, 10))
    expected = numpy.histogram(seed.inc, bins)[0] / len(seed)
    got = numpy.histogram(big.inc, bins)[0] / len(big)
    assert numpy.abs(got - expected).max() < 0.02


@pytest.mark.parametrize("field", ["raa", "arp", "mea"])
def test_orientation_and_phase_are_uniform(big, field):
    angle = getattr(big, field)
    assert angle.min() >= 0 and angle.max() < 2 * math.pi
    assert abs(numpy.mean(numpy.cos(angle))) < 0.02 and abs(numpy.mean(numpy.sin(angle))) < 0.02
    counts = numpy.histogram(angle, numpy.linspace(0, 2 * math.pi, 13))[0]
    assert counts.min() > 0.9 * len(angle) / 12


def test_epoch_spread_and_rounding():
    table = synthetic_catalogue(2000, seed=2, epoch="2023-12-31T23:00:00", epoch_spread=7200.0)
    start = int(numpy.datetime64("2023-12-31T23:00:00", "ns").astype(numpy.int64))
    offsets = table.epoch_ns - start
    assert offsets.min() >= 0 and offsets.max() <= 7200 * 10**9
    assert (table.epoch_ns % 864_000 == 0).all()  # the two-line grid of 1e-8 day
    assert numpy.ptp(offsets) > 7000 * 10**9  # spread across the year boundary
    # An epoch off the grid is rounded to its nearest point.
    off = synthetic_catalogue(3, epoch="2024-01-01T00:00:00.000500")
    assert (off.epoch_ns == EPOCH_NS + 864_000).all()


def test_other_sources():
    one = read_catalogue(
        "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976\n"
        "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676\n"
    )
    table = synthetic_catalogue(50, sources=one)
    assert (table.mnm == one.mnm[0]).all() and (table.bstar == one.bstar[0]).all()
    assert (numpy.char.startswith(table.intl_designator, "98067")).all()
    assert len(numpy.unique(table.raa)) == 50
    assert len(synthetic_catalogue(0)) == 0 and synthetic_tle(0) == ""


@pytest.mark.parametrize(
    ("kwargs", "exception", "message"),
    [
        ({"n": -1}, ValueError, "n must"),
        ({"n": 340_000}, ValueError, "n must"),
        ({"n": 1.5}, TypeError, "n must"),
        ({"n": 5, "epoch": "not a time"}, ValueError, "epoch"),
        ({"n": 5, "epoch": "2070-01-01"}, ValueError, "1957-2056"),
        ({"n": 5, "epoch_spread": -1.0}, ValueError, "epoch_spread"),
        ({"n": 5, "epoch_spread": float("nan")}, ValueError, "epoch_spread"),
        ({"n": 5, "sources": Catalogue.concat([_packaged_seed().select([])])}, ValueError, "sources"),
    ],
)
def test_bad_catalogue_input(kwargs, exception, message):
    n = kwargs.pop("n")
    with pytest.raises(exception, match=message):
        synthetic_tle(n, **kwargs)


# ---------------------------------------------------------------- crafted encounters

TCA = numpy.datetime64("2024-01-01T12:00:00.123456789", "ns")


def _distances(table, times):
    r, v, err = SGP4(table).propagate(times)
    assert (err == 0).all()
    return numpy.linalg.norm(r[1] - r[0], axis=-1)


def _check_closest_approach(table, truth, miss):
    assert truth.tca == TCA
    assert abs(truth.miss_distance - miss) < 1e-5
    # Dense: every millisecond over +-2 s.
    step = numpy.timedelta64(1_000_000, "ns")
    offsets = numpy.arange(-2000, 2001)
    dist = _distances(table, TCA + offsets * step)
    assert abs(dist[2000] - miss) < 1e-3
    assert dist.min() > miss - 1e-3
    # Vertex of the squared distance (a quartic in time fits it closely).
    t = offsets * 1e-3
    poly = numpy.polynomial.Polynomial.fit(t, dist**2, 4)
    roots = poly.deriv().roots()
    roots = roots[numpy.abs(roots.imag) < 1e-9].real
    t_min = roots[numpy.argmin(numpy.abs(roots))]
    assert abs(t_min) < 1e-3
    assert abs(math.sqrt(poly(t_min)) - miss) < 1e-3
    # Coarse: one orbit of the primary either side, every 10 s.
    orbit = table.orp[0]
    coarse = numpy.arange(-int(orbit / 10) - 1, int(orbit / 10) + 2)
    far = _distances(table, TCA + coarse * numpy.timedelta64(10**10, "ns"))
    assert far.min() > miss - 1e-3
    assert abs(coarse[numpy.argmin(far)]) <= 1


@pytest.mark.parametrize("seed", [0, 1])
@pytest.mark.parametrize("kind", KINDS)
def test_crafted_encounter_has_its_closest_approach(kind, seed):
    table, truth = crafted_encounter(kind, tca=TCA, miss_distance=250.0, seed=seed)
    assert len(table) == 2 and truth.kind == kind
    assert table.satno.tolist() == [truth.primary, truth.secondary]
    _check_closest_approach(table, truth, 250.0)
    speed = truth.relative_speed
    if kind == "head-on":
        assert 14_000 < speed < 15_500
    elif kind == "overtaking":
        assert 10 < speed < 100
    elif kind == "co-orbital":
        assert speed < 1
    elif kind == "near-parabolic":
        assert table.ecc[1] >= 0.88 and table.apg[0] < 2_000e3
    else:
        assert abs(table.mnm[0] * 86400 / (2 * math.pi) - 1.0027) < 0.01
        radius = numpy.linalg.norm(SGP4(table.select([0])).propagate(TCA)[0])
        assert table.pge[1] + 6378137.0 < radius < table.apg[1] + 6378137.0


@pytest.mark.parametrize(("kind", "miss"), [("head-on", 0.5), ("co-orbital", 5_000.0), ("overtaking", 20_000.0)])
def test_other_miss_distances(kind, miss):
    table, truth = crafted_encounter(kind, tca=TCA, miss_distance=miss, seed=3)
    _check_closest_approach(table, truth, miss)


def test_epochs_and_given_primary():
    table, truth = crafted_encounter("overtaking", tca=TCA, miss_distance=100.0, epoch_offset=0.0)
    assert (table.epoch_ns == TCA.astype(numpy.int64)).all()
    primary = synthetic_catalogue(5, epoch="2024-01-01T06:00:00").select([1])
    table, truth = crafted_encounter("head-on", tca=TCA, miss_distance=80.0, primary=primary, satno=(7, 8))
    assert table.satno.tolist() == [7, 8] and truth.primary == 7
    assert table.mnm[0] == primary.mnm[0] and table.epoch_ns[0] == primary.epoch_ns[0]
    _check_closest_approach(table, truth, 80.0)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"kind": "sideways"}, "kind"),
        ({"miss_distance": 0.0}, "miss_distance"),
        ({"miss_distance": -5.0}, "miss_distance"),
        ({"miss_distance": float("nan")}, "miss_distance"),
        ({"miss_distance": float("inf")}, "miss_distance"),
        ({"miss_distance": "far"}, "miss_distance"),
        ({"tca": "yesterday"}, "tca"),
        ({"satno": (5, 5)}, "satno"),
        ({"primary": "ISS"}, "primary"),
        ({"epoch_offset": float("nan")}, "epoch_offset"),
    ],
)
def test_bad_encounter_input(kwargs, message):
    arguments = {"kind": "head-on", "tca": TCA, "miss_distance": 100.0, **kwargs}
    kind = arguments.pop("kind")
    with pytest.raises(ValueError, match=message):
        crafted_encounter(kind, **arguments)


def test_with_encounters_keeps_numbers_unique():
    background = synthetic_catalogue(90_000, seed=5)
    encounters = [crafted_encounter(kind, tca=TCA, miss_distance=100.0) for kind in ("head-on", "co-orbital")]
    table = with_encounters(background, encounters)
    assert len(table) == 90_004
    assert len(numpy.unique(table.satno)) == len(table)
    assert table.satno[-4:].tolist() == [encounters[0][1].primary, encounters[0][1].secondary,
                                         encounters[1][1].primary, encounters[1][1].secondary]  # fmt: skip
    # The displaced background sets keep their elements under new numbers.
    moved = numpy.flatnonzero(table.satno[:90_000] != background.satno)
    assert len(moved) == 4 and (table.mnm[moved] == background.mnm[moved]).all()
    with pytest.raises(ValueError, match="two encounters"):
        with_encounters(background, [encounters[0], encounters[0]])
