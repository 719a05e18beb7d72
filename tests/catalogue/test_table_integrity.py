"""What a table guarantees about itself: parts that add up to the whole,
equality of data rather than provenance, tables built from values, checked
and read-only columns, exports that read back, bounded names, and clear
errors for wrong arguments."""

import pathlib
import pickle
import subprocess
import sys

import numpy
import pytest

from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue, read_elsets, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from test_table import ISS, VANGUARD

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
FILES = sorted((DATA / "real").glob("*.tle")) + [DATA / "stations.tle"]
DERIVED = ("sma", "orp", "eca", "tra", "pge", "apg")



def bits(values):
    return numpy.asarray(values, dtype=numpy.float64).view(numpy.int64)


def stations():
    return read_catalogue(DATA / "stations.tle")


# ---------------------------------------------------------------- parts and equality


def test_parts_of_a_table_add_up_to_it():
    # Sets of several satellites, a line skipped: grouped and put together
    # again, they are the table, and the skipped line is listed once.
    lines = [*ISS, *VANGUARD, ISS[0].replace("25544", "I0001"), ISS[1].replace("25544", "I0001"), *ISS]
    table = read_catalogue(lines, errors="skip")
    assert list(table.skipped) == [5]
    ordered = table.select(numpy.lexsort((table.epoch_ns, table.satno)))
    parts = ordered.groupby_satno()
    assert all(len(part.skipped) == 0 for part in parts.values())
    again = Catalogue.concat(parts.values())
    assert again == ordered and len(again.skipped) == 0
    assert len(table.select(slice(None)).skipped) == 0 and len(table.select([True, False, True]).skipped) == 0


def test_equality_compares_the_sets_not_where_they_were_read(tmp_path):
    table = read_catalogue(DATA / "real" / "gpredict-2018.tle")
    table.to_omm_csv(tmp_path / "cat.csv")
    again = read_catalogue(tmp_path / "cat.csv")
    assert not numpy.array_equal(again.line, table.line)  # CSV rows are numbered otherwise
    assert again == table and again.line[0] == 2  # the line numbers stay, as a column
    shifted = read_catalogue(["", "", *ISS], errors="skip")
    assert shifted == read_catalogue(list(ISS)) and shifted.line[0] == 3
    renamed = read_catalogue(["OTHER", *ISS])
    assert renamed != read_catalogue(list(ISS))  # a name is data
    assert table != table.select(slice(1, None))


# ---------------------------------------------------------------- from_elements


@pytest.mark.parametrize("path", FILES, ids=lambda p: p.name)
def test_from_elements_gives_the_bits_of_text(path):
    table = read_catalogue(path)
    built = Catalogue.from_elements(
        table.satno, table.epoch, table.inc, table.raa, table.ecc, table.arp, table.mea, table.mnm,
        bstar=table.bstar, ndot=table.ndot, nddot=table.nddot, name=table.name,
    )  # fmt: skip
    for name in ("inc", "raa", "ecc", "arp", "mea", "mnm", "bstar", "ndot", "nddot", *DERIVED):
        assert numpy.array_equal(bits(built.columns[name]), bits(table.columns[name])), name
    assert numpy.array_equal(built.epoch_ns, table.epoch_ns) and numpy.array_equal(built.name, table.name)
    # The propagators of every seventh set (the columns above are the same
    # bits, and propagation of a set depends on its own columns alone).
    times = numpy.datetime64("2018-06-01") + numpy.arange(-5, 6).astype("m8[D]")
    some = slice(None, None, 7)
    ours, theirs = SGP4(built.select(some)).propagate(times), SGP4(table.select(some)).propagate(times)
    for a, b in zip(ours, theirs):
        assert a.dtype == b.dtype and numpy.array_equal(a.view(numpy.uint8), b.view(numpy.uint8))


HOSTILE_LINE2 = [
    "2 25544  1e1     2.5e+2  1e+0001 -130.536 +325.028 1.5e1      ",
    "2 25544  nan     inf     0x1p-3  -inf      0X10    0.0",
    "2 25544  51.6416 247.4627 -006703 130.5360 325.0288 -15.7",
    "2 25544 180.0000 360.0000 9999999 360.0000 360.0000 99.99999999",
]


@pytest.mark.parametrize("line2", HOSTILE_LINE2)
def test_from_elements_derives_as_the_record_on_hostile_values(line2):
    # The table's reader refuses these lines' layout; the record reads them
    # leniently, and the table's derived elements are the record's bits.
    record = DUOLINE(ISS[0], line2)
    built = Catalogue.from_elements(25544, record.epoch, record.inc, record.raa, record.ecc, record.arp, record.mea,
                                    record.mnm)
    for name in DERIVED:
        assert bits(built.columns[name])[0] == bits(getattr(record, name)), name


