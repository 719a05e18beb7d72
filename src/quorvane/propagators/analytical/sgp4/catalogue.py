"""Reading catalogues of element sets.

Two ways in:

- ``read_catalogue`` reads a whole catalogue into a ``Catalogue``: one NumPy
  array per field over all element sets, built natively on all cores without
  a Python object per set.  Two- and three-line text and the CCSDS Orbit
  Mean-elements Message (OMM) as CSV or JSON are understood.
- ``read_records``, ``read_elsets`` and ``iter_entries`` give ``DUOLINE``
  records and ``ELSET`` element sets, one Python object per set.

Element sets known by their values rather than by text make a table with
``Catalogue.from_elements``.

Text may use LF, CRLF or CR line ends, UTF-8 with or without a byte-order
mark (names that are not UTF-8 are read as Latin-1); blank lines and lines
starting with "#" are skipped; a name line may carry the prefix "0 ".  A
name (as OMM's OBJECT_NAME) has at most 128 characters: the table's name
column is as wide as its longest name, so a longer one is a fault of its
line, not a cost to every set.

>>> table = read_catalogue("stations.tle")                     # doctest: +SKIP
>>> table.satno[:3], table.sma[:3]                              # doctest: +SKIP
>>> sets = read_elsets("stations.tle")                          # doctest: +SKIP
>>> sets[25544].satname                                         # doctest: +SKIP
'ISS (ZARYA)'

Reading many files on a Dask cluster gives exactly the table of reading them
in one process, since a table pickles as its arrays::

    from dask.distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, processes=True) as cluster, Client(cluster) as client:
        tables = client.gather(client.map(read_catalogue, paths))
    table = Catalogue.concat(tables)
"""

from __future__ import annotations

import itertools
import os
import re
from collections.abc import Iterator
from typing import Any, cast

import numpy
from numpy.typing import NDArray

from quorvane.propagators.analytical.sgp4 import _catalogue, _omm
from quorvane.propagators.analytical.sgp4._record import NAME_LENGTH, _Record
from quorvane.propagators.analytical.sgp4._sources import FORMATS, Source, sniff, source_bytes, text_of
from quorvane.propagators.analytical.sgp4._table import Catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET

__all__ = ["Catalogue", "read_catalogue", "iter_entries", "read_records", "read_elsets"]


def read_catalogue(
    source: Source,
    *,
    format: str = "auto",
    strict: bool = False,
    errors: str = "raise",
    threads: int | None = None,
) -> Catalogue:
    """Read every element set of a catalogue into a columnar table.

    Parameters
    ----------
    source : str, os.PathLike, bytes-like, file or iterable of lines
        A path; a ``str`` holding the text itself (recognised by its line
        breaks); ``bytes``; an open file; or the lines (str or bytes).
    format : {"auto", "tle", "csv", "json"}
        Two- or three-line text ("tle"), or OMM as CSV or JSON.  "auto"
        looks at the start of the text.
    strict : bool
        Validate every two-line set as ``DUOLINE(..., strict_validation=True)``
        does (columns, ranges, checksums); the default reads as leniently as
        the record.
    errors : {"raise", "skip"}
        "raise": a line that cannot be paired, a set that cannot be converted,
        a name longer than 128 characters or a malformed OMM row raises
        ValueError naming its line (or row) and the fault, and no table is
        returned.  "skip": such sets are left out and their line numbers
        listed in ``table.skipped`` (for a long name, its line).
    threads : int or None
        Threads for large texts; None uses every processor available.  The
        table is the same whatever the number.

    Returns
    -------
    Catalogue
        The element sets in file order.

    Raises
    ------
    ValueError
        For malformed input as described under `errors`, and for an unknown
        `format` or `errors` value; for a ``str`` without a line break (so
        taken as a file name) that names no file and looks like JSON text, or
        is too long for a file name.
    TypeError
        For a source of another type.
    """
    if format not in FORMATS:
        raise ValueError(f"format must be one of {', '.join(map(repr, FORMATS))}, not {format!r}")
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors must be 'raise' or 'skip', not {errors!r}")
    skip = errors == "skip"
    with source_bytes(_source(source)) as data:
        kind = sniff(data) if format == "auto" else format
        if kind == "tle":
            return Catalogue._of(*_read_tle(data, strict, skip, threads))
        if kind == "csv":
            columns, skipped = _omm.read_csv(text_of(data), skip, threads)
        else:
            columns, skipped = _omm.read_json(text_of(data), skip, threads)
    return Catalogue(columns, skipped)


