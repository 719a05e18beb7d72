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
import importlib.resources
import math
from collections.abc import Iterable, Sequence
from typing import Any

import numpy
from numpy.typing import NDArray

from quorvane.propagators.analytical.sgp4._table import FIELDS, Catalogue, derived_elements
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


_SEED: list[Catalogue] = []


def _packaged_seed() -> Catalogue:
    """The packaged seed sets, read once per process."""
    if not _SEED:
        data = importlib.resources.files("quorvane.conjunctions").joinpath("data/seed.tle").read_bytes()
        _SEED.append(read_catalogue(data, strict=True))
    return _SEED[0]


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
    >>> from quorvane.conjunctions.synthetic import synthetic_catalogue
    >>> table = synthetic_catalogue(1000, seed=1)
    >>> len(table), table.satno[:3].tolist(), str(table.name[0])
    (1000, [1, 2, 3], 'SYN-00001')
    """
    text = synthetic_tle(n, seed=seed, epoch=epoch, epoch_spread=epoch_spread, sources=sources)
    # Empty text as bytes: a str without a line break would name a file.
    return read_catalogue(text if text else b"", format="tle", strict=True)


# ---------------------------------------------------------------- crafted encounters

# Kinds of crafted encounter, in the order that numbers their default satellites.
KINDS = ("head-on", "overtaking", "co-orbital", "near-parabolic", "geo-crossing")


@dataclasses.dataclass(frozen=True)
class EncounterTruth:
    """The closest approach of a crafted pair, as constructed.

    Attributes
    ----------
    kind : str
        One of `KINDS`.
    tca : numpy.datetime64
        Time of closest approach, datetime64[ns] (UTC).
    miss_distance : float
        Distance of the two SGP4 positions at `tca`, m.
    relative_speed : float
        Speed of the secondary relative to the primary at `tca` (time
        derivative of the SGP4 positions), m/s.
    primary, secondary : int
        Satellite numbers of the two sets.
    """

    kind: str
    tca: numpy.datetime64
    miss_distance: float
    relative_speed: float
    primary: int
    secondary: int


def _earth() -> tuple[float, float]:
    from quorvane.bodies.bodies import Earth

    return float(Earth.GM), float(Earth.Re)


def _element_columns(
    template: dict[str, NDArray[Any]], inc: Any, raa: Any, ecc: Any, arp: Any, mea: Any, mnm: Any
) -> dict[str, NDArray[Any]]:
    """Columns of sets that copy the one-row `template` except for the mean
    elements, with the derived elements computed as the reader does."""
    two_pi = 2.0 * math.pi
    inc, ecc, mnm = (numpy.atleast_1d(numpy.asarray(x, dtype=numpy.float64)) for x in (inc, ecc, mnm))
    raa, arp, mea = (numpy.atleast_1d(numpy.asarray(x, dtype=numpy.float64)) % two_pi for x in (raa, arp, mea))
    k = len(mnm)
    columns = {name: numpy.repeat(template[name][:1], k) for name in FIELDS}
    columns.update(inc=inc, raa=raa, ecc=ecc, arp=arp, mea=mea, mnm=mnm, **derived_elements(mnm, mea, ecc))
    return columns


# Mean elements are fitted in equinoctial form (Broucke and Cefola 1972,
# "On the equinoctial orbit elements", Celestial Mechanics 5): f, g, h, k,
# mean longitude, mean motion, with the retrograde factor I = -1 for
# inclinations above 90 degrees, so that neither circular nor equatorial
# orbits (nor retrograde equatorial ones) are singular.


def _to_equinoctial(inc: float, raa: float, ecc: float, arp: float, mea: float, mnm: float, retro: int) -> NDArray[numpy.float64]:
    t = math.tan(inc / 2.0) ** retro
    w = arp + retro * raa
    return numpy.array([ecc * math.cos(w), ecc * math.sin(w), t * math.sin(raa), t * math.cos(raa), mea + w, mnm])


def _from_equinoctial(x: NDArray[numpy.float64], retro: int) -> tuple[NDArray[numpy.float64], ...]:
    x = numpy.atleast_2d(x)
    f, g, h, k, lam, mnm = x.T
    ecc = numpy.hypot(f, g)
    raa = numpy.arctan2(h, k)
    half = numpy.arctan(numpy.hypot(h, k))
    inc = 2.0 * half if retro > 0 else math.pi - 2.0 * half
    w = numpy.arctan2(g, f)
    return inc, raa, ecc, w - retro * raa, lam - w, mnm


def _states(template: dict[str, NDArray[Any]], x: NDArray[numpy.float64], retro: int, times: Any) -> tuple[NDArray[Any], ...]:
    from quorvane.propagators.analytical.sgp4.propagator import SGP4

    table = Catalogue(_element_columns(template, *_from_equinoctial(x, retro)))
    r, v, err = SGP4(table).propagate(times)
    return r, v, err


def _fit(
    template: dict[str, NDArray[Any]], tca: numpy.datetime64, r_target: NDArray[numpy.float64],
    v_target: NDArray[numpy.float64], start: NDArray[numpy.float64] | None, retro: int,
) -> tuple[NDArray[numpy.float64], float, float]:
    """Mean elements whose SGP4 state at `tca` is (r_target, v_target):
    Newton's method with central-difference Jacobians of SGP4 itself and a
    halving line search, from `start` (equinoctial) or the osculating
    elements of the target state."""
    from quorvane.state import orbel

    gm, _ = _earth()
    if start is None:
        el = orbel.orbel_from_sv(r_target[None, :], v_target[None, :], gm)[0]
        inc, ecc, sma = float(el["inc"]), float(el["ecc"]), float(el["sma"])
        mnm = float(orbel.mnm_from_sma(sma, gm))
        # Back to the epoch with the secular J2 rates (Vallado, "Fundamentals
        # of Astrodynamics and Applications", 4th ed., eqs. 9-41 and 9-42).
        dt = (tca - numpy.datetime64(int(template["epoch"][0]), "ns")) / numpy.timedelta64(1, "s")
        rate = 0.75 * mnm * _J2 * (_RE_SGP4 / (sma * (1.0 - ecc * ecc))) ** 2
        cos_i = math.cos(inc)
        raa = float(el["raa"]) + 2.0 * rate * cos_i * dt
        arp = float(el["arp"]) - rate * (5.0 * cos_i**2 - 1.0) * dt
        mea = float(orbel.mea_from_tra(float(el["tra"]), ecc))
        mea -= (mnm + rate * math.sqrt(1.0 - ecc * ecc) * (3.0 * cos_i**2 - 1.0)) * dt
        start = _to_equinoctial(inc, raa, ecc, arp, mea, mnm, retro)
    x = start.copy()
    scale = 1.0 / x[5]  # velocity residuals in metres per radian of mean motion

    def residual(rows: NDArray[numpy.float64]) -> tuple[NDArray[numpy.float64], NDArray[numpy.bool_]]:
        r, v, err = _states(template, rows, retro, tca)
        return numpy.hstack([r - r_target, (v - v_target) * scale]), err == 0

    res, ok = residual(x)
    if not ok[0]:
        raise RuntimeError("SGP4 fails at the osculating elements of the target state")
    norm = float(numpy.linalg.norm(res[0]))
    step_size = numpy.array([1e-7, 1e-7, 1e-7, 1e-7, 1e-7, 1e-7 * x[5]])
    for _ in range(60):
        dr = float(numpy.linalg.norm(res[0, :3]))
        dv = float(numpy.linalg.norm(res[0, 3:])) / scale
        if dr <= 1e-6 and dv <= 1e-9:
            return x, dr, dv
        probes = numpy.vstack([x + numpy.diag(step_size), x - numpy.diag(step_size)])
        pres, pok = residual(probes)
        if not pok.all():
            raise RuntimeError("SGP4 fails next to the elements being fitted")
        jacobian = (pres[:6] - pres[6:]).T / (2.0 * step_size)
        delta = numpy.linalg.solve(jacobian, res[0])
        for _ in range(30):
            trial = x - delta
            tres, tok = residual(trial)
            tnorm = float(numpy.linalg.norm(tres[0]))
            if tok[0] and tnorm < norm:
                break
            delta = delta / 2.0
        else:
            break
        x, res, norm = trial, tres, tnorm
    dr = float(numpy.linalg.norm(res[0, :3]))
    dv = float(numpy.linalg.norm(res[0, 3:])) / scale
    if dr <= _STALL_POSITION and dv <= _STALL_VELOCITY:
        # No step improves on this: SGP4's own rounding (Kepler's equation
        # and the deep-space terms near e = 0.98) is reached.
        return x, dr, dv
    raise RuntimeError(f"the fit of the secondary stopped {dr:.3g} m and {dv:.3g} m/s from its target state")


# Second zonal harmonic and equatorial radius of SGP4's WGS-72 constants,
# for the first guess only.
_J2 = 0.001082616
_RE_SGP4 = 6378135.0

# Where the fit may stop when no Newton step improves any more (SGP4's
# rounding at high eccentricity); it aims at 1e-6 m and 1e-9 m/s.
_STALL_POSITION = 1e-5
_STALL_VELOCITY = 1e-8

# Step of the five-point derivative of SGP4 positions, s.
_DERIVATIVE_STEP = 1.0


def _position_rate(table: Catalogue, tca: numpy.datetime64) -> tuple[NDArray[numpy.float64], ...]:
    """SGP4 positions, velocities and time derivatives of the positions at `tca`.

    SGP4's velocity is not exactly the derivative of its position (the two
    differ by centimetres per second): a closest approach is a minimum of the
    distance of positions, so the construction works with their derivative,
    a five-point central difference (truncation below 1e-10 m/s in low orbit,
    rounding about 1e-8 m/s)."""
    from quorvane.propagators.analytical.sgp4.propagator import SGP4

    step = numpy.timedelta64(int(_DERIVATIVE_STEP * 1e9), "ns")
    times = tca + numpy.arange(-2, 3) * step
    r, v, err = SGP4(table).propagate(times)
    if (err != 0).any():
        raise RuntimeError(f"SGP4 fails at the time of closest approach (code {int(err.max())})")
    rate = (r[:, 0] - 8.0 * r[:, 1] + 8.0 * r[:, 3] - r[:, 4]) / (12.0 * _DERIVATIVE_STEP)
    return r[:, 2], v[:, 2], rate


def _unit(x: NDArray[numpy.float64]) -> NDArray[numpy.float64]:
    return x / numpy.linalg.norm(x)


def _rotate(x: NDArray[numpy.float64], axis: NDArray[numpy.float64], angle: float) -> NDArray[numpy.float64]:
    """Rodrigues' rotation of `x` about the unit vector `axis`."""
    c, s = math.cos(angle), math.sin(angle)
    return x * c + numpy.cross(axis, x) * s + axis * float(axis @ x) * (1.0 - c)


