"""Width detection, the process-wide cap, and the array functions' arguments."""

import os
import re

import numpy as np
import pytest

from quorvane._testing import lanes as _lanes

VARIABLE = "QUORVANE_SIMD_MAX_WIDTH"


@pytest.fixture
def uncapped():
    previous = _lanes._set_max_width(None)
    yield
    _lanes._set_max_width(previous)


def _cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return None


def test_widths_follow_the_processor(uncapped):
    widths = _lanes.widths()
    assert widths[0] == 1 and set(widths) <= {1, 4, 8} and list(widths) == sorted(widths)
    flags = _cpu_flags()
    if flags is None:
        pytest.skip("no /proc/cpuinfo")
    # Linux lists a feature only when the kernel enables its register state.
    assert (4 in widths) == ("avx2" in flags)
    assert (8 in widths) == ({"avx2", "avx512f", "avx512dq"} <= flags)


def test_the_cap_narrows_every_choice_and_is_restored(uncapped):
    full = _lanes.widths()
    x = np.linspace(-10, 10, 101)
    try:
        assert _lanes._set_max_width(4) is None
        assert os.environ[VARIABLE] == "4"
        assert _lanes.widths() == tuple(w for w in full if w <= 4)
        if 8 in full:
            with pytest.raises(ValueError, match=re.escape("width 8 is not available here (widths: 1, 4)")):
                _lanes.sin(x, width=8)
        assert _lanes._set_max_width(1) == 4
        assert _lanes.widths() == (1,)
        assert np.array_equal(_lanes.sin(x), _lanes.sin(x, width=1))
    finally:
        assert _lanes._set_max_width(None) == 1
    assert VARIABLE not in os.environ
    assert _lanes.widths() == full


@pytest.mark.parametrize("text, expected", [("1", (1,)), ("5", (1, 4)), ("", None), ("avx", None), ("-4", None)])
def test_the_cap_reaches_new_processes_through_the_environment(python, uncapped, text, expected):
    full = _lanes.widths()
    env_code = f"""
        import os
        os.environ["{VARIABLE}"] = {text!r}
        from quorvane._testing import lanes as _lanes
        print(_lanes.widths())
    """
    proc = python(env_code)
    shown = eval(proc.stdout)
    assert shown == (full if expected is None else tuple(w for w in full if w in expected))


@pytest.mark.parametrize(
    "width, error, message",
    [
        ("4", TypeError, "width must be None or an int, not str"),
        (True, TypeError, "width must be None or an int, not bool"),
        (2, ValueError, "width must be 1, 4 or 8, got 2"),
        (2**70, ValueError, "width must be 1, 4 or 8, got 1180591620717411303424"),
    ],
)
def test_bad_widths(width, error, message):
    with pytest.raises(error, match=re.escape(message)):
        _lanes.cos([1.0], width=width)


@pytest.mark.parametrize("width", [0, 2000, "1", 1.0])
def test_bad_caps(width, uncapped):
    with pytest.raises((TypeError, ValueError)):
        _lanes._set_max_width(width)
    assert VARIABLE not in os.environ


def test_shapes_copies_and_in_place_results():
    x = np.arange(24.0).reshape(2, 3, 4) / 7
    assert _lanes.sin(x).shape == (2, 3, 4)
    assert _lanes.cbrt(8.0).shape == () and _lanes.cbrt(8.0)[()] == 2.0
    strided = np.linspace(-50, 50, 999)[::3]
    assert np.array_equal(_lanes.cos(strided), _lanes.cos(strided.copy()))
    assert np.array_equal(_lanes.rem2pi([7, 8, 9]), _lanes.rem2pi(np.array([7.0, 8.0, 9.0])))
    big = np.linspace(-1e4, 1e4, 10_007)  # computed without the interpreter lock
    expected = _lanes.sin(big.copy(), width=1)
    same = big.copy()
    assert _lanes.sin(same, out=same) is same
    assert np.array_equal(same, expected)
    out = np.empty_like(big)
    assert _lanes.atan2(big, big[::-1].copy(), out=out) is out
    s, c = _lanes.sincos(big)
    assert np.array_equal(s, expected) and np.array_equal(c, _lanes.cos(big))
    assert _lanes.sin(np.empty(0)).shape == (0,)


def test_bad_arrays():
    x = np.linspace(0, 1, 10)
    with pytest.raises(TypeError, match="out must be a float64 numpy.ndarray"):
        _lanes.sin(x, out=np.empty(10, dtype=np.float32))
    with pytest.raises(TypeError, match="out must be a float64 numpy.ndarray"):
        _lanes.sin(x, out=[0.0] * 10)
    with pytest.raises(ValueError, match="out must have the shape of the argument"):
        _lanes.sin(x, out=np.empty(11))
    with pytest.raises(ValueError, match="out must be writable, aligned, native and C-contiguous"):
        _lanes.sin(x, out=np.empty(20)[::2])
    readonly = np.empty(10)
    readonly.flags.writeable = False
    with pytest.raises(ValueError, match="out must be writable"):
        _lanes.sin(x, out=readonly)
    buffer = np.linspace(0, 1, 12)
    with pytest.raises(ValueError, match="out overlaps an argument without being the same memory"):
        _lanes.cos(buffer[:10], out=buffer[2:])
    with pytest.raises(ValueError, match="y and x must have the same shape"):
        _lanes.atan2(x, x[:5])
    with pytest.raises(ValueError):
        _lanes.sin(["a", "b"])
    with pytest.raises(TypeError, match="unexpected keyword argument 'threads'"):
        _lanes.sin(x, threads=1)
    with pytest.raises(TypeError):
        _lanes.sin(x, 4)  # width is keyword-only


def test_the_module_lives_in_the_private_test_package():
    # A test and benchmark hook: under quorvane._testing, not beside the
    # package's interface in quorvane.mathtools.
    import importlib.util

    import quorvane.mathtools

    assert _lanes.__name__ == "quorvane._testing.lanes" and _lanes.sin.__module__ == "quorvane._testing.lanes"
    assert importlib.util.find_spec("quorvane.mathtools._lanes") is None
    assert not [name for name in dir(quorvane.mathtools) if "lanes" in name]
