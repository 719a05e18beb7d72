"""Type aliases shared across quorvane."""

import datetime

import numpy

#: Anything the time class accepts as one instant: ISO 8601 or year text,
#: a ``datetime``/``date``, a ``numpy.datetime64`` or a Julian date.
DatetimeLike = str | datetime.datetime | datetime.date | numpy.datetime64 | float

__all__ = ["DatetimeLike"]