def _design(
    kind: str, rng: numpy.random.Generator, r_p: NDArray[numpy.float64], v_p: NDArray[numpy.float64], d: float,
    speed_ecc: float = 0.0, angle: float = 0.0,
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64]]:
    """The secondary's position and velocity (true rate) at the closest approach.

    Offset n and relative velocity dv are perpendicular, so the distance is
    stationary there; each kind is laid out so that it is also the smallest
    distance for at least an orbit of the primary either side."""
    gm, re = _earth()
    radial = _unit(r_p)
    normal = _unit(numpy.cross(r_p, v_p))
    along = numpy.cross(normal, radial)
    sign = 1.0 if rng.random() < 0.5 else -1.0

    def across(dv: NDArray[numpy.float64]) -> NDArray[numpy.float64]:
        # A random direction perpendicular to dv.
        while True:
            w = rng.normal(size=3)
            w -= dv * float(w @ dv) / float(dv @ dv)
            if numpy.linalg.norm(w) > 1e-3:
                return _unit(w)

    if kind in ("overtaking", "co-orbital"):
        # Offset radial, relative velocity horizontal with its along-track
        # part of the offset's sign: in the Clohessy-Wiltshire solution the
        # radial separation is then d + (3d + 2|dv_along|/n)(1 - cos nt) >= d,
        # equal to d only at whole orbits, where the along-track drift
        # 2 pi (6d + 3|dv_along|/n) keeps the pair apart.
        speed = rng.uniform(20.0, 80.0) if kind == "overtaking" else rng.uniform(0.1, 0.9)
        beta = math.radians(rng.uniform(-30.0, 30.0))
        dv = sign * speed * (math.cos(beta) * along + math.sin(beta) * normal)
        return r_p + sign * d * radial, v_p + dv
    if kind == "head-on":
        # Nearly opposite horizontal velocity, a few percent faster: the
        # periods differ by several percent, so half and one orbit later the
        # pair is hundreds of kilometres apart.
        theta = sign * math.radians(rng.uniform(145.0, 165.0))
        vr = radial * float(v_p @ radial)
        v_s = rng.uniform(1.01, 1.03) * (vr + _rotate(v_p - vr, radial, theta))
    elif kind == "near-parabolic":
        # Horizontal at the primary's radius, at angle `angle`
        # from the along-track one, with the speed of an orbit whose perigee
        # is there and whose eccentricity is `speed_ecc`: it leaves the
        # primary's shell within minutes.
        speed = math.sqrt(gm * (1.0 + speed_ecc) / float(numpy.linalg.norm(r_p)))
        v_s = speed * _rotate(along, radial, angle)
        return r_p + d * _unit(numpy.cross(v_s - v_p, radial)), v_s
    else:  # geo-crossing
        # A transfer orbit (perigee 200-600 km high, apogee 3-10 % beyond the
        # primary's radius, 7-28 degrees out of its plane) at the primary's
        # radius, inbound or outbound.
        r = float(numpy.linalg.norm(r_p))
        perigee = re + rng.uniform(200e3, 600e3)
        apogee = r * rng.uniform(1.03, 1.10)
        sma = (perigee + apogee) / 2.0
        speed = math.sqrt(gm * (2.0 / r - 1.0 / sma))
        horizontal = math.sqrt(gm * 2.0 * perigee * apogee / (perigee + apogee)) / r
        climb = sign * math.sqrt(max(speed**2 - horizontal**2, 0.0))
        tilt = (1.0 if rng.random() < 0.5 else -1.0) * math.radians(rng.uniform(7.0, 28.0))
        v_s = horizontal * _rotate(along, radial, tilt) + climb * radial
    return r_p + d * across(v_s - v_p), v_s


