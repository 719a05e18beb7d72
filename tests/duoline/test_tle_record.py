"""DUOLINE records: parsing, lenient fields, argument rules, faults."""

import math
import random
import sys

import pytest
from sgp4.api import Satrec

from quorvane.bodies.bodies import Earth
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from quorvane.time.time import Time
from quorvane.units import units
from tle_data import ISS_2008, PUBLISHED, splice, with_epoch

DEG = units.deg


def ulps(a, b):
    return abs(a - b) / math.ulp(max(abs(a), abs(b)))


# ---- Published element sets against an independent parser


@pytest.mark.parametrize("lines", PUBLISHED.values(), ids=PUBLISHED.keys())
def test_fields_agree_with_sgp4(lines):
    record = DUOLINE(*lines)
    sat = Satrec.twoline2rv(*lines)
    assert record.satno == sat.satnum
    for ours, theirs in [
        (record.inc, sat.inclo),
        (record.raa, sat.nodeo),
        (record.ecc, sat.ecco),
        (record.arp, sat.argpo),
        (record.mea, sat.mo),
        (record.mnm, sat.no_kozai / 60.0),  # rad/min to rad/s
    ]:
        assert ulps(ours, theirs) <= 4
    # The epoch goes through one double Julian date, whose step near 2.45e6
    # is about 40 microseconds: agreement is to that step.
    jd = sat.jdsatepoch + sat.jdsatepochF
    assert ulps(record.epoch.jd, jd) <= 2
    ns = round((sat.jdsatepoch - 2440587.5) * 86400e9 + sat.jdsatepochF * 86400e9)
    assert abs(record.epoch.int64 - ns) <= 2 * math.ulp(jd) * 86400e9


def test_published_iss_fields():
    record = DUOLINE(*ISS_2008)
    assert (record.line1, record.line2) == ISS_2008
    assert record.satno == 25544
    assert record.inc == 51.6416 * DEG
    assert record.raa == 247.4627 * DEG
    assert record.ecc == 0.0006703
    assert record.arp == 130.5360 * DEG
    assert record.mea == 325.0288 * DEG
    assert record.mnm == 15.72125391 * units.rev / units.day
    assert record.epoch.jd == Time("2008").jd - 1.0 + 264.51782528
    assert isinstance(record.epoch, Time)
    assert record.epoch is record.epoch


@pytest.mark.parametrize("lines", PUBLISHED.values(), ids=PUBLISHED.keys())
def test_derived_elements_are_the_orbel_relations(lines):
    from quorvane.state import orbel

    r = DUOLINE(*lines)
    assert r.sma == orbel.sma_from_mnm(r.mnm, Earth.GM)
    assert r.orp == orbel.orp_from_sma(r.sma, Earth.GM)
    assert r.eca == orbel.eca_from_mea(r.mea, r.ecc)
    assert r.tra == orbel.tra_from_eca(r.eca, r.ecc)
    assert r.pge == (1 - r.ecc) * r.sma - Earth.Re
    assert r.apg == (r.ecc + 1) * r.sma - Earth.Re


def test_earth_constants_are_read_at_each_construction(earth):
    before = DUOLINE(*ISS_2008)
    earth.GM = 8 * Earth.GM
    earth.Re = 0.0
    after = DUOLINE(*ISS_2008)
    assert after.sma == pytest.approx(2 * before.sma, rel=1e-15)
    assert after.pge == (1 - after.ecc) * after.sma


# ---- Normalisation and storage


def test_surrounding_blanks_and_lower_case_are_normalised():
    line1 = "  " + ISS_2008[0].replace("U", "u") + " \r\n"
    line2 = "\t" + ISS_2008[1] + "\n"
    record, plain = DUOLINE(line1, line2), DUOLINE(*ISS_2008)
    assert (record.line1, record.line2) == ISS_2008
    for name in ("satno", "inc", "raa", "ecc", "arp", "mea", "mnm", "sma", "eca", "tra", "pge", "apg"):
        assert getattr(record, name) == getattr(plain, name)
    assert record.epoch.int64 == plain.epoch.int64


def test_lower_case_satellite_letter_is_stored_upper_case():
    record = DUOLINE(splice(ISS_2008[0], 3, "a1234"), ISS_2008[1])
    assert record.satno == "A1234"
    assert record.line1[2:7] == "A1234"


def test_long_lines_are_cut_to_69_characters():
    record = DUOLINE(ISS_2008[0] + "EXTRA TEXT", ISS_2008[1] + "99999")
    assert (record.line1, record.line2) == ISS_2008


def test_short_lines_end_fields_at_their_end():
    # Line 2 cut inside the mean-motion field, line 1 inside the day field.
    record = DUOLINE(ISS_2008[0][:25], ISS_2008[1][:56])
    assert record.mnm == 15.7 * units.rev / units.day
    assert record.epoch.jd == Time("2008").jd - 1.0 + 264.5


