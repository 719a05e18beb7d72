"""Hostile shapes of the propagator's inputs: datetime64 units with large
multiples, any byte order, and text arguments holding a NUL character."""

import pathlib

import numpy as np
import pytest

from quorvane.frames.frames import ITRF
from quorvane.propagators.analytical.sgp4.catalogue import iter_entries
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from quorvane.time.time import Time

ROOT = pathlib.Path(__file__).resolve().parents[2]
RECORDS = [record for _, record in iter_entries(ROOT / "examples" / "data" / "stations.tle")]
ISS = [r for r in RECORDS if r.line1[2:7] == "25544"]
LINE1, LINE2 = RECORDS[0].line1, RECORDS[0].line2


def same(a, b):
    """Bit-identical arrays (NaN equal to NaN)."""
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def same_results(x, y):
    return all(same(a, b) for a, b in zip(x, y))


# --- datetime64 units with a large multiple -----------------------------------

# Each unit is longer than the whole nanosecond range (about 584 years): any
# value but 0 is outside it.
LONG_UNITS = ["20000W", "2147483647D", "1000000000h", "400000000m", "2147483647m", "1000Y", "10000M",
              "2147483647Y"]


@pytest.mark.parametrize("unit", LONG_UNITS)
@pytest.mark.parametrize("source", ["records", "history"])
def test_instants_beyond_the_range_give_code_7(unit, source):
    prop = SGP4(ELSET(*ISS)) if source == "history" else SGP4(RECORDS)
    raw = np.array([1, -1, 2**62, -(2**62), np.iinfo(np.int64).max], dtype=np.int64)
    r, v, err = prop.propagate(raw.view(f"datetime64[{unit}]"))
    assert (err == 7).all()
    assert np.isnan(r).all() and np.isnan(v).all()


@pytest.mark.parametrize("unit", LONG_UNITS)
def test_value_zero_of_a_long_unit_is_1970(unit):
    # 0 is 1970-01-01 in every unit: the same samples as in nanoseconds.
    prop = SGP4(RECORDS)
    zero = np.zeros(2, dtype=np.int64)
    assert same_results(prop.propagate(zero.view(f"datetime64[{unit}]")),
                        prop.propagate(zero.view("datetime64[ns]")))


@pytest.mark.parametrize("unit, values", [
    ("15m", [2_000_000, 2_000_001, -7]),       # 2027 and 1969
    ("7D", [2800, 2801]),                       # 2023
    ("3h", [160_000, -1]),
    ("100000D", [0, -1]),                       # 1970 and 1696
    ("10ps", [10**17, -(10**17) - 3]),          # floors, as NumPy
    ("4Y", [13, -70]),                          # 2022, 1690
    ("7M", [93, -400]),
])
def test_multiples_inside_the_range_are_the_nanosecond_instants(unit, values):
    prop = SGP4(RECORDS[:3])
    times = np.array(values, dtype=np.int64).view(f"datetime64[{unit}]")
    assert same_results(prop.propagate(times), prop.propagate(times.astype("datetime64[ns]")))


def test_the_turned_frame_reads_the_same_instants():
    # propagate(frame=ITRF) orients the Earth at the same scaled instants.
    prop = SGP4(RECORDS[:2])
    raw = np.array([2800, 1, 2801], dtype=np.int64)
    times = raw.view("datetime64[7D]")
    r, v, err = prop.propagate(times, frame=ITRF, eop_policy="zero")
    want = prop.propagate(times.astype("datetime64[ns]"), frame=ITRF, eop_policy="zero")
    assert same(r[:, ::2], want[0][:, ::2]) and same(err[:, ::2], want[2][:, ::2])
    long = prop.propagate(raw.view("datetime64[20000W]"), frame=ITRF, eop_policy="zero")
    assert (long[2][:, 1:] == 7).all()


