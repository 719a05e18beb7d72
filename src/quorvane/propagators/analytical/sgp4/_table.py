"""The columnar catalogue table."""

from __future__ import annotations

import io
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, NoReturn, overload

import numpy
from numpy.typing import ArrayLike, NDArray

from quorvane.propagators.analytical.sgp4 import _catalogue, _omm
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.time.time import Time

# Field name -> (dtype kind, description with units).
FIELDS: dict[str, tuple[str, str]] = {
    "satno": ("i", "satellite catalogue number (Alpha-5 decoded: A0001 is 100001)"),
    "name": ("U", 'name line of the three-line form, "" when none'),
    "classification": ("U", 'classification (U, C, S), "" when blank'),
    "intl_designator": ("U", 'international designator as the two-line form writes it ("98067A")'),
    "epoch": ("i", "epoch, nanoseconds since 1970-01-01T00:00:00 UTC (exact)"),
    "ndot": ("f", "first derivative of mean motion divided by two, rev/day^2, as published"),
    "nddot": ("f", "second derivative of mean motion divided by six, rev/day^3, as published"),
    "bstar": ("f", "drag term B*, 1/earth radii, as published"),
    "ephemeris_type": ("i", "ephemeris type"),
    "element_number": ("i", "element set number"),
    "rev_number": ("i", "revolution number at epoch"),
    "inc": ("f", "inclination, rad"),
    "raa": ("f", "right ascension of the ascending node, rad"),
    "ecc": ("f", "eccentricity"),
    "arp": ("f", "argument of perigee, rad"),
    "mea": ("f", "mean anomaly, rad"),
    "mnm": ("f", "mean motion, rad/s"),
    "sma": ("f", "semi-major axis, m (derived)"),
    "orp": ("f", "orbital period, s (derived)"),
    "eca": ("f", "eccentric anomaly, rad (derived)"),
    "tra": ("f", "true anomaly, rad (derived)"),
    "pge": ("f", "perigee altitude above Earth.Re, m (derived)"),
    "apg": ("f", "apogee altitude above Earth.Re, m (derived)"),
    "line": ("i", "source line (OMM: CSV line or JSON object number) of the set; line 1 for two-line text"),
    "checksum_ok": ("b", "both checksums of the two-line text hold (True for a set read from OMM)"),
    "tle_form": (
        "u",
        "how the published two-line text writes what the values leave open, so that to_tle gives it back:"
        " bit 1 (nddot) and bit 2 (bstar) a power of ten 0 signed otherwise than the export's default"
        ' ("-0" for a zero value, "+0" otherwise), bit 4 line 1 pads the element number with zeros, bit 8'
        " line 2 pads its numbers with zeros; 0 for a set read from OMM",
    ),
}

# Columns only two-line text fills: sets from elsewhere have no checksum to
# fail and the default exponent signs.
_TEXT_DEFAULTS: dict[str, tuple[Any, Any]] = {"checksum_ok": (True, numpy.bool_), "tle_form": (0, numpy.uint8)}


def _with_text_defaults(columns: Mapping[str, ArrayLike]) -> Mapping[str, ArrayLike]:
    if all(name in columns for name in _TEXT_DEFAULTS) or "satno" not in columns:
        return columns
    n = numpy.shape(columns["satno"])[:1] or (0,)
    defaults = {name: numpy.full(n, value, dtype) for name, (value, dtype) in _TEXT_DEFAULTS.items()}
    return {**defaults, **columns}

# Units the two-line and OMM texts use, as the record binds them.
_UNITS: tuple[float, float, float] | None = None


def _units() -> tuple[float, float, float]:
    global _UNITS
    if _UNITS is None:
        from quorvane.units import units

        _UNITS = (float(units.deg), float(units.rev), float(units.day))
    return _UNITS


