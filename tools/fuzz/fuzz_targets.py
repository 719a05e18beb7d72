"""Fuzz targets for the two-line element classes and the orbital-element functions.

Each target is a function of a Hypothesis ``data`` object: it draws a hostile
input, calls the library and checks the outcome.  Where the outcome can be
predicted from first principles (the record's normalisation and its
fixed-column ``atof`` parse, the element set's sort and fill, the scalar form
of each orbital-element function) the target predicts it and demands exactly
that result or exception.  Elsewhere only the exceptions the library
documents for bad input may come out: anything else, a crash or a hang is a
failure.

``TARGETS`` maps a name to its target (the catalogue reader's and the
propagator's live in their own modules); ``counts`` collects what was tried
and built.  ``tools/fuzz/run.py`` runs them for a time budget; the tests in
``tests/reliability`` run each briefly.
"""

from __future__ import annotations

import collections
import contextlib
import ctypes
import gc
import math
import numbers
import os
import struct
import sys
import warnings

import numpy as np
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from odd_buffers import MisalignedNumpy, misaligned
from quorvane.bodies.bodies import Earth
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.state import orbel
from quorvane.time.time import Time
import quorvane.units.units as units

counts: collections.Counter = collections.Counter()

# Exceptions the library documents for malformed arguments.
DOCUMENTED = (TypeError, ValueError, AttributeError, AssertionError, IndexError, OverflowError)


class Injected(Exception):
    """Raised by the hostile objects the targets build; must come out unchanged."""


class FuzzFailure(AssertionError):
    """An outcome the library does not allow."""


def fail(message: str) -> None:
    raise FuzzFailure(message)


