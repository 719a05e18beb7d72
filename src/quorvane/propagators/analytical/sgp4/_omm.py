"""The CCSDS Orbit Mean-elements Message (OMM) for general-perturbations
element sets, as CSV and JSON: reading into columns and writing CSV.

Values are taken as the published text gives them: numbers must be plain
decimal numbers in ASCII digits (with an optional exponent), converted to the
correctly rounded double, which is what the C library's strtod and the two-line
parser give for the same text.  The mean elements then go through the
record's own arithmetic (native, ``_catalogue.from_published``), so a set
published as OMM and as two lines with the same digits gives the same bits.
In JSON a number may be given as a number or as a string holding one; the
text fields (OBJECT_NAME, OBJECT_ID, EPOCH, CLASSIFICATION_TYPE) must be
strings.

A row that cannot be read (a malformed value, an integer beyond 64 bits, an
epoch outside the nanosecond range of 1677-2262, a name over 128 characters,
a CSV cell over the csv module's field limit of 128 KiB, a JSON object nested
too deeply to parse) is a ValueError naming the row, or is skipped under
errors="skip".
"""

from __future__ import annotations

import csv
import datetime
import io
import json
import re
from collections.abc import Callable, Iterator, Mapping
from typing import Any

import numpy
from numpy.typing import NDArray

from quorvane.propagators.analytical.sgp4 import _catalogue
from quorvane.propagators.analytical.sgp4._record import NAME_LENGTH

KEYS = (
    "OBJECT_NAME",
    "OBJECT_ID",
    "EPOCH",
    "MEAN_MOTION",
    "ECCENTRICITY",
    "INCLINATION",
    "RA_OF_ASC_NODE",
    "ARG_OF_PERICENTER",
    "MEAN_ANOMALY",
    "EPHEMERIS_TYPE",
    "CLASSIFICATION_TYPE",
    "NORAD_CAT_ID",
    "ELEMENT_SET_NO",
    "REV_AT_EPOCH",
    "BSTAR",
    "MEAN_MOTION_DOT",
    "MEAN_MOTION_DDOT",
)
# Keys a row cannot do without; the others default to "", 0 or "U"-less blanks.
REQUIRED = ("EPOCH", "MEAN_MOTION", "ECCENTRICITY", "INCLINATION", "RA_OF_ASC_NODE", "ARG_OF_PERICENTER",
            "MEAN_ANOMALY", "NORAD_CAT_ID")

# Digits are ASCII digits only (re.ASCII: \d would take any Unicode digit).
_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?", re.ASCII)
_INTEGER = re.compile(r"[+-]?\d+", re.ASCII)
_EPOCH = re.compile(r"(\d{4})-(\d{2})-(\d{2})[T ](\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,9}))?Z?", re.ASCII)
_OBJECT_ID = re.compile(r"(\d{4})-(\d{3})([A-Z]{0,3})", re.ASCII)
_DESIGNATOR = re.compile(r"(\d{2})(\d{3})([A-Z]{0,3})", re.ASCII)
# Blanks around a value: ASCII white space only.
_BLANKS = " \t\n\r\f\v"
_INT64_MIN, _INT64_MAX = -(2**63), 2**63 - 1
# Keys whose values are text; a JSON number or other value there is refused.
_TEXT_KEYS = ("OBJECT_NAME", "OBJECT_ID", "EPOCH", "CLASSIFICATION_TYPE")
_UNIX_EPOCH_ORDINAL = datetime.date(1970, 1, 1).toordinal()
_NS_PER_DAY = 86_400_000_000_000


class RowError(ValueError):
    """A malformed row; the message names the row."""


class _JsonNumber(str):
    """A JSON number, kept as its text (converted like a CSV cell), but told
    apart from a JSON string."""

    __slots__ = ()


def _number(value: str, key: str) -> float:
    text = value.strip(_BLANKS)
    if not _NUMBER.fullmatch(text):
        raise ValueError(f"{key} {_shown(value)} is not a number")
    return float(text)


def _integer(value: str, key: str) -> int:
    text = value.strip(_BLANKS)
    if not _INTEGER.fullmatch(text):
        raise ValueError(f"{key} {_shown(value)} is not an integer")
    # More than 19 digits (after leading zeros) is beyond 64 bits; int()
    # would refuse thousands of digits with a message of its own.
    digits = text.lstrip("+-").lstrip("0")
    number = int(text) if len(digits) <= 19 else None
    if number is None or not _INT64_MIN <= number <= _INT64_MAX:
        raise ValueError(f"{key} {_shown(value)} lies outside the 64-bit integer range")
    return number


