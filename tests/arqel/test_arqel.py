import ctypes
import math

import numpy as np
import pytest

import quorvane.mathtools.arqel.arqel as arqel
from capsules import Vec3, capsule_name, kernel, vec
from odd_buffers import MisalignedNumpy, misaligned

D = ctypes.c_double
P = ctypes.POINTER(D)

EXPORTS = [
    ("scale", "void (double const , double *, double *)"),
    ("add", "void (double *, double *, double *)"),
    ("sub", "void (double *, double *, double *)"),
    ("dot", "double (double *, double *)"),
    ("cross", "void (double *, double *, double *)"),
    ("norm", "double (double *)"),
    ("norm_array", "struct qv_ArrayView (struct qv_ArrayView)"),
    ("angle", "double (double *, double *)"),
    ("normalize", "void (double *, double *)"),
    ("normalize_array", "struct qv_ArrayView (struct qv_ArrayView)"),
    ("mat_x_vec", "void (double (*)[3], double *, double *)"),
]

scale = kernel(arqel, "scale", None, D, P, P)
add = kernel(arqel, "add", None, P, P, P)
sub = kernel(arqel, "sub", None, P, P, P)
dot = kernel(arqel, "dot", D, P, P)
cross = kernel(arqel, "cross", None, P, P, P)
norm = kernel(arqel, "norm", D, P)
angle = kernel(arqel, "angle", D, P, P)
normalize = kernel(arqel, "normalize", None, P, P)
mat_x_vec = kernel(arqel, "mat_x_vec", None, ctypes.POINTER(Vec3), P, P)


def test_export_table():
    assert [(k, capsule_name(c)) for k, c in arqel.__pyx_capi__.items()] == EXPORTS
    public = [k for k in vars(arqel) if not k.startswith("__") or k in ("__test__", "__pyx_capi__")]
    assert sorted(public) == ["__pyx_capi__", "__test__", "numpy"]
    assert arqel.numpy is np and arqel.__test__ == {}


def test_arithmetic_and_in_place():
    a, b, c = vec(1.0, 2.0, 3.0), vec(4.0, -5.0, 0.5), Vec3()
    add(a, b, c)
    assert list(c) == [5.0, -3.0, 3.5]
    sub(a, b, c)
    assert list(c) == [-3.0, 7.0, 2.5]
    scale(2.0, a, a)
    assert list(a) == [2.0, 4.0, 6.0]
    add(a, a, a)
    assert list(a) == [4.0, 8.0, 12.0]
    # dot sums the first two products before adding the third
    x, y = vec(1e16, 1.0, -1e16), vec(1.0, 1.0, 1.0)
    assert dot(x, y) == (1e16 + 1.0) + -1e16


def test_cross():
    c = Vec3()
    cross(vec(1, 0, 0), vec(0, 1, 0), c)
    assert list(c) == [0.0, 0.0, 1.0]
    a = vec(1.5, -2.0, 7.0)
    cross(a, a, c)
    assert list(c) == [0.0, 0.0, 0.0]


@pytest.mark.parametrize(
    "a, expected",
    [((3, 4, 0), [0.6000000000000001, 0.8, 0.0]), ((0, 0, 0), [math.nan] * 3), ((0, 0, -2), [0.0, 0.0, -1.0])],
)
def test_normalize(a, expected):
    u = Vec3()
    normalize(vec(*a), u)
    np.testing.assert_array_equal(list(u), expected)


def test_normalize_in_place_and_norm():
    a = vec(3.0, 4.0, 0.0)
    assert norm(a) == 5.0
    normalize(a, a)
    assert list(a) == [0.6000000000000001, 0.8, 0.0]
    assert norm(vec(1e200, 1e200, 0)) == math.inf


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ((1, 0, 0), (0, 1, 0), math.pi / 2),
        ((3, 4, 0), (3, 4, 0), 0.0),
        # the cosine of (1, 1, 1) with itself rounds to 1.0000000000000002;
        # clamping keeps the angle at 0 instead of NaN
        ((1, 1, 1), (1, 1, 1), 0.0),
        ((1, 1, 1), (-1, -1, -1), math.pi),
        ((0, 0, 0), (1, 0, 0), math.nan),
        ((math.nan, 0, 0), (1, 0, 0), math.nan),
    ],
)
def test_angle(a, b, expected):
    np.testing.assert_equal(angle(vec(*a), vec(*b)), expected)


