"""Python entry points of the size/period relations and the anomalies:
scalar and array forms, error types, and agreement of the direct-memory
path (exact ndarrays, exact float/int) with the generic item-by-item path."""

import ctypes
import math
import numbers

import numpy as np
import pytest

import quorvane.state.orbel as orbel
from capsules import kernel
from quorvane.bodies.bodies import Earth

D = ctypes.c_double
GM = float(Earth.GM)
SIZE_PERIOD = ["orp_from_sma", "sma_from_orp", "mnm_from_sma", "sma_from_mnm"]
ANOMALIES = ["eca_from_mea", "mea_from_eca", "eca_from_tra", "tra_from_eca", "tra_from_mea", "mea_from_tra"]
FIRST = {"orp_from_sma": "sma", "sma_from_orp": "orp", "mnm_from_sma": "sma", "sma_from_mnm": "mnm",
         "eca_from_mea": "mea", "mea_from_eca": "eca", "eca_from_tra": "tra", "tra_from_eca": "eca",
         "tra_from_mea": "mea", "mea_from_tra": "tra"}


class Sub(np.ndarray):
    """Not an exact ndarray: always takes the item-by-item path."""


class Real(numbers.Real):
    """A Real that is not a float: converted through __float__ at each use."""

    def __init__(self, value):
        self.value, self.conversions = value, 0

    def __float__(self):
        self.conversions += 1
        return self.value

    # the abstract methods, unused
    __abs__ = __add__ = __ceil__ = __eq__ = __floor__ = __floordiv__ = __le__ = __lt__ = __mod__ = __mul__ = \
        __neg__ = __pos__ = __pow__ = __radd__ = __rfloordiv__ = __rmod__ = __rmul__ = __round__ = \
        __rpow__ = __rtruediv__ = __truediv__ = __trunc__ = lambda *a: NotImplemented
    __hash__ = object.__hash__


def capsule(name):
    return kernel(orbel, "c_" + name, D, D, D)


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def outcome(call):
    try:
        return call()
    except Exception as exc:
        return type(exc), str(exc)


def assert_same(a, b):
    if isinstance(a, tuple):
        assert a == b
    elif isinstance(a, np.ndarray):
        assert type(b) is np.ndarray and a.dtype == b.dtype == np.float64 and a.shape == b.shape
        assert np.array_equal(bits(a), bits(b))
    else:
        assert type(a) is type(b) is float and (a == b or (math.isnan(a) and math.isnan(b)))


rng = np.random.default_rng(7)
SMA = rng.uniform(6.6e6, 4.3e7, 64)
ANGLE = np.concatenate([rng.uniform(-7.0, 13.0, 60), [0.0, np.pi, -0.0, np.nan]])
ECC = np.concatenate([rng.uniform(0.0, 0.99, 60), [0.0, 0.5, 1.2, np.nan]])


# ---------------------------------------------------------------- scalars

@pytest.mark.parametrize("name", SIZE_PERIOD)
def test_size_period_scalar(name):
    f, c = getattr(orbel, name), capsule(name)
    assert f(7.0e6) == c(7.0e6, GM) and type(f(7.0e6)) is float
    first = FIRST[name]
    assert f(7.0e6, 1.0e14) == f(7.0e6, GM=1.0e14) == f(**{first: 7.0e6, "GM": 1.0e14}) == c(7.0e6, 1.0e14)
    # Python int, bool, NumPy integer and float32 scalars are scalars too
    for x in (7_000_000, True, np.int64(7_000_000), np.float32(7.0e6), np.float64(7.0e6), Real(7.0e6)):
        assert_same(f(x), c(float(x), GM))
    assert math.isnan(f(math.nan))


def test_size_period_degenerate_values():
    assert orbel.mnm_from_sma(0.0) == math.inf
    assert math.isnan(orbel.mnm_from_sma(-7.0e6)) and math.isnan(orbel.orp_from_sma(-7.0e6))
    assert orbel.sma_from_orp(5400) == capsule("sma_from_orp")(5400.0, GM)


@pytest.mark.parametrize("name", ANOMALIES)
def test_anomaly_scalar(name):
    f, c = getattr(orbel, name), capsule(name)
    for angle, ecc in [(0.0, 0.5), (1.0, 0.1), (-3.0, 0.7), (1, 0), (np.float32(2.5), np.float64(0.3))]:
        assert_same(f(angle, ecc), c(float(angle), float(ecc)))
    assert f(ecc=0.2, **{FIRST[name]: 1.5}) == f(1.5, ecc=0.2) == c(1.5, 0.2)


