"""State vectors and element records: the kernels against their formulas and
an independent textbook conversion, the conventions for degenerate orbits,
and the Python entry points."""

import ctypes
import math

import numpy as np
import pytest

import quorvane.mathtools.misc.misc as misc
import quorvane.state.orbel as orbel
from capsules import kernel, vec
from quorvane.bodies.bodies import Earth
from quorvane.datamodel import ORBEL_dt

D = ctypes.c_double
P = ctypes.POINTER(D)
GM = float(Earth.GM)
FIELDS = ORBEL_dt.names
TWO_PI = 2 * math.pi


class ORBEL(ctypes.Structure):
    _fields_ = [(name, D) for name in FIELDS]


c_orbel_from_sv = kernel(orbel, "c_orbel_from_sv", None, P, P, D, ctypes.POINTER(ORBEL))
c_sv_from_orbel = kernel(orbel, "c_sv_from_orbel", None, ORBEL, D, P, P)
atan2_asymmetric = kernel(misc, "atan2_asymmetric", D, D, D)


class Sub(np.ndarray):
    """Not an exact ndarray: read element by element."""


def kernel_elements(r, v, gm=GM, fill=0.0):
    out = ORBEL(*[fill] * 7)
    c_orbel_from_sv(vec(*r), vec(*v), gm, ctypes.byref(out))
    return tuple(getattr(out, f) for f in FIELDS)


def kernel_state(record, gm=GM):
    r, v = vec(), vec()
    c_sv_from_orbel(ORBEL(*record), gm, r, v)
    return list(r), list(v)


def bits(a):
    return np.ascontiguousarray(a).view(np.uint8)


# ---------------------------------------------------------------- the formulas, step by step

def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def unit(a):
    k = 1.0 / math.sqrt(dot(a, a))
    return [x * k for x in a]


def stepwise_elements(r, v, gm):
    l = cross(r, v)
    l2 = dot(l, l)
    if l2 == 0:
        return (math.nan,) * 7
    l_norm = math.sqrt(l2)
    inc = math.acos(l[2] / l_norm)
    u_r = unit(r)
    e = [x / gm - u for x, u in zip(cross(v, l), u_r)]
    ecc = math.sqrt(dot(e, e))
    slr = l2 / gm
    sma = slr / (1 - ecc * ecc) if ecc != 1 else math.inf
    raa = 0.0 if inc == 0 else atan2_asymmetric(l[0], -l[1])
    u_n = [math.cos(raa), math.sin(raa), 0.0]
    if ecc == 0:
        arp, u_e = 0.0, u_n
    else:
        u_q = [x / l_norm for x in cross(l, u_n)]
        arp, u_e = atan2_asymmetric(dot(u_q, e), dot(u_n, e)), unit(e)
    u_p = [x / l_norm for x in cross(l, u_e)]
    tra = atan2_asymmetric(dot(u_p, r), dot(u_e, r))
    return ecc, sma, inc, raa, arp, tra, slr


def stepwise_state(record, gm):
    ecc, _, inc, raa, arp, tra, slr = record
    ci, si, cr, sr, ca, sa, ct, st = (f(x) for x in (inc, raa, arp, tra) for f in (math.cos, math.sin))
    r_norm = slr / (ct * ecc + 1)
    v_quasi = math.sqrt(gm / slr)
    P_ = [cr * ca - sr * sa * ci, sr * ca + cr * sa * ci, sa * si]
    Q_ = [-cr * sa - sr * ca * ci, -sr * sa + cr * ca * ci, ca * si]
    return ([r_norm * (ct * p + st * q) for p, q in zip(P_, Q_)],
            [v_quasi * (-st * p + (ecc + ct) * q) for p, q in zip(P_, Q_)])


# ---------------------------------------------------------------- an independent textbook conversion