def test_mat_x_vec():
    b = Vec3()
    identity = (Vec3 * 3)(vec(1, 0, 0), vec(0, 1, 0), vec(0, 0, 1))
    mat_x_vec(identity, vec(1.5, -2.5, 3.0), b)
    assert list(b) == [1.5, -2.5, 3.0]
    rot_z = (Vec3 * 3)(vec(0, -1, 0), vec(1, 0, 0), vec(0, 0, 1))
    mat_x_vec(rot_z, vec(1.0, 2.0, 3.0), b)
    assert list(b) == [-2.0, 1.0, 3.0]


class ArrayView(ctypes.Structure):
    _fields_ = [
        ("owner", ctypes.c_void_p),
        ("data", ctypes.c_void_p),
        ("ndim", ctypes.c_int),
        ("shape", ctypes.c_ssize_t * 2),
        ("strides", ctypes.c_ssize_t * 2),
    ]


def call_array_kernel(name, a):
    fn = kernel(arqel, name, ArrayView, ArrayView, holds_gil=True)
    view = ArrayView(None, a.ctypes.data, 2, tuple(a.shape), tuple(a.strides))
    out = fn(view)
    result = ctypes.cast(out.owner, ctypes.py_object).value
    ctypes.pythonapi.Py_DecRef(ctypes.py_object(result))  # the view's reference
    assert out.ndim == result.ndim and out.data == result.ctypes.data
    return result


def rows(n, seed=1, width=3):
    return np.random.default_rng(seed).normal(size=(n, width)) * 1e7


@pytest.mark.parametrize(
    "make",
    [
        lambda: rows(5),
        lambda: rows(10)[::2],
        lambda: rows(6).T.copy().T,
        lambda: np.ascontiguousarray(rows(4).T).T,
        lambda: rows(5, width=4),
        lambda: np.zeros((0, 3)),
        lambda: misaligned(rows(5)),
        lambda: misaligned(rows(5), step=2),
    ],
    ids=["contiguous", "every-second-row", "fortran", "transposed", "n-by-4", "empty", "misaligned",
         "misaligned-every-second-row"],
)
def test_array_kernels(make):
    a = make()
    norms = call_array_kernel("norm_array", a)
    units = call_array_kernel("normalize_array", a)
    assert norms.shape == (len(a),) and units.shape == (len(a), 3)
    for i, row in enumerate(a):
        r = vec(*row[:3])
        assert norms[i] == norm(r)
        u = Vec3()
        normalize(r, u)
        assert units[i].tolist() == list(u)


@pytest.mark.parametrize("step", [1, 2], ids=["contiguous", "strided"])
def test_array_kernels_write_misaligned_results(monkeypatch, step):
    a = rows(4)
    expected = call_array_kernel("norm_array", a), call_array_kernel("normalize_array", a)
    monkeypatch.setattr(arqel, "numpy", MisalignedNumpy(step))
    got = call_array_kernel("norm_array", a), call_array_kernel("normalize_array", a)
    for g, e in zip(got, expected):
        assert g.ctypes.data % 8 == 1 and g.tobytes() == e.tobytes()


def test_array_kernels_listed_values():
    a = np.array([[3.0, 4.0, 0.0], [0.0, 0.0, 0.0]])
    assert call_array_kernel("norm_array", a).tolist() == [5.0, 0.0]
    units = call_array_kernel("normalize_array", a)
    assert units[0].tolist() == [0.6000000000000001, 0.8, 0.0]
    assert np.isnan(units[1]).all()