def _source(source: Source) -> Source:
    """`source`, refused when it is a str taken as a file name (it has no
    line break) that cannot be one: JSON text on one line, or a text too
    long for a file name (rather than the system's "File name too long")."""
    if isinstance(source, str) and "\n" not in source and "\r" not in source and not os.path.exists(source):
        shown = repr(source) if len(source) <= 40 else f"{source[:40]!r}... ({len(source)} characters)"
        if source.lstrip()[:1] in ("{", "["):
            raise ValueError(f"source {shown} is taken as a file name (a str without a line break), and no such"
                             " file exists; it looks like JSON: pass the text as bytes, or with a line break")
        if any(len(part.encode("utf-8", "surrogateescape")) > 255 for part in source.split(os.sep)) or (
            len(source.encode("utf-8", "surrogateescape")) >= 4096
        ):
            raise ValueError(f"source {shown} is taken as a file name (a str without a line break), and is too"
                             " long for one; pass text as bytes, or with a line break")
    return source


def _read_tle(data: Any, strict: bool, skip: bool, threads: int | None) -> tuple[dict[str, NDArray[Any]],
                                                                                   NDArray[numpy.int64]]:
    """The native reader's columns, with names bounded to NAME_LENGTH
    characters: a longer name is a fault of its line.

    The name column is as wide as the longest name, for every set, so long
    names are found before the text is read: lines are looked at only when
    some stretch of the text without a line feed is longer than a name line
    can be (a quick pass over the bytes)."""
    long: list[tuple[int, int]] = []
    if _longest_run_without_lf(data) > NAME_LENGTH + 1:
        lines = _lines(data)
        long = _long_names(lines)
        if long and not skip:
            line, length = long[0]
            raise ValueError(f"line {line}: {_too_long(length)}")
        if long:
            # The long names and the sets they name left out: their lines
            # blanked (the others keep their numbers).
            for line, _ in long:
                lines[line - 1] = b""
                following = list(itertools.islice((k for k in range(line, len(lines)) if _content(lines[k])), 2))
                if [lines[k].strip()[:2] for k in following] == [b"1 ", b"2 "]:
                    for k in following:
                        lines[k] = b""
            data = b"\n".join(lines)
    columns, skipped = _catalogue.read_tle(data, strict=strict, skip=skip, threads=threads)
    if columns["name"].dtype.itemsize > 4 * NAME_LENGTH:
        # A name the line test above did not find (it should not happen):
        # a fault of its set's line.
        lengths = numpy.char.str_len(columns["name"])
        if not skip:
            row = int(numpy.argmax(lengths > NAME_LENGTH))
            raise ValueError(f"line {int(columns['line'][row])}: {_too_long(int(lengths[row]))}")
        keep = lengths <= NAME_LENGTH
        long += [(int(line), 0) for line in columns["line"][~keep]]
        columns = {name: array[keep] for name, array in columns.items()}
        columns["name"] = columns["name"].astype(f"<U{max(1, int(lengths[keep].max(initial=0)))}")
    if long:
        skipped = numpy.union1d(skipped, [line for line, _ in long]).astype(numpy.int64)
    return columns, skipped


def _too_long(length: int) -> str:
    return f"name of {length} characters is longer than the {NAME_LENGTH} a name may have"


def _longest_run_without_lf(data: Any, chunk: int = 1 << 24) -> int:
    """The most bytes between two line feeds (or an end) of a text."""
    if len(data) <= NAME_LENGTH:
        return len(data)
    array = numpy.frombuffer(data, dtype=numpy.uint8)
    longest, last = 0, -1
    for start in range(0, len(array), chunk):
        feeds = numpy.flatnonzero(array[start : start + chunk] == 10)
        if len(feeds):
            longest = max(longest, start + int(feeds[0]) - last, int(numpy.diff(feeds).max(initial=0)))
            last = start + int(feeds[-1])
    return max(longest, len(array) - last)