def test_empty_line1_gives_year_2000_day_0():
    record = DUOLINE("", ISS_2008[1])
    assert record.satno == ""
    assert record.line1 == ""
    assert record.epoch.jd == Time("2000").jd - 1.0
    assert repr(record.epoch.utc).startswith("1999-12-31T00:00:00")


@pytest.mark.parametrize("yy, year", [("56", "2056"), ("57", "1957"), ("00", "2000"), ("99", "1999"), (" 7", "2007")])
def test_century_rule(yy, year):
    record = DUOLINE(with_epoch(ISS_2008[0], yy + "001.00000000"), ISS_2008[1])
    assert record.epoch.int64 == Time(year).int64


@pytest.mark.parametrize("day, hours", [("001.00000000", 0), ("001.50000000", 12), ("002.25000000", 30)])
def test_day_of_year(day, hours):
    record = DUOLINE(with_epoch(ISS_2008[0], "24" + day), ISS_2008[1])
    assert record.epoch.int64 == Time("2024").int64 + hours * 3600 * 10**9


@pytest.mark.parametrize(
    "field, ecc",
    [
        ("0006703", 0.0006703),
        ("0000123", 0.0000123),
        ("9999999", 0.9999999),
        (" 006703", 0.0),  # the text ". 006703" has no numeric prefix
        ("12  345", 0.12),
        ("abcdefg", 0.0),
    ],
)
def test_eccentricity_field(field, ecc):
    record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 27, field))
    assert record.ecc == ecc


def test_exponent_eccentricity_of_one_gives_nan_anomalies_without_error():
    record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 27, "1e+0001"))
    assert record.ecc == 1.0
    assert math.isnan(record.eca) and math.isnan(record.tra)
    assert record.pge == -Earth.Re


@pytest.mark.parametrize(
    "field, revs",
    [("15.5       ", 15.5), ("  15.5     ", 15.5), ("1.55e1     ", 15.5), ("15x5       ", 15.0), ("   -2.0    ", -2.0)],
)
def test_mean_motion_field(field, revs):
    record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 53, field))
    assert record.mnm == revs * units.rev / units.day


def random_decimals(seed, width, count):
    """Decimal texts of `width` characters: signs, leading zeros and blanks,
    the point anywhere, and some in exponent notation."""
    rng = random.Random(seed)
    for _ in range(count):
        digits = "".join(rng.choice("0123456789") for _ in range(width - 2))
        point = rng.randrange(len(digits) + 1)
        text = rng.choice(["", "-", "+", " "]) + digits[:point] + "." + digits[point:]
        if rng.random() < 0.1:
            text = f"{rng.uniform(-1e3, 1e3):.{width - 8}e}"
        yield text[:width].rjust(width)


def test_decimal_fields_are_correctly_rounded():
    # Every field reads like the C library's atof in the C locale, which for
    # a complete number is the correctly rounded value, as float() gives.
    for text in random_decimals(1957, 11, 3000):
        record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 53, text))
        assert record.mnm == float(text) * units.rev / units.day, text
    for text in random_decimals(2056, 8, 1000):
        record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 9, text))
        assert record.inc == float(text) * DEG, text


def test_blank_mean_motion_gives_infinite_size_without_error():
    record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], 53, " " * 11))
    assert record.mnm == 0.0
    assert record.sma == record.orp == record.pge == record.apg == math.inf


@pytest.mark.parametrize(
    "column, text, name, value",
    [
        (9, "  abc   ", "inc", 0.0),
        (9, " 12.5abc", "inc", 12.5 * DEG),
        (18, "        ", "raa", 0.0),
        (35, "-10.0   ", "arp", -10.0 * DEG),
        (44, "+7      ", "mea", 7.0 * DEG),
    ],
)
def test_angle_fields_take_the_numeric_prefix(column, text, name, value):
    record = DUOLINE(ISS_2008[0], splice(ISS_2008[1], column, text))
    assert getattr(record, name) == value


@pytest.mark.parametrize("which", [0, 1])
@pytest.mark.parametrize("character", ["é", "\u00a0X", "€"])
def test_non_ascii_anywhere_raises_unicode_encode_error(which, character):
    lines = list(ISS_2008)
    lines[which] = splice(lines[which], 66, character)  # a column never read
    with pytest.raises(UnicodeEncodeError):
        DUOLINE(*lines)


def test_characters_that_upper_case_into_ascii_are_accepted():
    # str.upper maps the dotless i to I and sharp s to SS (one more character).
    record = DUOLINE(ISS_2008[0][:60] + "ı", ISS_2008[1][:60] + "ß")
    assert record.line1 == ISS_2008[0][:60] + "I"
    assert record.line2 == ISS_2008[1][:60] + "SS"