@pytest.mark.parametrize("unit", ["20000W", "2147483647D", "300Y", "1000000000h"])
def test_time_refuses_instants_beyond_the_range(unit):
    # The shared conversion (Time, which frames, observers and screening
    # take times through) raises instead of wrapping around.
    values = np.array([0, 1], dtype=np.int64).view(f"datetime64[{unit}]")
    with pytest.raises(OverflowError, match="outside the int64 nanosecond range"):
        Time(values)
    with pytest.raises(OverflowError, match="outside the int64 nanosecond range"):
        Time(values[1])
    assert Time(values[:1]).int64.tolist() == [0]


@pytest.mark.filterwarnings("ignore:The 'generic' unit:DeprecationWarning")
@pytest.mark.parametrize("value", [(["NaT"], "M8"), ("NaT", "M8"), (["NaT"], ">M8[20000W]"), (["2024", "NaT"], "M8[4Y]")])
def test_time_still_refuses_nat_of_any_unit(value):
    value = np.array(*value)
    with pytest.raises(ValueError, match="Time\\(\\) got NaT"):
        Time(value if value.ndim else value[()])


@pytest.mark.parametrize("unit", ["s", "15m", "4Y", "7M", "10ps", "D"])
def test_time_reads_multiples_as_numpy_converts_them(unit):
    values = np.array([0, 31, -29, 50], dtype=np.int64).view(f"datetime64[{unit}]")
    assert Time(values).int64.tolist() == values.astype("datetime64[ns]").view(np.int64).tolist()
    assert Time(values[1]).int64 == int(values[1:2].astype("datetime64[ns]").view(np.int64)[0])


# --- byte order ----------------------------------------------------------------

TIMES = np.array(["2024-01-10T00:00", "NaT", "2024-01-10T06:00:00.123456789", "1969-12-31T23:59:59.5"],
                 dtype="datetime64[ns]")


@pytest.mark.parametrize("unit", ["ns", "s", "15m", "D", "M"])
@pytest.mark.parametrize("source", ["records", "one", "history"])
def test_any_byte_order_gives_the_native_results(unit, source):
    prop = {"records": SGP4(RECORDS), "one": SGP4(RECORDS[3]), "history": SGP4(ELSET(*ISS))}[source]
    native = TIMES.astype(f"datetime64[{unit}]")
    swapped = native.astype(native.dtype.newbyteorder())
    assert swapped.dtype.byteorder != "=" and swapped.tobytes() != native.tobytes()
    want = prop.propagate(native)
    got = prop.propagate(swapped)
    assert same_results(got, want)
    assert (want[2][..., 1] == 7).all()  # NaT
    # Strided and unaligned copies of the swapped times too.
    strided = np.empty(2 * len(native), dtype=swapped.dtype)
    strided[::2] = swapped
    assert same_results(prop.propagate(strided[::2]), want)
    raw = np.zeros(len(native) * 8 + 1, dtype=np.uint8)
    unaligned = raw[1:].view(swapped.dtype)
    unaligned[:] = swapped
    assert same_results(prop.propagate(unaligned), want)
    # A 0-d swapped array is one instant.
    zero_d = np.array(swapped[2], dtype=swapped.dtype)
    assert zero_d.ndim == 0 and zero_d.dtype.byteorder != "="
    assert same_results(prop.propagate(zero_d), prop.propagate(native[2]))


def test_swapped_times_in_a_turned_frame_and_in_time():
    prop = SGP4(RECORDS[:2])
    native = TIMES[[0, 2]]
    swapped = native.astype(">M8[ns]")
    assert same_results(prop.propagate(swapped, frame=ITRF, eop_policy="zero"),
                        prop.propagate(native, frame=ITRF, eop_policy="zero"))
    want = native.view(np.int64).tolist()
    assert Time(swapped).int64.tolist() == want
    assert Time(native.view(np.int64).astype(">i8")).int64.tolist() == want