@contextlib.contextmanager
def gc_paused():
    """No cycle collection inside: reference counts then change only by what the call keeps or drops."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


def same_double(a: float, b: float) -> bool:
    return (math.isnan(a) and math.isnan(b)) or struct.pack("<d", a) == struct.pack("<d", b)


def expect_raises(call, exc_type, what, same=None):
    """Run `call`; it must raise `exc_type` (or a subclass), and be the object `same` if given.

    Returns the exception's args and text, not the exception: its traceback
    would keep the frames and so the arguments alive.
    """
    try:
        result = call()
    except exc_type as exc:
        if same is not None and exc is not same:
            fail(f"{what}: the exception {same!r} was replaced by {exc!r}")
        return exc.args, str(exc)
    except BaseException as exc:  # noqa: BLE001 - anything else is the finding
        fail(f"{what}: expected {_names(exc_type)}, got {type(exc).__name__}: {exc!r}")
    fail(f"{what}: expected {_names(exc_type)}, got a result {result!r}")


def _names(exc_type):
    types = exc_type if isinstance(exc_type, tuple) else (exc_type,)
    return " or ".join(t.__name__ for t in types)


# ---------------------------------------------------------------------------
# The C library's conversions, the semantics the record's parser follows.

_libc = ctypes.CDLL(None)
_libc.atof.restype = ctypes.c_double
_libc.atof.argtypes = [ctypes.c_char_p]
_libc.atoi.restype = ctypes.c_int
_libc.atoi.argtypes = [ctypes.c_char_p]


def c_atof(text: bytes) -> float:
    return _libc.atof(text)


def c_atoi(text: bytes) -> int:
    return _libc.atoi(text)


# ---------------------------------------------------------------------------
# Real two-line element sets: the shipped file.

_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TLE_FILE = os.path.join(_ROOT, "examples", "data", "stations.tle")


def _read_pairs():
    with open(TLE_FILE, encoding="ascii") as f:
        lines = [line.rstrip("\n") for line in f if line.strip()]
    pairs = []
    for i in range(len(lines) - 1):
        if lines[i].startswith("1 ") and lines[i + 1].startswith("2 "):
            pairs.append((lines[i], lines[i + 1]))
    return pairs


REAL_PAIRS = _read_pairs()

# Characters that matter to a fixed-column parser, and some that matter to
# the normaliser (non-ASCII case mappings and blanks, surrogates, NUL).
TLE_ALPHABET = "0123456789 +-.eE"
SPECIAL_CHARS = (
    "\x00\t\n\x0b\x0c\r\x1c\x1f\x85\xa0\u2003\u3000"  # blanks of every kind
    "abcxyzUACinfatyINFNAN"  # letters, hex and inf/nan spellings
    "\u0131\u017f\u00df\ufb01\u212a\u00e9\u00ff\ud800\udfff\U0001f600"  # case maps, surrogates
)
NUMERIC_FIELDS = [
    "1e+0001", "9e99999", "1e-9999", "inf", "-inf", "nan", "NAN(123)", "0x1p-3", "0X1P+3",
    "-.5", "+.5", "  -0", "1e", "e5", ".", "-", "99999999999", "0000000", "5e-310", "1.7976931348623157e308",
]

# Column ranges (offset, width) the parser reads, used to aim mutations.
FIELD_RANGES_1 = [(2, 5), (18, 2), (20, 12)]
FIELD_RANGES_2 = [(8, 8), (17, 8), (26, 7), (34, 8), (43, 8), (52, 11)]


@st.composite
def mutated_line(draw, line: str, ranges):
    chars = list(line)
    for _ in range(draw(st.integers(0, 6))):
        op = draw(st.sampled_from(["replace", "insert", "delete", "field", "case", "truncate", "extend", "pad"]))
        pos = draw(st.integers(0, max(len(chars), 1)))
        if op == "replace" and chars:
            chars[min(pos, len(chars) - 1)] = draw(st.sampled_from(TLE_ALPHABET + SPECIAL_CHARS))
        elif op == "insert":
            chars.insert(pos, draw(st.sampled_from(TLE_ALPHABET + SPECIAL_CHARS)))
        elif op == "delete" and chars:
            del chars[min(pos, len(chars) - 1)]
        elif op == "field":
            offset, width = draw(st.sampled_from(ranges))
            text = draw(st.sampled_from(NUMERIC_FIELDS)).ljust(width)[:width]
            while len(chars) < offset + width:
                chars.append(" ")
            chars[offset : offset + width] = list(text)
        elif op == "case":
            chars = list("".join(chars).lower())
        elif op == "truncate":
            chars = chars[:pos]
        elif op == "extend":
            chars.extend(draw(st.text(max_size=40)))
        elif op == "pad":
            blank = draw(st.sampled_from([" ", "\t", "\n", "\r\n", "\u3000", "\x1c"]))
            chars = list(blank * draw(st.integers(1, 3))) + chars + list(blank)
    return "".join(chars)


def any_text():
    return st.one_of(
        st.text(max_size=90),
        st.text(st.characters(exclude_categories=()), max_size=90),  # surrogates too
        st.text(st.sampled_from(TLE_ALPHABET + SPECIAL_CHARS), max_size=120),
        st.text(st.sampled_from(TLE_ALPHABET), min_size=60, max_size=75),
        st.integers(0, 5000).map(lambda n: "9" * n),  # long lines
    )


@st.composite
def line_pair(draw):
    l1, l2 = draw(st.sampled_from(REAL_PAIRS))
    kind = draw(st.sampled_from(["real", "mutated", "mutated", "mutated", "random"]))
    if kind == "real":
        return l1, l2
    if kind == "mutated":
        return draw(mutated_line(l1, FIELD_RANGES_1)), draw(mutated_line(l2, FIELD_RANGES_2))
    return draw(st.one_of(any_text(), mutated_line(l1, FIELD_RANGES_1))), draw(any_text())


class StrSub(str):
    pass


class RaisingBool:
    def __init__(self, exc):
        self.exc = exc

    def __bool__(self):
        raise self.exc


def not_a_line():
    return st.sampled_from([None, b"1 25544U", bytearray(b"2 "), 1, 1.5, ["1"], StrSub("1 25544U")])


# ---------------------------------------------------------------------------
# DUOLINE


def stored_line(text: str) -> bytes:
    """The 69 bytes (NUL-padded to 70) a record keeps of one line."""
    data = text.strip().upper().encode("ascii")[:69]
    return data.ljust(70, b"\0")


def field(stored: bytes, offset: int, width: int) -> bytes:
    return stored[offset : offset + width].split(b"\0")[0]


def expected_satno(stored1: bytes):
    text = stored1[2:7].split(b"\0")[0].decode("ascii").strip()
    try:
        return int(text)
    except ValueError:
        return text


def expected_epoch(stored1: bytes):
    yy = c_atoi(field(stored1, 18, 2))
    year = 2000 + yy if yy <= 56 else 1900 + yy
    jd = Time(str(year)).jd - 1.0 + c_atof(field(stored1, 20, 12))
    return Time(jd, format="jd")


def expected_elements(stored2: bytes) -> dict:
    deg = units.deg
    e = {
        "inc": c_atof(field(stored2, 8, 8)) * deg,
        "raa": c_atof(field(stored2, 17, 8)) * deg,
        "ecc": c_atof(b"." + field(stored2, 26, 7)),
        "arp": c_atof(field(stored2, 34, 8)) * deg,
        "mea": c_atof(field(stored2, 43, 8)) * deg,
        "mnm": c_atof(field(stored2, 52, 11)) * units.rev / units.day,
    }
    gm, re = float(Earth.GM), float(Earth.Re)
    e["sma"] = orbel.sma_from_mnm(e["mnm"], gm)
    e["orp"] = orbel.orp_from_sma(e["sma"], gm)
    e["eca"] = orbel.eca_from_mea(e["mea"], e["ecc"])
    e["tra"] = orbel.tra_from_eca(e["eca"], e["ecc"])
    e["pge"] = (1.0 - e["ecc"]) * e["sma"] - re
    e["apg"] = (e["ecc"] + 1.0) * e["sma"] - re
    return e


ELEMENT_NAMES = ("inc", "raa", "ecc", "mea", "arp", "mnm", "sma", "orp", "eca", "tra", "pge", "apg")


def check_record(rec, l1: str, l2: str) -> None:
    s1, s2 = stored_line(l1), stored_line(l2)
    if rec.line1 != s1.split(b"\0")[0].decode() or rec.line2 != s2.split(b"\0")[0].decode():
        fail(f"stored lines differ: {rec.line1!r} {rec.line2!r} from {l1!r} {l2!r}")
    if rec.satno != expected_satno(s1):
        fail(f"satno {rec.satno!r} != {expected_satno(s1)!r} for {l1!r}")
    if rec.epoch.int64 != expected_epoch(s1).int64:
        fail(f"epoch {rec.epoch!r} != {expected_epoch(s1)!r} for {l1!r}")
    expected = expected_elements(s2)
    for name in ELEMENT_NAMES:
        if not same_double(getattr(rec, name), expected[name]):
            fail(f"{name} = {getattr(rec, name)!r}, expected {expected[name]!r} for {l2!r}")


def predicted_failure(l1, l2):
    """The exception a lenient record must raise for these lines, or None."""
    for name, line in (("line1", l1), ("line2", l2)):
        if type(line) is not str:
            return TypeError, None
    for line in (l1, l2):
        try:
            line.strip().upper().encode("ascii")
        except UnicodeEncodeError:
            return UnicodeEncodeError, None
    for name, line in (("line1", l1), ("line2", l2)):
        if "\0" in line:  # strict validation may name the field first
            return ValueError, f"{name} contains a NUL character"
    try:
        expected_epoch(stored_line(l1))
    except Exception as exc:  # Time refuses the epoch: the record passes that on
        return type(exc), str(exc)
    return None


def duoline_target(data) -> None:
    counts["inputs tried"] += 1
    l1, l2 = data.draw(line_pair(), label="lines")
    if data.draw(st.integers(0, 19), label="wrong type") == 0:
        which = data.draw(st.booleans())
        bad = data.draw(not_a_line())
        l1, l2 = (bad, l2) if which else (l1, bad)
    strict = data.draw(st.sampled_from(["absent", False, 0, "", None, "raising", True, 1]), label="strict")
    if strict == "absent":
        args = (l1, l2)
    elif strict == "raising":
        args = (l1, l2, RaisingBool(Injected("truth")))
    else:
        args = (l1, l2, strict)

    if strict == "raising":
        expect_raises(lambda: DUOLINE(*args), Injected, "strict_validation truth test", same=args[2].exc)
        return
    predicted = predicted_failure(l1, l2)
    validating = strict is True or strict == 1
    if predicted is not None:
        if predicted[0] is TypeError or not validating:
            _, text = expect_raises(lambda: DUOLINE(*args), predicted[0], f"DUOLINE({l1!r}, {l2!r})")
            if predicted[1] is not None and text != predicted[1]:
                fail(f"the message changed on the way: {text} != {predicted[1]}")
        else:
            expect_raises(lambda: DUOLINE(*args), (predicted[0], ValueError), f"DUOLINE({l1!r}, {l2!r}, True)")
        return
    try:
        rec = DUOLINE(*args)
    except ValueError as exc:
        if validating:
            return  # a validating record may refuse malformed lines
        fail(f"DUOLINE({l1!r}, {l2!r}) raised {type(exc).__name__}: {exc}")
    counts["records built"] += 1
    check_record(rec, l1, l2)
    # Printing goes through every property and the base class.
    repr(rec)
    rec._get_body()


# ---------------------------------------------------------------------------
# ELSET


def _pool():
    pool = collections.defaultdict(list)
    for l1, l2 in REAL_PAIRS:
        rec = DUOLINE(l1, l2)
        pool[rec.satno].append(rec)
    return dict(pool)


_POOL = None


def record_pool():
    global _POOL
    if _POOL is None:
        _POOL = _pool()
    return _POOL


class RecordSub(DUOLINE):
    pass


class LookAlike:
    """Has the attributes the sort and the satellite check read, but is no record."""

    def __init__(self, epoch, satno):
        self.epoch, self.satno = epoch, satno


class HostileEpoch:
    """An object whose `epoch` attribute raises."""

    @property
    def epoch(self):
        raise Injected("epoch")


@st.composite
def elset_item(draw, satnos):
    pool = record_pool()
    kind = draw(st.sampled_from(["same", "same", "same", "other", "fresh", "sub", "lookalike", "junk", "hostile"]))
    if kind == "same":
        return draw(st.sampled_from(pool[satnos[0]]))
    if kind == "other":
        return draw(st.sampled_from(pool[draw(st.sampled_from(satnos))]))
    if kind == "fresh":
        l1, l2 = draw(st.sampled_from(REAL_PAIRS))
        l1 = draw(mutated_line(l1, FIELD_RANGES_1[1:]))
        try:
            return DUOLINE(l1, l2)
        except DOCUMENTED:
            return None
    if kind == "sub":
        return RecordSub(*draw(st.sampled_from(REAL_PAIRS)))
    if kind == "lookalike":
        base = draw(st.sampled_from(pool[satnos[0]]))
        satno = draw(st.sampled_from([base.satno, "A1234", 2**40, 1.5, None]))
        return LookAlike(base.epoch, satno)
    if kind == "hostile":
        return HostileEpoch()
    return draw(st.sampled_from([None, 1, "1 25544U", object(), b"", 2.5]))


def model_elset(items, satname, kwargs):
    """What ELSET(*items, satname=..., **kwargs) must do: ("ok", sorted records) or (exception type, args)."""
    if kwargs or (satname is not None and type(satname) is not str):
        return TypeError, None
    try:
        records = sorted(items, key=lambda r: r.epoch)
        satnos = {r.satno for r in records}
    except Exception as exc:
        return type(exc), exc.args
    if len(satnos) != 1:
        return (AssertionError if __debug__ else KeyError), None
    satno = next(iter(satnos))
    if not isinstance(satno, int):
        if not hasattr(type(satno), "__int__"):
            return TypeError, None
        try:
            satno = int(satno)
        except Exception as exc:
            return type(exc), None
    if not -(2**31) <= satno < 2**31:
        return OverflowError, None
    if any(not isinstance(r, DUOLINE) for r in records):
        return TypeError, None
    return "ok", records


def _elset_once(items, satname, kwargs) -> None:
    outcome, detail = model_elset(items, satname, kwargs)
    call = lambda: ELSET(*items, satname=satname, **kwargs)  # noqa: E731
    if outcome != "ok":
        exc_args, _ = expect_raises(call, outcome, f"ELSET of {[type(x).__name__ for x in items]}")
        if outcome is Injected and exc_args != detail:
            fail("the sort key's exception was replaced")
        return
    records = detail
    es = call()
    counts["sets built"] += 1
    if es.size != len(records) or es.satname != satname or es.satno != records[0].satno:
        fail(f"size/satname/satno wrong: {es.size} {es.satname!r} {es.satno}")
    for name in ELEMENT_NAMES:
        got = getattr(es, name)
        want = [getattr(r, name) for r in records]
        if got.dtype != np.float64 or got.shape != (len(records),):
            fail(f"{name} array has dtype {got.dtype} and shape {got.shape}")
        if not all(same_double(x, y) for x, y in zip(got.tolist(), want)):
            fail(f"{name} = {got} but the records hold {want}")
    if [int(x) for x in np.atleast_1d(es.epoch.int64)] != [r.epoch.int64 for r in records]:
        fail("epochs out of order")
    if es._get_body() != f"{len(records)} elements":
        fail(f"body {es._get_body()!r}")


def elset_target(data) -> None:
    counts["inputs tried"] += 1
    satnos = data.draw(st.permutations(sorted(record_pool(), key=str)), label="satellites")
    items = data.draw(st.lists(elset_item(satnos), max_size=8), label="items")
    satname = data.draw(st.sampled_from([None, "ISS", "", "\u00e9", b"ISS", StrSub("x"), 7]), label="satname")
    kwargs = data.draw(st.sampled_from([{}, {}, {}, {"name": "x"}, {"satno": 1}]), label="extra")
    with gc_paused():
        before = [sys.getrefcount(x) for x in items]
        _elset_once(items, satname, kwargs)
        after = [sys.getrefcount(x) for x in items]
    if after != before:
        fail(f"reference counts of the records changed: {before} -> {after}")


# ---------------------------------------------------------------------------
# orbel functions


class ArraySub(np.ndarray):
    """A subclass: not an exact ndarray, so every element goes through item access."""


class Injecting:
    """Looks like a 1-D array; its item access raises `Injected`."""

    ndim = 1
    shape = (3,)

    def __getitem__(self, index):
        raise Injected(index)


class Resizing:
    """A numbers.Real whose float conversion empties another array in place.

    (Not a float subclass: the float protocol reads a float subclass's value
    without calling its __float__.)  Item access then finds the array empty;
    a loop that kept the array's old data pointer would read freed memory.
    """

    def __init__(self, value, victim):
        self.value = value
        self.victim = victim

    def __float__(self):
        if self.victim.size:
            self.victim.resize((0,), refcheck=False)
            [np.full(4096, 7.0) for _ in range(4)]  # reuse the freed memory
        return self.value


numbers.Real.register(Resizing)




class RealLike(float):
    """A numbers.Real whose float conversion raises."""

    def __float__(self):
        raise Injected("float")


REAL_DTYPES = [np.float64, np.float32, np.float16, np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint64,
               np.bool_, np.complex128]
DTYPES = st.one_of(
    st.sampled_from(REAL_DTYPES).map(np.dtype),
    st.just(np.dtype(">f8")),
    st.just(np.dtype("<i4").newbyteorder(">")),
    st.just(np.dtype(object)),
    st.just(np.dtype([("a", "f8"), ("b", "i4")])),
    st.just(np.dtype(orbel.ORBEL_dt)),
    st.just(np.dtype("datetime64[ns]")),
    st.just(np.dtype("U3")),
)

FLOATS = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True)
INTERESTING = st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 0.9999999, 1.0 - 2**-53, 1.0 + 2**-52, 2.0, 3.0,
                               math.pi, 2 * math.pi, 5e-324, 2.2250738585072014e-308, 1e308, -1e308,
                               math.inf, -math.inf, math.nan, 7000e3, 42164e3, 1.1e-3, 3.986004418e14])
VALUES = st.one_of(FLOATS, INTERESTING)


def _fill(dtype):
    if dtype.kind in "fc":
        return VALUES
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        return st.integers(int(info.min), int(info.max))
    if dtype.kind == "b":
        return st.booleans()
    if dtype.kind == "O":
        return st.one_of(VALUES, st.integers(-(2**1100), 2**1100), st.none(), st.text(max_size=3),
                         st.complex_numbers(max_magnitude=10))
    return None


def _filled(data, dtype, shape):
    """An array of `dtype` and `shape` with hostile values."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if dtype.kind in "fc":
            return data.draw(hnp.arrays(np.float64, shape, elements=VALUES)).astype(dtype)
        fill = _fill(dtype)
        if fill is not None:
            return data.draw(hnp.arrays(dtype, shape, elements=fill))
        a = np.zeros(shape, dtype)
        if dtype.names:
            for name in dtype.names:
                a[name] = _filled(data, dtype[name], shape)
        return a


