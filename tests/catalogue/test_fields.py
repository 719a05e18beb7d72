"""The shared element-set field library, one field at a time: number
conversion against the C library, exact epochs, Alpha-5 numbers and the
assumed-decimal fields."""

import ctypes
import datetime
import random

import pytest

from quorvane._testing import tle_fields
from quorvane.propagators.analytical.sgp4 import _catalogue

libc = ctypes.CDLL(None)
libc.strtod.restype = ctypes.c_double
libc.strtod.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p)]
libc.atoi.restype = ctypes.c_int
libc.atoi.argtypes = [ctypes.c_char_p]

HOSTILE = [
    b"", b" ", b".", b"-", b"+", b"-.", b"e5", b".e5", b"1e", b"1e+", b"1e-x", b"1.5E3", b"1.5e+03x",
    b"  51.6416", b"+51.6416", b"-0", b"-0.0", b"0.0000000", b"0x1p3", b"0X1P-3", b"-0x10", b"00x1p3",
    b"inf", b"-Infinity", b"nan", b"NaN(123)", b"1e400", b"-1e400", b"1e-400", b"4.9e-324", b"2.5e-324",
    b"2.2250738585072011e-308", b"123456789012345678901234567890", b"0.1234567890123456789",
    b"9007199254740993", b"9007199254740992.5", b"1.7976931348623157e308", b"1.7976931348623159e308",
    b"\t\n\v\f\r 7", b"1,5", b"1.2.3", b"--5", b"+-5", b" .00002182", b"-.11606e-4", b"1e-22", b"1e22",
    b"1e23", b"123456789012345e-22", b"1234567890123456e-10", b"0.000000000000000000000000001",
    b"1e99999999999999", b"1e-99999999999999", b"5.", b"5.e2", b"\x85 5", b"5\x00 6",
]


def strtod(text):
    return libc.strtod(text, None)


def same(a, b):
    return repr(a) == repr(b)  # bit for bit, signed zeros and NaN included


@pytest.mark.parametrize("text", HOSTILE)
def test_atof_gives_strtod_bits_on_hostile_text(text):
    assert same(tle_fields._atof(text), strtod(text))


def test_atof_gives_strtod_bits_on_random_fields():
    rng = random.Random(20240105)
    alphabet = b"0123456789       .-+eExX"
    for _ in range(20000):
        text = bytes(rng.choice(alphabet) for _ in range(rng.randint(0, 14)))
        assert same(tle_fields._atof(text), strtod(text)), text
    for _ in range(20000):
        # Correctly rounded decimals of every length around the fast path's limits.
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 22)))
        point = rng.randint(0, len(digits))
        text = f"{digits[:point]}.{digits[point:]}e{rng.randint(-30, 30)}".encode()
        assert same(tle_fields._atof(text), strtod(text)), text


@pytest.mark.parametrize("text", [b"", b" 12", b"-7", b"+3", b"12x", b"99999999999", b"-2147483649", b" - 5", b"07"])
def test_atoi_gives_the_c_library_value(text):
    assert tle_fields._atoi(text) == libc.atoi(text)


def line1(day="24005.48765432", satno="25544", ndot=" .00021463", nddot=" 00000-0", bstar=" 38251-3"):
    return f"1 {satno}U 98067A   {day} {ndot} {nddot} {bstar} 0  9976".encode()


def ns(*args):
    moment = datetime.datetime(*args, tzinfo=datetime.timezone.utc)
    return int(moment.timestamp()) * 10**9 + moment.microsecond * 1000


@pytest.mark.parametrize(
    "day, expected",
    [
        ("24001.00000000", ns(2024, 1, 1)),
        ("24001.50000000", ns(2024, 1, 1, 12)),
        ("56001.00000000", ns(2056, 1, 1)),
        ("57001.00000000", ns(1957, 1, 1)),
        ("24366.99999999", ns(2024, 12, 31, 23, 59, 59, 999136)),
        ("08264.51782528", ns(2008, 9, 20, 12, 25, 40, 104192)),
        # 1e-12 day is 86.4 ns: 86.4 rounds to 86; 5e-12 day is 432 ns exactly.
        ("24001.000000000001"[:14], ns(2024, 1, 1)),
        ("00000.00000000", ns(1999, 12, 31)),
    ],
)
def test_epoch_is_exact_to_the_nanosecond(day, expected):
    assert tle_fields._line1(line1(day=day))[1] == expected


