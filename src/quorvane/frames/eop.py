"""Earth orientation parameters from IERS ``finals2000A`` tables.

An :class:`EOP` is a columnar table of daily nodes (0h UTC): UT1−UTC, polar
motion and the celestial pole offsets dX, dY, read from a file in the IERS
fixed-width ``finals2000A.all`` / ``finals.all`` format.  Bulletin B values are
used where the file has them, Bulletin A values elsewhere; the rows at the end
without UT1−UTC are dropped.  Every column is in SI units: seconds and radians.

:meth:`EOP.default` is the table shipped by the ``astropy-iers-data`` package
(read once, then cached); nothing is ever downloaded.  :meth:`EOP.at`
interpolates linearly in UTC between the nodes; UT1−UTC is interpolated across
a leap second without its one-second step.  Times outside the table follow a
policy: ``"warn"`` (hold the edge values and emit one :class:`EOPWarning`),
``"raise"`` (ValueError) or ``"zero"`` (every correction 0).

:func:`resolve` turns the ``eop=`` argument of the time and frame functions
into a table: None is the default table, a path is read (and cached by path
and modification time), an EOP is used as it is.
"""

from __future__ import annotations

import os
import threading
import warnings

import numpy

from quorvane.time.time import Time

__all__ = ["EOP", "EOPWarning", "resolve"]

_ARCSEC = numpy.pi / (180.0 * 3600.0)
_MAS = _ARCSEC / 1000.0
_NS_PER_DAY = 86400 * 10**9
_MJD_UNIX = 40587  # MJD of 1970-01-01
_POLICIES = ("warn", "raise", "zero")


class EOPWarning(UserWarning):
    """Times outside the Earth orientation table: its edge values were held."""


def _field(line: str, start: int, stop: int) -> float:
    # Columns as in the IERS description of finals2000A (1-based, inclusive).
    text = line[start - 1 : stop].strip()
    return float(text) if text else numpy.nan


def _parse(lines) -> dict[str, numpy.ndarray]:
    rows = []
    for number, line in enumerate(lines, 1):
        line = line.rstrip("\r\n")
        if not line.strip():
            continue
        try:
            mjd = float(line[7:15])
        except ValueError:
            raise ValueError(f"EOP line {number}: no MJD in columns 8-15: {line[:20]!r}") from None
        try:
            row = (
                mjd,
                _field(line, 19, 27),  # Bulletin A x, arcsec
                _field(line, 38, 46),  # Bulletin A y, arcsec
                _field(line, 59, 68),  # Bulletin A UT1-UTC, s
                _field(line, 80, 86),  # Bulletin A LOD, ms
                _field(line, 98, 106),  # Bulletin A dX, mas
                _field(line, 117, 125),  # Bulletin A dY, mas
                _field(line, 135, 144),  # Bulletin B x, arcsec
                _field(line, 145, 154),  # Bulletin B y, arcsec
                _field(line, 155, 165),  # Bulletin B UT1-UTC, s
                _field(line, 166, 175),  # Bulletin B dX, mas
                _field(line, 176, 185),  # Bulletin B dY, mas
            )
        except ValueError:
            raise ValueError(f"EOP line {number}: a field is not a number: {line!r}") from None
        rows.append(row)
    if not rows:
        raise ValueError("EOP file has no rows")
    a = numpy.array(rows, dtype=numpy.float64)

    def pick(b: numpy.ndarray, a_: numpy.ndarray) -> numpy.ndarray:
        return numpy.where(numpy.isnan(b), a_, b)

    dut1 = pick(a[:, 9], a[:, 3])
    keep = ~numpy.isnan(dut1)
    if not keep.any():
        raise ValueError("EOP file has no UT1-UTC values")
    last = numpy.flatnonzero(keep)[-1]
    a, dut1 = a[: last + 1], dut1[: last + 1]
    if numpy.isnan(dut1).any():
        raise ValueError("EOP file has rows without UT1-UTC before its last UT1-UTC value")
    mjd = a[:, 0]
    if mjd.size > 1 and not (numpy.diff(mjd) > 0).all():
        raise ValueError("EOP file: MJDs are not increasing")
    if not (mjd == numpy.round(mjd)).all():
        raise ValueError("EOP file: MJDs must be whole days (0h UTC)")
    # Missing polar motion, LOD or pole offsets (some prediction rows) are 0.
    return {
        "mjd": mjd,
        "dut1": dut1,
        "xp": numpy.nan_to_num(pick(a[:, 7], a[:, 1])) * _ARCSEC,
        "yp": numpy.nan_to_num(pick(a[:, 8], a[:, 2])) * _ARCSEC,
        "lod": numpy.nan_to_num(a[:, 4]) * 1e-3,
        "dx": numpy.nan_to_num(pick(a[:, 10], a[:, 5])) * _MAS,
        "dy": numpy.nan_to_num(pick(a[:, 11], a[:, 6])) * _MAS,
    }