def _default_primary(kind: str, rng: numpy.random.Generator, epoch_ns: int, satno: int) -> dict[str, NDArray[Any]]:
    seed = _packaged_seed()
    revs = seed.mnm * 86400.0 / (2.0 * math.pi)
    if kind == "geo-crossing":
        pool = numpy.flatnonzero((numpy.abs(revs - 1.0027) < 0.002) & (seed.ecc < 1e-3) & (seed.inc < math.radians(1.0)))
    else:
        pool = numpy.flatnonzero((revs > 13.0) & (seed.ecc < 0.01) & (seed.pge > 450e3) & (seed.apg < 1_500e3))
    row = seed.select([int(rng.choice(pool))])
    template = _template(row, epoch_ns, satno, f"{kind.upper()} PRIMARY")
    angles = rng.uniform(0.0, 2.0 * math.pi, 3)
    return _element_columns(template, row.inc, angles[0], row.ecc, angles[1], angles[2], row.mnm)


def _template(row: Catalogue, epoch_ns: int | None, satno: int, name: str) -> dict[str, NDArray[Any]]:
    columns = row.columns
    columns["satno"] = numpy.array([satno], dtype=numpy.int64)
    columns["name"] = numpy.array([name])
    columns["line"] = numpy.zeros(1, dtype=numpy.int64)
    if epoch_ns is not None:
        columns["epoch"] = numpy.array([epoch_ns], dtype=numpy.int64)
    return columns


