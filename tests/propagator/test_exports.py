"""The propagator's native interface, called through its capsules as an
outside extension would: the same bits as SGP4.propagate."""

import ctypes

import numpy
import pytest
from capsules import kernel

from quorvane._testing import lanes as _lanes
from quorvane.propagators.analytical.sgp4 import propagator as module
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue, read_elsets
from quorvane.propagators.analytical.sgp4.propagator import SGP4


class View(ctypes.Structure):
    _fields_ = [
        ("sats", ctypes.c_void_p),
        ("stride", ctypes.c_size_t),
        ("epochs", ctypes.POINTER(ctypes.c_int64)),
        ("satno", ctypes.POINTER(ctypes.c_int64)),
        ("n", ctypes.c_size_t),
        ("kind", ctypes.c_int),
    ]


c_view = kernel(module, "c_view", ctypes.c_int, ctypes.py_object, ctypes.POINTER(View), holds_gil=True)
c_run_times = kernel(module, "c_run_times", None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                     ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int)
c_sample = kernel(module, "c_sample", None, ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p, ctypes.c_void_p,
                  ctypes.c_void_p)


def view_of(prop):
    view = View()
    assert c_view(prop, ctypes.byref(view)) == 0
    return view


def test_view_describes_the_sets():
    table = read_catalogue("examples/data/real/savi-geo-2009.tle")
    prop = SGP4(table)
    view = view_of(prop)
    assert view.n == len(prop) and view.kind == 2 and view.stride > 0
    assert numpy.array_equal(numpy.ctypeslib.as_array(view.satno, (view.n,)), prop.satno)
    assert numpy.array_equal(numpy.ctypeslib.as_array(view.epochs, (view.n,)), table.epoch_ns)
    assert view_of(SGP4(read_elsets("examples/data/stations.tle")[25544])).kind == 1


@pytest.mark.parametrize("bad", [None, 3, "SGP4"])
def test_view_refuses_other_objects(bad):
    with pytest.raises(TypeError, match="SGP4 propagator is needed"):
        c_view(bad, ctypes.byref(View()))


@pytest.mark.parametrize("path", ["examples/data/stations.tle", "examples/data/real/savi-geo-2009.tle"])
def test_run_times_and_sample_give_the_propagate_bits(path):
    # Near-Earth and resonant deep-space sets, times far from epoch included
    # (the resonance integration), an invalid time and every vector width.
    prop = SGP4(read_catalogue(path))
    tsince = numpy.array([0.0, 17.25, -300.0, 1440.0 * 30, numpy.nan, 1e4 + 0.125, 2e9])
    r_ref, v_ref, e_ref = prop.propagate(tsince=tsince)
    view = view_of(prop)
    widths = list(_lanes.widths())
    for i in range(view.n):
        sat = view.sats + i * view.stride
        for lanes in widths:
            r = numpy.empty((len(tsince), 3))
            v = numpy.empty((len(tsince), 3))
            e = numpy.empty(len(tsince), numpy.int8)
            c_run_times(sat, tsince.ctypes.data, len(tsince), r.ctypes.data, v.ctypes.data, e.ctypes.data, lanes)
            numpy.testing.assert_array_equal(r, r_ref[i])
            numpy.testing.assert_array_equal(v, v_ref[i])
            numpy.testing.assert_array_equal(e, e_ref[i])
        for j, t in enumerate(tsince):
            r1 = numpy.empty(3)
            v1 = numpy.empty(3)
            e1 = numpy.empty(1, numpy.int8)
            c_sample(sat, t, r1.ctypes.data, v1.ctypes.data, e1.ctypes.data)
            numpy.testing.assert_array_equal(r1, r_ref[i, j])
            numpy.testing.assert_array_equal(v1, v_ref[i, j])
            assert e1[0] == e_ref[i, j]
