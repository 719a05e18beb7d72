"""Satellite passes over ground stations: the `passes` function and its table.

The native core (`quorvane.observers._passes`) propagates each element set
through the propagator's native interface and finds rise, culmination and
set against a rigorous bound between samples; this layer checks the
arguments, computes the Earth's orientation once per grid time and builds
the columnar table.
"""

from __future__ import annotations

import datetime
import math
from collections.abc import Sequence
from typing import Any, cast

import erfa  # type: ignore[import-untyped]
import numpy

from quorvane.bodies import bodies as _bodies
from quorvane.frames import eop as _eop_module
from quorvane.observers import _observers, _passes
from quorvane.time.time import Time

__all__ = ["Passes", "passes"]

_NS_PER_DAY = 86_400_000_000_000
_UNIX_JD = 2440587.5
# The Earth's orientation is computed on whole UTC hours (GMST on UT1 is
# linear in UTC to 1e-12 rad over an hour) and interpolated linearly.
_HOUR_NS = 3_600_000_000_000
# The kernel holds every coarse sample of a satellite over the window (about
# 350,000 for a low orbit over a year, 17 MB per thread): windows are capped
# at two years.
_LONGEST_NS = 731 * _NS_PER_DAY

_COLUMNS = (
    "satno",
    "station",
    "rise",
    "culmination",
    "set",
    "rise_azimuth",
    "max_elevation",
    "set_azimuth",
    "sunlit",
    "visible",
)


class Passes:
    """Passes of satellites over ground stations, one row per pass.

    Columns are NumPy arrays, attributes of the table:

    satno : int64
        Satellite number of the element set.
    station : int64
        Index of the station in the sequence given to `passes`.
    rise, culmination, set : datetime64[ns]
        UTC instants the satellite climbs above the mask, is highest and
        sinks below it.  ``rise`` (``set``) is NaT when the pass was already
        (still) under way at the window's start (stop); ``culmination`` is
        then the highest point inside the window.
    rise_azimuth, set_azimuth : float64
        Azimuth at rise and set, rad from north through east, [0, 2π); NaN
        where the event is NaT.
    max_elevation : float64
        Geometric elevation at culmination, rad.
    sunlit : bool
        At culmination at least half of the Sun's disc is visible from the
        satellite (conical shadow of a spherical Earth of radius WGS84.a).
    visible : bool
        Sunlit, and the Sun's geometric elevation at the station below -6°
        (the end of civil twilight): a satellite the eye may see.

    Rows are ordered by the pass's first instant inside the window (rise,
    or the window's start), then satellite number, then station.
    """

    __slots__ = _COLUMNS

    satno: numpy.ndarray
    station: numpy.ndarray
    rise: numpy.ndarray
    culmination: numpy.ndarray
    set: numpy.ndarray
    rise_azimuth: numpy.ndarray
    max_elevation: numpy.ndarray
    set_azimuth: numpy.ndarray
    sunlit: numpy.ndarray
    visible: numpy.ndarray

    def __init__(self, **columns: numpy.ndarray) -> None:
        missing = [name for name in _COLUMNS if name not in columns]
        extra = [name for name in columns if name not in _COLUMNS]
        if missing or extra:
            raise TypeError(f"Passes needs the columns {', '.join(_COLUMNS)}")
        lengths = {len(numpy.asarray(columns[name])) for name in _COLUMNS}
        if len(lengths) != 1:
            raise ValueError("Passes columns must all have one length")
        for name in _COLUMNS:
            array = numpy.asarray(columns[name])
            array.flags.writeable = False
            object.__setattr__(self, name, array)

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("Passes tables are read-only")

    def __len__(self) -> int:
        return len(self.satno)

    def __reduce__(self) -> tuple[Any, ...]:
        return (_rebuild, ({name: numpy.array(getattr(self, name)) for name in _COLUMNS},))

    def __repr__(self) -> str:
        n = len(self)
        head = f"<Passes: {n} pass{'es' if n != 1 else ''}"
        if n == 0:
            return head + ">"
        lines = [head]
        shown = range(min(n, 5))
        for i in shown:
            lines.append(
                f"  satno {self.satno[i]} station {self.station[i]}: rise {self.rise[i]}, "
                f"culmination {self.culmination[i]} at {math.degrees(self.max_elevation[i]):.2f} deg, "
                f"set {self.set[i]}"
            )
        if n > len(shown):
            lines.append(f"  ... {n - len(shown)} more")
        return "\n".join(lines) + ">"

    def to_pandas(self) -> Any:
        """The table as a pandas DataFrame, one column per attribute.

        Returns
        -------
        pandas.DataFrame
        """
        import pandas  # type: ignore[import-untyped,unused-ignore]

        return pandas.DataFrame({name: numpy.array(getattr(self, name)) for name in _COLUMNS})