def test_zero_anomalies():
    assert orbel.eca_from_mea(0.0, 0.5) == 0.0 and orbel.mea_from_eca(0.0, 0.5) == 0.0


@pytest.mark.parametrize("call, error", [
    (lambda: orbel.mnm_from_sma("7e6"), AttributeError),       # not a Real: treated as an array
    (lambda: orbel.mnm_from_sma(7.0e6, "GM"), TypeError),
    (lambda: orbel.eca_from_mea(1.0, "0.1"), AttributeError),
    (lambda: orbel.eca_from_mea(1.0 + 0j, 0.1), AttributeError),
    (lambda: orbel.mnm_from_sma([7.0e6]), AttributeError),
    (lambda: orbel.eca_from_mea((1.0,), 0.1), AttributeError),
])
def test_scalar_errors(call, error):
    with pytest.raises(error):
        call()


# ---------------------------------------------------------------- arrays

@pytest.mark.parametrize("name", SIZE_PERIOD)
def test_size_period_arrays(name):
    f, c = getattr(orbel, name), capsule(name)
    out = f(SMA)
    assert type(out) is np.ndarray and out.shape == SMA.shape and out.flags.c_contiguous and out.flags.owndata
    assert np.array_equal(bits(out), bits([c(x, GM) for x in SMA]))
    strided = f(SMA[::3])
    assert strided.flags.c_contiguous and np.array_equal(bits(strided), bits(out[::3]))
    assert np.array_equal(bits(f(SMA, 1.0e14)), bits([c(x, 1.0e14) for x in SMA]))
    assert f(np.zeros(0)).shape == (0,) and f(np.zeros(0)).dtype == np.float64


@pytest.mark.parametrize("name", SIZE_PERIOD)
@pytest.mark.parametrize("array, error, message", [
    (np.zeros((2, 2)), AssertionError, ""),
    (np.arange(3), ValueError, "Buffer dtype mismatch, expected 'double' but got 'long'"),
    (np.zeros(3, np.float32), ValueError, "Buffer dtype mismatch, expected 'double' but got 'float'"),
    (np.zeros(()), AssertionError, ""),
])
def test_size_period_array_errors(name, array, error, message):
    with pytest.raises(error) as info:
        getattr(orbel, name)(array)
    assert str(info.value) == message


@pytest.mark.parametrize("name", ANOMALIES)
def test_anomaly_arrays(name):
    f, c = getattr(orbel, name), capsule(name)
    expect = lambda pairs: bits([c(a, e) for a, e in pairs])
    assert np.array_equal(bits(f(ANGLE, 0.3)), expect((a, 0.3) for a in ANGLE))
    assert np.array_equal(bits(f(1.2, ECC)), expect((1.2, e) for e in ECC))
    assert np.array_equal(bits(f(ANGLE, ECC)), expect(zip(ANGLE, ECC)))
    # a scalar anomaly with three eccentricities: three values in turn
    assert np.array_equal(bits(f(0.7, np.array([0.1, 0.2, 0.3]))), expect((0.7, e) for e in (0.1, 0.2, 0.3)))
    # the eccentricity array may have any numeric dtype when the anomaly is float64
    assert np.array_equal(bits(f(ANGLE[:3], np.array([0, 1, 0]))), expect(zip(ANGLE[:3], (0.0, 1.0, 0.0))))
    assert np.array_equal(bits(f(ANGLE[::2], ECC[::2])), expect(zip(ANGLE[::2], ECC[::2])))
    assert f(np.zeros(0), np.zeros(0)).shape == (0,)
    assert f(np.zeros(0), 0.5).shape == f(0.5, np.zeros(0)).shape == (0,)


@pytest.mark.parametrize("name", ANOMALIES)
@pytest.mark.parametrize("angle, ecc, error", [
    (np.zeros(3), np.zeros(4), AssertionError),
    (np.zeros((2, 2)), 0.1, AssertionError),
    (0.1, np.zeros((2, 2)), AssertionError),
    (np.zeros((3, 1)), np.zeros((3, 1)), AssertionError),
    (np.arange(3), 0.1, ValueError),                       # result allocated from an int64 array
    (0.1, np.arange(3), ValueError),
    (np.arange(3), np.zeros(3), ValueError),
    ([0.1, 0.2], 0.1, AttributeError),
    (np.zeros(2), [0.1, 0.2], AttributeError),
    (np.array(["a", "b"], dtype=object), 0.1, ValueError),
])
def test_anomaly_array_errors(name, angle, ecc, error):
    with pytest.raises(error):
        getattr(orbel, name)(angle, ecc)


