"""Reading catalogues of two-line element sets.

A catalogue is text in two-line form (line 1 and line 2 of each set) or
three-line form (a name line before each pair), as published by element-set
providers.  Blank lines are skipped; line endings may be LF or CRLF.

>>> records = read_records("stations.tle")                      # doctest: +SKIP
>>> sets = read_elsets("stations.tle")                          # doctest: +SKIP
>>> sets[25544].satname                                         # doctest: +SKIP
'ISS (ZARYA)'
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET

__all__ = ["iter_entries", "read_records", "read_elsets"]

Source = str | os.PathLike[str] | Iterable[str]


def _lines(source: Source) -> Iterator[str]:
    """The lines of a path, of a text holding line breaks, or of an iterable."""
    if isinstance(source, os.PathLike) or (isinstance(source, str) and "\n" not in source):
        with open(source, encoding="utf-8", newline=None) as handle:
            yield from handle
    elif isinstance(source, str):
        yield from source.splitlines()
    else:
        yield from source


def _satno_field(line: str) -> str:
    return line[2:7].strip().upper()


def iter_entries(source: Source) -> Iterator[tuple[str | None, DUOLINE]]:
    """Yield (name, record) for each element set of a catalogue, in file order.

    `name` is the name line of the three-line form (without a leading "0 "),
    or None for a set in two-line form.  Errors are those of `read_records`.
    """
    name: str | None = None
    line1: str | None = None
    line1_number = 0
    for number, raw in enumerate(_lines(source), start=1):
        line = raw.strip()
        if not line:
            continue
        if line.startswith("1 ") or line == "1":
            if line1 is not None:
                raise ValueError(f"line {line1_number}: line 1 is not followed by its line 2")
            line1, line1_number = line, number
        elif line.startswith("2 ") or line == "2":
            if line1 is None:
                raise ValueError(f"line {number}: line 2 without a preceding line 1")
            if _satno_field(line) != _satno_field(line1):
                raise ValueError(
                    f"line {number}: satellite number {_satno_field(line)!r} of line 2 does not match "
                    f"{_satno_field(line1)!r} of line 1 (line {line1_number})"
                )
            yield name, DUOLINE(line1, line)
            name, line1 = None, None
        else:
            if line1 is not None:
                raise ValueError(f"line {line1_number}: line 1 is not followed by its line 2")
            # Three-line form; some providers prefix the name with "0 ".
            name = line[2:].strip() if line.startswith("0 ") else line
    if line1 is not None:
        raise ValueError(f"line {line1_number}: line 1 is not followed by its line 2")


def read_records(source: Source) -> list[DUOLINE]:
    """Read every element set of a catalogue as `DUOLINE` records, in file order.

    Parameters
    ----------
    source : str, os.PathLike or iterable of str
        A path, a text containing line breaks, or lines (such as an open file).

    Returns
    -------
    list of DUOLINE

    Raises
    ------
    ValueError
        When a line cannot be paired: a line 1 without its line 2, a line 2
        before any line 1, or a pair whose satellite numbers differ.  The
        message starts with the line number in the source.
    """
    return [record for _, record in iter_entries(source)]


def read_elsets(source: Source) -> dict[int | str, ELSET]:
    """Read a catalogue into one `ELSET` per satellite number.

    The element sets are keyed by satellite number (`DUOLINE.satno`), in the
    order of each satellite's first appearance; each is named after the first
    name line (three-line form) given for that satellite, else unnamed.
    Records keep file order until `ELSET` sorts them by epoch.

    Parameters and errors are those of `read_records`.
    """
    groups: dict[int | str, list[DUOLINE]] = {}
    names: dict[int | str, str | None] = {}
    for name, record in iter_entries(source):
        key = record.satno
        groups.setdefault(key, []).append(record)
        if names.get(key) is None:
            names[key] = name
    return {key: ELSET(*records, satname=names[key]) for key, records in groups.items()}
