import ctypes
import math

import pytest

from quorvane.mathtools.misc import misc

from sibling_native import capsule_name, capsule_pointer

TWO_PI = 2.0 * math.pi

native = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_double, ctypes.c_double)(
    capsule_pointer(misc.__pyx_capi__["atan2_asymmetric"])
)


def test_exported_under_its_signature():
    assert list(misc.__pyx_capi__) == ["atan2_asymmetric"]
    assert capsule_name(misc.__pyx_capi__["atan2_asymmetric"]) == "double (double const , double const )"


@pytest.mark.parametrize(
    "y, x, expected",
    [
        (0.0, 1.0, 0.0),
        (1.0, 1.0, math.pi / 4),
        (1.0, 0.0, math.pi / 2),
        (1.0, -1.0, 3 * math.pi / 4),
        (0.0, -1.0, math.pi),
        (-1.0, -1.0, 5 * math.pi / 4),
        (-1.0, 0.0, 3 * math.pi / 2),
        (-1.0, 1.0, 7 * math.pi / 4),
        (-0.0, -1.0, math.pi),
        (0.0, -0.0, math.pi),
        (-0.0, -0.0, math.pi),
    ],
)
def test_quadrants(y, x, expected):
    assert native(y, x) == pytest.approx(expected, abs=1e-15)
    assert misc.atan2_asymmetric(y, x) == native(y, x)


@pytest.mark.parametrize("y, x", [(-0.0, 1.0), (-0.0, 0.0), (0.0, 0.0), (-1e-300, 1.0)])
def test_zero_side_is_never_negative(y, x):
    result = native(y, x)
    assert 0.0 <= result < TWO_PI
    assert math.copysign(1.0, result) == 1.0


@pytest.mark.parametrize("y", [-1e-17, -4e-16, -5e-324, -1e-300])
def test_tiny_negative_angle_stays_below_two_pi(y):
    # atan2 gives about y; y + 2*pi would round to 2*pi exactly.
    result = native(y, 1.0)
    assert result < TWO_PI
    assert result == math.nextafter(TWO_PI, 0.0)
    assert math.sin(result) < 0.0


def test_small_negative_angle_keeps_its_value():
    y = -1e-15
    assert native(y, 1.0) == math.atan2(y, 1.0) + TWO_PI


@pytest.mark.parametrize("y, x", [(math.nan, 1.0), (1.0, math.nan), (math.nan, math.nan)])
def test_nan(y, x):
    assert math.isnan(native(y, x))


@pytest.mark.parametrize("y, x", [(math.inf, 1.0), (-math.inf, -math.inf), (1.0, -math.inf), (-1.0, math.inf)])
def test_infinities_stay_in_range(y, x):
    assert 0.0 <= native(y, x) < TWO_PI


def test_python_function():
    f = misc.atan2_asymmetric
    assert f.__name__ == "atan2_asymmetric"
    assert f.__module__ == "quorvane.mathtools.misc.misc"
    assert f.__annotations__ == {"y": "float", "x": "float", "return": "float"}
    assert f.__doc__.startswith("atan2_asymmetric(y: float, x: float) -> float")
    assert f(x=0.0, y=-2.0) == 3 * math.pi / 2
    with pytest.raises(TypeError, match=r"takes exactly 2 positional arguments \(1 given\)"):
        f(1.0)
    with pytest.raises(TypeError):
        f("1", 2.0)
