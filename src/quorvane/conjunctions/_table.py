"""The columnar result tables of the screener: small classes over a dict of
NumPy arrays."""

from __future__ import annotations

from typing import Any, ClassVar

import numpy
from numpy.typing import NDArray


class _Columns:
    """Columns of equal length, read-only arrays; equality is bit equality of
    every column."""

    _names: ClassVar[tuple[str, ...]] = ()
    _dtypes: ClassVar[dict[str, str]] = {}

    def __init__(self, columns: dict[str, NDArray[Any]]) -> None:
        own: dict[str, NDArray[Any]] = {}
        for name in self._names:
            array = numpy.ascontiguousarray(columns[name], dtype=self._dtypes[name])
            array.setflags(write=False)
            own[name] = array
        lengths = {len(a) for a in own.values()}
        if len(lengths) > 1:
            raise ValueError(f"columns of different lengths: {sorted(lengths)}")
        self._columns = own

    def __getattr__(self, name: str) -> NDArray[Any]:
        columns = self.__dict__.get("_columns")
        if columns is not None and name in columns:
            return columns[name]  # type: ignore[no-any-return]
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    def __len__(self) -> int:
        return len(self._columns[self._names[0]])

    @property
    def columns(self) -> dict[str, NDArray[Any]]:
        """dict[str, ndarray]: the columns by name (a new dict of the read-only arrays)."""
        return dict(self._columns)

    def _bits(self, other: _Columns) -> bool:
        for name in self._names:
            a, b = self._columns[name], other._columns[name]
            if a.shape != b.shape or a.tobytes() != b.tobytes():
                return False
        return True

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return self._bits(other)

    __hash__ = None  # type: ignore[assignment]

    def _frame_columns(self) -> dict[str, NDArray[Any]]:
        return dict(self._columns)

    def to_pandas(self) -> Any:
        """The table as a pandas DataFrame (one column per field)."""
        import pandas  # type: ignore[import-untyped,unused-ignore]

        return pandas.DataFrame(self._frame_columns())

    def __getstate__(self) -> dict[str, Any]:
        return {"columns": self._columns}

    def __setstate__(self, state: dict[str, Any]) -> None:
        _Columns.__init__(self, state["columns"])

    def __repr__(self) -> str:
        n = len(self)
        head = f"<{type(self).__name__}: {n} row{'s' if n != 1 else ''}"
        if n == 0:
            return head + ">"
        lines = [head + ", first rows:"]
        for i in range(min(n, 5)):
            lines.append("  " + ", ".join(f"{name}={self._cell(name, i)}" for name in self._names))
        if n > 5:
            lines.append("  ...")
        return "\n".join(lines) + ">"

    def _cell(self, name: str, i: int) -> str:
        value = self._columns[name][i]
        if isinstance(value, numpy.ndarray):
            return "[" + ", ".join(f"{x:.1f}" for x in value) + "]"
        if isinstance(value, numpy.floating):
            return f"{value:.3f}"
        return str(value)


class Failures(_Columns):
    """Objects that could not be propagated over the whole window, one row
    each: ``source`` (0 for the screened source, 1 for ``against``),
    ``index`` (its row in that source), ``satno``, ``code`` (the first
    nonzero SGP4 error code at the screening's grid samples) and ``time``
    (``datetime64[ns]``, the instant of that sample).  The object is screened
    up to the grid step before that sample; events before it are kept."""

    _names = ("source", "index", "satno", "code", "time")
    _dtypes = {"source": "int64", "index": "int64", "satno": "int64", "code": "int64", "time": "datetime64[ns]"}


class Conjunctions(_Columns):
    """Conjunctions found by :func:`quorvane.conjunctions.screen`, one row per
    event, sorted by ``tca`` (ties: ``primary_index``, ``secondary_index``).

    Columns (attributes): ``primary``, ``secondary`` (satellite numbers,
    int64), ``primary_index``, ``secondary_index`` (rows of the sources),
    ``tca`` (``datetime64[ns]``, time of closest approach), ``miss_distance``
    (m), ``relative_speed`` (m/s) and ``rtn`` ((k, 3), m: the secondary's
    position relative to the primary in the primary's radial, along-track and
    cross-track directions).  ``failed`` is a :class:`Failures` table.
    Equality is bit equality of every column, ``failed`` included.
    """

    _names = ("primary", "secondary", "primary_index", "secondary_index", "tca", "miss_distance",
              "relative_speed", "rtn")
    _dtypes = {"primary": "int64", "secondary": "int64", "primary_index": "int64", "secondary_index": "int64",
               "tca": "datetime64[ns]", "miss_distance": "float64", "relative_speed": "float64", "rtn": "float64"}

    def __init__(self, columns: dict[str, NDArray[Any]], failed: Failures | None = None) -> None:
        columns = dict(columns)
        columns["rtn"] = numpy.asarray(columns["rtn"], dtype=numpy.float64).reshape(-1, 3)
        super().__init__(columns)
        self._failed = failed if failed is not None else _empty_failures()
        self._stats: dict[str, Any] = {}

    @property
    def failed(self) -> Failures:
        """Failures: the objects that failed to propagate within the window."""
        return self._failed

    def __eq__(self, other: object) -> bool:
        if type(other) is not Conjunctions:
            return NotImplemented
        return self._bits(other) and self._failed == other._failed

    __hash__ = None

    def _frame_columns(self) -> dict[str, NDArray[Any]]:
        out = {name: a for name, a in self._columns.items() if name != "rtn"}
        rtn = self._columns["rtn"]
        out["rtn_r"], out["rtn_t"], out["rtn_n"] = rtn[:, 0], rtn[:, 1], rtn[:, 2]
        return out

    def __getstate__(self) -> dict[str, Any]:
        return {"columns": self._columns, "failed": self._failed}

    def __setstate__(self, state: dict[str, Any]) -> None:
        Conjunctions.__init__(self, state["columns"], state["failed"])


def _empty_failures() -> Failures:
    return Failures({name: numpy.empty(0, dtype) for name, dtype in Failures._dtypes.items()})
