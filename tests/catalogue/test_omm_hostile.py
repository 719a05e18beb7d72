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
