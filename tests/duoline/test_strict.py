"""DUOLINE(..., strict_validation=True): the published format is enforced."""

import pathlib

import pytest

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE
from tle_data import ISS_2008, PUBLISHED, splice

L1, L2 = ISS_2008
STATIONS = pathlib.Path(__file__).parents[2] / "examples" / "data" / "stations.tle"
FIELDS = ("satno", "inc", "raa", "ecc", "mea", "arp", "mnm", "sma", "orp", "eca", "tra", "pge", "apg")


def summed(line):
    """The modulo-10 checksum of columns 1-68."""
    return sum(int(c) if c.isdigit() else c == "-" for c in line[:68]) % 10


def signed(line):
    """`line` (69 columns) with its checksum column made right."""
    return line[:68] + str(summed(line))


def station_sets():
    lines = [line for line in STATIONS.read_text().splitlines() if line[:2] in ("1 ", "2 ")]
    return list(zip(lines[0::2], lines[1::2]))


def state(record):
    return (record.line1, record.line2, record.epoch.jd) + tuple(getattr(record, f) for f in FIELDS)


# ---- Valid element sets pass and parse exactly as without validation


@pytest.mark.parametrize("lines", [*PUBLISHED.values(), *station_sets()])
def test_published_sets_pass_and_parse_alike(lines):
    assert state(DUOLINE(*lines, strict_validation=True)) == state(DUOLINE(*lines))


@pytest.mark.parametrize(
    "lines",
    [
        ("  " + L1.lower() + "\n", "\t" + L2 + "  "),  # normalised before the check
        (signed(splice(L1, 3, "A0005")), signed(splice(L2, 3, "A0005"))),  # alpha-5 catalogue number
        (signed(splice(L1, 10, "        ")), L2),  # designator unknown
        (signed(splice(L1, 10, "98067ABC")), L2),  # three-letter piece
        (signed(splice(L1, 63, " ")), L2),  # ephemeris type blank
        (signed(splice(L1, 34, "+.00002182")), L2),
        (signed(splice(L1, 45, "-12345+9")), L2),
        (signed(splice(L1, 65, "   7")), L2),  # element set number right-justified
        (L1, signed(splice(L2, 9, "180.0000"))),
        (L1, signed(splice(L2, 9, "  0.0000"))),
        (L1, signed(splice(L2, 18, "360.0000"))),
        (L1, signed(splice(L2, 53, "          1"))),
        (L1, signed(splice(L2, 64, "    0"))),
        (signed(splice(L1, 21, "366.99999999")), L2),
        (signed(splice(L1, 21, "  1.00000000")), L2),
        (signed(splice(L1, 21, "         264")), L2),
    ],
)
def test_forms_the_format_allows(lines):
    record = DUOLINE(*lines, True)
    assert state(record) == state(DUOLINE(*lines))


# ---- Each fault, with its message


def bad1(column, text):
    return splice(L1, column, text), L2


def bad2(column, text):
    return L1, splice(L2, column, text)


