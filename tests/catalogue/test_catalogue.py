import pathlib

import pytest

from quorvane.propagators.analytical.sgp4.catalogue import read_elsets, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET

SHIPPED = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data" / "stations.tle"

ISS_A = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
ISS_B = (
    "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976",
    "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676",
)
VANGUARD = (
    "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
    "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
)


def text(*blocks, newline="\n"):
    return newline.join(line for block in blocks for line in block) + newline


@pytest.mark.parametrize("newline", ["\n", "\r\n"])
def test_two_line_text_keeps_file_order(newline):
    records = read_records(text(ISS_B, VANGUARD, ISS_A, newline=newline))
    assert [r.line1 for r in records] == [ISS_B[0], VANGUARD[0], ISS_A[0]]
    assert all(type(r) is DUOLINE for r in records)


def test_three_line_form_blank_lines_and_sets():
    source = ["ISS (ZARYA)", *ISS_B, "", "   ", "0 VANGUARD 1", *VANGUARD, "ISS (ZARYA)", *ISS_A, ""]
    records = read_records(source)
    assert [r.satno for r in records] == [25544, 5, 25544]
    sets = read_elsets(source)
    assert list(sets) == [25544, 5]
    iss = sets[25544]
    assert isinstance(iss, ELSET) and iss.size == 2 and iss.satname == "ISS (ZARYA)"
    assert iss.epoch[0] < iss.epoch[1]  # sorted by epoch: 2008 before 2024
    assert sets[5].satname == "VANGUARD 1"
    assert read_elsets(text(VANGUARD))[5].satname is None


def test_path_and_pathlike(tmp_path):
    path = tmp_path / "cat.tle"
    path.write_text(text(ISS_A, VANGUARD))
    assert [r.satno for r in read_records(path)] == [25544, 5]
    assert [r.satno for r in read_records(str(path))] == [25544, 5]
    with open(path) as handle:
        assert len(read_records(handle)) == 2


def test_shipped_catalogue():
    sets = read_elsets(SHIPPED)
    assert sets[25544].size == 7
    assert sum(s.size for s in sets.values()) == len(read_records(SHIPPED)) == 12


@pytest.mark.parametrize(
    "lines, message",
    [
        ([ISS_A[0]], "line 1: line 1 is not followed by its line 2"),
        ([ISS_A[0], "", VANGUARD[0], VANGUARD[1]], "line 1: line 1 is not followed by its line 2"),
        (["NAME", ISS_A[0], "OTHER NAME", *VANGUARD], "line 2: line 1 is not followed by its line 2"),
        (["", ISS_A[1]], "line 2: line 2 without a preceding line 1"),
        ([*VANGUARD, ISS_A[1]], "line 3: line 2 without a preceding line 1"),
        ([ISS_A[0], VANGUARD[1]], "line 2: satellite number '00005' of line 2 does not match '25544' of line 1"),
    ],
)
def test_pairing_errors_name_the_line(lines, message):
    with pytest.raises(ValueError) as info:
        read_records(lines)
    assert str(info.value).startswith(message)
