"""The reader cuts text into pieces that are scanned on their own, and reads
lines in their published layout by a fast path: neither may change a table,
a skipped line or an error."""

import mmap
import pathlib

import numpy
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quorvane._testing import tle_fields
from quorvane.propagators.analytical.sgp4 import _catalogue
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from test_table import ELEMENTS, ISS, VANGUARD

LINES = st.sampled_from(
    [*ISS, *VANGUARD, "ISS (ZARYA)", "0 VANGUARD 1", "", "   ", "# comment", "1", "2", "ESPA\u00d1A",
     ISS[0].replace("25544", "I0001"), ISS[1].replace("25544", "00005"), ISS[0].lower(), ISS[1] + " \u00e9",
     VANGUARD[0].replace("00179", "00 1e"), "2 25544  51.6416"]
)


def read(text, **options):
    """The table and skipped lines, or the error message."""
    try:
        columns, skipped = _catalogue.read_tle(text, **options)
    except ValueError as error:
        return str(error)
    return {k: v.view(numpy.uint8) if v.dtype.kind != "U" else v for k, v in columns.items()}, list(skipped)


def same(a, b):
    if isinstance(a, str) or isinstance(b, str):
        return a == b
    return a[1] == b[1] and a[0].keys() == b[0].keys() and all(numpy.array_equal(a[0][k], b[0][k]) for k in a[0])


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    lines=st.lists(st.one_of(st.just(ISS), st.just(VANGUARD), LINES.map(lambda line: (line,))), max_size=14),
    newline=st.sampled_from(["\n", "\r\n", "\r"]),
    skip=st.booleans(),
    piece=st.integers(1, 300),
)
def test_any_cut_gives_the_same_table_skips_and_errors(lines, newline, skip, piece):
    text = newline.join(line for group in lines for line in group).encode()
    whole = read(text, skip=skip, threads=1)
    assert same(read(text, skip=skip, threads=1, piece_bytes=piece), whole)
    assert same(read(text, skip=skip, threads=3, piece_bytes=piece), whole)
    try:
        entries = _catalogue.tle_entries(text)
    except ValueError as error:
        entries = str(error)
    try:
        assert _catalogue.tle_entries(text, piece_bytes=piece) == entries
    except ValueError as error:
        assert str(error) == entries


def test_many_pieces_of_a_real_catalogue():
    data = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
    text = b"".join(p.read_bytes() for p in sorted((data / "real").glob("*.tle"))) * 3
    whole = read(text, threads=1)
    assert len(whole[0]["satno"]) > 4000
    for piece in (1, 97, 4096):
        assert same(read(text, threads=2, piece_bytes=piece), whole)


# Lines whose fields leave the published layout one way or another: each
# must give the record's bits, whichever path reads it, or (when the
# fixed-column layout itself is broken, BROKEN) be refused by the table
# while the record still reads it leniently.
LINE1_VARIANTS = [
    ISS[0],
    ISS[0].replace("-11606-4", "+12345+7"),  # a power of ten of at least zero
    ISS[0].replace("-11606-4", "-11606+4").replace(" 00000-0", "+12345-9"),
    ISS[0].replace("08264.51782528", "08  4.51782528"),
    ISS[0].replace("08264.51782528", "08 64.51782528"),
    ISS[0].replace("08264.51782528", "08264.5178252 "),
    ISS[0].replace("-.00002182", " .00002182").replace(" 0  2927", " 9 99927"),
    ISS[0].replace("-.00002182", "+.00002182").replace("0  2927", "   2927"),
    ISS[0].replace("-.00002182", "-0.0000218"),
    ISS[0].replace("98067A  ", "98067a  "),  # lower case: read from the stored line
    ISS[0] + "   trailing text",
    ISS[0][:60],
]
LINE2_VARIANTS = [
    ISS[1],
    ISS[1].replace(" 51.6416", "  1.6416").replace("247.4627", " 47.4627"),
    ISS[1].replace(" 51.6416", "5 1.6416"),
    ISS[1].replace("15.72125391", " 5.72125391").replace("563537", "    37"),
    ISS[1].replace("15.72125391", "15.7212539 "),
    ISS[1].replace("563537", "5 3537"),
    ISS[1].replace("0006703", "000670 "),
    ISS[1].replace("130.5360", "130,5360"),
    ISS[1][:64],
]
BROKEN = {
    ISS[0].replace("-.00002182", "-0.0000218"),  # the point one column right
    ISS[0][:60],
    ISS[1].replace(" 51.6416", "5 1.6416"),  # a blank among the digits
    ISS[1].replace("563537", "5 3537"),
    ISS[1].replace("0006703", "000670 "),
    ISS[1].replace("130.5360", "130,5360"),
    ISS[1][:64],
}


@pytest.mark.parametrize("line1", LINE1_VARIANTS)
@pytest.mark.parametrize("line2", LINE2_VARIANTS)
def test_fields_in_and_out_of_their_layout_give_the_record_bits(line1, line2):
    record = DUOLINE(line1, line2)
    if line1 in BROKEN or line2 in BROKEN:
        number = 1 if line1 in BROKEN else 2
        with pytest.raises(ValueError, match=rf"^line {number}: line {number}, column \d+: "):
            read_catalogue([line1, line2])
        return
    table = read_catalogue([line1, line2])
    for name in ELEMENTS:
        assert numpy.float64(getattr(table, name)[0]).view(numpy.int64) == numpy.float64(
            getattr(record, name)).view(numpy.int64), name
    fields = tle_fields._line1(line1.upper().encode()[:69])
    assert (table.epoch_ns[0], table.ndot[0], table.nddot[0], table.bstar[0]) == fields[1:5]
    assert (table.ephemeris_type[0], table.element_number[0]) == fields[5:]
    assert table.rev_number[0] == tle_fields._atoi(line2.encode()[63:68])


def test_a_line_ending_at_the_end_of_a_mapped_file(tmp_path):
    # Lines are read where they lie in a memory-mapped file; a set whose
    # line 2 ends exactly at a page boundary must not be read beyond it.
    body = "\n".join(ISS) + "\n" + VANGUARD[0] + "\n"
    filler = "#" * (2 * mmap.PAGESIZE - len(body) - len(VANGUARD[1]) - 1)
    path = tmp_path / "edge.tle"
    path.write_bytes((filler + "\n" + body + VANGUARD[1]).encode())
    assert path.stat().st_size % mmap.PAGESIZE == 0
    table = read_catalogue(path)
    assert list(table.satno) == [25544, 5] and list(table.line) == [2, 4]
