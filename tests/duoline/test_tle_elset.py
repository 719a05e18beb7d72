"""ELSET: ordering, the satellite check, arrays and their memory, failures."""

import gc
import sys

import numpy as np
import pytest

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.time.time import Time
from tle_data import ISS_2008, ISS_2019, VANGUARD, splice, with_epoch

ELEMENTS = ["ecc", "sma", "inc", "raa", "arp", "tra", "mnm", "orp", "eca", "mea", "pge", "apg"]
DUOLINE_NAME = "quorvane.propagators.analytical.sgp4.duoline.DUOLINE"


def iss(epoch, mean_anomaly="325.0288"):
    """An ISS record at `epoch` (yyddd.dddddddd) with a chosen mean anomaly."""
    return DUOLINE(with_epoch(ISS_2008[0], epoch), splice(ISS_2008[1], 44, mean_anomaly.rjust(8)))


@pytest.fixture
def records():
    """Four ISS records, oldest first."""
    return [iss("08264.51782528", "10.0"), iss("08265.00000000", "20.0"), DUOLINE(*ISS_2019), iss("24001.5", "40.0")]


def test_records_are_sorted_by_epoch(records):
    elset = ELSET(*reversed(records), satname="ISS")
    assert elset.size == 4
    assert elset.satno == 25544
    assert elset.satname == "ISS"
    for name in ELEMENTS:
        array = getattr(elset, name)
        assert array.dtype == np.float64 and array.shape == (4,)
        assert array.tolist() == [getattr(r, name) for r in records]
    assert isinstance(elset.epoch, Time)
    assert elset.epoch.int64.tolist() == [r.epoch.int64 for r in records]
    assert elset.epoch is elset.epoch


def test_one_record():
    record = DUOLINE(*VANGUARD)
    elset = ELSET(record)
    assert elset.size == 1 and elset.satno == 5 and elset.satname is None
    assert elset.ecc.tolist() == [record.ecc]
    assert elset.epoch.int64.tolist() == [record.epoch.int64]


def test_equal_epochs_keep_argument_order_and_duplicates_stay():
    first, second = iss("20001.0", "1.0"), iss("20001.0", "2.0")
    assert ELSET(first, second).mea.tolist() == [first.mea, second.mea]
    assert ELSET(second, first).mea.tolist() == [second.mea, first.mea]
    twice = ELSET(first, first)
    assert twice.size == 2 and twice.mea.tolist() == [first.mea] * 2


def test_records_are_shared_not_copied(records):
    counts = [sys.getrefcount(r) for r in records]
    elset = ELSET(*records)
    assert [sys.getrefcount(r) for r in records] == [c + 1 for c in counts]
    del elset
    assert [sys.getrefcount(r) for r in records] == counts


def test_no_leak_over_many_sets(records):
    import tracemalloc

    for _ in range(50):
        ELSET(*records)
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    for _ in range(500):
        ELSET(*records).ecc
    grown = tracemalloc.get_traced_memory()[0] - base
    tracemalloc.stop()
    assert grown < 64 * 1024


@pytest.mark.parametrize("args", [(), (DUOLINE(*ISS_2008), DUOLINE(*VANGUARD))], ids=["none", "two satellites"])
def test_satellite_check(args):
    with pytest.raises(AssertionError) as info:
        ELSET(*args)
    assert str(info.value) == ""


def test_non_decimal_satellite_number():
    record = DUOLINE(splice(ISS_2008[0], 3, "A0001"), ISS_2008[1])
    with pytest.raises(TypeError, match="^an integer is required$"):
        ELSET(record)


class Impostor:
    """Looks like a record to the sort and the satellite check."""

    def __init__(self, epoch, satno=25544):
        self.epoch, self.satno = epoch, satno


def test_non_record_fails_at_the_fill_step():
    record = DUOLINE(*ISS_2008)
    with pytest.raises(TypeError) as info:
        ELSET(record, Impostor(Time("2030")))
    assert str(info.value) == f"Cannot convert Impostor to {DUOLINE_NAME}"


def test_arrays_are_allocated_before_the_fill_step():
    reads = []

    class Watched(ELSET):
        @property
        def size(self):
            reads.append(len(self.__dict__))  # _satname is stored before the arrays
            return 2

    with pytest.raises(TypeError, match="Cannot convert Impostor"):
        Watched(Impostor(Time("2030")), Impostor(Time("2031")))
    # One read for the work array, one per element array, one for the fill.
    assert reads == [1] * 14