def _fit_rate(
    template: dict[str, NDArray[Any]], when: numpy.datetime64, r_s: NDArray[numpy.float64],
    rate_s: NDArray[numpy.float64], x: NDArray[numpy.float64] | None, retro: int, tolerance: float,
) -> NDArray[numpy.float64]:
    """Elements whose SGP4 position at `when` is `r_s` and whose position
    rate (not SGP4's velocity) is `rate_s` within `tolerance` (m/s).

    SGP4's velocity is fitted to the rate less the difference of SGP4's
    velocity and position rate, taken at the latest fit, until the rate is
    within `tolerance` (the difference is centimetres per second in low orbit,
    but 100 m/s and more at the perigee of a near-parabolic orbit; a
    correction the fit cannot follow is halved)."""
    v_target = rate_s.copy()
    x, _, _ = _fit(template, when, r_s, v_target, x, retro)
    weight = 1.0
    for _ in range(40):
        table = Catalogue(_element_columns(template, *_from_equinoctial(x, retro)))
        _, _, rate_fit = (a[0] for a in _position_rate(table, when))
        miss = rate_fit - rate_s
        if float(numpy.linalg.norm(miss)) <= tolerance:
            return x
        try:
            x, _, _ = _fit(template, when, r_s, v_target - weight * miss, x, retro)
        except RuntimeError:
            weight /= 2.0
            continue
        v_target = v_target - weight * miss
        weight = min(1.0, weight * 2.0)
    raise RuntimeError(f"the secondary's position rate stays {float(numpy.linalg.norm(miss)):.3g} m/s from its target")


