import ctypes
import math

import numpy as np
import pytest

from quorvane.frames import frames
from quorvane.mathtools.ellipsoid import ellipsoid

from sibling_native import Vec3, capsule_name, exported_object, vtable_entries

P = ctypes.POINTER(ctypes.c_double)
Rotation = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_double, P, P)
EnuMap = ctypes.CFUNCTYPE(None, ctypes.c_void_p, P, P)
Geodetic = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double, ctypes.c_double, ctypes.c_double, P)


@pytest.mark.parametrize("name, cls", [("GCRF", "_GCRF"), ("ITRF", "_ITRF"), ("TEME", "_TEME")])
def test_frame_variables(name, cls):
    assert capsule_name(frames.__pyx_capi__[name]) == f"struct qv_frames_{name} *"
    instance = getattr(frames, name)
    assert exported_object(frames, name) == id(instance)
    assert type(instance) is getattr(frames, cls)
    assert isinstance(instance, frames.Frame)
    assert instance.name == name
    with pytest.raises(TypeError):
        getattr(frames, cls)()
    with pytest.raises(AttributeError):
        instance.name = "X"


def test_frame_tables():
    assert "__pyx_vtable__" not in frames.Frame.__dict__
    for cls in ("_GCRF", "_ITRF", "_TEME", "ENU"):
        assert "__pyx_vtable__" in getattr(frames, cls).__dict__


def rotate(cls, instance, jd, r):
    (entry,) = vtable_entries(cls, 1)
    out = Vec3()
    Rotation(entry)(id(instance), jd, Vec3(*r), out)
    return np.array(out)


def test_teme_to_itrf_turns_by_gmst():
    # Vallado, example 3-5: GMST on 1992-08-20 12:14 UT1 is 152.578787886 deg.
    jd = 2448855.009722222
    out = rotate(frames._TEME, frames.TEME, jd, (1.0, 0.0, 0.0))
    assert math.degrees(math.atan2(-out[1], out[0])) % 360.0 == pytest.approx(152.578787886, abs=2e-6)
    r = np.array([7000e3, -1200e3, 300e3])
    back = rotate(frames._ITRF, frames.ITRF, jd, rotate(frames._TEME, frames.TEME, jd, r))
    assert np.allclose(back, r, rtol=0, atol=1e-8)


def test_gcrf_to_itrf_is_reported_not_implemented():
    with pytest.raises(NotImplementedError, match="GCRF"):
        rotate(frames._GCRF, frames.GCRF, 2451545.0, (1.0, 0.0, 0.0))


def enu_maps(site):
    from_itrf, to_itrf = vtable_entries(frames.ENU, 2)
    return EnuMap(from_itrf), EnuMap(to_itrf)


def test_enu_axes_at_equator():
    site = frames.ENU(0.0, 0.0, (6378137.0, 0.0, 0.0))
    assert site.name == "ENU"
    from_itrf, _ = enu_maps(site)
    out = Vec3()
    from_itrf(id(site), Vec3(6378147.0, 5.0, -2.0), out)
    assert np.allclose(out, [5.0, -2.0, 10.0], atol=1e-9)


def test_enu_round_trip():
    site = frames.ENU(lat=0.7, lon=-2.1, origin=[1e6, -2e6, 5e6])
    from_itrf, to_itrf = enu_maps(site)
    r, enu, back = Vec3(3e6, 1e6, -4e5), Vec3(), Vec3()
    from_itrf(id(site), r, enu)
    to_itrf(id(site), enu, back)
    assert np.allclose(back, r, atol=1e-8)
    assert np.linalg.norm(enu) == pytest.approx(np.linalg.norm(np.array(r) - [1e6, -2e6, 5e6]))


@pytest.mark.parametrize("origin", [(1.0, 2.0), "abc", 5])
def test_enu_rejects_bad_origin(origin):
    with pytest.raises((TypeError, ValueError)):
        frames.ENU(0.0, 0.0, origin)


@pytest.mark.parametrize(
    "name, a, inverse_f",
    [("WGS84", 6378137.0, 298.257223563), ("WGS72", 6378135.0, 298.26), ("GRS80", 6378137.0, 298.257222101)],
)
def test_ellipsoids(name, a, inverse_f):
    e = getattr(ellipsoid, name)
    assert capsule_name(ellipsoid.__pyx_capi__[name]) == "struct qv_ellipsoid_Ellipsoid *"
    assert exported_object(ellipsoid, name) == id(e)
    assert type(e) is ellipsoid.Ellipsoid and e.name == name
    assert e.a == a and e.f == 1.0 / inverse_f
    assert e.b == pytest.approx(a * (1 - 1 / inverse_f), rel=1e-15)
    assert e.e2 == pytest.approx(1 - (e.b / e.a) ** 2, rel=1e-12)


def ecef(e, lat, lon, alt):
    (entry,) = vtable_entries(ellipsoid.Ellipsoid, 1)
    r = Vec3()
    Geodetic(entry)(id(e), lat, lon, alt, r)
    return np.array(r)


def test_geodetic_to_ecef():
    e = ellipsoid.WGS84
    assert np.allclose(ecef(e, 0.0, 0.0, 0.0), [e.a, 0.0, 0.0])
    assert np.allclose(ecef(e, math.pi / 2, 1.0, 100.0), [0.0, 0.0, e.b + 100.0], atol=1e-8)
    for lat, lon in [(0.3, 1.0), (-1.2, -2.5), (0.9, 3.0)]:
        x, y, z = ecef(e, lat, lon, 0.0)
        assert (x * x + y * y) / e.a**2 + z * z / e.b**2 == pytest.approx(1.0, abs=1e-14)
        assert math.atan2(y, x) == pytest.approx(lon)


def test_ellipsoid_constructor():
    e = ellipsoid.Ellipsoid(1.0, 0.5, "toy")
    assert (e.a, e.f, e.b, e.e2, e.name) == (1.0, 0.5, 0.5, 0.75, "toy")
    assert "__pyx_vtable__" in ellipsoid.Ellipsoid.__dict__
    with pytest.raises(ValueError):
        ellipsoid.Ellipsoid(-1.0, 0.0, "bad")
    with pytest.raises(ValueError):
        ellipsoid.Ellipsoid(1.0, 1.0, "bad")
    with pytest.raises(TypeError, match="Argument 'name' has incorrect type"):
        ellipsoid.Ellipsoid(1.0, 0.0, b"bad")