# ---- Arguments


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "__cinit__() takes at least 2 positional arguments (0 given)"),
        ((ISS_2008[0],), {}, "__cinit__() takes at least 2 positional arguments (1 given)"),
        ((*ISS_2008, True, 1), {}, "__cinit__() takes at most 3 positional arguments (4 given)"),
        (ISS_2008, {"strict": True}, "__cinit__() got an unexpected keyword argument 'strict'"),
        (ISS_2008, {"line1": "x"}, "__cinit__() got multiple values for keyword argument 'line1'"),
        ((None, ISS_2008[1]), {}, "Argument 'line1' has incorrect type (expected str, got NoneType)"),
        ((ISS_2008[0], b"2"), {}, "Argument 'line2' has incorrect type (expected str, got bytes)"),
        ((1, 2), {}, "Argument 'line1' has incorrect type (expected str, got int)"),
    ],
)
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        DUOLINE(*args, **kwargs)
    assert str(info.value) == message


def test_str_subclass_is_rejected():
    class Line(str):
        pass

    with pytest.raises(TypeError, match=r"^Argument 'line2' has incorrect type \(expected str, got Line\)$"):
        DUOLINE(ISS_2008[0], Line(ISS_2008[1]))


def test_keywords_and_strict_validation_values():
    plain = DUOLINE(*ISS_2008)
    for record in (
        DUOLINE(line2=ISS_2008[1], line1=ISS_2008[0]),
        DUOLINE(*ISS_2008, True),
        DUOLINE(*ISS_2008, strict_validation=[]),
    ):
        assert (record.line1, record.line2, record.sma) == (plain.line1, plain.line2, plain.sma)


def test_strict_validation_whose_truth_test_raises():
    class Undecided:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError, match="no truth"):
        DUOLINE(*ISS_2008, Undecided())


# ---- Faults of the outside collaborators propagate and leak nothing


class BadFloat:
    def __float__(self):
        raise ArithmeticError("GM unavailable")


@pytest.mark.parametrize(
    "attribute, value, error",
    [("GM", "398600e9", TypeError), ("GM", BadFloat(), ArithmeticError), ("Re", None, TypeError)],
)
def test_earth_faults_propagate(earth, attribute, value, error):
    lines = ["1" + ISS_2008[0][1:], "2" + ISS_2008[1][1:]]  # fresh objects
    before = [sys.getrefcount(line) for line in lines]
    setattr(earth, attribute, value)
    for _ in range(3):
        with pytest.raises(error):
            DUOLINE(*lines)
    assert [sys.getrefcount(line) for line in lines] == before


@pytest.mark.parametrize("day, error", [("nan", ValueError), ("1e300", OverflowError)])
def test_time_faults_propagate(day, error):
    lines = [with_epoch(ISS_2008[0], "08" + day.rjust(12)), "2" + ISS_2008[1][1:]]
    flag = []  # a false strict_validation: the lenient parser reaches Time
    before = [sys.getrefcount(x) for x in (*lines, flag)]
    for _ in range(3):
        with pytest.raises(error, match="^(?!line )"):
            DUOLINE(*lines, flag)
    assert [sys.getrefcount(x) for x in (*lines, flag)] == before


# ---- Properties and the record's life


@pytest.mark.parametrize(
    "field, satno",
    [("25544", 25544), ("00005", 5), (" 1234", 1234), ("12 34", "12 34"), ("A1234", "A1234"), ("     ", "")],
)
def test_satno_is_int_or_stripped_text(field, satno):
    record = DUOLINE(splice(ISS_2008[0], 3, field), ISS_2008[1])
    assert record.satno == satno and type(record.satno) is type(satno)


@pytest.mark.parametrize("name", ["line1", "line2", "satno", "epoch", "inc", "ecc", "mnm", "sma", "apg"])
def test_properties_are_read_only(name):
    record = DUOLINE(*ISS_2008)
    with pytest.raises(AttributeError):
        setattr(record, name, 0)


def test_property_docstrings():
    assert DUOLINE.line1.__doc__ == "DUOLINE.line1: str"
    assert DUOLINE.line2.__doc__ == "DUOLINE.line2: str"
    assert DUOLINE.satno.__doc__ == "DUOLINE.satno: int | str"
    assert DUOLINE.inc.__doc__ is None and DUOLINE.epoch.__doc__ is None
    assert DUOLINE.__doc__ is None


def test_record_refcounts_of_epoch_and_cycles_are_released():
    import gc
    import weakref

    class Marker:
        pass

    record = DUOLINE(*ISS_2008)
    epoch = record.epoch
    count = sys.getrefcount(epoch)
    marker = Marker()
    alive = weakref.ref(marker)
    record.marker, record.me = marker, record  # a cycle through the instance dict
    del record, marker
    gc.collect()
    assert alive() is None
    assert sys.getrefcount(epoch) == count - 1


def test_subclass_instances_build_and_release():
    class Named(DUOLINE):
        def __init__(self, line1, line2, name):
            self.name = name

    record = Named(*ISS_2008, "ISS")
    assert record.name == "ISS" and record.satno == 25544
    assert isinstance(record, DUOLINE)


def test_many_records_do_not_leak():
    import tracemalloc

    lines = list(ISS_2008)
    for _ in range(200):
        DUOLINE(*lines)
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    for _ in range(2000):
        DUOLINE(*lines)
    grown = tracemalloc.get_traced_memory()[0] - base
    tracemalloc.stop()
    assert grown < 64 * 1024