def test_from_elements_scalars_broadcast_and_defaults():
    record = read_records(list(ISS))[0]
    built = Catalogue.from_elements([1, 2, 3], "2024-01-01T12:00:00", 0.9, 0.1, 0.001, 0.2, 0.3, 0.00113, bstar=1e-4,
                                    name="X")
    assert len(built) == 3 and built.satno.tolist() == [1, 2, 3] and built.name.tolist() == ["X"] * 3
    assert built.epoch_ns.tolist() == [1704110400 * 10**9] * 3 and built.bstar.tolist() == [1e-4] * 3
    assert built.classification.tolist() == built.intl_designator.tolist() == [""] * 3
    assert built.line.tolist() == built.element_number.tolist() == [0] * 3 and len(built.skipped) == 0
    one = Catalogue.from_elements(25544, record.epoch, record.inc, record.raa, record.ecc, record.arp, record.mea,
                                  record.mnm)
    assert len(one) == 1 and bits(one.sma)[0] == bits(record.sma)


@pytest.mark.parametrize(
    "change, error, message",
    [
        ({"satno": 1.5}, TypeError, "satno must be an integer"),
        ({"satno": -1}, ValueError, "column satno: entry 0 is negative"),
        ({"inc": "0.9"}, TypeError, "inc must be a real number"),
        ({"ecc": [0.1, 0.2, 0.3]}, ValueError, "do not broadcast"),
        ({"mnm": [[0.001]]}, ValueError, "not one dimension"),
        ({"name": 5}, TypeError, "name must be a str"),
        ({"name": "N" * 129}, ValueError, "column name: entry 0 has 129 characters, at most 128"),
    ],
)
def test_from_elements_refuses_wrong_arguments(change, error, message):
    arguments = {"satno": [1, 2], "epoch": "2024-01-01", "inc": 0.9, "raa": 0.1, "ecc": 0.001, "arp": 0.2, "mea": 0.3,
                 "mnm": 0.00113}
    arguments.update(change)
    name = arguments.pop("name", None)
    with pytest.raises(error, match=message):
        Catalogue.from_elements(**arguments, name=name)


# ---------------------------------------------------------------- construction


def columns_with(**changes):
    columns = stations().columns
    columns.update(changes)
    return columns


N = 12  # sets of stations.tle


@pytest.mark.parametrize(
    "changes, error, message",
    [
        ({"classification": numpy.array([None] * N)}, TypeError, "column classification must hold str"),
        ({"classification": numpy.array(["UC"] * N)}, ValueError, "classification: entry 0 has 2 characters"),
        ({"intl_designator": numpy.array(["1998067ABCD"] * N)}, ValueError, "intl_designator: entry 0 has 11"),
        ({"epoch": numpy.zeros(N)}, TypeError, "column epoch must hold integers, not float64"),
        ({"epoch": numpy.full(N, numpy.iinfo(numpy.int64).min)}, ValueError, "column epoch: entry 0 is NaT"),
        ({"satno": numpy.full(N, 2**63, dtype=numpy.uint64)}, ValueError, "column satno: entry 0 exceeds"),
        ({"satno": numpy.full(N, -5)}, ValueError, "column satno: entry 0 is negative"),
        ({"inc": numpy.zeros(N, dtype=numpy.int64)}, TypeError, "column inc must hold float64"),
        ({"mnm": numpy.zeros(N, dtype=numpy.longdouble)}, TypeError, "column mnm must hold float64"),
        ({"name": numpy.array([b"X"] * N)}, TypeError, "column name must hold str"),
        ({"name": numpy.array(["N" * 200] * N)}, ValueError, "column name: entry 0 has 200 characters"),
        ({"ecc": numpy.zeros((N, 1))}, ValueError, r"column ecc has shape \(12, 1\)"),
        ({"ecc": numpy.zeros(N - 1)}, ValueError, "column ecc has 11 entries, satno 12"),
        ({"ecc": numpy.zeros(N), "extra": numpy.zeros(N)}, ValueError, "unknown fields extra"),
    ],
)
def test_construction_checks_every_column(changes, error, message):
    with pytest.raises(error, match=message):
        Catalogue(columns_with(**changes))


@pytest.mark.parametrize(
    "skipped, error",
    [(numpy.array([[1, 2]]), ValueError), (numpy.array([1.5]), TypeError), (numpy.array([-1]), ValueError)],
)
def test_construction_checks_skipped(skipped, error):
    with pytest.raises(error, match="skipped"):
        Catalogue(stations().columns, skipped)