def _shown(value: str) -> str:
    """A value for a message: its repr, cut to a readable length."""
    return repr(value) if len(value) <= 40 else f"{value[:40]!r}... ({len(value)} characters)"


def epoch_ns(text: str) -> int:
    """Nanoseconds since 1970 of an OMM epoch "YYYY-MM-DDThh:mm:ss[.f]" (UTC), exact."""
    match = _EPOCH.fullmatch(text.strip(_BLANKS))
    if not match:
        raise ValueError(f"EPOCH {_shown(text)} is not a date and time YYYY-MM-DDThh:mm:ss[.fraction]")
    year, month, day, hour, minute, second = (int(g) for g in match.groups()[:6])
    try:
        days = datetime.date(year, month, day).toordinal() - _UNIX_EPOCH_ORDINAL
    except ValueError:
        raise ValueError(f"EPOCH {text!r} is not a valid date") from None
    if hour > 23 or minute > 59 or second > 60:
        raise ValueError(f"EPOCH {text!r} is not a valid time of day")
    fraction = (match.group(7) or "").ljust(9, "0")
    ns = days * _NS_PER_DAY + ((hour * 60 + minute) * 60 + second) * 1_000_000_000 + int(fraction)
    # Epochs are int64 nanoseconds, the smallest of which is NaT.
    if not _INT64_MIN < ns <= _INT64_MAX:
        raise ValueError(f"EPOCH {text!r} lies outside the nanosecond range 1677-09-21T00:12:43.145224193"
                         " .. 2262-04-11T23:47:16.854775807")
    return ns


def epoch_text(ns: int) -> str:
    """The OMM epoch of nanoseconds since 1970: microseconds, or nanoseconds when needed."""
    days, rest = divmod(ns, _NS_PER_DAY)
    date = datetime.date.fromordinal(days + _UNIX_EPOCH_ORDINAL)
    seconds, nanoseconds = divmod(rest, 1_000_000_000)
    hours, seconds = divmod(seconds, 3600)
    minutes, seconds = divmod(seconds, 60)
    fraction = f"{nanoseconds // 1000:06d}" if nanoseconds % 1000 == 0 else f"{nanoseconds:09d}"
    return f"{date.isoformat()}T{hours:02d}:{minutes:02d}:{seconds:02d}.{fraction}"


def designator_from_object_id(text: str) -> str:
    """OBJECT_ID "1998-067A" as the two-line designator "98067A"; other text stays as it is."""
    text = text.strip(_BLANKS)
    match = _OBJECT_ID.fullmatch(text)
    return f"{match.group(1)[2:]}{match.group(2)}{match.group(3)}" if match else text


def object_id_from_designator(text: str) -> str:
    """The two-line designator "98067A" as OBJECT_ID "1998-067A" (57-99: 1957-1999)."""
    match = _DESIGNATOR.fullmatch(text)
    if not match:
        return text
    year = int(match.group(1))
    return f"{1900 + year if year >= 57 else 2000 + year}-{match.group(2)}{match.group(3)}"