@st.composite
def arrays(draw, dims=st.integers(0, 3), length=st.integers(0, 12)):
    dtype = draw(DTYPES)
    ndim = draw(dims)
    shape = tuple(draw(length) if i == 0 else draw(st.integers(0, 4)) for i in range(ndim))
    return draw(views(_filled(_Drawer(draw), dtype, shape)))


class _Drawer:
    """Gives a composite's `draw` the `data.draw` spelling."""

    def __init__(self, draw):
        self.draw = draw


@st.composite
def views(draw, a):
    """The same values, or a strided, broadcast, read-only, unaligned or subclassed view of them."""
    how = draw(st.sampled_from(["plain", "plain", "reversed", "step", "broadcast", "readonly", "unaligned",
                                "unaligned", "unaligned-step", "fortran", "sub", "masked", "matrix", "list",
                                "tuple", "zerod"]))
    if how == "reversed" and a.ndim:
        return a[::-1]
    if how == "step" and a.ndim:
        big = np.repeat(a, 3, axis=0)
        return big[:: draw(st.sampled_from([2, 3, -2, -3]))]
    if how == "broadcast" and a.ndim and a.shape[0]:
        return np.broadcast_to(a[:1], (draw(st.integers(0, 20)),) + a.shape[1:])
    if how == "readonly":
        a.flags.writeable = False
        return a
    if how.startswith("unaligned") and a.dtype.kind != "O" and a.dtype.itemsize > 1:
        return misaligned(a, 2 if how == "unaligned-step" and a.ndim else 1)
    if how == "fortran" and a.ndim >= 2:
        return np.asfortranarray(a)
    if how == "sub":
        return a.view(ArraySub)
    if how == "masked" and a.dtype.kind in "fiub":
        return np.ma.masked_array(a, mask=np.zeros(a.shape, bool))
    if how == "matrix" and a.ndim == 2 and a.dtype.kind in "fiub":
        return np.asmatrix(a)
    if how == "list":
        return a.tolist()
    if how == "tuple" and a.ndim:
        return tuple(a.tolist())
    if how == "zerod":
        return np.asarray(a.flat[0] if a.size else 0.0)
    return a