def test_construction_keeps_values_and_widens_exactly():
    table = stations()
    narrow = columns_with(
        satno=table.satno.astype(numpy.int32), ecc=table.ecc.astype(numpy.float32), name=table.name.astype("<U40"),
        intl_designator=table.intl_designator.astype("<U20"),
    )  # fmt: skip
    built = Catalogue(narrow)
    assert built.satno.dtype == numpy.int64 and built.satno.tolist() == table.satno.tolist()
    assert built.ecc.dtype == numpy.float64 and built.ecc.tolist() == table.ecc.astype(numpy.float32).tolist()
    assert built.intl_designator.dtype == numpy.dtype("<U8") and built.name.tolist() == table.name.tolist()
    assert Catalogue(table.columns) == table
    assert Catalogue(table.columns, [3, 7]).skipped.tolist() == [3, 7]


# ---------------------------------------------------------------- read-only columns


def test_columns_are_read_only_and_the_table_never_changes():
    table = stations()
    for name in ("mnm", "name", "epoch_ns", "skipped"):
        array = getattr(table, name)
        with pytest.raises(ValueError, match="read-only"):
            array[:1] = array[:1]
        with pytest.raises(ValueError):
            array.flags.writeable = True
    with pytest.raises(ValueError, match="read-only"):
        table.columns["inc"][0] = 0.0
    for part in (table.select(slice(2, 5)), table.select([0, 3]), Catalogue.concat([table, table])):
        with pytest.raises(ValueError):
            part.mnm.flags.writeable = True
    # A table of given arrays copies them: changing those changes no table.
    given = table.columns
    given["mnm"] = given["mnm"].copy()
    built = Catalogue(given)
    given["mnm"][0] = 1.0
    assert built == table and pickle.loads(pickle.dumps(built)).mnm.flags.writeable is False


def test_a_pickled_propagator_is_the_local_one():
    table = stations()
    local = SGP4(table)
    remote = pickle.loads(pickle.dumps(local))
    with pytest.raises(ValueError):
        table.mnm[0] = 0.01
    times = numpy.datetime64("2024-01-05") + numpy.arange(3).astype("m8[h]")
    for a, b in zip(local.propagate(times), remote.propagate(times)):
        assert numpy.array_equal(a.view(numpy.uint8), b.view(numpy.uint8))


# ---------------------------------------------------------------- exports that read back


@pytest.mark.parametrize("name", ["A\nB", "A\rB", "1 25544U\n2 25544", "TAB\tNAME", "N\x00L", "NEL\x85", "LS\u2028"])
def test_to_tle_refuses_names_a_name_line_cannot_hold(tmp_path, name):
    table = read_catalogue(["OK", *VANGUARD, "X", *ISS])
    columns = table.columns
    columns["name"] = numpy.array(["OK", name])
    with pytest.raises(ValueError, match=r"^set 1: name .* holds the control character U\+"):
        Catalogue(columns).to_tle(tmp_path / "out.tle")
    assert not (tmp_path / "out.tle").exists()
    assert len(Catalogue(columns).to_tle()) == 2  # the lines alone hold no name


@pytest.mark.parametrize("field, value", [("mnm", numpy.nan), ("ecc", numpy.inf), ("bstar", -numpy.inf),
                                          ("nddot", numpy.nan), ("mnm", 1e308)])
def test_to_omm_csv_refuses_what_does_not_read_back(tmp_path, field, value):
    table = read_catalogue([*VANGUARD, *ISS])
    columns = table.columns
    columns[field] = numpy.array([columns[field][0], value])
    with pytest.raises(ValueError, match=r"^set 1: [A-Z_]+ is (nan|inf|-inf), which OMM CSV cannot hold"):
        Catalogue(columns).to_omm_csv(tmp_path / "out.csv")
    assert not (tmp_path / "out.csv").exists()


# ---------------------------------------------------------------- bounded names


def test_long_names_are_refused_or_skipped_with_their_line():
    long = "N" * 129
    lines = ["SHORT", *VANGUARD, "", long, *ISS, "0 " + "M" * 128, *ISS]
    with pytest.raises(ValueError, match="^line 5: name of 129 characters is longer than the 128 a name may have"):
        read_catalogue(lines)
    table = read_catalogue(lines, errors="skip")
    assert table.name.tolist() == ["SHORT", "M" * 128] and table.line.tolist() == [2, 9]
    assert table.skipped.tolist() == [5] and table.name.dtype == numpy.dtype("<U128")
    # CRLF text and a name not followed by a set
    text = "\r\n".join([*ISS, "X" * 500, "# comment", *VANGUARD]).encode()
    with pytest.raises(ValueError, match="^line 3: name of 500"):
        read_catalogue(text)
    skipped = read_catalogue(text, errors="skip")
    assert skipped.line.tolist() == [1] and skipped.skipped.tolist() == [3]
    latin = b"\n".join([b"\xd1" * 129, *(line.encode() for line in ISS)])
    with pytest.raises(ValueError, match="^line 1: name of 129"):
        read_catalogue(latin)