def _rate_tolerance(d: float, dv: NDArray[numpy.float64]) -> float:
    """Error of the secondary's position rate that moves the closest
    approach by at most 10 µs (d·error/|dv|²), between the 2e-8 m/s that
    the five-point derivative resolves and 1 mm/s."""
    return min(1e-3, max(2e-8, 1e-5 * float(dv @ dv) / d))


def _retro(r: NDArray[numpy.float64], v: NDArray[numpy.float64]) -> int:
    """Retrograde factor of the equinoctial elements for the orbit of (r, v)."""
    return 1 if float(numpy.cross(r, v)[2]) >= 0.0 else -1


# Mean eccentricity the near-parabolic secondary reaches at least.
_NEAR_PARABOLIC_ECC = 0.88


def _near_parabolic(
    template: dict[str, NDArray[Any]], rng: numpy.random.Generator, when: numpy.datetime64,
    r_p: NDArray[numpy.float64], rate_p: NDArray[numpy.float64], d: float,
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64], NDArray[numpy.float64], int]:
    """Target state and elements of a near-parabolic secondary.

    The osculating eccentricity is 0.90-0.92.  Higher ones are out of
    SDP4's reach from a low perigee: its lunar-solar periodic terms, which
    grow as 1/n and which the revised algorithm does not remove at epoch,
    pull the mean eccentricity a percent or more from the osculating one
    near e = 0.97, and its velocity departs from the rate of its position by
    100 m/s and more at such a perigee, so that the fit stops converging
    (mean eccentricities of 0.96-0.975 were reached, with mean perigees
    below the surface).  Directions of flight are tried 60 degrees apart
    until one fits."""
    base = rng.uniform(0.0, 2.0 * math.pi)
    speed_ecc = rng.uniform(0.90, 0.92)
    for k in range(6):
        angle = base + k * math.pi / 3.0
        r_s, v_s = _design("near-parabolic", rng, r_p, rate_p, d, speed_ecc, angle)
        retro = _retro(r_s, v_s)
        try:
            x = _fit_rate(template, when, r_s, v_s, None, retro, _rate_tolerance(d, v_s - rate_p))
        except RuntimeError:
            continue
        if float(_from_equinoctial(x, retro)[2][0]) >= _NEAR_PARABOLIC_ECC:
            return r_s, v_s, x, retro
    raise RuntimeError("no near-parabolic orbit could be fitted through the primary's position")