SCALARS = st.one_of(
    VALUES,
    st.integers(-(2**70), 2**70),
    st.booleans(),
    st.sampled_from([np.float32(1.5), np.float64(-2.0), np.int64(3), np.uint8(7), np.bool_(True),
                     np.float16(0.5), np.longdouble(2.5), np.float64("nan")]),
    st.fractions(max_denominator=1000),
    st.sampled_from([__import__("decimal").Decimal("1.5"), 1 + 2j, "1.0", b"1", None, RealLike(1.0),
                     Injecting(), [], (1.0,), {}]),
)
ARGS = st.one_of(SCALARS, arrays(), arrays(dims=st.just(1)))


def _exact_arrays(args):
    return [i for i, a in enumerate(args) if type(a) is np.ndarray]


def call_outcome(fn, args, kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        # Only the type and text leave: the exception's traceback would keep the arguments alive.
        try:
            return "ok", fn(*args, **kwargs)
        except Injected as exc:
            return Injected, str(exc)
        except DOCUMENTED as exc:
            return type(exc), str(exc)
        except BaseException as exc:  # noqa: BLE001
            fail(f"{fn.__name__}{tuple(map(_describe, args))} raised {type(exc).__name__}: {exc!r}")


def _describe(a):
    if isinstance(a, np.ndarray):
        return f"{type(a).__name__}(dtype={a.dtype}, shape={a.shape}, strides={a.strides})"
    return repr(a)[:60]


def same_result(a, b) -> bool:
    if isinstance(a, tuple):
        return isinstance(b, tuple) and len(a) == len(b) and all(same_result(x, y) for x, y in zip(a, b))
    if isinstance(a, float):
        return isinstance(b, float) and same_double(a, b)
    return (type(a) is type(b) and a.dtype == b.dtype and a.shape == b.shape
            and np.ascontiguousarray(a).tobytes() == np.ascontiguousarray(b).tobytes())


SIZE_FUNCTIONS = [orbel.mnm_from_sma, orbel.sma_from_mnm, orbel.orp_from_sma, orbel.sma_from_orp]
ANOMALY_FUNCTIONS = [orbel.eca_from_mea, orbel.mea_from_eca, orbel.eca_from_tra, orbel.tra_from_eca,
                     orbel.tra_from_mea, orbel.mea_from_tra]


def check_elementwise(fn, args, result):
    """An array result holds, element by element, the function's scalar value."""
    if not isinstance(result, np.ndarray):
        if not isinstance(result, float):
            fail(f"{fn.__name__} returned {type(result).__name__} for scalars")
        return
    if type(result) is not np.ndarray or result.dtype != np.float64 or result.ndim != 1:
        fail(f"{fn.__name__} returned {type(result).__name__} {result.dtype} ndim {result.ndim}")
    if not result.flags.c_contiguous or not result.flags.writeable:
        fail(f"{fn.__name__} result is not a fresh contiguous array")
    for a in args:
        if isinstance(a, np.ndarray) and np.shares_memory(result, a):
            fail(f"{fn.__name__} result aliases its input")
    allocating = next(a for a in args if not isinstance(a, numbers.Real))
    if len(result) != allocating.shape[0]:
        fail(f"{fn.__name__} result has {len(result)} entries for an input of {allocating.shape[0]}")
    if not len(result):
        return
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for i in range(len(result)):
            scalars = [float(a) if isinstance(a, numbers.Real) else float(a[i]) for a in args]
            if not same_double(result[i], fn(*scalars)):
                fail(f"{fn.__name__} element {i}: {result[i]!r} != scalar {fn(*scalars)!r} for {scalars}")


def _orbel_args(data, kind):
    if kind in ("size", "anomaly") and data.draw(st.integers(0, 9)) == 0:
        victim = np.zeros(data.draw(st.integers(2, 5000)))
        victim[:] = 0.25
        fn = data.draw(st.sampled_from(SIZE_FUNCTIONS if kind == "size" else ANOMALY_FUNCTIONS))
        return fn, [victim, Resizing(0.5, victim)], {}
    if kind == "size":
        fn = data.draw(st.sampled_from(SIZE_FUNCTIONS))
        args = [data.draw(ARGS)]
        optional = True
    elif kind == "anomaly":
        fn = data.draw(st.sampled_from(ANOMALY_FUNCTIONS))
        args = [data.draw(ARGS), data.draw(ARGS)]
        optional = False
    elif kind == "from_sv":
        fn = orbel.orbel_from_sv
        n = data.draw(st.integers(0, 6))
        shape = data.draw(st.sampled_from([(3,), (n, 3), (n, 3), (n, 4), (n,), (n, 3, 1)]))
        dtype = np.dtype(data.draw(st.sampled_from(REAL_DTYPES)))
        r = data.draw(views(_filled(data, dtype, shape)))
        other = data.draw(st.sampled_from(["same", "same", "row", "arrays"]))
        if other == "same":
            v = data.draw(views(_filled(data, dtype, shape)))
        elif other == "row":
            v = np.ones((n + 1, 3))
        else:
            v = data.draw(ARGS)
        args = [r, v]
        optional = True
    else:
        fn = orbel.sv_from_orbel
        n = data.draw(st.integers(0, 8))
        rec = _filled(data, np.dtype(orbel.ORBEL_dt), (n,))
        args = [data.draw(st.one_of(views(rec), views(rec.reshape(-1, 1)), arrays(), SCALARS))]
        optional = True
    if optional and data.draw(st.booleans()):
        args.append(data.draw(st.one_of(VALUES, SCALARS)))
    kwargs = {}
    if data.draw(st.integers(0, 9)) == 0 and len(args) == (2 if kind != "from_sv" else 3):
        kwargs = {"ecc" if kind == "anomaly" else "GM": args.pop()}
    return fn, args, kwargs


def _orbel_once(fn, kind, args, kwargs) -> None:
    outcome, value = call_outcome(fn, args, kwargs)
    counts["calls made"] += 1
    if any(isinstance(a, Resizing) for a in args):
        # Item access after the array was emptied raises IndexError.
        if outcome is not IndexError:
            fail(f"{fn.__name__} over an array emptied during the call gave {outcome} {value!r}, not IndexError")
        return
    if outcome == "ok":
        counts["arrays returned" if not isinstance(value, float) else "floats returned"] += 1
        if kind in ("size", "anomaly") and not kwargs:
            check_elementwise(fn, args, value)
    elif outcome is Injected and not any(isinstance(a, (Injecting, RealLike)) for a in [*args, *kwargs.values()]):
        fail("Injected raised without an injecting argument")
    # Results written at odd addresses hold the same values.
    if outcome == "ok" and not isinstance(value, float):
        step = 1 + counts["calls made"] % 2
        saved = orbel.numpy
        orbel.numpy = MisalignedNumpy(step)
        try:
            odd_outcome, odd_value = call_outcome(fn, args, kwargs)
        finally:
            orbel.numpy = saved
        if odd_outcome != "ok" or not same_result(value, odd_value):
            fail(f"{fn.__name__}: results at odd addresses gave {odd_outcome} {odd_value!r}, not {value!r}")
    # The memory path for exact arrays and the item path for a subclass agree.
    exact = _exact_arrays(args)
    if exact:
        sub_args = [a.view(ArraySub) if i in exact else a for i, a in enumerate(args)]
        sub_outcome, sub_value = call_outcome(fn, sub_args, kwargs)
        if sub_outcome != outcome:
            fail(f"{fn.__name__}: exact arrays gave {outcome}, the subclass path {sub_outcome} "
                 f"({value!r} / {sub_value!r}) for {list(map(_describe, args))}")
        if outcome == "ok" and not same_result(value, sub_value):
            fail(f"{fn.__name__}: memory path {value!r} != item path {sub_value!r} for {list(map(_describe, args))}")


def orbel_target(data) -> None:
    counts["inputs tried"] += 1
    kind = data.draw(st.sampled_from(["size", "anomaly", "anomaly", "from_sv", "to_sv"]), label="kind")
    fn, args, kwargs = _orbel_args(data, kind)
    with gc_paused():
        before = [sys.getrefcount(a) for a in args]
        _orbel_once(fn, kind, args, kwargs)
        after = [sys.getrefcount(a) for a in args]
    if after != before:
        fail(f"{fn.__name__}: reference counts of the arguments changed: {before} -> {after}")


TARGETS = {
    "duoline": duoline_target,
    "elset": elset_target,
    "orbel": orbel_target,
}

# The columnar catalogue reader (its own module, sharing this one's pieces).
from catalogue_targets import make_target  # noqa: E402

TARGETS["catalogue"] = make_target(counts, fail, REAL_PAIRS, mutated_line, FIELD_RANGES_1, FIELD_RANGES_2)

# The propagator: batches against their records alone, hostile times.
import propagator_targets  # noqa: E402

TARGETS["propagator"] = propagator_targets.make_target(counts, fail, REAL_PAIRS, mutated_line, FIELD_RANGES_2)
