"""The columnar catalogue table."""

from __future__ import annotations

import io
import os
import re
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, NoReturn, overload

import numpy
from numpy.typing import ArrayLike, NDArray

from quorvane.propagators.analytical.sgp4 import _catalogue, _omm
from quorvane.propagators.analytical.sgp4._record import NAME_LENGTH, _Record
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


def derived_elements(
    mnm: NDArray[numpy.float64], mea: NDArray[numpy.float64], ecc: NDArray[numpy.float64]
) -> dict[str, NDArray[numpy.float64]]:
    """The derived elements (sma, orp, eca, tra, pge, apg) of mean elements
    as the reader computes them: orbel's kernels with Earth's constants as
    they are now, in the reader's order and arithmetic, so the bits are those
    of the same elements read from text."""
    from quorvane.bodies.bodies import Earth
    from quorvane.state import orbel

    gm, re = float(Earth.GM), float(Earth.Re)
    with numpy.errstate(all="ignore"):
        sma = numpy.asarray(orbel.sma_from_mnm(mnm, gm), dtype=numpy.float64)
        eca = numpy.asarray(orbel.eca_from_mea(mea, ecc), dtype=numpy.float64)
        return {
            "sma": sma,
            "orp": numpy.asarray(orbel.orp_from_sma(sma, gm), dtype=numpy.float64),
            "eca": eca,
            "tra": numpy.asarray(orbel.tra_from_eca(eca, ecc), dtype=numpy.float64),
            "pge": (1.0 - ecc) * sma - re,
            "apg": (ecc + 1.0) * sma - re,
        }


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


# Fields that say where and how a set was written, not what it is: left out
# of ==.  (A two-line set and the same set read back from its OMM export are
# equal; only the text knows its line numbers, checksums and zero padding.)
_PROVENANCE = ("line", "checksum_ok", "tle_form")


def _rebuild(columns: dict[str, NDArray[Any]], skipped: NDArray[numpy.int64]) -> Catalogue:
    return Catalogue._checked(columns, skipped, copy=False)


# Most characters a text column may hold per entry: the two-line columns'
# widths, and the bound on names (NAME_LENGTH) that keeps the name column's
# memory proportional to the text read.
_WIDTHS = {"classification": 1, "intl_designator": 8, "name": NAME_LENGTH}
_KIND_NAMES = {"i": "integers", "f": "floating-point numbers", "U": "str", "b": "booleans",
               "u": "unsigned integers"}
_INT64 = numpy.iinfo(numpy.int64)
# Characters a name line cannot hold: C0 and C1 controls (line breaks among
# them), DEL, and the Unicode line and paragraph separators.
_CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f\u2028\u2029]")


def _frozen(array: NDArray[Any]) -> NDArray[Any]:
    """A read-only view of `array`, which the table owns from now on: its
    owner is made read-only too, so the view cannot be made writable."""
    array.flags.writeable = False
    owner = array
    while isinstance(owner.base, numpy.ndarray):  # the native reader's columns share one block
        owner = owner.base
    owner.flags.writeable = False
    return array.view()


def _checked_column(name: str, value: object, copy: bool) -> NDArray[Any]:
    """Column `name` as the table stores it: the field's dtype, exactly the
    values given (no conversion that could change one), range checked."""
    kind = FIELDS[name][0]
    array = numpy.asarray(value)
    if array.ndim != 1:
        raise ValueError(f"column {name} has shape {array.shape}, expected one dimension")
    have = array.dtype.kind
    target: numpy.dtype[Any]
    if kind == "i":
        if have not in "iu":
            raise TypeError(f"column {name} must hold integers, not {array.dtype}")
        if have == "u" and array.size and int(array.max()) > _INT64.max:
            raise ValueError(f"column {name}: entry {int(numpy.argmax(array))} exceeds the 64-bit integer range")
        target = numpy.dtype(numpy.int64)
    elif kind == "f":
        if have != "f" or array.dtype.itemsize > 8:
            raise TypeError(f"column {name} must hold float64 (or narrower floating-point) numbers, not {array.dtype}")
        target = numpy.dtype(numpy.float64)
    elif kind == "U":
        if have != "U":
            raise TypeError(f"column {name} must hold str (a NumPy str_ array), not {array.dtype}")
        lengths = numpy.char.str_len(array) if array.size else numpy.zeros(0, dtype=numpy.int64)
        width = int(lengths.max()) if array.size else 0
        if width > _WIDTHS[name]:
            row = int(numpy.argmax(lengths))
            raise ValueError(f"column {name}: entry {row} has {width} characters, at most {_WIDTHS[name]} fit")
        target = numpy.dtype(f"<U{max(1, width) if name == 'name' else _WIDTHS[name]}")
    else:  # flags (booleans, small unsigned integers): the dtype as given
        if have != kind:
            raise TypeError(f"column {name} must hold {_KIND_NAMES.get(kind, kind)}, not {array.dtype}")
        target = array.dtype
    result = numpy.array(array, dtype=target, copy=True) if copy or array.dtype != target else array
    if kind == "i" and result.size:
        low = int(result.min())
        if name == "epoch" and low == _INT64.min:
            raise ValueError(f"column epoch: entry {int(numpy.argmin(result))} is NaT, not an instant")
        if name in ("satno", "line") and low < 0:
            raise ValueError(f"column {name}: entry {int(numpy.argmin(result))} is negative ({low})")
    return result