class _Column:
    """A read-only column of the table (a property that type checkers see as
    the column's array: a ``property(...)`` call is typed as Any, and
    assignable)."""

    def __init__(self, name: str) -> None:
        kind, doc = FIELDS[name]
        array_type = {"i": "ndarray[int64]", "f": "ndarray[float64]", "U": "ndarray[str_]", "b": "ndarray[bool]",
                      "u": "ndarray[uint8]"}[kind]
        self._name = name
        self.__doc__ = f"{array_type}: {doc}."

    @overload
    def __get__(self, obj: None, owner: type | None = None) -> _Column: ...
    @overload
    def __get__(self, obj: Catalogue, owner: type | None = None) -> NDArray[Any]: ...
    def __get__(self, obj: Catalogue | None, owner: type | None = None) -> _Column | NDArray[Any]:
        return self if obj is None else obj._columns[self._name]

    def __set__(self, obj: Catalogue, value: object) -> NoReturn:
        raise AttributeError(f"property {self._name!r} of 'Catalogue' object has no setter")


def _rebuild(columns: dict[str, NDArray[Any]], skipped: NDArray[numpy.int64]) -> Catalogue:
    return Catalogue(columns, skipped)


class Catalogue:
    """Element sets as one NumPy array per field, in file order.

    Built by ``read_catalogue``.  Every field is a one-dimensional array with
    one entry per element set; the mean elements and the derived elements
    are bit for bit the values ``DUOLINE`` gives for the same lines, in the
    same SI units.  The arrays are the table's own: treat them as read-only.

    Attributes
    ----------
    satno, name, classification, intl_designator, epoch, ndot, nddot, bstar,
    ephemeris_type, element_number, rev_number, inc, raa, ecc, arp, mea, mnm,
    sma, orp, eca, tra, pge, apg, line, checksum_ok, tle_form
        The fields (see each attribute's docstring for units); `epoch` is a
        ``Time`` array, `epoch_ns` the same instants as int64 nanoseconds.
    skipped : ndarray[int64]
        Source lines of the sets left out under ``errors="skip"``.
    """

    __slots__ = ("_columns", "_skipped", "_epoch")

    def __init__(self, columns: Mapping[str, ArrayLike], skipped: ArrayLike = ()) -> None:
        columns = _with_text_defaults(columns)
        missing = [name for name in FIELDS if name not in columns]
        if missing:
            raise ValueError(f"columns lack {', '.join(missing)}")
        arrays = {name: numpy.asarray(columns[name]) for name in FIELDS}
        n = len(arrays["satno"])
        for name, array in arrays.items():
            if array.ndim != 1 or len(array) != n:
                raise ValueError(f"column {name} has shape {array.shape}, expected ({n},)")
        self._columns = arrays
        self._skipped = numpy.asarray(skipped, dtype=numpy.int64)
        self._epoch: Time | None = None

    @classmethod
    def _of(cls, columns: dict[str, NDArray[Any]], skipped: NDArray[numpy.int64]) -> Catalogue:
        """A table over arrays the native reader built (every field, one
        dimension, one length, int64 skipped lines): nothing to check."""
        table = object.__new__(cls)
        table._columns = columns
        table._skipped = skipped
        table._epoch = None
        return table

    satno = _Column("satno")
    name = _Column("name")
    classification = _Column("classification")
    intl_designator = _Column("intl_designator")
    ndot = _Column("ndot")
    nddot = _Column("nddot")
    bstar = _Column("bstar")
    ephemeris_type = _Column("ephemeris_type")
    element_number = _Column("element_number")
    rev_number = _Column("rev_number")
    inc = _Column("inc")
    raa = _Column("raa")
    ecc = _Column("ecc")
    arp = _Column("arp")
    mea = _Column("mea")
    mnm = _Column("mnm")
    sma = _Column("sma")
    orp = _Column("orp")
    eca = _Column("eca")
    tra = _Column("tra")
    pge = _Column("pge")
    apg = _Column("apg")
    line = _Column("line")
    checksum_ok = _Column("checksum_ok")
    tle_form = _Column("tle_form")

    @property
    def epoch(self) -> Time:
        """Time: the epochs, exact to the nanosecond."""
        if self._epoch is None:
            self._epoch = Time(self._columns["epoch"])
        return self._epoch

    @property
    def epoch_ns(self) -> NDArray[numpy.int64]:
        """ndarray[int64]: the epochs as nanoseconds since 1970-01-01T00:00:00 UTC."""
        return self._columns["epoch"]

    @property
    def skipped(self) -> NDArray[numpy.int64]:
        """ndarray[int64]: source lines (or rows) of the sets left out under errors="skip"."""
        return self._skipped

    @property
    def columns(self) -> dict[str, NDArray[Any]]:
        """dict: every field's array by name (`epoch` as int64 nanoseconds)."""
        return dict(self._columns)

    def __len__(self) -> int:
        return len(self._columns["satno"])

    def __repr__(self) -> str:
        return f"<Catalogue: {len(self)} element sets of {len(numpy.unique(self.satno))} satellites>"

    def __getitem__(self, index: int) -> DUOLINE:
        """The element set `index` as a ``DUOLINE`` record, built from its two-line text (``to_tle``)."""
        if not isinstance(index, (int, numpy.integer)) or isinstance(index, bool):
            raise TypeError(f"a Catalogue is indexed by an int; use select() for {type(index).__name__}")
        i = int(index) + (len(self) if index < 0 else 0)
        if not 0 <= i < len(self):
            raise IndexError(f"element set {int(index)} of a Catalogue of {len(self)}")
        line1, line2 = self.select([i])._pairs()[0]
        return DUOLINE(line1, line2)

    def __reduce__(self) -> tuple[Any, ...]:
        return _rebuild, (self._columns, self._skipped)

    def __eq__(self, other: object) -> bool:
        """Same fields with the same bits (NaN equals NaN), same skipped lines."""
        if not isinstance(other, Catalogue):
            return NotImplemented
        if len(self) != len(other) or not numpy.array_equal(self._skipped, other._skipped):
            return False
        for name, (kind, _) in FIELDS.items():
            a, b = self._columns[name], other._columns[name]
            if kind == "f":
                a, b = a.view(numpy.int64), b.view(numpy.int64)
            if not numpy.array_equal(a, b):
                return False
        return True

    __hash__ = None  # type: ignore[assignment]

    def select(self, which: ArrayLike) -> Catalogue:
        """The table of the element sets a boolean mask or an index array picks, in that order.

        Parameters
        ----------
        which : array_like of bool or int, or slice
            A mask of ``len(self)`` entries, or indices (negative from the end).

        Returns
        -------
        Catalogue
        """
        if isinstance(which, slice):
            key: Any = which
        else:
            key = numpy.asarray(which)
            if key.dtype != numpy.bool_:
                key = key.astype(numpy.intp, casting="safe") if key.size else key.astype(numpy.intp)
        return Catalogue({name: array[key] for name, array in self._columns.items()}, self._skipped)

    def groupby_satno(self) -> dict[int, Catalogue]:
        """One table per satellite number, each in epoch order (ties keep file order).

        Returns
        -------
        dict of int to Catalogue
            In the order of each satellite's first appearance.
        """
        satno = self._columns["satno"]
        order = numpy.lexsort((self._columns["epoch"], satno))
        bounds = numpy.flatnonzero(numpy.diff(satno[order])) + 1
        groups = numpy.split(order, bounds) if len(order) else []
        groups.sort(key=lambda rows: int(rows.min()))
        return {int(satno[rows[0]]): self.select(rows) for rows in groups}

    def elsets(self) -> dict[int, ELSET]:
        """One ``ELSET`` per satellite number, built from ``DUOLINE`` records of the sets.

        Each is named after the first non-empty name of that satellite in file
        order (None when there is none); keys in order of first appearance.
        """
        from quorvane.propagators.analytical.sgp4.catalogue import _Record

        result = {}
        for satno, table in self.groupby_satno().items():
            named = [(line, name) for line, name in zip(table.line.tolist(), table.name.tolist()) if name]
            records = [_Record(line1, line2) for line1, line2 in table._pairs()]
            result[satno] = ELSET(*records, satname=min(named)[1] if named else None)
        return result

    @classmethod
    def concat(cls, tables: Iterable[Catalogue]) -> Catalogue:
        """One table of several, in the order given; `skipped` is concatenated too."""
        tables = list(tables)
        if not tables:
            raise ValueError("concat needs at least one table")
        columns = {name: numpy.concatenate([t._columns[name] for t in tables]) for name in FIELDS}
        return cls(columns, numpy.concatenate([t._skipped for t in tables]))

    # ------------------------------------------------------------ export

    def _tle_text(self) -> bytes:
        columns = dict(self._columns)
        for name, size in (("classification", 1), ("intl_designator", 8)):
            try:
                columns[name] = numpy.ascontiguousarray(columns[name].astype(f"S{size}"))
            except UnicodeEncodeError:
                raise ValueError(f"{name} holds a character outside ASCII") from None
        return _catalogue.format_tle(columns)

    def _pairs(self) -> list[tuple[str, str]]:
        lines = self._tle_text().decode("ascii").split("\n")
        return list(zip(lines[0::2], lines[1::2]))

    def to_tle(self, path: str | os.PathLike[str] | None = None) -> list[tuple[str, str]] | None:
        """The element sets as two-line text, with correct checksums.

        Each field is written in its column with the published decimals, so
        lines as providers publish them come back byte for byte, checksums
        included (the published form where the values leave it open, such as
        "00000-0" or "00000+0" for a zero, is kept in ``tle_form``).  A zero
        drag term or second derivative of a set read from OMM is written
        "00000-0".

        Parameters
        ----------
        path : str or os.PathLike, optional
            Write the file there instead: three-line form (each set with a
            name gets its name line, prefixed "0 " when it could be taken for
            an element line), two-line form when no set has a name.

        Returns
        -------
        list of (str, str) or None
            The (line 1, line 2) pairs, or None when written to `path`.

        Raises
        ------
        ValueError
            For a value the columns cannot hold (a satellite number above
            339999, an epoch outside 1957-2056, ...), naming the set.
        """
        pairs = self._pairs()
        if path is None:
            return pairs
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            for name, (line1, line2) in zip(self._columns["name"].tolist(), pairs):
                if name:
                    ambiguous = name[:2] in ("1 ", "2 ", "0 ") or name in ("1", "2") or name.startswith("#")
                    handle.write(f"0 {name}\n" if ambiguous else f"{name}\n")
                handle.write(f"{line1}\n{line2}\n")
        return None

    def to_omm_csv(self, path: str | os.PathLike[str] | io.TextIOBase) -> None:
        """Write the element sets as OMM CSV (a header row, then one row per set).

        Elements are written in the published units (degrees, revolutions per
        day) with the two-line decimals wherever reading those back gives the
        same bits, else with the shortest text of the published value; the
        epoch in ISO 8601 with microseconds (nanoseconds when needed).
        """
        if isinstance(path, (str, os.PathLike)):
            with open(path, "w", encoding="utf-8", newline="") as handle:
                _omm.write_csv(handle, self._columns, _units())
        else:
            _omm.write_csv(path, self._columns, _units())

    def to_pandas(self) -> Any:
        """A pandas DataFrame with one column per field (`epoch` as datetime64[ns]).

        Needs pandas (the optional extra ``quorvane[pandas]``).

        Returns
        -------
        pandas.DataFrame
        """
        import pandas  # type: ignore[import-untyped,unused-ignore]

        data: dict[str, Sequence[Any] | NDArray[Any]] = {}
        for name in FIELDS:
            array = self._columns[name]
            data[name] = array.view("datetime64[ns]") if name == "epoch" else array
        return pandas.DataFrame(data)
