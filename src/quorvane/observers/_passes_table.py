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
from typing import Any

import erfa  # type: ignore[import-untyped]
import numpy

from quorvane.observers import _passes

try:  # Earth orientation tables (UT1 - UTC, polar motion)
    from quorvane.frames import eop as _eop_module  # type: ignore[attr-defined,unused-ignore]
except ImportError:  # pragma: no cover - depends on the installed modules
    _eop_module = None

__all__ = ["Passes", "passes"]

_NS_PER_DAY = 86_400_000_000_000
_UNIX_JD = 2440587.5
# Spacing of the grid on which the Earth's orientation is computed; each
# satellite samples every m-th node (m from its period), and refined times
# interpolate the rotation angle and polar motion between nodes.
_GRID_STEP_NS = 30_000_000_000

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
    sunlit, visible : bool
        Not computed yet: always False.

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
    days, rest = numpy.divmod(ns, _NS_PER_DAY)
    jd1 = _UNIX_JD + days.astype(numpy.float64)
    jd2 = rest.astype(numpy.float64) / _NS_PER_DAY
    if _eop_module is not None:
        table = _eop_module.resolve(eop)
        dut1, xp, yp = (numpy.asarray(c, dtype=numpy.float64) for c in table.at(ns, policy=eop_policy)[:3])
    else:
        # Without the Earth orientation module, UT1 = UTC and the pole sits
        # at the origin (errors up to 0.9 s of rotation, ~0.3" of pole).
        if eop is not None:
            raise ValueError("eop was given but quorvane.frames.eop is not available")
        dut1 = numpy.zeros(ns.shape)
        xp = numpy.zeros(ns.shape)
        yp = numpy.zeros(ns.shape)
    ut1_1, ut1_2 = erfa.utcut1(jd1, jd2, dut1)
    gmst = erfa.gmst82(ut1_1, ut1_2)
    return gmst, xp, yp


def _polar_motion(ns: numpy.ndarray, xp: numpy.ndarray, yp: numpy.ndarray) -> numpy.ndarray:
    days, rest = numpy.divmod(ns, _NS_PER_DAY)
    jd1 = _UNIX_JD + days.astype(numpy.float64)
    jd2 = rest.astype(numpy.float64) / _NS_PER_DAY
    tai1, tai2 = erfa.utctai(jd1, jd2)
    tt1, tt2 = erfa.taitt(tai1, tai2)
    return numpy.ascontiguousarray(erfa.pom00(xp, yp, erfa.sp00(tt1, tt2)))


def _instant(value: Any, name: str) -> int:
    if isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            value = value.astimezone(datetime.timezone.utc).replace(tzinfo=None)
        value = numpy.datetime64(value, "ns")
    elif isinstance(value, str):
        try:
            value = numpy.datetime64(value, "ns")
        except ValueError:
            raise ValueError(f"{name} is not an ISO instant: {value!r}") from None
    elif type(value).__name__ == "Time" and hasattr(value, "datetime64"):
        value = value.datetime64
    if not isinstance(value, numpy.datetime64):
        raise TypeError(f"{name} must be a numpy.datetime64, datetime.datetime or ISO string, not {type(value).__name__}")
    if numpy.isnat(value):
        raise ValueError(f"{name} is NaT")
    return int(value.astype("datetime64[ns]").astype(numpy.int64))


def _ellipsoid_constants(ellipsoid: Any) -> tuple[float, float]:
    if ellipsoid is None:
        from quorvane.mathtools.ellipsoid import ellipsoid as module

        ellipsoid = module.WGS84
    try:
        return float(ellipsoid.a), float(ellipsoid.e2)
    except AttributeError:
        raise TypeError(f"ellipsoid must have a and e2, not {type(ellipsoid).__name__}") from None


def _station_rows(stations: Any) -> numpy.ndarray:
    """ITRF position and east, north, up vectors of each station, (m, 12)."""
    if _is_station(stations):
        stations = [stations]
    elif not isinstance(stations, Sequence) or isinstance(stations, (str, bytes)):
        raise TypeError(
            f"stations must be a station, a (lat, lon, height) tuple or a sequence of them, "
            f"not {type(stations).__name__}"
        )
    if len(stations) == 0:
        raise ValueError("stations is empty")
    rows = numpy.empty((len(stations), 12))
    for i, station in enumerate(stations):
        if not _is_station(station):
            raise TypeError(
                f"stations[{i}] must be a station or a (lat, lon, height) tuple, not {type(station).__name__}"
            )
        if isinstance(station, tuple):
            lat, lon, height = (float(x) for x in station)
            ellipsoid = None
        else:
            lat, lon, height = float(station.lat), float(station.lon), float(station.height)
            ellipsoid = getattr(station, "ellipsoid", None)
        if not (abs(lat) <= math.pi / 2):
            raise ValueError(f"stations[{i}]: latitude must lie in [-pi/2, pi/2] rad, got {lat}")
        if not (math.isfinite(lon) and math.isfinite(height)):
            raise ValueError(f"stations[{i}]: longitude and height must be finite")
        a, e2 = _ellipsoid_constants(ellipsoid)
        sp, cp, sl, cl = math.sin(lat), math.cos(lat), math.sin(lon), math.cos(lon)
        n = a / math.sqrt(1.0 - e2 * sp * sp)
        rows[i, 0:3] = ((n + height) * cp * cl, (n + height) * cp * sl, (n * (1.0 - e2) + height) * sp)
        rows[i, 3:6] = (-sl, cl, 0.0)
        rows[i, 6:9] = (-sp * cl, -sp * sl, cp)
        rows[i, 9:12] = (cp * cl, cp * sl, sp)
    return rows


def _is_station(value: Any) -> bool:
    if isinstance(value, tuple):
        return len(value) == 3 and all(isinstance(x, (int, float, numpy.number)) for x in value)
    return all(hasattr(value, name) for name in ("lat", "lon", "height"))


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
    try:
        mask = float(min_elevation)
    except (TypeError, ValueError):
        raise TypeError(f"min_elevation must be a number, not {type(min_elevation).__name__}") from None
    if not (abs(mask) < math.pi / 2):
        raise ValueError(f"min_elevation must lie in (-pi/2, pi/2) rad, got {min_elevation}")
    rows = _station_rows(stations)
    grid = numpy.arange(t0, t1, _GRID_STEP_NS, dtype=numpy.int64)
    grid = numpy.append(grid, numpy.int64(t1))
    gmst, xp, yp = _earth_rotation(grid, eop, eop_policy)
    theta = numpy.unwrap(gmst)
    pom = _polar_motion(grid, xp, yp)
    index, station, rise, culm, set_, rise_az, max_el, set_az = _passes._find(
        prop, grid, theta, pom, rows, math.sin(mask), threads
    )
    satno = numpy.asarray(prop.satno)[index]
    first = numpy.where(rise == numpy.iinfo(numpy.int64).min, t0, rise)
    order = numpy.lexsort((station, satno, first))
    n = len(order)
    return Passes(
        satno=satno[order],
        station=station[order],
        rise=rise[order].view("datetime64[ns]"),
        culmination=culm[order].view("datetime64[ns]"),
        set=set_[order].view("datetime64[ns]"),
        rise_azimuth=rise_az[order],
        max_elevation=max_el[order],
        set_azimuth=set_az[order],
        sunlit=numpy.zeros(n, dtype=bool),
        visible=numpy.zeros(n, dtype=bool),
    )
