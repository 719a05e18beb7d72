"""Hooks for quorvane's own tests and benchmarks: no part of the package's
interface, and free to change or go without notice.

``quorvane._testing.lanes`` is the lane mathematics over float64 arrays at a
chosen vector width (``widths()``, ``_set_max_width()``, the primitives and
the C library's loops), for comparing widths and timing them.
``quorvane._testing.tle_fields`` is the two-line field library's
conversions one field at a time (``_atof``, ``_atoi``, ``_line1``,
``_encode_satno``), for holding them against the C library.
"""
