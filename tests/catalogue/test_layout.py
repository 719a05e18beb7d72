"""The fixed-column layout of element sets: the readers refuse sets whose
fields moved, show a wrong checksum in a column, and give the published
lines back byte for byte."""

import pathlib

import numpy
import pytest

from quorvane.propagators.analytical.sgp4 import _catalogue

from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue, read_elsets, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from test_table import ISS, VANGUARD

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
FILES = sorted(DATA.rglob("*.tle"))

READERS = [read_catalogue, read_records, read_elsets]

BROKEN = [
    # A dropped blank: every field of line 2 moves one column left.
    ((ISS[0], ISS[1].replace("  51.6416", " 51.6416")),
     "line 4: line 2, column 11: inclination '51.6416 ' has its decimal point in column 11, not 12"),
    # A letter in the epoch.
    ((ISS[0].replace("08264.51782528", "08264.5178X528"), ISS[1]),
     "line 3: line 1, column 29: epoch day '264.5178X528' has 'X' where the fixed-column layout has a digit"),
    ((ISS[0].replace("-.00002182", " -.0000218"), ISS[1]),
     "line 3: line 1, column 35: first derivative of mean motion ' -.0000218' has '-' where the fixed-column "
     "layout has its decimal point"),
    ((ISS[0].replace(" -11606-4", " -11606 4"), ISS[1]),
     "line 3: line 1, column 60: drag term '-11606 4' has ' ' where the fixed-column layout has the sign"),
    ((ISS[0].replace("98067A   08", "98067A  08"), ISS[1]),
     "line 3: line 1, column 18: separator '0' has '0' where the fixed-column layout has a blank"),
    ((ISS[0], ISS[1][:63]), "line 4: line 2, column 64: the line ends after 63 characters; its fields take 68"),
    ((ISS[0], ISS[1].replace("0006703", "0006-03")), "line 4: line 2, column 31: eccentricity '0006-03'"),
]


@pytest.mark.parametrize("pair, message", BROKEN, ids=range(len(BROKEN)))
@pytest.mark.parametrize("reader", READERS, ids=lambda r: r.__name__)
def test_a_broken_layout_is_refused_with_its_line_and_column(reader, pair, message):
    lines = [*VANGUARD, *pair]
    DUOLINE(*pair)  # the record itself stays lenient
    with pytest.raises(ValueError) as info:
        reader(lines)
    assert str(info.value).startswith(message)
    with pytest.raises(ValueError) as info:
        reader(lines, strict=True)
    assert str(info.value).startswith("line ")


@pytest.mark.parametrize("pair, message", BROKEN, ids=range(len(BROKEN)))
def test_a_broken_layout_is_skipped(pair, message):
    table = read_catalogue([*VANGUARD, *pair, *ISS], errors="skip")
    assert list(table.skipped) == [int(message.split(":")[0].split()[1])]
    assert list(table.satno) == [5, 25544] and list(table.line) == [1, 5]


def test_a_wrong_checksum_alone_is_read_and_shown():
    bad = (ISS[0][:-1] + "0", ISS[1])
    bad2 = (ISS[0], ISS[1][:-1] + "0")
    short = (ISS[0][:-1], ISS[1])  # no checksum at all
    table = read_catalogue([*VANGUARD, *bad, *bad2, *short, *ISS])
    assert table.checksum_ok.tolist() == [True, False, False, False, True]
    assert table.checksum_ok.dtype == numpy.bool_
    assert len(read_records([*bad, *bad2, *short])) == 3
    for pair in (bad, bad2):
        with pytest.raises(ValueError, match=r"checksum is 0, expected 7"):
            read_catalogue(list(pair), strict=True)
        with pytest.raises(ValueError, match=r"checksum is 0, expected 7"):
            read_records(list(pair), strict=True)


@pytest.mark.parametrize("path", FILES, ids=lambda p: p.name)
def test_every_shipped_file_reads_and_round_trips_byte_for_byte(path):
    table = read_catalogue(path)
    records = read_records(path)
    assert len(read_elsets(path)) > 0 and len(records) == len(table)
    assert table.checksum_ok.all()
    published = [line.rstrip("\r\n") for line in path.read_text().splitlines() if line[:2] in ("1 ", "2 ")]
    assert [line for pair in table.to_tle() for line in pair] == published


@pytest.mark.parametrize(
    "line1, line2, form",
    [
        (ISS[0], ISS[1], 0),
        (ISS[0].replace(" 00000-0", " 00000+0"), ISS[1], 1),
        (ISS[0].replace("-11606-4", " 00000+0"), ISS[1], 2),
        (ISS[0].replace("-11606-4", " 12345-0"), ISS[1], 2),
        (ISS[0].replace("-11606-4", " 12345+0"), ISS[1], 0),
        (ISS[0].replace("0  2927", "0 02927"), ISS[1], 4),
        (ISS[0], ISS[1].replace(" 51.6416", "051.6416"), 8),
        (ISS[0], VANGUARD[1].replace("00005", "25544").replace(" 19.3264", "019.3264").replace(" 34.", "034."), 8),
    ],
)
def test_the_published_form_comes_back(line1, line2, form):
    def checked(line):
        # The published checksum of the edited line.
        total = sum(int(c) if c.isdigit() else c == "-" for c in line[:68])
        return line[:68] + str(total % 10)

    pair = (checked(line1), checked(line2))
    table = read_catalogue(list(pair))
    assert table.tle_form.tolist() == [form] and table.checksum_ok.all()
    assert table.to_tle() == [pair]
    # A table built from other columns (OMM, say) writes the common form.
    columns = table.columns
    del columns["tle_form"]
    assert Catalogue(columns).tle_form.tolist() == [0]
    assert Catalogue(columns).to_tle()[0][0][44:61] in (" 00000-0 -11606-4", " 00000-0  00000-0", " 00000-0  12345+0")


