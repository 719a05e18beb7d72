"""The record readers share the table's text handling: Alpha-5 and blank
numbers, strict validation, comments, CR-only text and unpaired names."""

import pytest

from quorvane.propagators.analytical.sgp4.catalogue import iter_entries, read_catalogue, read_elsets, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)


def numbered(satno):
    return tuple(line.replace("25544", satno) for line in ISS)


def test_elsets_keyed_by_decoded_numbers():
    text = "\r".join(["# comment", "FIRST", *numbered("A0001"), *numbered("     "), "SECOND", *numbered("A0001"), ""])
    sets = read_elsets(text)
    assert list(sets) == [100001, 0]
    assert sets[100001].satno == 100001 and sets[100001].size == 2 and sets[100001].satname == "FIRST"
    assert sets[0].satname is None
    # The records themselves stay as the record reads them.
    assert [r.satno for r in read_records(text)] == ["A0001", "", "A0001"]
    assert all(type(r) is DUOLINE for r in read_records(text))
    assert [name for name, _ in iter_entries(text)] == ["FIRST", None, "SECOND"]


def test_undecodable_number_names_its_line():
    with pytest.raises(ValueError, match=r"^line 3: satellite number 'I0001' is neither"):
        read_elsets(["", "", *numbered("I0001")])


def test_strict_records_name_the_line():
    bad = (ISS[0][:-1] + "0", ISS[1])
    assert len(read_records(bad)) == 1
    with pytest.raises(ValueError, match=r"^line 1: line 1, column 69: checksum is 0, expected 7$"):
        read_records(bad, strict=True)
    with pytest.raises(ValueError, match=r"^line 1: "):
        read_elsets(bad, strict=True)
    assert read_records(ISS, strict=True)[0].line1 == ISS[0]


def test_trailing_name_is_reported():
    with pytest.raises(ValueError, match=r"^line 3: name line is not followed by a line 1$"):
        read_records([*ISS, "LEFT OVER"])


def test_records_and_table_read_the_same_sets(tmp_path):
    path = tmp_path / "cat.tle"
    path.write_bytes(b"\xef\xbb\xbf" + "\r\n".join(["0 ISS", *ISS, *numbered("00005")]).encode())
    table = read_catalogue(path)
    records = read_records(path)
    assert [r.line1[:68] for r in records] == [t[0][:68] for t in table.to_tle()]
    assert list(table.name) == ["ISS", ""]
