"""Fuzz target for the columnar catalogue reader.

It draws catalogue text from real and mutated element sets, names, blank and
comment lines, junk lines and stray bytes, joined with any line end, and
reads it with random options.  The reader must either raise ValueError
naming a line, or return a table whose every set holds the bits DUOLINE
gives for the same lines, the same for one thread and for three.
"""

from __future__ import annotations

import numpy as np
from hypothesis import strategies as st

from quorvane.propagators.analytical.sgp4 import _catalogue
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

ELEMENTS = ("inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "orp", "eca", "tra", "pge", "apg")


def _line_pieces(REAL_PAIRS, mutated_line, FIELD_RANGES_1, FIELD_RANGES_2):
    pair = st.sampled_from(REAL_PAIRS).map(list)
    mutated = st.sampled_from(REAL_PAIRS).flatmap(
        lambda p: st.tuples(mutated_line(p[0], FIELD_RANGES_1), mutated_line(p[1], FIELD_RANGES_2)).map(list)
    )
    single = st.one_of(
        st.sampled_from(["", "   ", "# comment", "0 NAME", "NAME", "1", "2", "1 ", "2 25544", "\x00", "\x1c"]),
        st.text(max_size=30),
        st.sampled_from(REAL_PAIRS).map(lambda p: [p[0]]),
        st.sampled_from(REAL_PAIRS).map(lambda p: [p[1]]),
    ).map(lambda x: x if isinstance(x, list) else [x])
    return st.lists(st.one_of(pair, pair, mutated, single), max_size=10).map(lambda groups: [l for g in groups for l in g])


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
            return
        counts["catalogues read"] += 1
        again = read_catalogue(text, format="tle", errors=errors, strict=strict, threads=3)
        if again != table:
            fail(f"thread count changed the table for {text!r}")
        if errors == "skip":
            return
        entries = _catalogue.tle_entries(text)
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
            if table.line[row] != number:
                fail(f"line {table.line[row]} reported for the set at line {number}")
            satno = record.satno
            expected = satno if isinstance(satno, int) else _catalogue.decode_satno(satno)
            if table.satno[row] != expected:
                fail(f"satno {table.satno[row]} for the field {satno!r}")

    return catalogue_target
