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

From the project's root directory (the documentation's catalogue page runs
these):

>>> table = read_catalogue("examples/data/stations.tle")       # doctest: +SKIP
>>> table                                                       # doctest: +SKIP
<Catalogue: 12 element sets of 6 satellites>
>>> table.satno[:3], table.sma[:3]                              # doctest: +SKIP
(array([25544, 25544, 25544]), array([6795001.62658229, 6730960.67693684, 6794993.69446548]))
>>> sets = read_elsets("examples/data/stations.tle")            # doctest: +SKIP
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

import os
from collections.abc import Iterator
from typing import cast

from quorvane.propagators.analytical.sgp4 import _catalogue, _omm
from quorvane.propagators.analytical.sgp4._record import _Record
from quorvane.propagators.analytical.sgp4._sources import FORMATS, Source, no_sets_found, sniff, source_bytes, text_of
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
        does (columns, ranges, checksums).  By default a set is read as
        leniently as the record reads it once its fixed-column layout holds
        (each line long enough for its fields, separators blank, decimal
        points, signs and digits in their columns: a dropped or inserted
        character would shift every field after it); a wrong checksum is
        accepted and shown in the column ``checksum_ok``.
    errors : {"raise", "skip"}
        "raise": a line that cannot be paired, a set whose layout is broken or
        that cannot be converted, a name longer than 128 characters or a
        malformed OMM row raises ValueError naming its line (or row), the
        column and the fault, and no table is returned.  "skip": such sets
        are left out and their line numbers listed in ``table.skipped`` (for
        a long name, its line).
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
            try:
                columns, skipped = _catalogue.read_tle(data, strict=strict, skip=skip, threads=threads)
            except ValueError:
                if message := no_sets_found(data):
                    raise ValueError(message) from None
                raise
            if len(skipped) and not len(columns["satno"]) and (message := no_sets_found(data)):
                raise ValueError(message)
            return Catalogue._of(columns, skipped)
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


# ---------------------------------------------------------------- records and element sets


def _entries(source: Source, strict: bool, record: type[DUOLINE]) -> Iterator[tuple[str | None, DUOLINE, int]]:
    with source_bytes(_source(source)) as data:
        entries = _catalogue.tle_entries(data, strict=strict)
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
        line not followed by a set; when an element line holds a character
        outside ASCII or breaks the fixed-column layout (as for
        `read_catalogue`); or, with `strict`, when a set fails validation.
        The message starts with the line number in the source.
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
