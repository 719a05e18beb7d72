"""Observers on the ground: stations, the look angles of what they see, and
the passes of whole catalogues over them."""

import math
from typing import Any

import numpy as np
from numpy.typing import ArrayLike, NDArray

from quorvane.frames.frames import ENU
from quorvane.mathtools.ellipsoid import ellipsoid as _ellipsoid
from quorvane.observers import _observers

__all__ = ["Passes", "Station", "passes"]


def _ellipsoid_from(a: float, f: float, name: str) -> _ellipsoid.Ellipsoid:
    """The module instance of that name when it is the same ellipsoid, else a new one."""
    known = {"WGS84": _ellipsoid.WGS84, "WGS72": _ellipsoid.WGS72, "GRS80": _ellipsoid.GRS80}.get(name)
    if known is not None and known.a == a and known.f == f:
        return known
    return _ellipsoid.Ellipsoid(a, f, name)


def _station(lat: float, lon: float, height: float, a: float, f: float, ellipsoid_name: str, name: str) -> "Station":
    return Station(lat, lon, height, ellipsoid=_ellipsoid_from(a, f, ellipsoid_name), name=name)


class Station:
    """A fixed site on the Earth.

    Parameters
    ----------
    lat, lon : float
        Geodetic latitude in [-pi/2, pi/2] and longitude, rad.
    height : float, optional
        Height above the ellipsoid, m.
    ellipsoid : quorvane.mathtools.ellipsoid.ellipsoid.Ellipsoid, keyword-only
        Reference ellipsoid (WGS84 by default).
    name : str, keyword-only
        A label.

    Attributes
    ----------
    lat, lon, height, ellipsoid, name
        As given (floats for the coordinates).
    itrf : numpy.ndarray, shape (3,)
        Earth-fixed position of the site, m (read-only).
    enu : quorvane.frames.frames.ENU
        The site's topocentric frame: ``ENU(lat, lon, origin=itrf)``.

    Raises
    ------
    TypeError
        A coordinate that is not a real number, an `ellipsoid` that is not an
        Ellipsoid, or a `name` that is not a str.
    ValueError
        A latitude beyond +-pi/2, or a coordinate that is not finite.
    """

    __slots__ = ("_lat", "_lon", "_height", "_ellipsoid", "_name", "_itrf", "_enu")

    def __init__(
        self,
        lat: float,
        lon: float,
        height: float = 0.0,
        *,
        ellipsoid: _ellipsoid.Ellipsoid = _ellipsoid.WGS84,
        name: str = "",
    ) -> None:
        values: list[float] = []
        for label, value in (("lat", lat), ("lon", lon), ("height", height)):
            if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
                raise TypeError(f"Station() {label} must be a real number, not {type(value).__name__}")
            value = float(value)
            if not math.isfinite(value):
                raise ValueError(f"Station() {label} must be finite, got {value!r}")
            values.append(value)
        lat, lon, height = values
        if abs(lat) > math.pi / 2:
            raise ValueError(f"Station() lat must be within [-pi/2, pi/2] rad, got {lat!r}")
        if not isinstance(ellipsoid, _ellipsoid.Ellipsoid):
            raise TypeError(f"Station() ellipsoid must be an Ellipsoid, not {type(ellipsoid).__name__}")
        if not isinstance(name, str):
            raise TypeError(f"Station() name must be a str, not {type(name).__name__}")
        self._lat, self._lon, self._height = lat, lon, height
        self._ellipsoid, self._name = ellipsoid, name
        itrf = ellipsoid.cartesian(lat, lon, height)
        itrf.setflags(write=False)
        self._itrf = itrf
        self._enu = ENU(lat, lon, origin=itrf)

    @property
    def lat(self) -> float:
        """Geodetic latitude, rad."""
        return self._lat

    @property
    def lon(self) -> float:
        """Longitude, rad."""
        return self._lon

    @property
    def height(self) -> float:
        """Height above the ellipsoid, m."""
        return self._height

    @property
    def ellipsoid(self) -> _ellipsoid.Ellipsoid:
        """Reference ellipsoid."""
        return self._ellipsoid

    @property
    def name(self) -> str:
        """Label."""
        return self._name

    @property
    def itrf(self) -> NDArray[np.float64]:
        """Earth-fixed position, m, shape (3,) (read-only)."""
        return self._itrf

    @property
    def enu(self) -> ENU:
        """Topocentric frame of the site."""
        return self._enu

    def look(
        self, r: ArrayLike, v: ArrayLike | None = None, *, threads: int | None = None
    ) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
        """Azimuth, elevation, range and range rate of Earth-fixed positions.

        Parameters
        ----------
        r : array_like, shape (..., 3)
            ITRF positions, m.
        v : array_like, shape of r, optional
            ITRF velocities, m/s.
        threads : int, keyword-only, optional
            Number of threads for large inputs; None is every available
            processor.  Results are the same bits for any thread count.

        Returns
        -------
        azimuth, elevation, range, range_rate : numpy.ndarray of float64, shape r.shape[:-1]
            Azimuth from north through east in [0, 2pi) and geometric
            elevation above the plane normal to the ellipsoid (rad, no
            refraction); range (m); range rate (m/s) with the station fixed in
            ITRF, NaN when `v` is None.

        Raises
        ------
        TypeError
            Arrays that are not numeric.
        ValueError
            `r` or `v` not of shape (..., 3), or `v` not shaped like `r`.
        """
        return _observers.look(self._enu, r, v, threads=threads)

    def __repr__(self) -> str:
        text = f"Station(lat={self._lat!r}, lon={self._lon!r}, height={self._height!r}"
        if self._ellipsoid is not _ellipsoid.WGS84:
            text += f", ellipsoid={self._ellipsoid.name}"
        if self._name:
            text += f", name={self._name!r}"
        return text + ")"


    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Station):
            return NotImplemented
        e, o = self._ellipsoid, other._ellipsoid
        return (self._lat, self._lon, self._height, self._name, e.a, e.f, e.name) == (
            other._lat, other._lon, other._height, other._name, o.a, o.f, o.name
        )

    def __hash__(self) -> int:
        return hash((self._lat, self._lon, self._height, self._name, self._ellipsoid.a, self._ellipsoid.f))

    def __reduce__(self) -> tuple[Any, ...]:
        e = self._ellipsoid
        return (_station, (self._lat, self._lon, self._height, e.a, e.f, e.name, self._name))


# After Station: the pass finder builds stations from tuples.
from quorvane.observers._passes_table import Passes, passes  # noqa: E402