def test_epoch_reads_the_longest_prefix_and_short_lines():
    # Twelve characters hold at most eleven decimals, and 1e-11 day is 864 ns,
    # so the plain path never meets a rounding tie; it is exact.
    assert tle_fields._line1(line1(day="00.12345678901"))[1] == ns(1999, 12, 31) + 12345678901 * 864
    # Like atof, trailing junk after the number is ignored.
    assert tle_fields._line1(line1(day="24001.0000001X"))[1] == ns(2024, 1, 1) + 8_640_000
    assert tle_fields._line1(line1(day="24  1.5"))[1] == ns(2024, 1, 1, 12)
    # Short line: the day field ends at the line's end.
    assert tle_fields._line1(b"1 25544U 98067A   24001.5")[1] == ns(2024, 1, 1, 12)
    # Exponent text goes through atof and is rounded from that double.
    assert tle_fields._line1(line1(day="24 1.5000e+0"))[1] == ns(2024, 1, 1, 12)
    # Blank day: day 0, the record's reading.
    assert tle_fields._line1(line1(day=" " * 14))[1] == ns(1999, 12, 31)


@pytest.mark.parametrize("day", ["24 inf       ", "24 nan       ", "24 1e300     "])
def test_epoch_outside_time_is_refused(day):
    assert tle_fields._line1(line1(day=day.ljust(14)))[1] is None


@pytest.mark.parametrize(
    "field, value",
    [
        ("00005", 5), ("25544", 25544), (" 1234", 1234), ("99999", 99999), ("A0000", 100000), ("A0001", 100001),
        ("H9999", 179999), ("J0000", 180000), ("N9999", 229999), ("P0000", 230000), ("Z9999", 339999),
        ("a0001", 100001), ("", 0), ("     ", 0), ("I0001", -1), ("O0001", -1), ("12A45", -1), ("A001", -1),
        ("-1234", -1), ("1 234", -1),
    ],
)
def test_satellite_numbers_decode(field, value):
    assert _catalogue.decode_satno(field) == value
    if field.strip() and value >= 0:
        assert tle_fields._line1(line1(satno=field.ljust(5)))[0] == value


@pytest.mark.parametrize("satno", [0, 5, 99999, 100000, 100001, 179999, 180000, 229999, 230000, 339999])
def test_alpha5_round_trip(satno):
    field = tle_fields._encode_satno(satno)
    assert len(field) == 5 and "I" not in field and "O" not in field
    assert _catalogue.decode_satno(field) == satno


@pytest.mark.parametrize("satno", [-1, 340000, 10**12])
def test_numbers_beyond_alpha5_have_no_field(satno):
    assert tle_fields._encode_satno(satno) is None


@pytest.mark.parametrize(
    "ndot, nddot, bstar, expected",
    [
        (" .00021463", " 00000-0", " 38251-3", (0.00021463, 0.0, 0.38251e-3)),
        ("-.00002182", " 12345-5", "-11606-4", (-0.00002182, 0.12345e-5, -0.11606e-4)),
        (" .00000000", "-00000-0", " 00000+0", (0.0, -0.0, 0.0)),
        ("+.1       ", "+99999+9", " 10000-9", (0.1, 0.99999e9, 0.1e-9)),
        ("          ", "        ", "        ", (0.0, 0.0, 0.0)),
    ],
)
def test_derivatives_and_drag_term_as_published(ndot, nddot, bstar, expected):
    fields = tle_fields._line1(line1(ndot=ndot, nddot=nddot, bstar=bstar))[2:5]
    assert [repr(v) for v in fields] == [repr(v) for v in expected]


def test_assumed_decimal_fields_cut_by_a_short_line():
    text = b"1 25544U 98067A   24005.48765432  .00021463  00000-0  382"
    assert tle_fields._line1(text)[4] == 0.382