def crafted_encounter(
    kind: str,
    *,
    tca: Any,
    miss_distance: float,
    primary: Catalogue | None = None,
    seed: int = 0,
    epoch_offset: float = 21600.0,
    satno: tuple[int, int] | None = None,
) -> tuple[Catalogue, EncounterTruth]:
    """Two element sets whose SGP4 trajectories pass at `miss_distance` at `tca`.

    The primary's SGP4 position r_p and position rate v_p at `tca` are taken;
    the secondary's are set to r_p + d·n and v_p + Δv with n perpendicular to
    Δv (so the distance is stationary at `tca`), Δv chosen by `kind`:

    ``"head-on"``
        nearly opposite velocities, 14-15 km/s apart in low orbit;
    ``"overtaking"``
        same direction, 20-80 m/s apart, offset radially;
    ``"co-orbital"``
        same direction, 0.1-0.9 m/s apart, offset radially;
    ``"near-parabolic"``
        the secondary at the perigee of a highly eccentric orbit
        (osculating eccentricity 0.90-0.92, mean at least 0.88; SDP4 cannot
        be fitted reliably beyond), at the primary's radius;
    ``"geo-crossing"``
        the primary geostationary, the secondary on a transfer orbit
        crossing its radius.

    Each kind is laid out so that `tca` is the closest approach for at least
    an orbit of the primary either side.  The secondary's mean elements are
    then fitted (Newton's method on the six elements, Jacobians by central
    differences of SGP4 itself) until SGP4 gives its position within 1e-6 m
    and velocity within 1e-9 m/s.  Since two-line text rounds angles to
    1e-4 degree (about 12 m in low orbit), the table is built from the exact
    double columns: keep it as a table (``to_tle`` would move the orbits).

    Parameters
    ----------
    kind : str
        One of `KINDS`.
    tca : str, datetime, numpy.datetime64 or Time
        Time of closest approach (to the nanosecond).  It may be anything a
        screening window can start or stop at.
    miss_distance : float
        Distance at `tca`, m, positive and finite.
    primary : Catalogue, optional
        A table of one set to use as the primary (its epoch and number are
        kept unless `satno` is given).  Default: a set of the packaged seed
        in low orbit (geostationary for "geo-crossing") with random node,
        perigee and phase and the epoch `tca` minus `epoch_offset`.
    seed : int
        Seed of the random choices (primary, directions, speeds).
    epoch_offset : float
        Seconds from the secondary's (and a default primary's) epoch to
        `tca`; 0 puts the epoch at `tca`, a negative value after it.
    satno : (int, int), optional
        Satellite numbers of the primary and the secondary.  Default
        80001 + 2000·k + 2·(seed mod 1000) and the next number, k the kind's
        place in `KINDS`, so that the default pairs of different kinds and
        seeds below 1000 differ.

    Returns
    -------
    table : Catalogue
        The primary, then the secondary.
    truth : EncounterTruth
        The constructed closest approach.

    Raises
    ------
    ValueError
        For an unknown `kind`, a `miss_distance` not positive and finite, a
        `tca` that is no instant, a `primary` that is not one set, or bad
        satellite numbers.
    RuntimeError
        When SGP4 fails for the primary at `tca` or the fit does not
        converge (not seen for the default primaries).
    """
    if kind not in KINDS:
        raise ValueError(f"kind must be one of {', '.join(map(repr, KINDS))}, not {kind!r}")
    try:
        d = float(miss_distance)
    except (TypeError, ValueError):
        raise ValueError(f"miss_distance must be a positive number of metres, not {miss_distance!r}") from None
    if not (math.isfinite(d) and d > 0.0):
        raise ValueError(f"miss_distance must be a positive finite number of metres, not {miss_distance!r}")
    offset = float(epoch_offset)
    if not math.isfinite(offset):
        raise ValueError(f"epoch_offset must be a finite number of seconds, not {epoch_offset!r}")
    tca_ns = _instant_ns(tca, "tca")
    when = numpy.datetime64(tca_ns, "ns")
    epoch_ns = tca_ns - round(offset * 1e9)
    k = KINDS.index(kind)
    if satno is None:
        numbers = (80_001 + 2000 * k + 2 * (seed % 1000), 80_002 + 2000 * k + 2 * (seed % 1000))
    else:
        numbers = tuple(int(s) for s in satno)  # type: ignore[assignment]
        if len(numbers) != 2 or numbers[0] == numbers[1] or not all(0 < s <= MAX_SATNO for s in numbers):
            raise ValueError(f"satno must be two different numbers in 1..{MAX_SATNO}, not {satno!r}")

    rng = numpy.random.default_rng(seed)
    if primary is None:
        first = _default_primary(kind, rng, epoch_ns, numbers[0])
    else:
        if not isinstance(primary, Catalogue) or len(primary) != 1:
            raise ValueError("primary must be a Catalogue of one element set")
        first = _template(primary, None, numbers[0] if satno is not None else int(primary.satno[0]), str(primary.name[0]))
        if first["satno"][0] == numbers[1]:
            raise ValueError(f"the primary's number {numbers[1]} is the secondary's; give satno")
    primary_table = Catalogue(first)
    r_p, _, rate_p = (a[0] for a in _position_rate(primary_table, when))

    # The secondary: drag term of an ordinary object, epoch tca - epoch_offset
    # (A near-parabolic one has its epoch at tca: SDP4's rounding over hours
    # from epoch exceeds the fit's 1e-6 m at such eccentricities.)
    secondary_epoch = tca_ns if kind == "near-parabolic" else epoch_ns
    template = _template(primary_table, secondary_epoch, numbers[1], f"{kind.upper()} SECONDARY")
    template.update(
        bstar=numpy.array([rng.uniform(1e-5, 1e-4)]), ndot=numpy.zeros(1), nddot=numpy.zeros(1),
        intl_designator=numpy.array([""]), rev_number=numpy.zeros(1, dtype=numpy.int64),
    )  # fmt: skip
    x: NDArray[numpy.float64] | None = None
    if kind == "near-parabolic":
        r_s, rate_s, x, retro = _near_parabolic(template, rng, when, r_p, rate_p, d)
    else:
        r_s, rate_s = _design(kind, rng, r_p, rate_p, d)
        retro = _retro(r_s, rate_s)
    x = _fit_rate(template, when, r_s, rate_s, x, retro, _rate_tolerance(d, rate_s - rate_p))
    secondary = Catalogue(_element_columns(template, *_from_equinoctial(x, retro)))
    pair = Catalogue.concat([primary_table, secondary])
    if kind == "near-parabolic" and not secondary.ecc[0] >= _NEAR_PARABOLIC_ECC:
        raise RuntimeError(f"the fitted eccentricity {secondary.ecc[0]} is below 0.98")

    # Check: the distance is smallest at tca and the range rate (from SGP4's
    # velocities) turns from closing to opening there.
    r, v, rate = _position_rate(pair, when)
    dr, dv = r[1] - r[0], rate[1] - rate[0]
    from quorvane.propagators.analytical.sgp4.propagator import SGP4

    around = when + numpy.array([-1, 0, 1]) * numpy.timedelta64(1_000_000_000, "ns")
    rr, vv, _ = SGP4(pair).propagate(around)
    dist = numpy.linalg.norm(rr[1] - rr[0], axis=1)
    range_rate = numpy.einsum("ij,ij->i", rr[1] - rr[0], vv[1] - vv[0])
    if not (range_rate[0] < 0.0 < range_rate[2] and dist[1] < dist[0] and dist[1] < dist[2]):
        raise RuntimeError("the crafted pair does not have its closest approach at tca")
    truth = EncounterTruth(
        kind=kind, tca=when, miss_distance=float(numpy.linalg.norm(dr)), relative_speed=float(numpy.linalg.norm(dv)),
        primary=int(pair.satno[0]), secondary=int(pair.satno[1]),
    )  # fmt: skip
    return pair, truth