@pytest.mark.parametrize(
    "epoch",
    [numpy.iinfo(numpy.int64).max, numpy.iinfo(numpy.int64).max - 1, numpy.iinfo(numpy.int64).min + 1,
     9_223_286_400_000_000_000, -9_223_286_400_000_000_000],
)
def test_to_tle_refuses_epochs_near_the_ends_of_the_nanosecond_range(epoch):
    table = read_catalogue([*VANGUARD, *ISS])
    columns = table.columns
    columns["epoch"] = numpy.array([table.epoch_ns[0], epoch], dtype=numpy.int64)
    with pytest.raises(ValueError, match=r"^set 1: epoch cannot be written in the two-line format"):
        Catalogue(columns).to_tle()


def test_a_nat_epoch_is_refused_by_the_table_and_by_the_writer():
    table = read_catalogue([*VANGUARD, *ISS])
    columns = table.columns
    columns["epoch"] = numpy.array([table.epoch_ns[0], numpy.iinfo(numpy.int64).min], dtype=numpy.int64)
    with pytest.raises(ValueError, match="NaT"):
        Catalogue(columns)
    # The writer's own check, for columns that reach it another way.
    with pytest.raises(ValueError, match=r"^set 1: epoch cannot be written in the two-line format"):
        Catalogue._of(columns, numpy.zeros(0, numpy.int64)).to_tle()


@pytest.mark.parametrize("end", ["\u00a0", "\u0085", "\u00a0\u0085 "])
@pytest.mark.parametrize("which", [0, 1])
def test_records_and_table_agree_on_lines_ending_in_unicode_blanks(end, which):
    # str.strip removes U+00A0 and U+0085, the reader's trimming (ASCII) does
    # not: both readers refuse such a line as holding a character outside ASCII.
    lines = list(ISS)
    lines[which] += end
    message = f"^line {which + 1}: line {which + 1} holds a character outside ASCII$"
    for reader in READERS:
        with pytest.raises(ValueError, match=message):
            reader(lines)
        with pytest.raises(ValueError, match=message):
            reader("\n".join(lines).encode())
    assert len(read_catalogue(lines, errors="skip")) == 0


def test_entries_check_the_sets_they_return():
    with pytest.raises(ValueError, match=r"^line 2: line 2, column 11: "):
        _catalogue.tle_entries("\n".join([ISS[0], ISS[1].replace("  51.", " 51.")]).encode())
    with pytest.raises(ValueError, match=r"^line 1: line 1, column 69: checksum"):
        _catalogue.tle_entries("\n".join([ISS[0][:-1] + "1", ISS[1]]).encode(), strict=True)
    assert len(_catalogue.tle_entries("\n".join([ISS[0][:-1] + "1", ISS[1]]).encode())) == 1


@pytest.mark.parametrize("epoch", ["2262-04-11T00:00:00", "1677-09-22T00:00:00"])
def test_to_tle_refuses_omm_epochs_at_the_ends_of_time(epoch):
    header = "OBJECT_NAME,NORAD_CAT_ID,EPOCH,MEAN_MOTION,ECCENTRICITY,INCLINATION,RA_OF_ASC_NODE,ARG_OF_PERICENTER,"
    text = f"{header}MEAN_ANOMALY\nX,5,{epoch},15.5,0.001,51.6,10,10,10\n".encode()
    table = read_catalogue(text)
    assert table.checksum_ok.tolist() == [True] and table.tle_form.tolist() == [0]
    with pytest.raises(ValueError, match=r"^set 0: epoch cannot be written in the two-line format \(its years"):
        table.to_tle()


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize(
    "pair, line",
    [
        # The NUL ends the record's stored text while the epoch reads on: the
        # table read 2007-12-31 out of this set before.
        ((ISS[0].replace("08264.51782528", "08\x00264.5178252"), ISS[1]), 1),
        ((ISS[0], ISS[1][:-1] + "\x00"), 2),
        ((ISS[0], ISS[1] + "\x00"), 2),
    ],
)
def test_a_nul_in_an_element_line_is_refused_by_every_reader(reader, pair, line):
    with pytest.raises(ValueError, match=rf"^line {2 + line}: line {line} holds a NUL character$"):
        reader([*VANGUARD, *pair])
    if reader is read_catalogue:
        table = reader([*VANGUARD, *pair, *VANGUARD], errors="skip")
        assert table.line.tolist() == [1, 5] and table.skipped.tolist() == [2 + line]
