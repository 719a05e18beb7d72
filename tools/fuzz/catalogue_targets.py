"""Fuzz target for the columnar catalogue reader.

It draws catalogue text from real and mutated element sets, names, blank and
comment lines, junk lines and stray bytes, joined with any line end, and
reads it with random options.  The reader must either raise ValueError
naming a line, or return a table whose every set holds the bits DUOLINE
gives for the same lines, the same for one thread and for three.

Among the shapes drawn are those the reader once got wrong: a line with a
blank dropped (every field shifted), a letter in the epoch, lines ending in
U+00A0 or U+0085 (which str.strip removes and the reader does not), HTML
saved as a catalogue, zeros written "00000+0" and zero-padded numbers.  The
record readers must agree with the table on what they refuse; a table read
must give its sets back through to_tle (the same bits read again), and
to_tle must refuse epochs it cannot write, also near the ends of the int64
nanosecond range and NaT, with a ValueError naming the set.
"""

from __future__ import annotations

import numpy as np
from hypothesis import strategies as st

from quorvane.propagators.analytical.sgp4 import _catalogue
from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue, read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

ELEMENTS = ("inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "orp", "eca", "tra", "pge", "apg")


def _with_checksum(line):
    total = sum(int(c) if c.isdigit() else c == "-" for c in line[:68])
    return line[:68] + str(total % 10)


def _hostile_pair(pair):
    """A real pair reshaped the way published or damaged files are."""
    line1, line2 = pair
    return st.sampled_from([
        [line1, line2.replace("  ", " ", 1)],  # a dropped blank
        [line1.replace(" ", "", 1), line2],
        [line1[:24] + "X" + line1[25:], line2],  # a letter in the epoch
        [line1 + "\u00a0", line2],
        [line1, line2 + "\u0085"],
        [_with_checksum(line1.replace(" 00000-0", " 00000+0")), line2],
        [_with_checksum(line1[:64] + line1[64:68].replace(" ", "0")), line2],
        [line1, _with_checksum(_zero_padded(line2))],
        [line1[:-1] + str((int(line1[-1]) + 1) % 10) if line1[-1:].isdigit() else line1, line2],  # a wrong checksum
        [line1, line2[:63]],
    ])


def _zero_padded(line2):
    """Line 2 with its angles, mean motion and revolution number padded with zeros."""
    for first, last in ((8, 16), (17, 25), (34, 42), (43, 51), (52, 63), (63, 68)):
        field = line2[first:last]
        line2 = line2[:first] + "0" * (len(field) - len(field.lstrip(" "))) + field.lstrip(" ") + line2[last:]
    return line2


# What the table refuses and the record readers must refuse as well.
_SHARED_REFUSALS = ("fixed-column layout", "decimal point", "the line ends after", "outside ASCII")

HTML = ["<!DOCTYPE html>", "<html><head><title>404 Not Found</title></head>", "<body>gone</body></html>"]


def _line_pieces(REAL_PAIRS, mutated_line, FIELD_RANGES_1, FIELD_RANGES_2):
    pair = st.sampled_from(REAL_PAIRS).map(list)
    hostile = st.sampled_from(REAL_PAIRS).flatmap(_hostile_pair)
    mutated = st.sampled_from(REAL_PAIRS).flatmap(
        lambda p: st.tuples(mutated_line(p[0], FIELD_RANGES_1), mutated_line(p[1], FIELD_RANGES_2)).map(list)
    )
    single = st.one_of(
        st.sampled_from(["", "   ", "# comment", "0 NAME", "NAME", "1", "2", "1 ", "2 25544", "\x00", "\x1c"]),
        st.text(max_size=30),
        st.sampled_from(REAL_PAIRS).map(lambda p: [p[0]]),
        st.sampled_from(REAL_PAIRS).map(lambda p: [p[1]]),
    ).map(lambda x: x if isinstance(x, list) else [x])
    groups = st.lists(st.one_of(pair, pair, mutated, hostile, single), max_size=10)
    return st.one_of(groups.map(lambda gs: [line for g in gs for line in g]), st.just(HTML))


@st.composite
def catalogue_bytes(draw, pieces):
    lines = draw(pieces)
    newline = draw(st.sampled_from(["\n", "\r\n", "\r"]))
    text = newline.join(lines).encode("utf-8", "surrogatepass")
    if draw(st.booleans()):
        text += newline.encode()
    if draw(st.integers(0, 9)) == 0:
        text = b"\xef\xbb\xbf" + text
    if draw(st.integers(0, 9)) == 0 and text:
        at = draw(st.integers(0, len(text)))
        text = text[:at] + draw(st.binary(min_size=1, max_size=3)) + text[at:]
    return text


def make_target(counts, fail, REAL_PAIRS, mutated_line, FIELD_RANGES_1, FIELD_RANGES_2):
    pieces = _line_pieces(REAL_PAIRS, mutated_line, FIELD_RANGES_1, FIELD_RANGES_2)
    # Published sets, in the forms providers write: to_tle gives them back
    # byte for byte.
    published = set()
    for line1, line2 in REAL_PAIRS:
        for one in (line1, _with_checksum(line1.replace(" 00000-0", " 00000+0")),
                    _with_checksum(line1[:64] + line1[64:68].replace(" ", "0"))):
            for two in (line2, _with_checksum(_zero_padded(line2))):
                published.add((one, two))

    def catalogue_target(data) -> None:
        counts["inputs tried"] += 1
        text = data.draw(catalogue_bytes(pieces))
        errors = data.draw(st.sampled_from(["raise", "skip"]))
        strict = data.draw(st.booleans())
        try:
            table = read_catalogue(text, format="tle", errors=errors, strict=strict, threads=1)
        except ValueError as error:
            if not str(error).startswith(("line ", "no element sets found: ")):
                fail(f"reader error without a line: {error!r} for {text!r}")
            if errors == "raise" and any(words in str(error) for words in _SHARED_REFUSALS):
                try:
                    read_records(text, strict=strict)
                except ValueError as other:
                    if not str(other).startswith("line "):
                        fail(f"record reader error without a line: {other!r} for {text!r}")
                else:
                    fail(f"the table refuses ({error}) what the records read: {text!r}")
            return
        counts["catalogues read"] += 1
        again = read_catalogue(text, format="tle", errors=errors, strict=strict, threads=3)
        if again != table:
            fail(f"thread count changed the table for {text!r}")
        if errors == "skip":
            return
        entries = _catalogue.tle_entries(text, strict=strict)
        if len(entries) != len(table):
            fail(f"{len(entries)} entries but {len(table)} rows for {text!r}")
        for row, (_, line1, line2, number) in enumerate(entries):
            try:
                record = DUOLINE(line1, line2, strict)
            except (ValueError, UnicodeEncodeError) as error:
                fail(f"the reader took a set DUOLINE refuses ({error!r}): {line1!r} {line2!r}")
            for name in ELEMENTS:
                ours = np.float64(getattr(table, name)[row]).view(np.int64)
                theirs = np.float64(getattr(record, name)).view(np.int64)
                if ours != theirs:
                    fail(f"{name} differs from DUOLINE's for {line1!r} {line2!r}")
            checksums = all(len(line) >= 69 and _with_checksum(line) == line[:69] for line in (line1, line2))
            if table.checksum_ok[row] != checksums:
                fail(f"checksum_ok is {table.checksum_ok[row]} for {line1!r} {line2!r}")
            if (line1, line2) in published and table.to_tle()[row] != (line1, line2):
                fail(f"to_tle changed the published lines {line1!r} {line2!r}")
            if table.line[row] != number:
                fail(f"line {table.line[row]} reported for the set at line {number}")
            satno = record.satno
            expected = satno if isinstance(satno, int) else _catalogue.decode_satno(satno)
            if table.satno[row] != expected:
                fail(f"satno {table.satno[row]} for the field {satno!r}")
        _check_export(table, data, text, fail)

    return catalogue_target


EPOCH_EDGES = [np.iinfo(np.int64).min, np.iinfo(np.int64).min + 1, np.iinfo(np.int64).max,
               np.iinfo(np.int64).max - 1, 9_223_286_400_000_000_000, -9_223_286_400_000_000_000]


def _check_export(table, data, text, fail):
    """to_tle gives lines that read back to the same sets; epochs it cannot
    write are refused by row."""
    pairs = table.to_tle()
    again = read_catalogue([line for pair in pairs for line in pair], format="tle")
    for name in ("satno", "epoch", "ndot", "nddot", "bstar", "element_number", "rev_number", "tle_form", *ELEMENTS):
        ours, theirs = table.columns[name], again.columns[name]
        if ours.dtype.kind == "f":
            ours, theirs = ours.view(np.int64), theirs.view(np.int64)
        if not np.array_equal(ours, theirs):
            fail(f"{name} changed through to_tle for {text!r}")
    if not len(table):
        return
    columns = table.columns
    row = data.draw(st.integers(0, len(table) - 1))
    epoch = data.draw(st.one_of(st.sampled_from(EPOCH_EDGES), st.integers(EPOCH_EDGES[0], EPOCH_EDGES[2])))
    columns["epoch"] = columns["epoch"].copy()
    columns["epoch"][row] = epoch
    try:
        Catalogue(columns).to_tle()
    except ValueError as error:
        expected = (f"column epoch: entry {row} is NaT" if epoch == np.iinfo(np.int64).min
                    else f"set {row}: epoch cannot be written")
        if not str(error).startswith(expected):
            fail(f"to_tle error {error!r} for epoch {epoch}")