class EOP:
    """Earth orientation parameters at daily nodes (0h UTC).

    Attributes
    ----------
    mjd : numpy.ndarray of float64
        Modified Julian dates (UTC) of the nodes.
    dut1 : numpy.ndarray of float64
        UT1 − UTC, s.
    xp, yp : numpy.ndarray of float64
        Polar motion, rad.
    dx, dy : numpy.ndarray of float64
        Celestial pole offsets dX, dY with respect to IAU 2006/2000A, rad.
    lod : numpy.ndarray of float64
        Excess length of day, s.
    first, last : Time
        The first and last node.
    source : str
        Where the table was read from.
    """

    __slots__ = ("mjd", "dut1", "xp", "yp", "dx", "dy", "lod", "first", "last", "source", "_ns")

    def __init__(self, columns: dict[str, numpy.ndarray], source: str = "<columns>") -> None:
        for name in ("mjd", "dut1", "xp", "yp", "dx", "dy", "lod"):
            value = numpy.array(columns[name], dtype=numpy.float64)
            value.setflags(write=False)
            object.__setattr__(self, name, value)
        ns = (self.mjd.astype(numpy.int64) - _MJD_UNIX) * _NS_PER_DAY
        ns.setflags(write=False)
        self._ns = ns
        self.first = Time(int(ns[0]))
        self.last = Time(int(ns[-1]))
        self.source = source

    def __repr__(self) -> str:
        return f"<EOP {len(self.mjd)} days {self.first.utc} to {self.last.utc} from {self.source}>"

    def __len__(self) -> int:
        return len(self.mjd)

    @classmethod
    def from_file(cls, path: str | os.PathLike[str]) -> EOP:
        """Read an IERS ``finals2000A.all`` (or ``finals.all``) file."""
        path = os.fspath(path)
        with open(path, encoding="ascii", errors="replace") as file:
            return cls(_parse(file), source=path)

    @classmethod
    def default(cls) -> EOP:
        """The table of the ``astropy-iers-data`` package (read once, cached)."""
        return resolve(None)

    def _edges(self) -> str:
        return f"{self.first.utc} to {self.last.utc}"

    def _interpolate(self, ns, policy: str = "warn"):
        if not isinstance(policy, str) or policy not in _POLICIES:
            raise ValueError(f"eop_policy must be one of 'warn', 'raise', 'zero', got {policy!r}")
        ns = numpy.asarray(ns)
        if ns.dtype.kind == "M":
            ns = ns.astype("datetime64[ns]").view(numpy.int64)
        if ns.dtype.kind not in "iu":
            raise TypeError(f"EOP.at needs int64 nanoseconds (UTC), got dtype {ns.dtype}")
        ns = ns.astype(numpy.int64, copy=False)
        nodes = self._ns
        outside = (ns < nodes[0]) | (ns > nodes[-1])
        if outside.any():
            if policy == "raise":
                bad = ns[outside]
                raise ValueError(
                    f"{bad.size} time(s) outside the Earth orientation table ({self._edges()}): "
                    f"from {Time(int(bad.min())).utc} to {Time(int(bad.max())).utc}"
                )
            if policy == "warn":
                bad = ns[outside]
                warnings.warn(
                    f"{bad.size} time(s) from {Time(int(bad.min())).utc} to {Time(int(bad.max())).utc} lie "
                    f"outside the Earth orientation table ({self._edges()}); the table's edge values are held",
                    EOPWarning,
                    stacklevel=3,
                )
        clipped = numpy.clip(ns, nodes[0], nodes[-1])
        if nodes.size == 1:
            i = numpy.zeros(ns.shape, dtype=numpy.intp)
            f = numpy.zeros(ns.shape)
        else:
            i = numpy.clip(numpy.searchsorted(nodes, clipped, side="right") - 1, 0, nodes.size - 2)
            f = (clipped - nodes[i]).astype(numpy.float64) / _NS_PER_DAY
        out = []
        for name in ("dut1", "xp", "yp", "dx", "dy", "lod"):
            column = getattr(self, name)
            if nodes.size == 1:
                value = numpy.full(ns.shape, column[0])
            else:
                a, b = column[i], column[i + 1]
                if name == "dut1":
                    # A leap second at the end of day i makes UT1-UTC step by
                    # one second at node i+1: interpolate without the step
                    # (the step itself applies from node i+1 on).
                    b = b - numpy.round(b - a)
                value = a + (b - a) * f
                if name == "dut1":
                    # At node i+1 exactly (f = 1, the table's last node) the
                    # value is the node's own.
                    value = numpy.where(f == 1.0, column[i + 1], value)
            if policy == "zero":
                value = numpy.where(outside, 0.0, value)
            out.append(numpy.array(value, dtype=numpy.float64))
        return tuple(out)

    def at(self, ns, policy: str = "warn"):
        """Interpolated corrections at UTC instants.

        Parameters
        ----------
        ns : array_like of int64
            Instants, nanoseconds since 1970-01-01T00:00:00 UTC (or datetime64).
        policy : {'warn', 'raise', 'zero'}
            Times outside the table: hold the edge values with one EOPWarning,
            raise ValueError, or give every correction 0.

        Returns
        -------
        tuple of numpy.ndarray of float64
            (dut1 [s], xp [rad], yp [rad], dx [rad], dy [rad]), shaped like `ns`.
        """
        return self._interpolate(ns, policy)[:5]


_lock = threading.Lock()
_default: EOP | None = None
_by_path: dict[str, tuple[int, EOP]] = {}


def _default_path() -> str:
    import astropy_iers_data

    return os.path.join(os.path.dirname(astropy_iers_data.__file__), "data", "finals2000A.all")


def resolve(eop) -> EOP:
    """The EOP table for an ``eop=`` argument.

    None is :meth:`EOP.default`; a str or os.PathLike is read with
    :meth:`EOP.from_file` (cached by path and modification time); an EOP is
    returned as it is.  Anything else raises TypeError.
    """
    global _default
    if isinstance(eop, EOP):
        return eop
    if eop is None:
        with _lock:
            if _default is None:
                _default = EOP.from_file(_default_path())
            return _default
    if isinstance(eop, (str, os.PathLike)):
        path = os.path.abspath(os.fspath(eop))
        mtime = os.stat(path).st_mtime_ns
        with _lock:
            cached = _by_path.get(path)
            if cached and cached[0] == mtime:
                return cached[1]
        table = EOP.from_file(path)
        with _lock:
            _by_path[path] = (mtime, table)
        return table
    raise TypeError(f"eop must be None, a path or an EOP, got {type(eop).__name__}")