def test_scalar_partner_converted_for_every_element():
    gm, ecc = Real(GM), Real(0.25)
    orbel.mnm_from_sma(SMA[:5], gm)
    orbel.eca_from_mea(ANGLE[:7], ecc)
    assert (gm.conversions, ecc.conversions) == (5, 7)


def test_element_conversion_error_from_an_object_array():
    with pytest.raises(TypeError, match="must be real number, not str"):
        orbel.mea_from_eca(np.zeros(2), np.array([0.1, "x"], dtype=object))


# ---------------------------------------------------------------- both paths agree

def variants(value):
    """The value as it reaches the direct path, and as it reaches the generic one."""
    if isinstance(value, np.ndarray):
        return value, value.view(Sub)
    return value, (np.float64(value) if isinstance(value, float) else Real(float(value)))


CASES = [
    (SMA,), (SMA[::2],), (SMA.astype(np.float32),), (SMA.astype(np.int64),), (np.zeros(0),),
    (SMA, 1.0e14), (SMA, 3), (SMA[::-1], GM), (np.zeros((2, 3)),), (7.0e6,), (7_000_000, 3),
]
ANOMALY_CASES = [
    (ANGLE, 0.3), (0.4, ECC), (ANGLE, ECC), (ANGLE[::3], ECC[1::3]), (ANGLE, ECC.astype(np.float32)),
    (ANGLE[:4], np.array([0, 1, 0, 1], np.int64)), (ANGLE[:4], np.array([True, False, True, False])),
    (ANGLE[:4], np.array([0, 1, 2, 250], np.uint8)), (ANGLE[:3], np.array([1, 2, 2**63], np.uint64)),
    (ANGLE, 0), (ANGLE, 2), (1, ECC), (np.zeros(0), np.zeros(0)), (np.arange(3), 0.2), (ANGLE, ECC[:10]),
    (np.zeros((2, 2)), 0.1), (ANGLE.astype(">f8"), 0.1), (ANGLE[:3], ECC[:3].astype(">f8")), (0.5, 0.25),
]


@pytest.mark.parametrize("name", SIZE_PERIOD)
@pytest.mark.parametrize("case", range(len(CASES)))
def test_size_period_paths_agree(name, case):
    f = getattr(orbel, name)
    direct, generic = zip(*(variants(v) for v in CASES[case]))
    assert_same(outcome(lambda: f(*direct)), outcome(lambda: f(*generic)))


@pytest.mark.parametrize("name", ANOMALIES)
@pytest.mark.parametrize("case", range(len(ANOMALY_CASES)))
def test_anomaly_paths_agree(name, case):
    f = getattr(orbel, name)
    direct, generic = zip(*(variants(v) for v in ANOMALY_CASES[case]))
    assert_same(outcome(lambda: f(*direct)), outcome(lambda: f(*generic)))


# ---------------------------------------------------------------- assertions off

def test_assertions_disabled(python):
    proc = python("""
        import numpy as np
        import quorvane.state.orbel as orbel
        class Sub(np.ndarray): pass
        def outcome(call):
            try:
                r = call()
                return repr(r.tolist())
            except Exception as exc:
                return f"{type(exc).__name__}: {exc}"
        for arrays in (np.zeros(3), np.zeros(3).view(Sub)):
            print(outcome(lambda: orbel.mnm_from_sma(np.ones((2, 2)))))
            print(outcome(lambda: orbel.eca_from_mea(np.ones((2, 2)), 0.1)))
            print(outcome(lambda: orbel.eca_from_mea(np.zeros(4), arrays)))     # shorter eccentricities
            print(outcome(lambda: orbel.mea_from_eca(arrays, np.full(5, 0.5))))  # surplus ignored
            print(outcome(lambda: orbel.eca_from_mea(arrays + 1, np.ones((3, 1)))))
    """, "-O")
    lines = proc.stdout.splitlines()
    assert lines[:5] == lines[5:]
    assert lines[:5] == [
        "ValueError: Buffer has wrong number of dimensions (expected 1, got 2)",
        "ValueError: Buffer has wrong number of dimensions (expected 1, got 2)",
        "IndexError: index 3 is out of bounds for axis 0 with size 3",
        "[0.0, 0.0, 0.0]",
        # rows of a (3, 1) eccentricity array go through the float protocol
        "TypeError: only 0-dimensional arrays can be converted to Python scalars",
    ]