def textbook_state(ecc, sma, inc, raa, arp, tra, gm=GM):
    p = sma * (1 - ecc ** 2)
    r_pf = p / (1 + ecc * np.cos(tra)) * np.array([np.cos(tra), np.sin(tra), 0.0])
    v_pf = np.sqrt(gm / p) * np.array([-np.sin(tra), ecc + np.cos(tra), 0.0])

    def rot3(a):
        return np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])

    def rot1(a):
        return np.array([[1, 0, 0], [0, np.cos(a), -np.sin(a)], [0, np.sin(a), np.cos(a)]])

    m = rot3(raa) @ rot1(inc) @ rot3(arp)
    return m @ r_pf, m @ v_pf


def textbook_elements(r, v, gm=GM):
    r, v = np.asarray(r, float), np.asarray(v, float)
    h = np.cross(r, v)
    h_norm, r_norm = np.linalg.norm(h), np.linalg.norm(r)
    n = np.array([-h[1], h[0], 0.0])
    e_vec = ((v @ v - gm / r_norm) * r - (r @ v) * v) / gm
    ecc = np.linalg.norm(e_vec)
    p = h_norm ** 2 / gm
    angle = lambda y, x: np.arctan2(y, x) % TWO_PI
    return (ecc, p / (1 - ecc ** 2), np.arccos(h[2] / h_norm), angle(n[1], n[0]),
            angle(np.cross(n, e_vec) @ h / h_norm, n @ e_vec),
            angle(np.cross(e_vec, r) @ h / h_norm, e_vec @ r), p)


def random_elements(rng, count, hyperbolic):
    if hyperbolic:
        ecc = rng.uniform(1.05, 3.0, count)
        sma = -rng.uniform(1.0e7, 5.0e7, count)
        tra = rng.uniform(-0.9, 0.9, count) * np.arccos(-1 / ecc)
    else:
        ecc = rng.uniform(0.01, 0.95, count)
        sma = rng.uniform(6.6e6, 5.0e7, count)
        tra = rng.uniform(0.0, TWO_PI, count)
    inc = rng.uniform(0.05, math.pi - 0.05, count)
    raa, arp = rng.uniform(0.0, TWO_PI, (2, count))
    return ecc, sma, inc, raa, arp, tra


