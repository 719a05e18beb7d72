"""The columnar table: bit identity with DUOLINE, text variants, threads,
errors, and what the table offers."""

import pathlib
import pickle

import numpy
import pytest

from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
FILES = sorted((DATA / "real").glob("*.tle")) + [DATA / "stations.tle"]
ELEMENTS = ("inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "orp", "eca", "tra", "pge", "apg")

ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
VANGUARD = (
    "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
    "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
)


def bits(values):
    return numpy.asarray(values, dtype=numpy.float64).view(numpy.int64)


def assert_like_records(table, pairs):
    records = [DUOLINE(a, b) for a, b in pairs]
    assert len(table) == len(records)
    for name in ELEMENTS:
        assert numpy.array_equal(bits(getattr(table, name)), bits([getattr(r, name) for r in records])), name


@pytest.mark.parametrize("path", FILES, ids=lambda p: p.name)
def test_every_shipped_set_bit_identical_to_duoline(path):
    table = read_catalogue(path)
    records = read_records(path)
    assert_like_records(table, [(r.line1, r.line2) for r in records])
    assert list(table.satno) == [r.satno for r in records]
    # Epochs agree with the record's Julian-date epoch to its resolution.
    assert numpy.all(numpy.abs(table.epoch_ns - numpy.array([r.epoch.int64 for r in records])) < 100_000)


HOSTILE_LINE2 = [
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
    "2 25544 51.64160 247.46270006703 130.5360 325.0288 15.7212539156353",
    "2 25544  1e1     2.5e+2  1e+0001 -130.536 +325.028 1.5e1      ",
    "2 25544  nan     inf     0x1p-3  -inf      0X10    0.0",
    "2 25544 ",
    "2 25544  51.6416 247.4627  006703 130.5360 325.0288           ",
    "2 25544  51.6416 247.4627 -006703 130.5360 325.0288 -15.7",
    "2 25544 180.0000 360.0000 9999999 360.0000 360.0000 99.99999999",
    "2 25544    .     -.       .       +       -        1.",
    "2 25544  51,6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
]


@pytest.mark.parametrize("line2", HOSTILE_LINE2)
def test_hostile_text_bit_identical_to_duoline(line2):
    # The record reads any text; the table reads it the same way once the
    # fixed-column layout holds, and refuses it (naming the column) when not.
    line1 = ISS[0]
    DUOLINE(line1, line2)
    if line2 != HOSTILE_LINE2[0]:
        with pytest.raises(ValueError, match=r"^line 2: line 2, column \d+: "):
            read_catalogue([line1, line2])
        assert list(read_catalogue([line1, line2], errors="skip").skipped) == [2]
        return
    table = read_catalogue([line1, line2])
    assert_like_records(table, [(line1, line2)])


@pytest.mark.parametrize("newline", ["\n", "\r\n", "\r"])
@pytest.mark.parametrize("bom", [b"", b"\xef\xbb\xbf"])
def test_line_ends_and_byte_order_mark(newline, bom):
    text = newline.join(["# a comment", "ISS (ZARYA)", *ISS, "", "   ", "0 VANGUARD 1", *VANGUARD, ""])
    table = read_catalogue(bom + text.encode())
    assert list(table.name) == ["ISS (ZARYA)", "VANGUARD 1"]
    assert list(table.line) == [3, 8]
    assert_like_records(table, [ISS, VANGUARD])


def test_names_in_latin1_and_utf8():
    text = b"\n".join([b"ESPA\xd1A", *(l.encode() for l in ISS), "GALIL\u00c9O".encode(), *(l.encode() for l in VANGUARD)])
    assert list(read_catalogue(text).name) == ["ESPAÑA", "GALILÉO"]


def test_every_source_kind_gives_the_same_table(tmp_path):
    text = "\n".join(["ISS", *ISS, *VANGUARD]) + "\n"
    path = tmp_path / "cat.tle"
    path.write_text(text)
    expected = read_catalogue(text.encode())
    with open(path) as handle:
        sources = [text, str(path), path, text.splitlines(), [l.encode() for l in text.splitlines()], handle]
        for source in sources:
            assert read_catalogue(source) == expected


def big_text(copies=12):
    # Large enough to be cut into pieces and converted in several tasks.
    return b"".join(path.read_bytes().replace(b"\r\n", b"\n") + b"\n" for path in FILES) * copies


def test_any_thread_count_gives_the_same_table():
    text = big_text()
    one = read_catalogue(text, threads=1)
    assert len(one) > 10_000
    for threads in (2, 3, 7):
        assert read_catalogue(text, threads=threads) == one
    # Pieces are cut at line ends of every kind.
    for newline in (b"\r\n", b"\r"):
        other = text.replace(b"\n", newline)
        assert read_catalogue(other, threads=3) == read_catalogue(other, threads=1) == one


def test_skipping_sets_of_a_large_text_keeps_the_others_in_order():
    lines = big_text(4).decode().splitlines()
    ones = [i for i, line in enumerate(lines) if line.startswith("1 ")]
    bad = set(ones[5::997])
    for i in bad:  # a satellite number the reader refuses, found on the worker threads
        for k in (i, i + 1):
            lines[k] = lines[k][:2] + "I0001" + lines[k][7:]
    text = "\n".join(lines).encode()
    table = read_catalogue(text, errors="skip", threads=2)
    assert list(table.skipped) == sorted(i + 1 for i in bad)
    kept = [line for i, line in enumerate(lines) if i not in bad and i - 1 not in bad]
    expected = read_catalogue("\n".join(kept).encode(), threads=1, errors="skip")  # their names stay alone
    assert_same_columns(table, expected, ignore=("line",))
    assert len(table) == len(ones) - len(bad)


def test_alpha5_and_blank_numbers():
    line1 = ISS[0].replace("25544", "A0001")
    line2 = ISS[1].replace("25544", "A0001")
    blank1, blank2 = ISS[0].replace("25544", "     "), ISS[1].replace("25544", "     ")
    table = read_catalogue([line1, line2, blank1, blank2])
    assert list(table.satno) == [100001, 0]
    assert table.to_tle()[0][0][2:7] == "A0001"


@pytest.mark.parametrize(
    "lines, message",
    [
        ([ISS[0]], "line 1: line 1 is not followed by its line 2"),
        ([ISS[0], "NAME", *VANGUARD], "line 1: line 1 is not followed by its line 2"),
        (["", ISS[1]], "line 2: line 2 without a preceding line 1"),
        ([ISS[0], VANGUARD[1]], "line 2: satellite number '00005' of line 2 does not match '25544' of line 1 (line 3)"),
        (["NAME", "OTHER", *ISS], "line 1: name line is not followed by a line 1"),
        ([*ISS, "TRAILING NAME"], "line 3: name line is not followed by a line 1"),
        ([ISS[0].replace("25544", "I0001"), ISS[1].replace("25544", "I0001")],
         "line 1: satellite number 'I0001' is neither a decimal number nor Alpha-5"),
        ([ISS[0], ISS[1] + " \u00e9"], "line 2: line 2 holds a character outside ASCII"),
        ([ISS[0].replace("08264.51782528", "08 1e300      "), ISS[1]],
         "line 1: line 1, column 23: epoch day ' 1E300      ' has 'E' where the fixed-column layout has a digit"),
    ],
)
def test_errors_name_the_line_and_skip_reports_it(lines, message):
    with pytest.raises(ValueError) as info:
        read_catalogue([*VANGUARD, *lines])
    line = int(message.split(":")[0].split()[1])
    assert str(info.value).startswith(message.replace(f"line {line}", f"line {line + 2}", 1))
    table = read_catalogue([*VANGUARD, *lines], errors="skip")
    assert table.satno[0] == 5 and line + 2 in table.skipped
    assert all(n >= 3 for n in table.skipped)


def test_strict_validation_of_every_set():
    bad = ISS[0][:-1] + "0"
    assert len(read_catalogue([bad, ISS[1]])) == 1
    with pytest.raises(ValueError, match=r"^line 1: line 1, column 69: checksum is 0, expected 7"):
        read_catalogue([bad, ISS[1]], strict=True)
    with pytest.raises(ValueError) as record_error:
        DUOLINE(bad, ISS[1], strict_validation=True)
    assert str(record_error.value) in "line 1, column 69: checksum is 0, expected 7"
    table = read_catalogue([*VANGUARD, bad, ISS[1], *ISS], strict=True, errors="skip")
    assert list(table.skipped) == [3] and list(table.line) == [1, 5]


def test_table_operations():
    table = read_catalogue(DATA / "stations.tle")
    assert isinstance(table[0], DUOLINE) and table[-1].line1 == table.to_tle()[-1][0]
    assert table.select(table.satno == 25544).satno.tolist() == [25544] * 7
    assert table.select([2, 0]).line.tolist() == [table.line[2], table.line[0]]
    groups = table.groupby_satno()
    assert list(groups) == list(dict.fromkeys(table.satno.tolist()))
    assert all(numpy.all(numpy.diff(g.epoch_ns) >= 0) for g in groups.values())
    sets = table.elsets()
    assert isinstance(sets[25544], ELSET) and sets[25544].size == 7 and sets[25544].satname == "ISS (ZARYA)"
    assert numpy.array_equal(bits(sets[25544].sma), bits(groups[25544].sma))
    assert pickle.loads(pickle.dumps(table)) == table
    both = Catalogue.concat([table, table.select([0])])
    assert len(both) == len(table) + 1 and both.select(numpy.arange(len(table))) == table
    assert table.epoch.int64.tolist() == table.epoch_ns.tolist()


def test_to_tle_round_trips_published_lines(tmp_path):
    for path in FILES:
        table = read_catalogue(path)
        again = read_catalogue([line for pair in table.to_tle() for line in pair])
        assert_same_columns(again, table, ignore=("line", "name"))
        # Byte for byte, checksums included: also gpredict's zero-padded
        # numbers and "00000+0" zeros.
        published = [(r.line1, r.line2) for r in read_records(path)]
        assert table.to_tle() == published
    table = read_catalogue(DATA / "stations.tle")
    table.to_tle(tmp_path / "out.tle")
    assert read_catalogue(tmp_path / "out.tle").select(slice(None)) == read_catalogue(tmp_path / "out.tle")
    again = read_catalogue(tmp_path / "out.tle")
    assert numpy.array_equal(again.name, table.name)
    assert_like_records(again, table.to_tle())


def assert_same_columns(a, b, ignore=("line",)):
    for name, array in a.columns.items():
        if name not in ignore:
            x, y = array, b.columns[name]
            if x.dtype.kind == "f":
                x, y = bits(x), bits(y)
            assert numpy.array_equal(x, y), name


def test_formats_give_the_same_table(tmp_path):
    table = read_catalogue(DATA / "real" / "gpredict-2018.tle")
    table.to_omm_csv(tmp_path / "cat.csv")
    from_csv = read_catalogue(tmp_path / "cat.csv")
    import csv
    import json

    with open(tmp_path / "cat.csv", newline="") as handle:
        rows = list(csv.DictReader(handle))
    (tmp_path / "cat.json").write_text(json.dumps(rows))
    from_json = read_catalogue(tmp_path / "cat.json")
    for other in (from_csv, from_json):
        # tle_form: how the two-line text was written, which OMM does not say.
        assert_same_columns(other, table, ignore=("line", "tle_form"))


@pytest.mark.parametrize(
    "row, message",
    [
        ({"MEAN_MOTION": "15.5x"}, "line 2: MEAN_MOTION '15.5x' is not a number"),
        ({"EPOCH": "2024-02-30T00:00:00"}, "line 2: EPOCH '2024-02-30T00:00:00' is not a valid date"),
        ({"NORAD_CAT_ID": ""}, "line 2: NORAD_CAT_ID is missing"),
        ({"ELEMENT_SET_NO": "1.5"}, "line 2: ELEMENT_SET_NO '1.5' is not an integer"),
    ],
)
def test_malformed_omm_rows(tmp_path, row, message):
    table = read_catalogue(DATA / "stations.tle").select([0, 1])
    table.to_omm_csv(tmp_path / "cat.csv")
    import csv

    with open(tmp_path / "cat.csv", newline="") as handle:
        rows = list(csv.DictReader(handle))
    rows[0].update(row)
    with open(tmp_path / "bad.csv", "w", newline="") as handle:
        writer = csv.DictWriter(handle, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)
    with pytest.raises(ValueError, match="^" + message):
        read_catalogue(tmp_path / "bad.csv")
    skipped = read_catalogue(tmp_path / "bad.csv", errors="skip")
    assert len(skipped) == 1 and list(skipped.skipped) == [2]


def test_arguments_are_checked():
    with pytest.raises(ValueError, match="format"):
        read_catalogue(b"", format="xml")
    with pytest.raises(ValueError, match="errors"):
        read_catalogue(b"", errors="ignore")
    with pytest.raises(TypeError):
        read_catalogue(42)
    with pytest.raises(ValueError, match="threads"):
        read_catalogue(b"", threads=0)
    assert len(read_catalogue(b"")) == 0 and len(read_catalogue(b"\n# only a comment\n")) == 0
    assert len(read_catalogue(b"OBJECT_NAME,NORAD_CAT_ID,EPOCH,MEAN_MOTION,ECCENTRICITY,INCLINATION,RA_OF_ASC_NODE,"
                              b"ARG_OF_PERICENTER,MEAN_ANOMALY\n")) == 0
    assert len(read_catalogue(b"[]")) == 0
    table = read_catalogue([*ISS])
    with pytest.raises(IndexError):
        table[1]
    with pytest.raises(TypeError):
        table["0"]


def test_pandas_frame():
    pandas = pytest.importorskip("pandas")
    table = read_catalogue(DATA / "stations.tle")
    frame = table.to_pandas()
    assert list(frame.columns)[:3] == ["satno", "name", "classification"] and len(frame) == len(table)
    assert frame["epoch"].dtype == numpy.dtype("datetime64[ns]") and isinstance(frame, pandas.DataFrame)
    assert numpy.array_equal(bits(frame["sma"].to_numpy()), bits(table.sma))
