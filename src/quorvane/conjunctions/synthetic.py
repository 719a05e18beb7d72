"""Synthetic catalogues and crafted encounters, as test data for conjunction screening.

Two kinds of data:

- ``synthetic_catalogue`` / ``synthetic_tle``: any number of valid two-line
  element sets drawn from real ones (the shape of each orbit kept, its
  orientation and phase spread uniformly), reproducible from a seed;
- ``crafted_encounter``: two satellites whose SGP4 trajectories pass at a
  chosen distance at a chosen instant, with the truth of that closest
  approach, for checking a screener; ``with_encounters`` adds such pairs to
  a catalogue.
"""

from __future__ import annotations

import dataclasses
import functools
import importlib.resources
import math
from collections.abc import Iterable, Sequence
from typing import Any

import numpy
from numpy.typing import NDArray

from quorvane.propagators.analytical.sgp4._table import FIELDS, Catalogue
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.time.time import Time

__all__ = [
    "KINDS",
    "EncounterTruth",
    "crafted_encounter",
    "synthetic_catalogue",
    "synthetic_tle",
    "with_encounters",
]

# Largest satellite number a two-line set can carry (Alpha-5 "Z9999").
MAX_SATNO = 339_999

# One unit of the two-line epoch's day fraction (1e-8 day) in nanoseconds.
_EPOCH_UNIT_NS = 864_000
_UNITS_PER_DAY = 100_000_000

# Alpha-5 and international-designator piece letters: A-Z without I and O.
_LETTERS = numpy.frombuffer(b"ABCDEFGHJKLMNPQRSTUVWXYZ", dtype=numpy.uint8)

# Checksum weight of each byte: a digit counts its value, "-" counts 1.
_CHECKSUM_WEIGHT = numpy.zeros(256, dtype=numpy.int64)
_CHECKSUM_WEIGHT[48:58] = numpy.arange(10)
_CHECKSUM_WEIGHT[ord("-")] = 1


# ---------------------------------------------------------------- seed sets


@functools.lru_cache(maxsize=1)
def _packaged_seed() -> Catalogue:
    data = importlib.resources.files("quorvane.conjunctions").joinpath("data/seed.tle").read_bytes()
    return read_catalogue(data, strict=True)


def _seed_table(sources: Any) -> Catalogue:
    if sources is None:
        return _packaged_seed()
    table = sources if isinstance(sources, Catalogue) else read_catalogue(sources)
    if len(table) == 0:
        raise ValueError("sources holds no element set")
    return table


def _seed_lines(table: Catalogue) -> tuple[NDArray[numpy.uint8], NDArray[numpy.uint8]]:
    """The sets as two (m, 69) byte matrices of their line 1 and line 2."""
    text = "\n".join(f"{a}\n{b}" for a, b in table._pairs()).encode("ascii")
    rows = numpy.frombuffer(text + b"\n", dtype=numpy.uint8).reshape(len(table), 2, 70)
    return numpy.ascontiguousarray(rows[:, 0, :69]), numpy.ascontiguousarray(rows[:, 1, :69])


# ---------------------------------------------------------------- column writers


def _put_digits(buf: NDArray[numpy.uint8], start: int, width: int, values: NDArray[numpy.int64]) -> None:
    """Write non-negative integers zero-padded into columns start..start+width-1."""
    v = values.copy()
    for k in range(width - 1, -1, -1):
        buf[:, start + k] = 48 + v % 10
        v //= 10


def _put_angle(buf: NDArray[numpy.uint8], start: int, tenthousandths: NDArray[numpy.int64]) -> None:
    """Write angles given in 1e-4 degree as "bbD.DDDD" (integer part right-justified)."""
    whole, frac = numpy.divmod(tenthousandths, 10_000)
    _put_digits(buf, start, 3, whole)
    buf[:, start + 3] = ord(".")
    _put_digits(buf, start + 4, 4, frac)
    buf[whole < 100, start] = ord(" ")
    buf[whole < 10, start + 1] = ord(" ")