def random_states(count=2000, seed=3):
    rng = np.random.default_rng(seed)
    r, v = [], []
    for hyperbolic in (False, True):
        for elements in zip(*random_elements(rng, count // 2, hyperbolic)):
            ri, vi = textbook_state(*elements)
            r.append(ri)
            v.append(vi)
    return np.array(r), np.array(v)


R, V = random_states()


def angle_gap(a, b):
    return np.abs((np.asarray(a) - b + math.pi) % TWO_PI - math.pi)


# ---------------------------------------------------------------- kernels

def test_kernels_follow_their_formulas():
    for r, v in zip(R[::20], V[::20]):
        record = kernel_elements(r, v)
        assert record == stepwise_elements(list(r), list(v), GM)
        assert kernel_state(record) == stepwise_state(record, GM)


def test_entry_points_match_the_exported_kernels():
    records = orbel.orbel_from_sv(R, V)
    assert records.tolist() == [kernel_elements(r, v) for r, v in zip(R, V)]
    r, v = orbel.sv_from_orbel(records)
    pairs = [kernel_state(rec) for rec in records.tolist()]
    assert r.tolist() == [p[0] for p in pairs] and v.tolist() == [p[1] for p in pairs]


def test_agrees_with_a_textbook_conversion():
    records = orbel.orbel_from_sv(R, V)
    expected = np.array([textbook_elements(r, v) for r, v in zip(R, V)])
    for k in (0, 1, 6):  # ecc, sma, slr
        np.testing.assert_allclose(records[FIELDS[k]], expected[:, k], rtol=1e-12, atol=0)
    for k in (2, 3, 4, 5):
        assert angle_gap(records[FIELDS[k]], expected[:, k]).max() < 1e-11, FIELDS[k]
    for record in records.tolist()[::25]:
        r, v = kernel_state(record)
        r0, v0 = textbook_state(*record[:6])
        assert np.linalg.norm(np.subtract(r, r0)) <= 1e-12 * np.linalg.norm(r0)
        assert np.linalg.norm(np.subtract(v, v0)) <= 1e-12 * np.linalg.norm(v0)


def test_round_trip():
    records = orbel.orbel_from_sv(R, V)
    assert (records["ecc"][: len(R) // 2] < 1).all() and (records["ecc"][len(R) // 2:] > 1).all()
    assert (records["sma"][len(R) // 2:] < 0).all()
    r, v = orbel.sv_from_orbel(records)
    rel = lambda a, b: np.linalg.norm(a - b, axis=1) / np.linalg.norm(b, axis=1)
    assert rel(r, R).max() < 1e-12 and rel(v, V).max() < 1e-12


# ---------------------------------------------------------------- conventions

NAN7 = (math.nan,) * 7


def same_record(a, b):
    return all((math.isnan(x) and math.isnan(y)) or x == y for x, y in zip(a, b))


@pytest.mark.parametrize("r, v", [
    ((7.0e6, 1.0, 2.0), (14.0e6, 2.0, 4.0)),   # r parallel to v
    ((7.0e6, 0.0, 0.0), (0.0, 0.0, 0.0)),       # v = 0
    ((0.0, 0.0, 0.0), (0.0, 7.5e3, 0.0)),       # r = 0
])
def test_no_angular_momentum(r, v):
    assert same_record(kernel_elements(r, v, fill=1.0), NAN7)
    assert same_record(orbel.orbel_from_sv(np.array(r), np.array(v))[0].tolist(), NAN7)


def test_exactly_circular_equatorial():
    # e evaluates to exactly (0, 0, 0): tra is the true longitude of r
    ecc, sma, inc, raa, arp, tra, slr = kernel_elements((0.0, 1.0, 0.0), (-1.0, 0.0, 0.0), gm=1.0)
    assert (ecc, sma, slr, inc, raa, arp) == (0.0, 1.0, 1.0, 0.0, 0.0, 0.0)
    assert tra == math.pi / 2


def test_exactly_circular_inclined():
    # polar orbit in the x-z plane, ascending node on -x: tra is the argument of latitude
    ecc, sma, inc, raa, arp, tra, slr = kernel_elements((0.0, 0.0, 1.0), (1.0, 0.0, 0.0), gm=1.0)
    assert (ecc, sma, slr, arp) == (0.0, 1.0, 1.0, 0.0)
    assert inc == math.pi / 2 and raa == math.pi and tra == math.pi / 2


def test_prograde_equatorial():
    r, v = (7.0e6, 1.0e6, 0.0), (-1.0e3, 8.0e3, 0.0)
    ecc, sma, inc, raa, arp, tra, slr = kernel_elements(r, v)
    assert inc == 0.0 and raa == 0.0
    e = ((np.dot(v, v) - GM / np.linalg.norm(r)) * np.array(r) - np.dot(r, v) * np.array(v)) / GM
    assert angle_gap(arp, math.atan2(e[1], e[0]) % TWO_PI) < 1e-12  # longitude of periapsis
    assert angle_gap(arp + tra, math.atan2(r[1], r[0])) < 1e-12
    assert math.isclose(ecc, np.linalg.norm(e), rel_tol=1e-12)


def test_retrograde_equatorial_takes_the_general_rule():
    record = kernel_elements((1.0, 0.0, 0.0), (0.0, -1.2, 0.0), gm=1.0)
    assert record[2] == math.pi
    assert record[3] == atan2_asymmetric(0.0, -0.0)   # l_x and -l_y, both zero
    assert record == stepwise_elements([1.0, 0.0, 0.0], [0.0, -1.2, 0.0], 1.0)


@pytest.mark.parametrize("r, v, inc", [((1.0, 0.0, 0.0), (0.0, 2.0, 0.0), 0.0),
                                       ((1.0, 0.0, 0.0), (0.0, 0.0, 2.0), math.pi / 2)])
def test_exactly_parabolic(r, v, inc):
    ecc, sma, inc_, raa, arp, tra, slr = kernel_elements(r, v, gm=2.0)
    assert (ecc, sma, slr, inc_, tra) == (1.0, math.inf, 2.0, inc, 0.0)
    # the state comes back, since it is built from slr and not from sma
    back = kernel_state((ecc, sma, inc_, raa, arp, tra, slr), gm=2.0)
    np.testing.assert_allclose(back, (r, v), rtol=0, atol=1e-15)


def test_hyperbolic():
    ecc, sma, *_ , slr = kernel_elements((7.0e6, 0.0, 0.0), (0.0, 15.0e3, 1.0e3))
    assert ecc > 1 and sma < 0 and slr > 0


def test_state_from_degenerate_records():
    r, v = kernel_state((0.1, 7.0e6, 0.5, 1.0, 2.0, 3.0, 0.0))   # slr = 0: sma is not read
    assert all(x == 0 for x in r)
    assert all(not math.isfinite(x) for x in v)
    r, v = kernel_state((0.1, 7.0e6, 0.5, 1.0, 2.0, 3.0, -1.0))
    assert all(math.isnan(x) for x in v)


# ---------------------------------------------------------------- entry points

def test_single_state():
    out = orbel.orbel_from_sv(R[0], V[0])
    assert type(out) is np.ndarray and out.dtype == ORBEL_dt and out.shape == (1,)
    assert out.tolist() == [kernel_elements(R[0], V[0])]
    assert orbel.orbel_from_sv(R[0], V[0], 1.0e14).tolist() == [kernel_elements(R[0], V[0], gm=1.0e14)]
    assert orbel.orbel_from_sv(r=R[0], v=V[0], GM=1.0e14).tolist() == [kernel_elements(R[0], V[0], gm=1.0e14)]


def test_integer_states():
    r, v = np.array([[7000000, 0, 100], [0, 8000000, 0]]), np.array([[0, 7500, 10], [-7000, 0, 5]])
    assert orbel.orbel_from_sv(r, v).tolist() == [kernel_elements(a.astype(float), b.astype(float)) for a, b in zip(r, v)]


def test_empty():
    out = orbel.orbel_from_sv(np.zeros((0, 3)), np.zeros((0, 3)))
    assert out.dtype == ORBEL_dt and out.shape == (0,)
    r, v = orbel.sv_from_orbel(np.zeros(0, ORBEL_dt))
    assert r.shape == v.shape == (0, 3) and r.dtype == v.dtype == np.float64


def test_sv_from_orbel_views():
    records = orbel.orbel_from_sv(R[:10], V[:10])
    r, v = orbel.sv_from_orbel(records[::2], GM)
    full = orbel.sv_from_orbel(records)
    assert r.shape == (5, 3) and np.array_equal(r, full[0][::2]) and np.array_equal(v, full[1][::2])
    frozen = records.copy()
    frozen.flags.writeable = False
    assert np.array_equal(orbel.sv_from_orbel(frozen)[0], full[0])   # records are only read
    r2, v2 = orbel.sv_from_orbel(orbel=records, GM=2 * GM)
    assert np.array_equal(r2, full[0]) and not np.array_equal(v2, full[1])


@pytest.mark.parametrize("call, error, message", [
    (lambda: orbel.orbel_from_sv(np.zeros((2, 3)), np.zeros((3, 3))), AssertionError, ""),
    (lambda: orbel.orbel_from_sv(np.zeros(3), np.zeros((2, 3))), AssertionError, ""),
    (lambda: orbel.orbel_from_sv(np.zeros((2, 4)), np.zeros((2, 4))), AssertionError, ""),
    (lambda: orbel.orbel_from_sv(np.zeros(4), np.zeros(4)), AssertionError, ""),
    (lambda: orbel.orbel_from_sv(np.zeros((2, 3, 1)), np.zeros((2, 3, 1))), AssertionError, ""),
    (lambda: orbel.orbel_from_sv([1.0, 2.0, 3.0], np.zeros(3)), AttributeError, "'list' object has no attribute 'ndim'"),
    (lambda: orbel.orbel_from_sv(np.zeros(3), [0.0, 1.0, 2.0]), AttributeError, "'list' object has no attribute 'shape'"),
    (lambda: orbel.orbel_from_sv(np.zeros((2, 3)), np.zeros((2, 3)), "GM"), TypeError, "must be real number, not str"),
    (lambda: orbel.orbel_from_sv([1], [2, 3], GM="x"), TypeError, "must be real number, not str"),
    (lambda: orbel.orbel_from_sv(np.array([["a"] * 3], object), np.zeros((1, 3))), TypeError,
     "must be real number, not str"),
    (lambda: orbel.orbel_from_sv(np.zeros(3)), TypeError, "orbel_from_sv() takes at least 2 positional arguments (1 given)"),
    (lambda: orbel.orbel_from_sv(1, 2, 3, 4), TypeError, "orbel_from_sv() takes at most 3 positional arguments (4 given)"),
    (lambda: orbel.sv_from_orbel(), TypeError, "sv_from_orbel() takes at least 1 positional argument (0 given)"),
    (lambda: orbel.sv_from_orbel(1, 2, 3), TypeError, "sv_from_orbel() takes at most 2 positional arguments (3 given)"),
    (lambda: orbel.sv_from_orbel(None, "x"), TypeError, "must be real number, not str"),
    (lambda: orbel.sv_from_orbel(np.zeros(7)), ValueError, "Buffer dtype mismatch, expected 'ORBEL_t' but got 'double'"),
    (lambda: orbel.sv_from_orbel(np.zeros(2, [("ecc", "f8"), ("sma", "f8")])), ValueError,
     "Buffer dtype mismatch, expected 'ORBEL_t' but got 'a struct'"),
    (lambda: orbel.sv_from_orbel(np.zeros((2, 2), ORBEL_dt)), ValueError,
     "Buffer has wrong number of dimensions (expected 1, got 2)"),
    (lambda: orbel.sv_from_orbel(None), AttributeError, "'NoneType' object has no attribute 'shape'"),
])
def test_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("make", [
    lambda a: a, lambda a: a[::2], lambda a: np.asfortranarray(a), lambda a: a.astype(np.float32),
    lambda a: (a / 1000).astype(np.int64), lambda a: np.hstack([a, a])[:, ::2], lambda a: a[0],
])
def test_direct_and_generic_paths_agree(make):
    r, v = make(R[:40]), make(V[:40])
    direct = orbel.orbel_from_sv(r, v)
    generic = orbel.orbel_from_sv(r.view(Sub), v.view(Sub))
    assert type(generic) is np.ndarray and np.array_equal(bits(direct), bits(generic))


def test_assertions_disabled(python):
    proc = python("""
        import numpy as np
        import quorvane.state.orbel as orbel
        class Sub(np.ndarray): pass
        r, v = np.array([[7e6, 0, 0], [0, 7e6, 0], [0, 0, 7e6]]), np.array([[0, 7.5e3, 0], [-7.5e3, 0, 0], [0, 7.5e3, 0]])
        for wrap in (lambda a: a, lambda a: a.view(Sub)):
            # surplus rows and columns of v are ignored
            print(np.array_equal(orbel.orbel_from_sv(wrap(r[:2]), wrap(np.hstack([v, v]))), orbel.orbel_from_sv(r[:2], v[:2])))
            for args in ((r, v[:2]), (r[:, :2], v[:, :2]), (r[0], v[:2])):
                try:
                    orbel.orbel_from_sv(*map(wrap, args))
                except Exception as exc:
                    print(type(exc).__name__, exc, sep=": ")
    """, "-O")
    lines = proc.stdout.splitlines()
    assert lines[:4] == lines[4:] == [
        "True",
        "IndexError: index 2 is out of bounds for axis 0 with size 2",
        "IndexError: index 2 is out of bounds for axis 1 with size 2",
        "ValueError: cannot reshape array of size 6 into shape (1,3)",
    ]