class _Columns:
    """Values of the rows read so far, one list per field."""

    def __init__(self) -> None:
        self.ints: dict[str, list[int]] = {k: [] for k in ("satno", "epoch", "ephemeris_type", "element_number",
                                                          "rev_number", "line")}
        self.floats: dict[str, list[float]] = {k: [] for k in ("ndot", "nddot", "bstar", "inc", "raa", "ecc",
                                                              "arp", "mea", "mnm")}
        self.texts: dict[str, list[str]] = {k: [] for k in ("name", "classification", "intl_designator")}

    def add(self, row: Mapping[str, Any], line: int) -> None:
        def get(key: str) -> str:
            value = row.get(key)
            if value is None or (isinstance(value, str) and not value.strip(_BLANKS)):
                if key in REQUIRED:
                    raise ValueError(f"{key} is missing")
                return ""
            if key in _TEXT_KEYS:
                if not isinstance(value, str) or isinstance(value, _JsonNumber):
                    raise ValueError(f"{key} must be a string, not {_json_type(value)}")
            elif not isinstance(value, str):
                raise ValueError(f"{key} must be a number (or a string holding one), not {_json_type(value)}")
            return value

        ints = {
            "satno": _integer(get("NORAD_CAT_ID"), "NORAD_CAT_ID"),
            "epoch": epoch_ns(get("EPOCH")),
            "ephemeris_type": _integer(get("EPHEMERIS_TYPE") or "0", "EPHEMERIS_TYPE"),
            "element_number": _integer(get("ELEMENT_SET_NO") or "0", "ELEMENT_SET_NO"),
            "rev_number": _integer(get("REV_AT_EPOCH") or "0", "REV_AT_EPOCH"),
            "line": line,
        }
        keys = {"ndot": "MEAN_MOTION_DOT", "nddot": "MEAN_MOTION_DDOT", "bstar": "BSTAR", "inc": "INCLINATION",
                "raa": "RA_OF_ASC_NODE", "ecc": "ECCENTRICITY", "arp": "ARG_OF_PERICENTER", "mea": "MEAN_ANOMALY",
                "mnm": "MEAN_MOTION"}
        floats = {field: _number(get(key) or "0", key) for field, key in keys.items()}
        if ints["satno"] < 0:
            raise ValueError(f"NORAD_CAT_ID {ints['satno']} is negative")
        classification = get("CLASSIFICATION_TYPE").strip(_BLANKS)
        if len(classification) > 1:
            raise ValueError(f"CLASSIFICATION_TYPE {classification!r} is not one letter")
        designator = designator_from_object_id(get("OBJECT_ID"))
        if len(designator) > 8:
            raise ValueError(f"OBJECT_ID {_shown(get('OBJECT_ID'))} does not fit the designator's eight characters")
        name = get("OBJECT_NAME").strip()
        if len(name) > NAME_LENGTH:
            raise ValueError(f"OBJECT_NAME of {len(name)} characters is longer than the {NAME_LENGTH} a name may have")
        # All converted: only now does the row join the columns.
        for key, value in ints.items():
            self.ints[key].append(value)
        for key, number in floats.items():
            self.floats[key].append(number)
        self.texts["name"].append(name)
        self.texts["classification"].append(classification)
        self.texts["intl_designator"].append(designator)

    def arrays(self, threads: int | None) -> dict[str, NDArray[Any]]:
        columns: dict[str, NDArray[Any]] = {k: numpy.array(v, dtype=numpy.int64) for k, v in self.ints.items()}
        for key in ("ndot", "nddot", "bstar"):
            columns[key] = numpy.array(self.floats[key], dtype=numpy.float64)
        published = [numpy.array(self.floats[k], dtype=numpy.float64) for k in ("inc", "raa", "ecc", "arp", "mea", "mnm")]
        columns.update(_catalogue.from_published(*published, threads=threads))
        columns["name"] = numpy.array(self.texts["name"], dtype=f"<U{max([1, *map(len, self.texts['name'])])}")
        columns["classification"] = numpy.array(self.texts["classification"], dtype="<U1")
        columns["intl_designator"] = numpy.array(self.texts["intl_designator"], dtype="<U8")
        return columns


def _read(rows: Iterator[tuple[int, Mapping[str, Any]]], what: Callable[[int], str], skip: bool,
          threads: int | None) -> tuple[dict[str, NDArray[Any]], NDArray[numpy.int64]]:
    columns = _Columns()
    skipped: list[int] = []
    for line, row in rows:
        try:
            if not isinstance(row, Mapping):
                raise ValueError(f"is a {type(row).__name__}, not an object")
            columns.add(row, line)
        except ValueError as error:
            if not skip:
                raise RowError(f"{what(line)}: {error}") from None
            skipped.append(line)
    return columns.arrays(threads), numpy.array(skipped, dtype=numpy.int64)