def _rebuild(columns: dict[str, numpy.ndarray]) -> Passes:
    return Passes(**columns)


def _earth_rotation(
    ns_grid: numpy.ndarray, eop: Any = None, eop_policy: str = "warn"
) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]:
    """Earth rotation angle and polar motion at UTC instants.

    Parameters
    ----------
    ns_grid : numpy.ndarray of int64
        Instants, ns since 1970-01-01 UTC.
    eop : optional
        Earth orientation data for `quorvane.frames.eop` (None: its default).
    eop_policy : str
        What to do beyond the data's range (`quorvane.frames.eop`'s policies).

    Returns
    -------
    gmst, xp, yp : numpy.ndarray of float64
        Greenwich mean sidereal time (IAU 1982) on UT1, rad in [0, 2π), and
        the pole's coordinates, rad.
    """
    ns = numpy.asarray(ns_grid, dtype=numpy.int64)
    table = _eop_module.resolve(eop)
    dut1, xp, yp = (numpy.asarray(c, dtype=numpy.float64) for c in table.at(ns, policy=cast(Any, eop_policy))[:3])
    # UT1 = UTC label + (UT1 - UTC): a UTC label counts 86400 s a day, so
    # the day fraction needs no leap-second scaling (erfa.utcut1 would
    # stretch a leap-second day to 86401 s, half a second off at noon).
    days, rest = numpy.divmod(ns, _NS_PER_DAY)
    gmst = erfa.gmst82(_UNIX_JD + days.astype(numpy.float64), (rest.astype(numpy.float64) / 1e9 + dut1) / 86400.0)
    return gmst, xp, yp


def _polar_motion(ns: numpy.ndarray, xp: numpy.ndarray, yp: numpy.ndarray) -> numpy.ndarray:
    days, rest = numpy.divmod(ns, _NS_PER_DAY)
    jd1 = _UNIX_JD + days.astype(numpy.float64)
    jd2 = rest.astype(numpy.float64) / _NS_PER_DAY
    tai1, tai2 = erfa.utctai(jd1, jd2)
    tt1, tt2 = erfa.taitt(tai1, tai2)
    return numpy.ascontiguousarray(erfa.pom00(xp, yp, erfa.sp00(tt1, tt2)))


