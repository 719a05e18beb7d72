import ctypes

import numpy as np
import pytest

from quorvane.bodies import bodies

from sibling_native import Vec3, capsule_pointer, vtable_entries

AU = 149597870700.0
P = ctypes.POINTER(ctypes.c_double)
SunPosition = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double, P)
MoonState = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double, P, P)
HEAD = 2 * ctypes.sizeof(ctypes.c_void_p)  # PyObject_HEAD


def test_earth_constants():
    assert type(bodies.Earth.GM) is float and bodies.Earth.GM == 3.986004418e14
    assert type(bodies.Earth.Re) is float and bodies.Earth.Re == 6378137.0


def test_earth_constants_can_be_replaced_on_the_class(monkeypatch):
    monkeypatch.setattr(bodies.Earth, "GM", 1.0)
    assert bodies.Earth.GM == 1.0 and bodies.Earth().GM == 1.0


def test_hierarchy_and_tables():
    for name in ("Earth", "Sun", "Moon"):
        assert issubclass(getattr(bodies, name), bodies.CelestialBody)
    assert "__pyx_vtable__" in bodies.Sun.__dict__ and "__pyx_vtable__" in bodies.Moon.__dict__
    assert "__pyx_vtable__" not in bodies.CelestialBody.__dict__
    assert "__pyx_vtable__" not in bodies.Earth.__dict__


@pytest.mark.parametrize("cls", ["Sun", "Moon", "Earth"])
def test_instance_points_at_its_table(cls):
    type_ = getattr(bodies, cls)
    instance = type_()
    vtab = ctypes.c_void_p.from_address(id(instance) + HEAD).value
    expected = capsule_pointer(type_.__pyx_vtable__) if "__pyx_vtable__" in type_.__dict__ else None
    assert vtab == expected


def test_no_constructor_arguments():
    with pytest.raises(TypeError, match=r"Sun\(\) takes exactly 0 positional arguments \(1 given\)"):
        bodies.Sun(1)
    with pytest.raises(TypeError, match="unexpected keyword argument 'jd'"):
        bodies.Moon(jd=1.0)


def test_sun_position_textbook_example():
    # Vallado, Fundamentals of Astrodynamics, example 5-1: 2006-04-02 00:00 UT1.
    (entry,) = vtable_entries(bodies.Sun, 1)
    sun, r = bodies.Sun(), Vec3()
    SunPosition(entry)(id(sun), 2453827.5, r)
    assert np.allclose(np.array(r) / AU, [0.9771945, 0.1924424, 0.0834308], atol=2e-5)


def moon_state(jd):
    (entry,) = vtable_entries(bodies.Moon, 1)
    moon, r, v = bodies.Moon(), Vec3(), Vec3()
    MoonState(entry)(id(moon), jd, r, v)
    return np.array(r), np.array(v)


def test_moon_position_textbook_example():
    # Vallado, example 5-3: 1994-04-28 00:00 TDB.
    r, v = moon_state(2449470.5)
    assert np.allclose(r / 1e3, [-134240.626, -311571.590, -126693.785], atol=0.01)
    assert 0.9e3 < np.linalg.norm(v) < 1.1e3


def test_moon_velocity_is_the_derivative_of_the_position():
    jd, h = 2460000.5, 60.0 / 86400.0
    _, v = moon_state(jd)
    forward, _ = moon_state(jd + h)
    backward, _ = moon_state(jd - h)
    assert np.allclose((forward - backward) / 120.0, v, atol=0.05)