@pytest.mark.parametrize("piece_bytes", [None, 1])
def test_a_long_name_never_widens_the_column_in_any_piece(piece_bytes):
    from quorvane.propagators.analytical.sgp4 import _catalogue

    lines = [*VANGUARD, "N" * 300, *ISS, "OK", *ISS]
    text = "\n".join(lines).encode()
    with pytest.raises(ValueError, match="^line 3: name of 300 characters is longer than the 128"):
        _catalogue.read_tle(text, piece_bytes=piece_bytes)
    columns, skipped = _catalogue.read_tle(text, skip=True, piece_bytes=piece_bytes)
    assert columns["line"].tolist() == [1, 7] and skipped.tolist() == [3] and columns["name"].dtype == "<U2"


# ---------------------------------------------------------------- clear errors


@pytest.mark.parametrize(
    "which, error, message",
    [
        (0, TypeError, "which must be a mask, an array of indices or a slice, not int"),
        (numpy.int64(2), TypeError, "not int64"),
        (True, TypeError, "not bool"),
        ("0", TypeError, "not str"),
        ([[0, 1]], ValueError, r"which must be one-dimensional, not of shape \(1, 2\)"),
        ([0.5], TypeError, "which must hold booleans or integer indices, not float64"),
        ([True, False], ValueError, "which is a mask of 2 entries for a table of 12"),
        ([3, 12], IndexError, "which holds index 12, outside a table of 12"),
        ([-13], IndexError, "which holds index -13"),
        (numpy.array([12], dtype=numpy.uint8), IndexError, "which holds index 12"),
    ],
)
def test_select_names_what_is_wrong(which, error, message):
    with pytest.raises(error, match=message):
        stations().select(which)


def test_select_still_takes_what_it_took():
    table = stations()
    assert len(table.select([])) == 0 and table.select([-1]).satno[0] == table.satno[-1]
    assert table.select(numpy.array([1], dtype=numpy.uint8)) == table.select([1])


@pytest.mark.parametrize(
    "tables, message",
    [([stations(), 5], "tables: item 1 is a int, not a Catalogue"), (5, "tables must be an iterable"),
     (stations(), "tables must be an iterable of Catalogue tables, not Catalogue")],
)
def test_concat_names_what_is_wrong(tables, message):
    with pytest.raises(TypeError, match=message):
        Catalogue.concat(tables)


@pytest.mark.parametrize("reader", [read_catalogue, read_records, read_elsets])
def test_an_epoch_beyond_the_range_names_its_line(reader):
    lines = [*VANGUARD, ISS[0].replace("08264.51782528", "08 1e300     "), ISS[1]]
    with pytest.raises(ValueError, match="^line 3: "):
        reader(lines)


@pytest.mark.parametrize(
    "source, message",
    [('[{"OBJECT_NAME": "ISS", "NORAD_CAT_ID": 25544}]', "looks like JSON"),
     ('{"OBJECT_NAME": "ISS"}', "looks like JSON"), ("x" * 5000, "too long for one")],
)
@pytest.mark.parametrize("reader", [read_catalogue, read_records])
def test_a_str_taken_as_a_file_name_that_cannot_be_one(reader, source, message):
    with pytest.raises(ValueError, match=r"^source .* is taken as a file name \(a str without a line break\)"):
        reader(source)
    with pytest.raises(ValueError, match=message):
        reader(source)
    with pytest.raises(FileNotFoundError):
        reader("no-such-catalogue.tle")


# ---------------------------------------------------------------- imports


def test_the_table_imports_without_the_readers():
    # The record type the table builds element sets of lives below both.
    code = (
        "import sys\n"
        "from quorvane.propagators.analytical.sgp4 import _catalogue\n"
        "from quorvane.propagators.analytical.sgp4._table import Catalogue\n"
        f"text = b'\\n'.join([{ISS[0]!r}.encode(), {ISS[1]!r}.encode()])\n"
        "table = Catalogue._of(*_catalogue.read_tle(text))\n"
        "assert table.elsets()[25544].size == 1\n"
        "assert 'quorvane.propagators.analytical.sgp4.catalogue' not in sys.modules\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)


@pytest.mark.parametrize(
    "lines, text",
    [((*ISS,), "<Catalogue: 1 element set of 1 satellite>"),
     ((*ISS, *ISS), "<Catalogue: 2 element sets of 1 satellite>"),
     ((*ISS, *VANGUARD), "<Catalogue: 2 element sets of 2 satellites>"),
     ((), "<Catalogue: 0 element sets of 0 satellites>")],
)
def test_repr_counts_in_words(lines, text):
    assert repr(read_catalogue(list(lines)) if lines else read_catalogue(b"")) == text