def test_memory_is_not_read_after_python_code_may_have_freed_it():
    ecc = np.full(1000, 0.1)

    class Shrinking(np.ndarray):
        def __getitem__(self, i):
            ecc.resize(0, refcheck=False)     # frees the memory of the exact partner
            return np.ndarray.__getitem__(self, i)

    with pytest.raises(IndexError, match="index 0 is out of bounds for axis 0 with size 0"):
        orbel.eca_from_mea(np.ones(1000).view(Shrinking), ecc)


# The float64-memory loops of mnm_from_sma and orp_from_sma work two elements
# at a time; odd lengths, strides and every special value must give the bits
# of the scalar kernel element by element.
@pytest.mark.parametrize("fn", [orbel.mnm_from_sma, orbel.orp_from_sma])
@pytest.mark.parametrize("n", [1, 2, 3, 7, 64])
@pytest.mark.parametrize("step", [1, 2, -1])
def test_two_lane_loops_match_the_scalar_kernel(fn, n, step):
    special = [7.0e6, -7.0e6, 0.0, -0.0, np.inf, -np.inf, np.nan, 5e-324, 1e308, 4.2e7]
    base = np.array((special * (2 * n // len(special) + 2))[: 2 * n])
    x = base[::step][:n] if step > 0 else base[::-1][:n]
    got = fn(x, 3.986004418e14)
    want = np.array([fn(float(v), 3.986004418e14) for v in x])
    assert got.view(np.int64).tolist() == want.view(np.int64).tolist()


class NoReal:
    """Stands in for numbers.Real: nothing is an instance of it."""


class RealAttrModule(type(math)):
    """A module class whose Real attribute does not come from its dict."""

    Real = property(lambda self: NoReal)


def _swap_real(monkeypatch):
    monkeypatch.setattr(numbers, "Real", NoReal)


def _swap_module_class(monkeypatch):
    monkeypatch.setattr(numbers, "__class__", RealAttrModule)


@pytest.fixture
def globals_kept():
    """Puts the module's globals back in their order after the test (deleting
    and restoring `numbers` would move it to the end)."""
    saved = list(vars(orbel).items())
    yield
    for key, value in saved:
        vars(orbel).pop(key, None)
        vars(orbel)[key] = value


@pytest.mark.usefixtures("globals_kept")
@pytest.mark.parametrize(
    "change, error",
    [
        (lambda mp: mp.delattr(orbel, "numbers"), NameError),
        (lambda mp: mp.setattr(orbel, "numbers", type(math)("numbers")), AttributeError),
        (lambda mp: mp.setattr(orbel, "numbers", type("N", (), {"Real": NoReal})), AttributeError),
        (_swap_real, AttributeError),
        (_swap_module_class, AttributeError),
    ],
    ids=["deleted", "no-Real", "other-Real", "Real-replaced", "module-class"],
)
@pytest.mark.parametrize("scalar", [7.0e6, 7_000_000, np.float64(7.0e6)], ids=["float", "int", "numpy"])
def test_scalar_test_reads_the_numbers_global_at_each_call(monkeypatch, change, error, scalar):
    calls = [lambda: orbel.mnm_from_sma(scalar), lambda: orbel.eca_from_mea(scalar, 0.1),
             lambda: orbel.mea_from_eca(0.5, scalar)]
    expected = [call() for call in calls]
    change(monkeypatch)
    for call in calls:
        # Not a Real: taken for an array, which a number is not (a NumPy
        # scalar has ndim 0 and fails the shape assertion).
        got = outcome(call)
        assert isinstance(got, tuple) and got[0] in (error, AssertionError if error is AttributeError else error)
    monkeypatch.undo()
    assert [call() for call in calls] == expected


@pytest.mark.usefixtures("globals_kept")
def test_numbers_global_set_back_to_the_standard_module(monkeypatch):
    monkeypatch.setattr(orbel, "numbers", type("N", (), {"Real": NoReal}))
    assert outcome(lambda: orbel.mnm_from_sma(7.0e6))[0] is AttributeError
    orbel.numbers = numbers
    assert orbel.mnm_from_sma(7.0e6) == orbel.mnm_from_sma(np.float64(7.0e6))