FAULTS = {
    # length and line numbers
    "short line 1": ((L1[:68], L2), "line 1, column 69: length is 68, expected 69"),
    "long line 1": ((L1 + "0", L2), "line 1, column 70: length is 70, expected 69"),
    "empty line 2": ((L1, " \n"), "line 2, column 1: length is 0, expected 69"),
    "long line 2": ((L1, L2 + "123"), "line 2, column 70: length is 72, expected 69"),
    "swapped": ((L2, L1), "line 1, column 1: line number is '2', expected '1'"),
    "line 2 numbered 1": (bad2(1, "1"), "line 2, column 1: line number is '1', expected '2'"),
    "line number letter": (bad1(1, "L"), "line 1, column 1: line number is 'L', expected '1'"),
    # checksums
    "checksum 1": (bad1(69, "0"), "line 1, column 69: checksum is 0, expected 7"),
    "checksum 2": (bad2(69, "8"), "line 2, column 69: checksum is 8, expected 7"),
    "checksum letter": (bad2(69, "X"), "line 2, column 69: checksum 'X' is not a digit"),
    "checksum minus": (bad1(69, "-"), "line 1, column 69: checksum '-' is not a digit"),
    # separators
    "separator 1/9": (bad1(9, "9"), "line 1, column 9: separator '9' is not a blank"),
    "separator 1/64": (bad1(64, "0"), "line 1, column 64: separator '0' is not a blank"),
    "separator 2/8": (bad2(8, "X"), "line 2, column 8: separator 'X' is not a blank"),
    "separator 2/52": (bad2(52, "."), "line 2, column 52: separator '.' is not a blank"),
    # line 1 fields
    "satno blank": (bad1(3, " 5544"), "line 1, columns 3-7: satellite number ' 5544' is not a catalogue number"),
    "satno letter I": (bad1(3, "I5544"), "line 1, columns 3-7: satellite number 'I5544' is not a catalogue number"),
    "satno letters": (bad1(3, "AB544"), "line 1, columns 3-7: satellite number 'AB544' is not a catalogue number"),
    "classification": (bad1(8, "X"), "line 1, column 8: classification 'X' is not U, C or S"),
    "designator": (
        bad1(10, "98O67A  "),
        "line 1, columns 10-17: international designator '98O67A  ' is not a designator",
    ),
    "designator no piece": (
        bad1(10, "98067   "),
        "line 1, columns 10-17: international designator '98067   ' is not a designator",
    ),
    "designator gap": (
        bad1(10, "98067A B"),
        "line 1, columns 10-17: international designator '98067A B' is not a designator",
    ),
    "year blank": (bad1(19, " 8"), "line 1, columns 19-20: epoch year ' 8' is not 2 digits"),
    "day letters": (bad1(21, "264.5178252X"), "line 1, columns 21-32: epoch day '264.5178252X' is not a number"),
    "day exponent": (bad1(21, "    2.645E02"), "line 1, columns 21-32: epoch day '    2.645E02' is not a number"),
    "day two points": (bad1(21, "264.517.2528"), "line 1, columns 21-32: epoch day '264.517.2528' is not a number"),
    "day trailing blank": (bad1(21, "264.5178252 "), "line 1, columns 21-32: epoch day '264.5178252 ' is not a number"),
    "day blank": (bad1(21, " " * 12), "line 1, columns 21-32: epoch day '            ' is not a number"),
    "day zero": (bad1(21, "000.51782528"), "line 1, columns 21-32: epoch day '000.51782528' is outside [1, 367)"),
    "day 367": (bad1(21, "367.00000000"), "line 1, columns 21-32: epoch day '367.00000000' is outside [1, 367)"),
    "ndot": (
        bad1(34, "-.0000218Z"),
        "line 1, columns 34-43: first derivative of mean motion '-.0000218Z' is not a number",
    ),
    "ndot sign inside": (
        bad1(34, " .-0002182"),
        "line 1, columns 34-43: first derivative of mean motion ' .-0002182' is not a number",
    ),
    "nddot no exponent sign": (
        bad1(45, " 00000 0"),
        "line 1, columns 45-52: second derivative of mean motion ' 00000 0' is not in implied-exponent form",
    ),
    "nddot decimal": (
        bad1(45, " 0.0000 "),
        "line 1, columns 45-52: second derivative of mean motion ' 0.0000 ' is not in implied-exponent form",
    ),
    "bstar": (bad1(54, "-1160X-4"), "line 1, columns 54-61: drag term '-1160X-4' is not in implied-exponent form"),
    "bstar exponent digit": (
        bad1(54, "-11606-A"),
        "line 1, columns 54-61: drag term '-11606-A' is not in implied-exponent form",
    ),
    "ephemeris type": (bad1(63, "X"), "line 1, column 63: ephemeris type 'X' is not a digit"),
    "element set number": (bad1(65, " 29 "), "line 1, columns 65-68: element set number ' 29 ' is not a number"),
    "element set blank": (bad1(65, "    "), "line 1, columns 65-68: element set number '    ' is not a number"),
    # line 2 fields
    "satno differs": (bad2(3, "25545"), "line 2, columns 3-7: satellite number '25545' differs from line 1 '25544'"),
    "satno 2 form": (bad2(3, "2554 "), "line 2, columns 3-7: satellite number '2554 ' is not a catalogue number"),
    "inclination": (bad2(9, " 51.64X6"), "line 2, columns 9-16: inclination ' 51.64X6' is not a number"),
    "inclination range": (bad2(9, "180.0001"), "line 2, columns 9-16: inclination '180.0001' is outside [0, 180]"),
    "inclination negative": (bad2(9, " -0.0001"), "line 2, columns 9-16: inclination ' -0.0001' is outside [0, 180]"),
    "node": (
        bad2(18, "247,4627"),
        "line 2, columns 18-25: right ascension of the ascending node '247,4627' is not a number",
    ),
    "node range": (
        bad2(18, "360.0001"),
        "line 2, columns 18-25: right ascension of the ascending node '360.0001' is outside [0, 360]",
    ),
    "eccentricity blank": (bad2(27, " 006703"), "line 2, columns 27-33: eccentricity ' 006703' is not 7 digits"),
    "eccentricity point": (bad2(27, ".006703"), "line 2, columns 27-33: eccentricity '.006703' is not 7 digits"),
    "eccentricity exponent": (bad2(27, "1E+0001"), "line 2, columns 27-33: eccentricity '1E+0001' is not 7 digits"),
    "perigee": (bad2(35, "130.536 "), "line 2, columns 35-42: argument of perigee '130.536 ' is not a number"),
    "perigee range": (
        bad2(35, "999.9999"),
        "line 2, columns 35-42: argument of perigee '999.9999' is outside [0, 360]",
    ),
    "mean anomaly": (bad2(44, "325 0288"), "line 2, columns 44-51: mean anomaly '325 0288' is not a number"),
    "mean anomaly sign": (bad2(44, "-25.0288"), "line 2, columns 44-51: mean anomaly '-25.0288' is outside [0, 360]"),
    "mean motion": (bad2(53, "15.721253.1"), "line 2, columns 53-63: mean motion '15.721253.1' is not a number"),
    "mean motion blank": (bad2(53, " " * 11), "line 2, columns 53-63: mean motion '           ' is not a number"),
    "mean motion zero": (bad2(53, " 0.00000000"), "line 2, columns 53-63: mean motion ' 0.00000000' is not positive"),
    "revolution number": (bad2(64, "5635X"), "line 2, columns 64-68: revolution number '5635X' is not a number"),
    # the text of a field is shown escaped
    "NUL shown escaped": (bad2(10, "\0"), "line 2, columns 9-16: inclination ' \\x001.6416' is not a number"),
    "quote shown escaped": (bad2(10, "'"), "line 2, columns 9-16: inclination ' \\'1.6416' is not a number"),
    "tab inside": (bad1(3, "25\t44"), "line 1, columns 3-7: satellite number '25\\x0944' is not a catalogue number"),
}

