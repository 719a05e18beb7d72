"""The record that element sets of any catalogue number are built from.

Below both the table (``_table``) and the readers (``catalogue``), which
each build ``ELSET`` element sets of these records.
"""

from __future__ import annotations

from quorvane.propagators.analytical.sgp4 import _catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

# Most characters a set's name may have (the two-line reader's bound, so
# that every reader and the table agree): the two-line format's name line
# holds 24, but published files carry longer ones, and OMM leaves
# OBJECT_NAME unbounded; 128 keeps every real name and bounds the name column
# (one entry as wide as the longest name, for every set) to 512 bytes a set.
NAME_LENGTH: int = _catalogue.NAME_LENGTH


class _Record(DUOLINE):
    """A record whose satellite number is always an int: Alpha-5 decoded
    ("A0001" is 100001), a blank field 0.  Element sets of any catalogue
    number are built from these."""

    @property
    def satno(self) -> int:
        field = DUOLINE.satno.__get__(self)
        number = field if isinstance(field, int) else _catalogue.decode_satno(field)
        if number < 0:
            raise ValueError(f"satellite number {field!r} is neither a decimal number nor Alpha-5")
        return number
