import numpy as np
import pytest

import quorvane.datamodel as datamodel
import quorvane.datamodel.structured as structured

LAYOUTS = {
    "SurfCoord_dtype": (["lat", "lon"], [0, 8], 16),
    "LLA_dtype": (["lat", "lon", "alt"], [0, 8, 16], 24),
    "ENU_dtype": (["u_east", "u_north", "u_up"], [0, 24, 48], 72),
    "AER_dtype": (["azimuth", "elevation", "range"], [0, 8, 16], 24),
    "DTF_dtype": (["year", "month", "day", "hour", "minute", "second"], [0, 2, 3, 4, 5, 6], 14),
    "GeoState_dt": (["lat", "lon", "alt", "lat_dot", "lon_dot", "alt_dot"], [0, 8, 16, 24, 32, 40], 48),
    "ORBEL_dt": (["ecc", "sma", "inc", "raa", "arp", "tra", "slr"], [0, 8, 16, 24, 32, 40, 48], 56),
}


@pytest.mark.parametrize("name", LAYOUTS)
def test_layout(name):
    names, offsets, itemsize = LAYOUTS[name]
    dt = getattr(structured, name)
    assert dt.names == tuple(names)
    assert [dt.fields[n][1] for n in names] == offsets
    assert dt.itemsize == itemsize
    assert getattr(datamodel, name) is dt


def test_module_attributes_in_binding_order():
    public = [k for k in vars(structured) if not k.startswith("__") or k == "__test__"]
    assert public == ["numpy", "dtype", *LAYOUTS, "__test__"]
    assert structured.numpy is np and structured.dtype is np.dtype and structured.__test__ == {}


def test_field_types():
    dtf = structured.DTF_dtype
    assert [dtf[n] for n in dtf.names] == [np.dtype(np.uint16)] + [np.dtype(np.uint8)] * 4 + [np.dtype(np.double)]
    assert structured.ENU_dtype["u_east"].shape == (3,)
    assert structured.ENU_dtype["u_east"].base == np.dtype(np.double)


def test_orbel_array_is_c_records():
    a = np.zeros(4, dtype=structured.ORBEL_dt)
    a["sma"] = [1.0, 2.0, 3.0, 4.0]
    a["slr"][2] = 9.5
    raw = np.frombuffer(a.tobytes(), dtype=np.float64).reshape(4, 7)
    assert raw[:, 1].tolist() == [1.0, 2.0, 3.0, 4.0]
    assert raw[2, 6] == 9.5
    assert len(np.zeros(4, dtype=structured.ORBEL_dt).tobytes()) == 4 * 56
