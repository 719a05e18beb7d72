"""OMM rows that must not be read as something else: digits other than
ASCII, values of the wrong JSON type, integers beyond 64 bits, epochs beyond
the nanosecond range, oversized cells and names, deeply nested JSON.  Each is
a ValueError naming its row, and skipped under errors="skip"."""

import csv
import io
import json
import pathlib

import numpy
import pytest

from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"


def rows():
    """Two rows of OMM as CSV gives them (strings)."""
    handle = io.StringIO()
    read_catalogue(DATA / "stations.tle").select([0, 6]).to_omm_csv(handle)
    return list(csv.DictReader(io.StringIO(handle.getvalue())))


def as_csv(records):
    handle = io.StringIO()
    writer = csv.DictWriter(handle, fieldnames=list(records[0]), lineterminator="\n")
    writer.writeheader()
    writer.writerows(records)
    return handle.getvalue().encode()


def expect_refused(text, where, message):
    with pytest.raises(ValueError, match=f"^{where}: {message}"):
        read_catalogue(text)
    table = read_catalogue(text, errors="skip")
    assert len(table) == 1 and table.skipped.tolist() == [int(where.split()[1])]
    return table


BAD_CELLS = [
    ("NORAD_CAT_ID", "\u0662\u0665\u0665\u0664\u0664", "NORAD_CAT_ID '.*' is not an integer"),  # Arabic-Indic
    ("NORAD_CAT_ID", "\uff12\uff15\uff15\uff14\uff14", "NORAD_CAT_ID '.*' is not an integer"),  # full width
    ("EPOCH", "\u0662\u0660\u0660\u0668-09-20T12:25:40.104192", "EPOCH '.*' is not a date and time"),
    ("MEAN_MOTION", "\u0661\u0665.72125391", "MEAN_MOTION '.*' is not a number"),
    ("ELEMENT_SET_NO", "1_000", "ELEMENT_SET_NO '1_000' is not an integer"),
    ("OBJECT_ID", "\u0661\u0669\u0669\u0668-067A", "OBJECT_ID .* does not fit"),
    ("NORAD_CAT_ID", "9223372036854775808", "NORAD_CAT_ID '9223372036854775808' lies outside the 64-bit"),
    ("ELEMENT_SET_NO", "-9223372036854775809", "ELEMENT_SET_NO .* lies outside the 64-bit integer range"),
    ("REV_AT_EPOCH", "1" * 5000, "REV_AT_EPOCH '1111.*\\(5000 characters\\) lies outside the 64-bit"),
    ("EPHEMERIS_TYPE", "99999999999999999999", "EPHEMERIS_TYPE .* lies outside the 64-bit integer range"),
    ("EPOCH", "2262-04-12T00:00:00", "EPOCH '2262-04-12T00:00:00' lies outside the nanosecond range"),
    ("EPOCH", "1677-09-21T00:12:43.145224192", "EPOCH .* lies outside the nanosecond range"),
    ("EPOCH", "0001-01-01T00:00:00", "EPOCH .* lies outside the nanosecond range"),
    ("OBJECT_NAME", "N" * 129, "OBJECT_NAME of 129 characters is longer than the 128 a name may have"),
]


@pytest.mark.parametrize("key, value, message", BAD_CELLS, ids=lambda v: v[:20] if isinstance(v, str) else v)
@pytest.mark.parametrize("form", ["csv", "json"])
def test_bad_values_name_their_row_and_are_skipped(form, key, value, message):
    records = rows()
    records[1][key] = value
    if form == "csv":
        table = expect_refused(as_csv(records), "line 3", message)
    else:
        table = expect_refused(json.dumps(records).encode(), "object 2", message)
    assert table.satno.tolist() == [int(records[0]["NORAD_CAT_ID"])]


def test_values_at_the_limits_are_read():
    records = rows()
    records[0].update(NORAD_CAT_ID="9223372036854775807", ELEMENT_SET_NO="-9223372036854775808",
                      EPOCH="2262-04-11T23:47:16.854775807", OBJECT_NAME="N" * 128)
    records[1].update(EPOCH="1677-09-21T00:12:43.145224193", NORAD_CAT_ID="000000000000000000000025544")
    table = read_catalogue(as_csv(records))
    assert table.satno.tolist() == [2**63 - 1, 25544] and table.element_number[0] == -(2**63)
    assert table.epoch_ns.tolist() == [2**63 - 1, -(2**63) + 1] and table.name.dtype == numpy.dtype("<U128")


@pytest.mark.parametrize(
    "key, value, message",
    [
        ("OBJECT_NAME", {"a": 1}, "OBJECT_NAME must be a string, not an object"),
        ("OBJECT_NAME", True, "OBJECT_NAME must be a string, not true"),
        ("OBJECT_NAME", 12345, "OBJECT_NAME must be a string, not a number"),
        ("OBJECT_ID", ["1998-067A"], "OBJECT_ID must be a string, not an array"),
        ("CLASSIFICATION_TYPE", False, "CLASSIFICATION_TYPE must be a string, not false"),
        ("EPOCH", 2008.5, "EPOCH must be a string, not a number"),
        ("MEAN_MOTION", True, "MEAN_MOTION must be a number \\(or a string holding one\\), not true"),
        ("NORAD_CAT_ID", {"id": 25544}, "NORAD_CAT_ID must be a number .*, not an object"),
        ("BSTAR", [0.0001], "BSTAR must be a number .*, not an array"),
    ],
)
def test_json_values_must_have_their_type(key, value, message):
    records = rows()
    records[1][key] = value
    expect_refused(json.dumps(records).encode(), "object 2", message)


def test_json_numbers_and_numeric_strings_are_both_read():
    records = rows()
    as_numbers = [{k: (json.loads(v) if k in ("NORAD_CAT_ID", "MEAN_MOTION", "BSTAR") else v) for k, v in r.items()}
                  for r in records]
    assert read_catalogue(json.dumps(as_numbers).encode()) == read_catalogue(json.dumps(records).encode())


def test_an_oversized_csv_cell_names_its_row():
    records = rows()
    records.insert(1, dict(records[0], OBJECT_NAME="X" * (200 * 1024)))
    text = as_csv(records)
    with pytest.raises(ValueError, match="^line 3: cannot be read as CSV: field larger than field limit"):
        read_catalogue(text)
    table = read_catalogue(text, errors="skip")  # the row after it is read
    assert table.line.tolist() == [2, 4] and table.skipped.tolist() == [3]


@pytest.mark.parametrize("depth", [100_000])
def test_deeply_nested_json_names_its_object(depth):
    records = rows()
    text = json.dumps(records)
    nested = "[" * depth + "]" * depth
    for deep in (nested, '{"OBJECT_NAME": ' + nested + "}"):
        document = f"[{text[1:-1].split('}, {')[0]}}}, {deep}, \n {{{text[1:-1].split('}, {')[1]}]"
        with pytest.raises(ValueError, match="^object 2: (is nested too deeply to be read|is a list, not an object)"):
            read_catalogue(document.encode())
        table = read_catalogue(document.encode(), errors="skip")
        assert len(table) == 2 and table.skipped.tolist() == [2]
    with pytest.raises(ValueError, match="^object 1: is nested too deeply"):
        read_catalogue(('{"OBJECT_NAME": ' + nested + "}").encode())
    with pytest.raises(ValueError, match="not JSON"):
        read_catalogue(("[" + nested + ", {]").encode())
    with pytest.raises(ValueError, match="not JSON"):
        read_catalogue(("[" + "[" * depth).encode())