def with_encounters(table: Catalogue, encounters: Iterable[tuple[Catalogue, EncounterTruth] | Catalogue]) -> Catalogue:
    """A catalogue with crafted encounters added after its sets.

    The encounters' sets keep their satellite numbers, so their truths stay
    valid; a set of `table` whose number an encounter uses gets the smallest
    number that no set uses.

    Parameters
    ----------
    table : Catalogue
        The background, e.g. from ``synthetic_catalogue``.
    encounters : iterable of (Catalogue, EncounterTruth) or Catalogue
        What ``crafted_encounter`` returns, or its tables.

    Returns
    -------
    Catalogue
        `table`'s sets, then each encounter's, in order.

    Raises
    ------
    ValueError
        When two encounters share a satellite number (give
        ``crafted_encounter`` distinct `satno`), or no free numbers remain.
    """
    tables = [item[0] if isinstance(item, tuple) else item for item in encounters]
    for item in tables:
        if not isinstance(item, Catalogue):
            raise TypeError(f"an encounter is a (Catalogue, EncounterTruth) pair or a Catalogue, not {type(item).__name__}")
    if not isinstance(table, Catalogue):
        raise TypeError(f"table must be a Catalogue, not {type(table).__name__}")
    crafted = numpy.concatenate([t.satno for t in tables]) if tables else numpy.empty(0, dtype=numpy.int64)
    numbers, counts = numpy.unique(crafted, return_counts=True)
    if (counts > 1).any():
        raise ValueError(f"satellite number {int(numbers[counts > 1][0])} appears in two encounters; give crafted_encounter distinct satno")
    clash = numpy.isin(table.satno, numbers)
    if clash.any():
        used = numpy.union1d(table.satno, numbers)
        free = numpy.setdiff1d(numpy.arange(1, MAX_SATNO + 1), used)[: int(clash.sum())]
        if len(free) < clash.sum():
            raise ValueError("no free satellite numbers remain for the sets the encounters displace")
        columns = table.columns
        satno = columns["satno"].copy()
        satno[clash] = free
        columns["satno"] = satno
        table = Catalogue(columns, table.skipped)
    return Catalogue.concat([table, *tables])