def read_csv(text: str, skip: bool, threads: int | None) -> tuple[dict[str, NDArray[Any]], NDArray[numpy.int64]]:
    """Columns of OMM CSV text (a header row with the keys, one row per set)."""
    reader = csv.reader(io.StringIO(text, newline=""))
    header: list[str] | None = None
    try:
        for header in reader:
            if any(cell.strip() for cell in header):
                break
    except csv.Error as error:
        raise ValueError(f"line {reader.line_num}: the header cannot be read as CSV: {error}") from None
    if header is None:
        return _Columns().arrays(None), numpy.empty(0, dtype=numpy.int64)
    header = [cell.strip().upper() for cell in header]
    missing = [key for key in REQUIRED if key not in header]
    if missing:
        raise ValueError(f"line {reader.line_num}: the header lacks {', '.join(missing)}")

    def rows() -> Iterator[tuple[int, Mapping[str, Any]]]:
        start = reader.line_num + 1
        while True:
            try:
                cells = next(reader)
            except StopIteration:
                return
            except csv.Error as error:
                # A cell over the field limit (128 KiB): the reader goes on
                # with the next line.
                yield start, _Faulty(f"cannot be read as CSV: {error}")
            else:
                if any(cell.strip() for cell in cells):
                    if len(cells) != len(header):
                        yield start, _Faulty(f"has {len(cells)} cells, the header {len(header)}")
                    else:
                        yield start, dict(zip(header, cells))
            start = reader.line_num + 1

    return _read(rows(), lambda line: f"line {line}", skip, threads)


class _Faulty(dict[str, Any]):
    """A row that could not be read (a CSV row with another number of cells
    than the header, a JSON object nested too deeply): reading any of its
    values raises the fault."""

    def __init__(self, message: str) -> None:
        super().__init__()
        self.message = message

    def get(self, key: str, default: Any = None) -> Any:
        raise ValueError(self.message)


def _json_type(value: object) -> str:
    """What a JSON value is, in JSON's words."""
    if isinstance(value, _JsonNumber):
        return "a number"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, dict):
        return "an object"
    if isinstance(value, list):
        return "an array"
    return "a string" if isinstance(value, str) else type(value).__name__


def read_json(text: str, skip: bool, threads: int | None) -> tuple[dict[str, NDArray[Any]], NDArray[numpy.int64]]:
    """Columns of OMM JSON text: an array of objects (or one object)."""
    rows: Iterator[tuple[int, Any]]
    try:
        # Numbers stay text, so they are converted like CSV cells.
        document = json.loads(text, parse_float=_JsonNumber, parse_int=_JsonNumber)
    except json.JSONDecodeError as error:
        raise ValueError(f"line {error.lineno}: not JSON: {error.msg}") from None
    except RecursionError:
        # Some object is nested too deeply for the parser: the others are
        # read one at a time, that one is a faulty row (all of them split
        # first, so that text that is no JSON is refused as a whole).
        rows = iter(list(_items_one_by_one(text)))
    else:
        items = document if isinstance(document, list) else [document]
        rows = enumerate(items, start=1)
    return _read(rows, lambda i: f"object {i}", skip, threads)


_JSON_TOKEN = re.compile(r'"(?:[^"\\]|\\.)*"|[][{}]')
_JSON_BLANKS = " \t\n\r"


def _items_one_by_one(text: str) -> Iterator[tuple[int, Any]]:
    """The items of a JSON array (or the one object) decoded one at a time;
    an item nested too deeply to decode becomes a faulty row."""
    decoder = json.JSONDecoder(parse_float=_JsonNumber, parse_int=_JsonNumber)

    def blank_to(i: int) -> int:
        while i < len(text) and text[i] in _JSON_BLANKS:
            i += 1
        return i

    def value_at(i: int) -> tuple[Any, int]:
        try:
            return decoder.raw_decode(text, i)
        except json.JSONDecodeError as error:
            raise ValueError(f"line {error.lineno}: not JSON: {error.msg}") from None
        except RecursionError:
            depth = 0
            for token in _JSON_TOKEN.finditer(text, i):
                kind = token.group()
                if kind in ("[", "{"):
                    depth += 1
                elif kind in ("]", "}"):
                    depth -= 1
                if depth == 0:
                    return _Faulty("is nested too deeply to be read"), token.end()
            raise ValueError(f"line {text.count(chr(10), 0, i) + 1}: not JSON: unterminated array or object") from None

    i = blank_to(0)
    if not text.startswith("[", i):
        item, end = value_at(i)
        if blank_to(end) != len(text):
            raise ValueError(f"line {text.count(chr(10), 0, end) + 1}: not JSON: Extra data")
        yield 1, item
        return
    i = blank_to(i + 1)
    number = 0
    if text.startswith("]", i):
        i += 1
    else:
        while True:
            number += 1
            item, i = value_at(i)
            yield number, item
            i = blank_to(i)
            if text.startswith(",", i):
                i = blank_to(i + 1)
                continue
            if text.startswith("]", i):
                i += 1
                break
            raise ValueError(f"line {text.count(chr(10), 0, i) + 1}: not JSON: Expecting ',' delimiter")
    if blank_to(i) != len(text):
        raise ValueError(f"line {text.count(chr(10), 0, i) + 1}: not JSON: Extra data")