def test_swapped_tsince_gives_the_native_results():
    prop = SGP4(RECORDS)
    minutes = np.array([0.0, 90.5, -3000.0, np.nan])
    assert same_results(prop.propagate(tsince=minutes.astype(">f8")), prop.propagate(tsince=minutes))
    rows = np.tile(minutes, (len(RECORDS), 1))
    assert same_results(prop.propagate(tsince=rows.astype(">f8")), prop.propagate(tsince=rows))


def test_swapped_outputs_are_refused():
    prop = SGP4(RECORDS[:1])
    out = (np.empty((1, 2, 3), ">f8"), np.empty((1, 2, 3)), np.empty((1, 2), np.int8))
    with pytest.raises(TypeError, match="out r must have dtype float64"):
        prop.propagate(tsince=[0.0, 1.0], out=out)


# --- NUL characters in text arguments ------------------------------------------


@pytest.mark.parametrize("kwargs, message", [
    ({"mode": "afspc\0x"}, "mode must be one of 'improved', 'afspc'"),
    ({"mode": "afspc\0"}, "mode must be one of 'improved', 'afspc'"),
    ({"mode": "improved\0afspc"}, "mode must be one of 'improved', 'afspc'"),
    ({"gravity": "wgs72\0x"}, "gravity must be one of 'wgs72', 'wgs84', 'wgs72old'"),
    ({"gravity": "wgs84\0"}, "gravity must be one of 'wgs72', 'wgs84', 'wgs72old'"),
])
def test_settings_with_a_nul_are_refused(kwargs, message):
    with pytest.raises(ValueError, match=message):
        SGP4(RECORDS[0], **kwargs)


@pytest.mark.parametrize("where", [0, 20, 25, 68, 69, 75])
@pytest.mark.parametrize("which", ["line1", "line2"])
def test_a_line_with_a_nul_is_refused(where, which):
    lines = {"line1": LINE1, "line2": LINE2}
    text = lines[which]
    lines[which] = (text[:where] + "\0" + text[where + 1:]) if where < len(text) else text + " " * 5 + "\0"
    with pytest.raises(ValueError, match=f"^{which} contains a NUL character$"):
        DUOLINE(lines["line1"], lines["line2"])
    # ELSET is made of records: it never sees such a line.
    assert DUOLINE(LINE1, LINE2).line1 == LINE1


# --- thread counts beyond the processors ---------------------------------------


@pytest.mark.parametrize("call", [
    "WGS84.geodetic(r, threads=64)",
    "SGP4(RECORDS).propagate(tsince=np.linspace(0.0, 1e5, 30_000), threads=10**9)",
])
def test_thread_requests_beyond_the_processors_start_no_more_threads(python, call):
    # threads= is capped at the available processors for every module
    # (runtime's threads_argument): on one processor a call starts no
    # thread of its own.  A watcher thread counts the process's threads
    # while the call runs without the interpreter lock.
    proc = python(f"""
        import os, threading
        import numpy as np
        from quorvane.mathtools.ellipsoid.ellipsoid import WGS84
        from quorvane.propagators.analytical.sgp4.catalogue import iter_entries
        from quorvane.propagators.analytical.sgp4.propagator import SGP4
        RECORDS = [r for _, r in iter_entries({str(ROOT / "examples" / "data" / "stations.tle")!r})]
        os.sched_setaffinity(0, {{min(os.sched_getaffinity(0))}})
        r = np.random.default_rng(1).normal(size=(1_000_000, 3)) * 7e6
        base = len(os.listdir("/proc/self/task"))
        peak, done = [base], threading.Event()
        def watch():
            while not done.is_set():
                peak[0] = max(peak[0], len(os.listdir("/proc/self/task")))
        watcher = threading.Thread(target=watch)
        watcher.start()
        for _ in range(3):
            {call}
        done.set()
        watcher.join()
        print(peak[0] - base)
    """)
    assert int(proc.stdout) == 1  # the watcher alone