class Catalogue:
    """Element sets as one NumPy array per field, in file order.

    Built by ``read_catalogue``.  Every field is a one-dimensional array with
    one entry per element set; the mean elements and the derived elements
    are bit for bit the values ``DUOLINE`` gives for the same lines, in the
    same SI units.  The arrays are read-only views of the table's own data
    (``Catalogue(columns)`` copies what it is given), so a table never changes
    once built, and neither does a propagator built from it, nor its pickle.

    Two tables are equal (``==``) when they hold the same element sets: the
    same fields with the same bits, in the same order.  Where the sets came
    from is not compared: neither the source line numbers (the `line`
    column) nor the lines left out (`skipped`), so a table and the table
    read back from its OMM export are equal.

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
    _columns: dict[str, NDArray[Any]]
    _skipped: NDArray[numpy.int64]
    _epoch: Time | None

    def __init__(self, columns: Mapping[str, ArrayLike], skipped: ArrayLike = ()) -> None:
        table = self._checked(columns, skipped, copy=True)
        self._columns = table._columns
        self._skipped = table._skipped
        self._epoch = None

    @classmethod
    def _checked(cls, columns: Mapping[str, ArrayLike], skipped: ArrayLike, copy: bool) -> Catalogue:
        """A table of columns from outside: every field's dtype, shape, width
        and range checked, nothing converted that would change a value (an
        int32 column becomes int64, a float32 one float64; a float epoch, a
        None, a second character or a ninth designator character is
        refused).  `copy`: copy arrays already of the stored dtype too, so
        that no one else holds a writable reference to them."""
        if not isinstance(columns, Mapping):
            raise TypeError(f"columns must be a mapping of field names to arrays, not {type(columns).__name__}")
        columns = _with_text_defaults(columns)
        missing = [name for name in FIELDS if name not in columns]
        if missing:
            raise ValueError(f"columns lack {', '.join(missing)}")
        unknown = [str(name) for name in columns if name not in FIELDS]
        if unknown:
            raise ValueError(f"columns holds unknown fields {', '.join(unknown)}")
        arrays = {name: _checked_column(name, columns[name], copy) for name in FIELDS}
        n = len(arrays["satno"])
        for name, array in arrays.items():
            if len(array) != n:
                raise ValueError(f"column {name} has {len(array)} entries, satno {n}")
        lines = numpy.asarray(skipped)
        if lines.ndim != 1:
            raise ValueError(f"skipped has shape {lines.shape}, expected one dimension")
        if lines.size == 0:
            lines = numpy.zeros(0, dtype=numpy.int64)
        elif lines.dtype.kind not in "iu":
            raise TypeError(f"skipped must hold line numbers (integers), not {lines.dtype}")
        elif int(lines.min()) < 0 or int(lines.max()) > _INT64.max:
            raise ValueError("skipped holds a line number outside 0 .. 2**63 - 1")
        lines = numpy.array(lines, dtype=numpy.int64, copy=True)
        return cls._of(arrays, lines)

    @classmethod
    def _of(cls, columns: dict[str, NDArray[Any]], skipped: NDArray[numpy.int64]) -> Catalogue:
        """A table over arrays that only it holds (the native reader's, or
        checked and copied), of every field, one dimension, one length,
        int64 skipped lines: they are made read-only, nothing else checked."""
        table = object.__new__(cls)
        table._columns = {name: _frozen(columns[name]) for name in FIELDS}
        table._skipped = _frozen(skipped)
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
        sets, satellites = len(self), len(numpy.unique(self.satno))
        return (f"<Catalogue: {sets} element set{'' if sets == 1 else 's'} of {satellites}"
                f" satellite{'' if satellites == 1 else 's'}>")

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
        """The same element sets: every field but the provenance (`line`,
        `checksum_ok`, `tle_form`, and `skipped`) with the same bits (NaN equals NaN), in the same order."""
        if not isinstance(other, Catalogue):
            return NotImplemented
        if len(self) != len(other):
            return False
        for name, (kind, _) in FIELDS.items():
            if name in _PROVENANCE:
                continue
            a, b = self._columns[name], other._columns[name]
            if kind == "f":
                a, b = a.view(numpy.int64), b.view(numpy.int64)
            if not numpy.array_equal(a, b):
                return False
        return True

    __hash__ = None  # type: ignore[assignment]

    def select(self, which: ArrayLike) -> Catalogue:
        """The table of the element sets a boolean mask or an index array picks, in that order.

        The result's `skipped` is empty: lines left out when reading belong
        to the text, not to any of its sets, so that the parts of a table put
        together again (``Catalogue.concat(t.groupby_satno().values())``)
        list no line twice.

        Parameters
        ----------
        which : array_like of bool or int, or slice
            A mask of ``len(self)`` entries, or indices (negative from the end).

        Returns
        -------
        Catalogue
        """
        key = self._key(which)
        # The lines left out belong to the text read, not to a part of its sets.
        return Catalogue._of({name: array[key] for name, array in self._columns.items()},
                             numpy.zeros(0, dtype=numpy.int64))

    def _key(self, which: object) -> Any:
        """`which` of ``select`` checked: a slice, a mask of len(self) or indices in range."""
        if isinstance(which, slice):
            return which
        if isinstance(which, (str, bytes, Mapping)) or numpy.ndim(which) == 0:  # type: ignore[arg-type]
            raise TypeError(f"which must be a mask, an array of indices or a slice, not {type(which).__name__}"
                            " (for one set use select([i]))")
        key = numpy.asarray(which)
        if key.ndim != 1:
            raise ValueError(f"which must be one-dimensional, not of shape {key.shape}")
        n = len(self)
        if key.dtype == numpy.bool_:
            if len(key) != n:
                raise ValueError(f"which is a mask of {len(key)} entries for a table of {n}")
            return key
        if key.size == 0:
            return key.astype(numpy.intp)
        if key.dtype.kind not in "iu":
            raise TypeError(f"which must hold booleans or integer indices, not {key.dtype}")
        if key.dtype.kind == "u" and int(key.max()) >= n or key.dtype.kind == "i" and not (
            -n <= int(key.min()) and int(key.max()) < n
        ):
            bad = key[(key >= n) | (key < -n)] if key.dtype.kind == "i" else key[key >= n]
            raise IndexError(f"which holds index {int(bad[0])}, outside a table of {n}")
        return key.astype(numpy.intp)

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
        result = {}
        for satno, table in self.groupby_satno().items():
            named = [(line, name) for line, name in zip(table.line.tolist(), table.name.tolist()) if name]
            records = [_Record(line1, line2) for line1, line2 in table._pairs()]
            result[satno] = ELSET(*records, satname=min(named)[1] if named else None)
        return result

    @classmethod
    def concat(cls, tables: Iterable[Catalogue]) -> Catalogue:
        """One table of several, in the order given; `skipped` is concatenated too."""
        if isinstance(tables, Catalogue) or not isinstance(tables, Iterable):
            raise TypeError(f"tables must be an iterable of Catalogue tables, not {type(tables).__name__}")
        tables = list(tables)
        if not tables:
            raise ValueError("concat needs at least one table")
        for i, table in enumerate(tables):
            if not isinstance(table, Catalogue):
                raise TypeError(f"tables: item {i} is a {type(table).__name__}, not a Catalogue")
        columns = {name: numpy.concatenate([t._columns[name] for t in tables]) for name in FIELDS}
        return cls._of(columns, numpy.concatenate([t._skipped for t in tables]))

    @classmethod
    def from_elements(
        cls,
        satno: ArrayLike,
        epoch: Any,
        inc: ArrayLike,
        raa: ArrayLike,
        ecc: ArrayLike,
        arp: ArrayLike,
        mea: ArrayLike,
        mnm: ArrayLike,
        *,
        bstar: ArrayLike = 0.0,
        ndot: ArrayLike = 0.0,
        nddot: ArrayLike = 0.0,
        name: ArrayLike | None = None,
    ) -> Catalogue:
        """A table of element sets given by their values rather than by text.

        Every argument is a scalar or a one-dimensional array; they are
        broadcast to one length.  The derived elements (`sma`, `orp`, `eca`,
        `tra`, `pge`, `apg`) are computed from the mean elements with the
        kernels and constants the reader uses, so the sets hold the bits of
        the same elements read from text, and a propagator built from the
        table gives the same bits as one built from that text.  The fields
        text would give besides are blank: `classification` and
        `intl_designator` "", `ephemeris_type`, `element_number`,
        `rev_number` and `line` 0.

        Parameters
        ----------
        satno : int or array_like of int
            Satellite numbers (not negative).
        epoch : anything ``Time`` accepts
            The epochs (ISO 8601 text, datetime64, int64 nanoseconds, ``Time``, ...).
        inc, raa, ecc, arp, mea, mnm : float or array_like
            The mean elements in SI units: radians, eccentricity, rad/s.
        bstar, ndot, nddot : float or array_like
            As the table's columns hold them: B* in 1/earth radii, the mean
            motion's derivatives in rev/day^2 and rev/day^3 as published.
        name : str or array_like of str, optional
            Names, at most 128 characters each; "" when not given.

        Returns
        -------
        Catalogue

        Raises
        ------
        TypeError
            For an argument of another type (a float satellite number, text
            for an element, ...), naming it.
        ValueError
            For arrays that do not broadcast to one dimension, a negative
            satellite number, a name too long, an epoch ``Time`` refuses.
        """
        def real(value: object, argument: str) -> NDArray[numpy.float64]:
            array = numpy.asarray(value)
            if array.dtype.kind not in "fiu" or array.dtype.itemsize > 8:
                raise TypeError(f"{argument} must be a real number or an array of them, not {array.dtype}")
            return array.astype(numpy.float64)

        numbers = numpy.asarray(satno)
        if numbers.dtype.kind not in "iu":
            raise TypeError(f"satno must be an integer or an array of integers, not {numbers.dtype}")
        instants = numpy.asarray(Time(epoch).int64, dtype=numpy.int64)
        given = {"satno": numbers, "epoch": instants}
        for argument, value in (("inc", inc), ("raa", raa), ("ecc", ecc), ("arp", arp), ("mea", mea), ("mnm", mnm),
                                ("bstar", bstar), ("ndot", ndot), ("nddot", nddot)):
            given[argument] = real(value, argument)
        names = numpy.asarray("" if name is None else name)
        if names.dtype.kind != "U":
            raise TypeError(f"name must be a str or an array of str, not {names.dtype}")
        given["name"] = names
        try:
            arrays = numpy.broadcast_arrays(*given.values())
        except ValueError:
            shapes = ", ".join(f"{k} {numpy.shape(v)}" for k, v in given.items())
            raise ValueError(f"the arguments do not broadcast to one length: {shapes}") from None
        if arrays[0].ndim > 1:
            raise ValueError(f"the arguments broadcast to shape {arrays[0].shape}, not one dimension")
        columns = {key: numpy.atleast_1d(array) for key, array in zip(given, arrays)}
        n = len(columns["satno"])
        defaults = {"i": numpy.zeros(n, dtype=numpy.int64), "f": numpy.zeros(n), "U": numpy.full(n, "", dtype="<U1"),
                    "b": numpy.ones(n, dtype=numpy.bool_), "u": numpy.zeros(n, dtype=numpy.uint8)}
        for field, (kind, _) in FIELDS.items():
            if field not in columns:
                columns[field] = defaults[kind]
        columns.update(derived_elements(columns["mnm"], columns["mea"], columns["ecc"]))
        return cls._checked(columns, (), copy=True)

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
            339999, an epoch outside 1957-2056, ...), naming the set; with
            `path`, for a name holding a control character (a line break
            would end the name line and start another), naming the set.
        """
        pairs = self._pairs()
        if path is None:
            return pairs
        names = self._columns["name"].tolist()
        for i, name in enumerate(names):
            control = _CONTROL.search(name)
            if control:
                raise ValueError(f"set {i}: name {name!r} holds the control character U+{ord(control.group()):04X},"
                                 " which a name line cannot hold")
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            for name, (line1, line2) in zip(names, pairs):
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

        Raises
        ------
        ValueError
            For a NaN or infinite value (which the OMM reader, taking plain
            decimal numbers only, would refuse), naming the set; nothing is
            written then.
        """
        _omm.check_writable(self._columns, _units())
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