@pytest.mark.parametrize("lines, message", FAULTS.values(), ids=FAULTS.keys())
def test_fault_messages(lines, message):
    with pytest.raises(ValueError) as info:
        DUOLINE(*lines, strict_validation=True)
    assert str(info.value) == message
    if any("\0" in line for line in lines):
        # A NUL would end the stored line where the fields read on: refused
        # by the lenient parser too.
        with pytest.raises(ValueError, match="contains a NUL character"):
            DUOLINE(*lines)
    else:
        DUOLINE(*lines)  # the lenient parser still takes them


def test_minus_counts_one_in_the_checksum():
    # Replacing the sign of the derivative by a blank lowers the sum by one.
    assert summed(L1) == 7 and summed(splice(L1, 34, " ")) == 6
    with pytest.raises(ValueError, match=r"^line 1, column 69: checksum is 7, expected 6$"):
        DUOLINE(splice(L1, 34, " "), L2, True)


@pytest.mark.parametrize(
    "lines, message",
    [
        # line 1 before line 2
        ((L1[:60], L2[:60]), "line 1, column 61: length is 60, expected 69"),
        # the length before every column
        (("2" + L1[1:-1], L2), "line 1, column 69: length is 68, expected 69"),
        # the line number before the fields, the fields left to right, the checksum last
        ((splice(splice(L1, 1, "3"), 8, "X"), L2), "line 1, column 1: line number is '3', expected '1'"),
        ((L1, splice(splice(L2, 44, "X"), 9, "X")), "line 2, columns 9-16: inclination 'X51.6416' is not a number"),
        (
            (L1, splice(splice(L2, 3, "00005"), 69, "0")),
            "line 2, columns 3-7: satellite number '00005' differs from line 1 '25544'",
        ),
    ],
)
def test_first_fault_is_reported(lines, message):
    with pytest.raises(ValueError) as info:
        DUOLINE(*lines, True)
    assert str(info.value) == message


# ---- The flag


class Truth:
    def __init__(self, value):
        self.value = value
        self.calls = 0

    def __bool__(self):
        self.calls += 1
        return self.value

    def __repr__(self):
        # The test's id: the same in every process (parallel workers compare their collections).
        return f"Truth({self.value!r})"


@pytest.mark.parametrize("flag", [0, 0.0, "", None, False, [], Truth(False)], ids=repr)
def test_false_flags_keep_the_lenient_parser(flag):
    lines = (L1[:40] + "garbage", splice(L2, 9, "51.6X16 "))
    assert state(DUOLINE(*lines, flag)) == state(DUOLINE(*lines))
    assert state(DUOLINE(*lines, strict_validation=flag)) == state(DUOLINE(*lines))


@pytest.mark.parametrize("flag", [True, 1, "no", [0], Truth(True)], ids=repr)
def test_true_flags_validate(flag):
    with pytest.raises(ValueError, match=r"^line 2, column 69: checksum is 6, expected 7$"):
        DUOLINE(L1, splice(L2, 69, "6"), flag)


def test_truth_is_taken_once():
    flag = Truth(True)
    DUOLINE(*ISS_2008, flag)
    assert flag.calls == 1


class Undecided:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize(
    "lines",
    [ISS_2008, ("", ""), (None, L2), (L1, "\u00e9")],
    ids=["valid", "invalid", "not a str", "not ascii"],
)
def test_a_raising_truth_test_comes_first(lines):
    with pytest.raises(ZeroDivisionError, match="^no truth$"):
        DUOLINE(*lines, strict_validation=Undecided())


@pytest.mark.parametrize(
    "lines, error",
    [
        (("", 2), TypeError),  # the type test before the validation
        (("", "2 \u00e9"), UnicodeEncodeError),  # both lines are stored before the validation
    ],
)
def test_validation_follows_storage(lines, error):
    with pytest.raises(error):
        DUOLINE(*lines, True)


def test_validation_is_not_an_assertion():
    # Strict validation is asked for by the caller, so -O does not drop it.
    import subprocess
    import sys

    code = (
        "from quorvane.propagators.analytical.sgp4.duoline import DUOLINE\n"
        f"try:\n    DUOLINE({L1!r}, {L2[:-1] + '0'!r}, True)\n"
        "except ValueError as e:\n    print(e)\n"
    )
    out = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True, check=True).stdout
    assert out == "line 2, column 69: checksum is 0, expected 7\n"