def _leap_seconds(t0: int, t1: int) -> numpy.ndarray:
    """UTC midnights in (t0, t1] that follow a leap second (ns since 1970)."""
    first, last = -(-t0 // _NS_PER_DAY), t1 // _NS_PER_DAY
    if last < first:
        return numpy.zeros(0, dtype=numpy.int64)
    days = numpy.arange(first, last + 1, dtype=numpy.int64)
    ymd = numpy.stack([(days - k).astype("datetime64[D]").astype(object) for k in (0, 1)])
    years = numpy.vectorize(lambda d: d.year)(ymd)
    months = numpy.vectorize(lambda d: d.month)(ymd)
    mdays = numpy.vectorize(lambda d: d.day)(ymd)
    with numpy.errstate(all="ignore"):
        dat = erfa.dat(years, months, mdays, 0.0)
    return numpy.asarray(days[dat[0] != dat[1]] * _NS_PER_DAY, dtype=numpy.int64)


def _earth_grid(t0: int, t1: int, eop: Any, eop_policy: str) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]:
    """The Earth's orientation on the grid the kernel interpolates linearly:
    the window's ends, every whole UTC hour between them, and the instant
    1 ns before each midnight that follows a leap second (UT1 - UTC steps
    by 1 s at that midnight; no interpolation straddles the step).

    Returns the grid (int64 ns), the unwrapped sidereal angle and the
    polar-motion matrices.
    """
    hours = numpy.arange(-(-t0 // _HOUR_NS) * _HOUR_NS, t1, _HOUR_NS, dtype=numpy.int64)
    leaps = _leap_seconds(t0, t1)
    grid = numpy.unique(numpy.concatenate([[t0, t1], hours, leaps - 1, leaps]).astype(numpy.int64))
    grid = grid[(grid >= t0) & (grid <= t1)]
    gmst, xp, yp = _earth_rotation(grid, eop, eop_policy)
    return grid, numpy.unwrap(gmst), _polar_motion(grid, xp, yp)


def _interpolate(grid: numpy.ndarray, values: numpy.ndarray, ns: numpy.ndarray) -> numpy.ndarray:
    """Values (one row per grid node) linearly interpolated at instants inside the grid."""
    k = numpy.clip(numpy.searchsorted(grid, ns, side="right") - 1, 0, len(grid) - 2)
    w = ((ns - grid[k]) / (grid[k + 1] - grid[k]).astype(numpy.float64)).reshape((-1,) + (1,) * (values.ndim - 1))
    return numpy.asarray(values[k] + w * (values[k + 1] - values[k]), dtype=numpy.float64)


def _instant(value: Any, name: str) -> int:
    """One instant, as anything `Time` accepts except a bare number (an int
    of nanoseconds is too easily a mistake here), in ns since 1970 (UTC)."""
    if isinstance(value, (int, float, numpy.number)) and not isinstance(value, numpy.datetime64):
        raise TypeError(
            f"{name} must be a time (Time, datetime64, datetime or ISO text), not {type(value).__name__}"
        )
    try:
        time = value if isinstance(value, Time) else Time(value)
    except (TypeError, ValueError) as error:
        raise type(error)(f"{name}: {error}") from None
    ns = numpy.asarray(time.int64)
    if ns.ndim != 0:
        raise ValueError(f"{name} must be one instant, got {ns.size}")
    return int(ns)


def _stations(stations: Any) -> list[Any]:
    """The stations as `Station` objects (tuples (lat, lon, height) become
    stations on WGS84; a station's own checks apply)."""
    from quorvane.observers import Station

    if isinstance(stations, (Station, tuple)) or all(hasattr(stations, k) for k in ("lat", "lon", "height")):
        stations = [stations]
    elif not isinstance(stations, Sequence) or isinstance(stations, (str, bytes)):
        raise TypeError(
            f"stations must be a Station, a (lat, lon, height) tuple or a sequence of them, "
            f"not {type(stations).__name__}"
        )
    if len(stations) == 0:
        raise ValueError("stations is empty")
    out = []
    for i, station in enumerate(stations):
        if isinstance(station, tuple) and len(station) == 3:
            station = _converted(i, lambda: Station(*station))
        elif not isinstance(station, Station) and all(hasattr(station, k) for k in ("lat", "lon", "height")):
            # Another site object with geodetic coordinates (and perhaps an ellipsoid).
            extra = {"ellipsoid": station.ellipsoid} if getattr(station, "ellipsoid", None) is not None else {}
            station = _converted(i, lambda: Station(station.lat, station.lon, station.height, **extra))
        if not isinstance(station, Station):
            raise TypeError(
                f"stations[{i}] must be a Station or a (lat, lon, height) tuple, not {type(station).__name__}"
            )
        out.append(station)
    return out


def _converted(i: int, make: Any) -> Any:
    try:
        return make()
    except (TypeError, ValueError) as error:
        raise type(error)(f"stations[{i}]: {error}") from None


def _station_rows(stations: list[Any]) -> numpy.ndarray:
    """ITRF position and east, north, up vectors of each station, (m, 12),
    from the station's own ENU frame."""
    rows = numpy.empty((len(stations), 12))
    for i, station in enumerate(stations):
        rot, origin = _observers._enu_parts(station.enu)
        rows[i, 0:3] = origin
        rows[i, 3:12] = numpy.asarray(rot).ravel()
    return rows


def _propagator(source: Any) -> Any:
    from quorvane.propagators.analytical.sgp4.catalogue import Catalogue
    from quorvane.propagators.analytical.sgp4.propagator import SGP4

    if isinstance(source, SGP4):
        return source
    if isinstance(source, Catalogue):
        return SGP4(source)
    raise TypeError(f"source must be an SGP4 propagator or a Catalogue, not {type(source).__name__}")


def passes(
    source: Any,
    stations: Any,
    start: Any,
    stop: Any,
    *,
    min_elevation: float = 0.0,
    threads: int | None = None,
    eop: Any = None,
    eop_policy: str = "warn",
) -> Passes:
    """Every pass of every satellite of a catalogue over ground stations.

    A pass is an interval in which the satellite's geometric elevation (from
    the station's ellipsoid normal, no refraction) is at least
    `min_elevation`.  No pass longer than 2 ms is missed: between samples a
    bound on the second derivative of the elevation condition decides
    whether a pass can hide there, and samples are added until it cannot.
    Event times are refined to 10 ms or better.

    Parameters
    ----------
    source : SGP4 or Catalogue
        Element sets (one record or a catalogue; each set is a satellite).
    stations : station, tuple or sequence of them
        Objects with ``lat``, ``lon`` (rad), ``height`` (m) and optionally
        ``ellipsoid`` attributes (default WGS 84), or ``(lat, lon, height)``
        tuples.
    start, stop : numpy.datetime64, datetime.datetime or str
        The window (UTC); stop must be after start.
    min_elevation : float
        Elevation mask, rad, in (-pi/2, pi/2).
    threads : int or None
        Threads to run on (satellites are split between them); None, every
        available processor.  Results do not depend on it.
    eop : optional
        Earth orientation data, as `quorvane.frames.eop` takes it.
    eop_policy : str
        What to do for instants beyond the Earth orientation data.

    Returns
    -------
    Passes
        One row per pass, ordered by its first instant inside the window,
        then satellite number and station.
    """
    prop = _propagator(source)
    t0 = _instant(start, "start")
    t1 = _instant(stop, "stop")
    if t1 <= t0:
        raise ValueError("stop must be after start")
    if t1 - t0 > _LONGEST_NS:
        raise ValueError(f"the window is longer than {_LONGEST_NS // _NS_PER_DAY} days; search it in pieces")
    try:
        mask = float(min_elevation)
    except (TypeError, ValueError):
        raise TypeError(f"min_elevation must be a number, not {type(min_elevation).__name__}") from None
    if not (abs(mask) < math.pi / 2):
        raise ValueError(f"min_elevation must lie in (-pi/2, pi/2) rad, got {min_elevation}")
    sites = _stations(stations)
    rows = _station_rows(sites)
    grid, theta, pom = _earth_grid(t0, t1, eop, eop_policy)
    index, station, rise, culm, set_, rise_az, max_el, set_az, culm_teme = _passes._find(
        prop, grid, theta, pom, rows, math.sin(mask), threads
    )
    satno = numpy.asarray(prop.satno)[index]
    first = numpy.where(rise == numpy.iinfo(numpy.int64).min, t0, rise)
    order = numpy.lexsort((station, satno, first))
    index, station, culm = index[order], station[order], culm[order]
    sunlit, visible = _sunlight(prop, sites, index, station, culm, culm_teme[order], (grid, theta, pom), eop,
                                eop_policy)
    return Passes(
        satno=satno[order],
        station=station,
        rise=rise[order].view("datetime64[ns]"),
        culmination=culm.view("datetime64[ns]"),
        set=set_[order].view("datetime64[ns]"),
        rise_azimuth=rise_az[order],
        max_elevation=max_el[order],
        set_azimuth=set_az[order],
        sunlit=sunlit,
        visible=visible,
    )


# The Sun's elevation below which a sunlit satellite counts as visible to
# the eye: the end of civil twilight.
_TWILIGHT = -6.0 * math.pi / 180.0


def _sunlight(
    prop: Any, sites: list[Any], index: numpy.ndarray, station: numpy.ndarray, culm: numpy.ndarray,
    culm_teme: numpy.ndarray, earth: tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray], eop: Any, eop_policy: str,
) -> tuple[numpy.ndarray, numpy.ndarray]:
    """Whether each pass's satellite is sunlit at culmination (at least half
    the Sun's disc visible), and whether it is also seen against a dark sky
    (the Sun's geometric elevation at the station below -6 degrees).

    Everything that depends on time alone is computed on the Earth grid's
    hourly nodes and interpolated linearly to the culminations: the Sun's
    GCRF position (error under 10 km of 1 AU, 7e-8 rad) and the TEME to
    GCRF matrix (precession-nutation, 1e-12 rad); the rotation to ITRF is
    the kernel's own angle and polar motion.
    """
    from quorvane.bodies.bodies import Sun
    from quorvane.frames import _orientation

    n = len(index)
    if n == 0:
        return numpy.zeros(0, dtype=bool), numpy.zeros(0, dtype=bool)
    grid, theta, pom = earth
    # The satellites' positions at culmination: the finder's own where it
    # kept them (between its two SGP4 samples around the culmination),
    # SGP4 for the rest.
    r = numpy.array(culm_teme, dtype=numpy.float64)
    err = numpy.zeros(n, dtype=numpy.int8)
    missing = numpy.flatnonzero(numpy.isnan(r[:, 0]))
    if len(missing):
        r[missing], _, err[missing] = _passes._states(prop, index[missing].astype(numpy.intp), culm[missing])
    nodes = grid.view("datetime64[ns]")
    sun_nodes = numpy.asarray(Sun.position(nodes), dtype=numpy.float64)
    # The TEME to GCRF matrices `transform` uses, once for the three axes.
    basis = _orientation.matrices(grid, "TEME", "GCRF", eop, eop_policy)[0]
    # Everything interpolated in one table: per grid interval its first
    # node's values and the differences to the next (the same arithmetic as
    # values[k] + w (values[k+1] - values[k])), gathered once per pass.
    nodes_all = numpy.concatenate([sun_nodes, basis.reshape(-1, 9), theta.reshape(-1, 1), pom.reshape(-1, 9)], axis=1)
    table = numpy.stack([nodes_all[:-1], nodes_all[1:] - nodes_all[:-1]], axis=1)
    seg = numpy.clip(numpy.searchsorted(grid, culm, side="right") - 1, 0, len(grid) - 2)
    weight = (culm - grid[seg]) / (grid[seg + 1] - grid[seg]).astype(numpy.float64)
    rows = table[seg]
    values = rows[:, 0] + weight[:, None] * rows[:, 1]
    sun_gcrf = values[:, 0:3]
    teme_to_gcrf = values[:, 3:12].reshape(-1, 3, 3)
    sun_teme = numpy.einsum("nji,nj->ni", teme_to_gcrf, sun_gcrf)
    sunlit = (_bodies._shadow_of(r, sun_teme) >= 0.5) & (err == 0)
    angle = values[:, 12]
    c, s = numpy.cos(angle), numpy.sin(angle)
    pef = numpy.stack([c * sun_teme[:, 0] + s * sun_teme[:, 1], -s * sun_teme[:, 0] + c * sun_teme[:, 1],
                       sun_teme[:, 2]], axis=1)
    sun_itrf = numpy.einsum("nij,nj->ni", values[:, 13:22].reshape(-1, 3, 3), pef)
    dark = numpy.zeros(n, dtype=bool)
    for k, site in enumerate(sites):
        rows = station == k
        if rows.any():
            _, elevation, _, _ = site.look(sun_itrf[rows])
            dark[rows] = elevation < _TWILIGHT
    return sunlit, sunlit & dark