def _put_satno(buf: NDArray[numpy.uint8], start: int, satno: NDArray[numpy.int64]) -> None:
    """Write satellite numbers as five digits, Alpha-5 from 100000 on ("A0000")."""
    _put_digits(buf, start, 5, satno % 100_000)
    alpha = numpy.flatnonzero(satno >= 100_000)
    if len(alpha):
        field = numpy.empty((len(alpha), 5), dtype=numpy.uint8)
        field[:, 0] = _LETTERS[satno[alpha] // 10_000 - 10]
        _put_digits(field, 1, 4, satno[alpha] % 10_000)
        buf[alpha, start : start + 5] = field


def _put_checksum(buf: NDArray[numpy.uint8]) -> None:
    buf[:, 68] = 48 + _CHECKSUM_WEIGHT[buf[:, :68]].sum(axis=1) % 10


def _pieces(key: NDArray[numpy.int64]) -> NDArray[numpy.int64]:
    """Rank of each entry among the entries with its key, in order."""
    order = numpy.argsort(key, kind="stable")
    sorted_key = key[order]
    starts = numpy.flatnonzero(numpy.r_[True, sorted_key[1:] != sorted_key[:-1]])
    group_start = numpy.repeat(starts, numpy.diff(numpy.r_[starts, len(key)]))
    rank = numpy.empty_like(key)
    rank[order] = numpy.arange(len(key)) - group_start
    return rank


def _put_piece(buf: NDArray[numpy.uint8], start: int, piece: NDArray[numpy.int64]) -> None:
    """Write launch pieces A..Z, AA..ZZ, AAA..ZZZ (I and O left out), left-justified in 3 columns."""
    piece = piece % (24 + 24**2 + 24**3)
    buf[:, start : start + 3] = ord(" ")
    one = piece < 24
    two = (piece >= 24) & (piece < 24 + 24**2)
    three = piece >= 24 + 24**2
    buf[one, start] = _LETTERS[piece[one]]
    q = piece[two] - 24
    buf[two, start] = _LETTERS[q // 24]
    buf[two, start + 1] = _LETTERS[q % 24]
    q = piece[three] - 24 - 24**2
    buf[three, start] = _LETTERS[q // 576]
    buf[three, start + 1] = _LETTERS[q // 24 % 24]
    buf[three, start + 2] = _LETTERS[q % 24]


def _instant_ns(value: Any, what: str) -> int:
    """One instant (ISO text, datetime, datetime64, Time, int ns) as int64 nanoseconds."""
    try:
        time = value if isinstance(value, Time) else Time(value)
        ns = time.int64
    except (TypeError, ValueError) as error:
        raise ValueError(f"{what} {value!r} is not an instant: {error}") from None
    if not isinstance(ns, int):
        raise ValueError(f"{what} must be one instant, not {len(time)}")
    return ns


def _check_count(n: Any) -> int:
    if isinstance(n, bool) or not isinstance(n, (int, numpy.integer)):
        raise TypeError(f"n must be an int, not {type(n).__name__}")
    if not 0 <= n <= MAX_SATNO:
        raise ValueError(f"n must be between 0 and {MAX_SATNO} (the largest Alpha-5 number), not {n}")
    return int(n)


# ---------------------------------------------------------------- synthetic catalogues


def synthetic_tle(
    n: int,
    *,
    seed: int = 0,
    epoch: Any = "2024-01-01T00:00:00",
    epoch_spread: float = 0.0,
    sources: Any = None,
    names: bool = True,
) -> str:
    """Text of `n` synthetic two-line element sets drawn from real ones.

    Each set copies one real set chosen at random (with replacement): its
    mean motion, inclination, eccentricity, drag terms (first and second
    derivative of the mean motion, B*), ephemeris type, element number and
    revolution number, digit for digit.  The right ascension of the node,
    the argument of perigee and the mean anomaly are drawn uniformly in
    [0, 360) degrees on the field's 1e-4 degree grid, and the epoch is
    `epoch` (plus a uniform offset in [0, `epoch_spread`] seconds when that
    is positive), on the field's grid of 1e-8 day (864 µs): an `epoch` off
    that grid is rounded to the nearest point.  The mix of orbits is that of
    the sources: the packaged seed, one set per satellite of three real
    catalogues (1,375 sets, about 70 % in low orbit), unless `sources` says
    otherwise.

    Sets are numbered 1 to `n` (Alpha-5 from 100000 on), classified "U",
    named "SYN-00001", ... (wider numbers for `n` ≥ 100000), and get the
    international designator of their source's launch (the year and launch
    number of the source when given and not after `epoch`, else the epoch's
    year and a launch number of the source's row) with the pieces A, B, ...
    in order of appearance.  Every line is in its published columns with a
    correct checksum, so ``read_catalogue(text, strict=True)`` accepts it.

    Parameters
    ----------
    n : int
        Number of sets, 0 to 339999.
    seed : int
        Seed of NumPy's default generator; the text depends only on the
        arguments.
    epoch : str, datetime, numpy.datetime64 or Time
        Epoch of every set, within the years 1957-2056 that the two-line
        epoch can hold.
    epoch_spread : float
        Width in seconds of the uniform spread of the epochs after `epoch`
        (0: every set has the epoch `epoch`).
    sources : Catalogue, path or text, optional
        The sets to draw from (anything ``read_catalogue`` reads); default
        the packaged seed sets.
    names : bool
        Three-line form with a name line before each set (default), else
        two-line form.

    Returns
    -------
    str
        The sets, each line ending in a line feed.

    Raises
    ------
    ValueError
        For `n` outside 0..339999, an `epoch` that is no instant or outside
        1957-2056, a negative or non-finite `epoch_spread`, or `sources`
        without a set.
    TypeError
        For an `n` that is not an int.
    """
    n = _check_count(n)
    spread = float(epoch_spread)
    if not math.isfinite(spread) or spread < 0:
        raise ValueError(f"epoch_spread must be a finite number of seconds >= 0, not {epoch_spread!r}")
    base = _instant_ns(epoch, "epoch")
    table = _seed_table(sources)
    seed_l1, seed_l2 = _seed_lines(table)
    m = len(table)

    rng = numpy.random.default_rng(seed)
    source = rng.integers(0, m, n)
    angles = rng.integers(0, 3_600_000, (3, n))
    units = numpy.full(n, (base + _EPOCH_UNIT_NS // 2) // _EPOCH_UNIT_NS, dtype=numpy.int64)
    if spread > 0:
        units += rng.integers(0, int(spread * 1e9) // _EPOCH_UNIT_NS + 1, n)

    days = units // _UNITS_PER_DAY
    date = days.astype("datetime64[D]")
    year = date.astype("datetime64[Y]")
    year_number = year.astype(numpy.int64) + 1970
    if n and (year_number.min() < 1957 or year_number.max() > 2056):
        raise ValueError(f"epoch {epoch!r} (and its spread) must lie within 1957-2056 for two-line sets")
    day_of_year = (date - year.astype("datetime64[D]")).astype(numpy.int64) + 1

    line1 = seed_l1[source]
    line2 = seed_l2[source]
    satno = numpy.arange(1, n + 1, dtype=numpy.int64)

    # Line 1: number, classification, designator, epoch; the drag terms and
    # the rest stay the source's.
    line1[:, 0:2] = numpy.frombuffer(b"1 ", dtype=numpy.uint8)
    _put_satno(line1, 2, satno)
    line1[:, 7] = ord("U")
    line1[:, 8] = ord(" ")
    launch_text = seed_l1[:, 9:14]
    given = ((launch_text >= 48) & (launch_text <= 57)).all(axis=1)
    digits = (launch_text.astype(numpy.int64) - 48) @ numpy.array([10_000, 1_000, 100, 10, 1])
    source_year = numpy.where(digits // 1000 >= 57, 1900, 2000) + digits // 1000
    launch_year = numpy.where(given[source], source_year[source], year_number)
    late = launch_year > year_number
    launch_year = numpy.where(late, year_number, launch_year)
    launch_no = numpy.where(given[source] & ~late, digits[source] % 1000, source % 999 + 1)
    _put_digits(line1, 9, 2, launch_year % 100)
    _put_digits(line1, 11, 3, launch_no)
    _put_piece(line1, 14, _pieces(launch_year * 1000 + launch_no))
    line1[:, 17] = ord(" ")
    _put_digits(line1, 18, 2, year_number % 100)
    _put_digits(line1, 20, 3, day_of_year)
    line1[:, 23] = ord(".")
    _put_digits(line1, 24, 8, units % _UNITS_PER_DAY)
    _put_checksum(line1)

    # Line 2: number and the three spread angles; inclination, eccentricity,
    # mean motion and revolution number stay the source's.
    _put_satno(line2, 2, satno)
    _put_angle(line2, 17, angles[0])
    _put_angle(line2, 34, angles[1])
    _put_angle(line2, 43, angles[2])
    _put_checksum(line2)

    newline = numpy.full((n, 1), ord("\n"), dtype=numpy.uint8)
    parts = [line1, newline, line2, newline]
    if names:
        width = max(5, len(str(n)))
        name = numpy.empty((n, 4 + width), dtype=numpy.uint8)
        name[:, :4] = numpy.frombuffer(b"SYN-", dtype=numpy.uint8)
        _put_digits(name, 4, width, satno)
        parts = [name, newline, *parts]
    return numpy.hstack(parts).tobytes().decode("ascii")


def synthetic_catalogue(
    n: int,
    *,
    seed: int = 0,
    epoch: Any = "2024-01-01T00:00:00",
    epoch_spread: float = 0.0,
    sources: Any = None,
) -> Catalogue:
    """A table of `n` synthetic element sets drawn from real ones.

    The sets of ``synthetic_tle`` with the same arguments (see there for
    what is drawn and what is kept), read by ``read_catalogue(text,
    strict=True)``: every set has passed the published format's strict
    validation, and the table is what reading the text from a file gives.

    Returns
    -------
    Catalogue
        `n` sets in the order of their satellite numbers 1..`n`, named
        "SYN-00001", ...

    Examples
    --------
    >>> table = synthetic_catalogue(1000, seed=1)
    >>> len(table), table.satno[:3].tolist(), table.name[0]
    (1000, [1, 2, 3], 'SYN-00001')
    """
    text = synthetic_tle(n, seed=seed, epoch=epoch, epoch_spread=epoch_spread, sources=sources)
    if not text:
        return Catalogue({name: numpy.empty(0, dtype=_EMPTY_DTYPES[kind]) for name, (kind, _) in FIELDS.items()})
    return read_catalogue(text, strict=True)


_EMPTY_DTYPES = {"i": numpy.int64, "f": numpy.float64, "U": "U1"}