def _lines(data: Any) -> list[bytes]:
    """The lines of a text (line k at index k - 1), split at LF, CRLF and CR."""
    return re.split(rb"\r\n|\r|\n", bytes(data))


def _content(line: bytes) -> bool:
    """Whether a line is neither blank nor a comment."""
    text = line.strip()
    return bool(text) and not text.startswith(b"#")


def _long_names(lines: list[bytes]) -> list[tuple[int, int]]:
    """(line number, length) of each name line over NAME_LENGTH characters,
    in file order: a line that is no element line ("1 ", "2 "), comment or
    blank, read as the reader reads names (UTF-8, else Latin-1; blanks and
    a "0 " prefix dropped)."""
    long = []
    for number, line in enumerate(lines, start=1):
        if number == 1 and line.startswith(b"\xef\xbb\xbf"):
            line = line[3:]
        if len(line) <= NAME_LENGTH or not _content(line) or line.strip()[:2] in (b"1 ", b"2 "):
            continue
        try:
            name = line.decode("utf-8")
        except UnicodeDecodeError:
            name = line.decode("latin-1")
        name = name.strip()
        if name.startswith("0 "):
            name = name[2:].strip()
        if len(name) > NAME_LENGTH:
            long.append((number, len(name)))
    return long


# ---------------------------------------------------------------- records and element sets


def _entries(source: Source, strict: bool, record: type[DUOLINE]) -> Iterator[tuple[str | None, DUOLINE, int]]:
    with source_bytes(_source(source)) as data:
        entries = _catalogue.tle_entries(data)
    for name, line1, line2, number in entries:
        try:
            yield name, record(line1, line2, strict), number
        except (ValueError, OverflowError) as error:
            # OverflowError: an epoch beyond the record's range ("08 1e300").
            raise ValueError(f"line {number}: {error}") from None


def iter_entries(source: Source, *, strict: bool = False) -> Iterator[tuple[str | None, DUOLINE]]:
    """Yield (name, record) for each element set of a catalogue, in file order.

    `name` is the name line of the three-line form (without a leading "0 "),
    or None for a set in two-line form.  Parameters and errors are those of
    `read_records`.
    """
    for name, record, _ in _entries(source, strict, DUOLINE):
        yield name, record


def read_records(source: Source, *, strict: bool = False) -> list[DUOLINE]:
    """Read every element set of a two- or three-line catalogue as `DUOLINE` records, in file order.

    Parameters
    ----------
    source : str, os.PathLike, bytes-like, file or iterable of lines
        As for `read_catalogue`.
    strict : bool
        Build each record with ``strict_validation=True``.

    Returns
    -------
    list of DUOLINE

    Raises
    ------
    ValueError
        When a line cannot be paired: a line 1 without its line 2, a line 2
        before any line 1, a pair whose satellite numbers differ, or a name
        line not followed by a set; or, with `strict`, when a set fails
        validation.  The message starts with the line number in the source.
    """
    return [record for _, record, _ in _entries(source, strict, DUOLINE)]


def read_elsets(source: Source, *, strict: bool = False) -> dict[int, ELSET]:
    """Read a two- or three-line catalogue into one `ELSET` per satellite number.

    The element sets are keyed by the satellite number as an integer (an
    Alpha-5 number decoded, "A0001" is 100001; a blank number is 0), in the
    order of each satellite's first appearance; each is named after the first
    name line (three-line form) given for that satellite, else unnamed.
    Records keep file order until `ELSET` sorts them by epoch.

    Parameters and errors are those of `read_records`; a satellite number that
    is neither decimal nor Alpha-5 is a ValueError naming its line too.
    """
    groups: dict[int, list[DUOLINE]] = {}
    names: dict[int, str | None] = {}
    for name, record, number in _entries(source, strict, _Record):
        try:
            key = cast(int, record.satno)
        except ValueError as error:
            raise ValueError(f"line {number}: {error}") from None
        groups.setdefault(key, []).append(record)
        if names.get(key) is None:
            names[key] = name
    return {key: ELSET(*records, satname=names[key]) for key, records in groups.items()}
