"""ERRORS names every code propagate() gives."""

import numpy as np

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from quorvane.propagators.analytical.sgp4.propagator import ERRORS, SGP4

LINE1 = "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976"
LINE2 = "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676"


def with_line2(column, text):
    """LINE2 with `text` written from 1-based `column`."""
    i = column - 1
    return LINE2[:i] + text + LINE2[i + len(text):]


def test_every_code_but_0_and_5_has_a_one_line_message():
    assert sorted(ERRORS) == [1, 2, 3, 4, 6, 7]
    for code, message in ERRORS.items():
        assert type(code) is int and type(message) is str
        assert message and "\n" not in message and message == message.strip()
    assert len(set(ERRORS.values())) == len(ERRORS)


def test_the_codes_propagate_gives_are_named():
    # Sets and times that give each code; every code that comes out is a key.
    records = [
        DUOLINE(LINE1, LINE2),
        DUOLINE(LINE1, with_line2(27, "9999999")),      # e near 1: semi-latus rectum negative
        DUOLINE(LINE1, with_line2(53, " 0.00000000")),  # mean motion zero
        DUOLINE(LINE1, with_line2(53, "16.50000000")),  # low orbit: drag drives e out of range
    ]
    tsince = np.concatenate([np.linspace(-1440.0, 200_000.0, 2001), [np.nan, np.inf, 2e9]])
    _, _, err = SGP4(records).propagate(tsince=tsince)
    seen = set(np.unique(err).tolist()) - {0}
    assert {1, 2, 4, 7} <= seen and seen <= set(ERRORS)