def check_writable(columns: Mapping[str, NDArray[Any]], units: tuple[float, float, float]) -> None:
    """Refuse what OMM CSV cannot hold so that it reads back the same: a NaN
    or infinite value (the reader takes plain decimal numbers only)."""
    deg, rev, day = units
    with numpy.errstate(over="ignore", invalid="ignore"):
        mean_motion = columns["mnm"] * day / rev
    values = {
        "MEAN_MOTION": mean_motion,
        "ECCENTRICITY": columns["ecc"],
        "INCLINATION": columns["inc"] / deg,
        "RA_OF_ASC_NODE": columns["raa"] / deg,
        "ARG_OF_PERICENTER": columns["arp"] / deg,
        "MEAN_ANOMALY": columns["mea"] / deg,
        "BSTAR": columns["bstar"],
        "MEAN_MOTION_DOT": columns["ndot"],
        "MEAN_MOTION_DDOT": columns["nddot"],
    }
    first: tuple[int, str, float] | None = None
    for key, array in values.items():
        bad = numpy.flatnonzero(~numpy.isfinite(array))
        if bad.size and (first is None or bad[0] < first[0]):
            first = (int(bad[0]), key, float(array[bad[0]]))
    if first is not None:
        row, key, value = first
        raise ValueError(f"set {row}: {key} is {value}, which OMM CSV cannot hold (plain decimal numbers only)")


def write_csv(handle: io.TextIOBase, columns: Mapping[str, NDArray[Any]], units: tuple[float, float, float]) -> None:
    """Write OMM CSV rows for the columns, values with the two-line decimals where those are exact."""
    deg, rev, day = units
    n = len(columns["satno"])
    published = {
        "INCLINATION": (columns["inc"] / deg, 4),
        "RA_OF_ASC_NODE": (columns["raa"] / deg, 4),
        "ARG_OF_PERICENTER": (columns["arp"] / deg, 4),
        "MEAN_ANOMALY": (columns["mea"] / deg, 4),
        "ECCENTRICITY": (columns["ecc"], 7),
        "MEAN_MOTION": (columns["mnm"] * day / rev, 8),
    }
    texts: dict[str, list[str]] = {}
    for key, (values, decimals) in published.items():
        texts[key] = [f"{v:.{decimals}f}" for v in values.tolist()]
    # The two-line decimals where reading them back gives the same bits;
    # the shortest exact text of the published value elsewhere.
    check = _catalogue.from_published(
        *(numpy.array([float(t) for t in texts[k]]) for k in ("INCLINATION", "RA_OF_ASC_NODE", "ECCENTRICITY",
                                                              "ARG_OF_PERICENTER", "MEAN_ANOMALY", "MEAN_MOTION"))
    )
    for key, field in (("INCLINATION", "inc"), ("RA_OF_ASC_NODE", "raa"), ("ECCENTRICITY", "ecc"),
                       ("ARG_OF_PERICENTER", "arp"), ("MEAN_ANOMALY", "mea"), ("MEAN_MOTION", "mnm")):
        differ = numpy.flatnonzero(check[field].view(numpy.int64) != columns[field].view(numpy.int64))
        values = published[key][0]
        for i in differ.tolist():
            texts[key][i] = repr(float(values[i]))
    writer = csv.writer(handle, lineterminator="\n")
    writer.writerow(KEYS)
    for i in range(n):
        writer.writerow((
            str(columns["name"][i]),
            object_id_from_designator(str(columns["intl_designator"][i])),
            epoch_text(int(columns["epoch"][i])),
            texts["MEAN_MOTION"][i],
            texts["ECCENTRICITY"][i],
            texts["INCLINATION"][i],
            texts["RA_OF_ASC_NODE"][i],
            texts["ARG_OF_PERICENTER"][i],
            texts["MEAN_ANOMALY"][i],
            int(columns["ephemeris_type"][i]),
            str(columns["classification"][i]),
            int(columns["satno"][i]),
            int(columns["element_number"][i]),
            int(columns["rev_number"][i]),
            repr(float(columns["bstar"][i])),
            repr(float(columns["ndot"][i])),
            repr(float(columns["nddot"][i])),
        ))