@pytest.mark.parametrize(
    "satno, error, message",
    [
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (2**70, OverflowError, "value too large to convert to int"),
        ("25544", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
    ],
)
def test_satellite_number_conversion(satno, error, message):
    with pytest.raises(error) as info:
        ELSET(Impostor(Time("2030"), satno))
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"satname": b"ISS"}, "Argument 'satname' has incorrect type (expected str, got bytes)"),
        ({"satname": 1}, "Argument 'satname' has incorrect type (expected str, got int)"),
        ({"name": "ISS"}, "__cinit__() got an unexpected keyword argument 'name'"),
    ],
)
def test_keyword_errors(kwargs, message):
    with pytest.raises(TypeError) as info:
        ELSET(DUOLINE(*ISS_2008), **kwargs)
    assert str(info.value) == message


def test_str_subclass_name_is_rejected():
    class Name(str):
        pass

    with pytest.raises(TypeError, match=r"expected str, got Name"):
        ELSET(DUOLINE(*ISS_2008), satname=Name("ISS"))


def test_positional_name_is_taken_as_a_record():
    with pytest.raises(AttributeError, match="epoch"):
        ELSET(DUOLINE(*ISS_2008), "ISS")


def test_records_of_a_subclass_are_accepted():
    class Named(DUOLINE):
        pass

    record = Named(*ISS_2008)
    assert ELSET(record).sma.tolist() == [record.sma]


def test_array_reads_share_memory_and_write_through():
    elset = ELSET(DUOLINE(*ISS_2008), DUOLINE(*ISS_2019))
    first, second = elset.ecc, elset.ecc
    assert first is not second
    assert np.shares_memory(first, second)
    first[0] = 0.5
    assert elset.ecc[0] == 0.5 and second[0] == 0.5
    assert not np.shares_memory(elset.ecc, elset.sma)


def test_arrays_outlive_the_set():
    elset = ELSET(DUOLINE(*ISS_2008), DUOLINE(*ISS_2019))
    sma, expected = elset.sma, elset.sma.copy()
    del elset
    gc.collect()
    assert np.array_equal(sma, expected)
    sma[1] = 1.0  # still writable, still owned
    assert sma[1] == 1.0


@pytest.mark.parametrize("name", ["size", "satname", "satno", "ecc", "apg", "epoch"])
def test_attributes_are_read_only(name):
    elset = ELSET(DUOLINE(*ISS_2008))
    with pytest.raises(AttributeError):
        setattr(elset, name, None)


def test_attribute_docstrings():
    assert ELSET.size.__doc__ == "ELSET.size: int"
    assert ELSET.satname.__doc__ == "ELSET.satname: str"
    assert ELSET.satno.__doc__ == "ELSET.satno: int | str"
    for name in ELEMENTS:
        assert getattr(ELSET, name).__doc__ == f"ELSET.{name}: ndarray[double]"
    assert ELSET.epoch.__doc__ is None
    listed = [k for k, v in vars(ELSET).items() if type(v).__name__ == "getset_descriptor" and k[0] != "_"]
    assert listed == ["size", "satname", "satno", *ELEMENTS, "epoch"]


def test_satname_lives_in_the_instance_dict():
    elset = ELSET(DUOLINE(*ISS_2008), satname="ISS")
    assert elset.__dict__ == {"_satname": "ISS"}
    elset._satname = "renamed"
    assert elset.satname == "renamed"


def test_cycles_through_the_set_are_collected():
    import weakref

    class Marker:
        pass

    record = DUOLINE(*ISS_2008)
    count = sys.getrefcount(record)
    elset = ELSET(record)
    marker = Marker()
    alive = weakref.ref(marker)
    elset.marker, elset.me = marker, elset
    del elset, marker
    gc.collect()
    assert alive() is None
    assert sys.getrefcount(record) == count


def test_failed_construction_leaves_inputs_untouched():
    record, impostor = DUOLINE(*ISS_2008), Impostor(Time("2030"))
    name = "ISS" + str(id(record))  # a fresh object
    before = [sys.getrefcount(x) for x in (record, impostor, name)]
    for _ in range(3):
        with pytest.raises(TypeError):
            ELSET(record, impostor, satname=name)
    gc.collect()
    assert [sys.getrefcount(x) for x in (record, impostor, name)] == before
