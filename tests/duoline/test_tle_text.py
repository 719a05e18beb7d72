"""Text pieces of DUOLINE and ELSET, their function objects, pickling refused."""

import copy
import pickle

import pytest

from quorvane.frames import frames
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.units import units
from tle_data import ISS_2008, ISS_2019, VANGUARD, splice

PATH = "quorvane.propagators.analytical.sgp4.duoline"


class Probe(DUOLINE):
    """Records the arguments handed to the base-class text helpers."""

    def _create_formatted_form(self, form):
        self.form = form
        return "FORM"

    def _create_formatted_frame(self, table):
        self.__dict__.setdefault("tables", []).append(table)
        return f"TABLE{len(self.tables)}"

    def _format_as_property(self, heading):
        self.__dict__.setdefault("headings", []).append(heading)
        return f"<{heading}>"


def test_body_pieces_in_order():
    record = Probe(*ISS_2008)
    body = record._get_body()
    l1, l2 = ISS_2008
    assert body == (
        f"{l1}\n{l2}\n{{fence}}\nFORM\n{{fence}}\n<Orbital Elements:>\nTABLE1\n"
        "{fence}\n<Derived Elements:>\nTABLE2"
    )
    assert record.form == {"epoch": record.epoch.utc.__repr__(), "frame": frames.TEME.name}
    assert list(record.form) == ["epoch", "frame"]
    assert record.headings == ["Orbital Elements:", "Derived Elements:"]


def expected_tables(r):
    km, deg, hour, rev, day = units.km, units.deg, units.hour, units.rev, units.day
    orbital = {
        "SI units": {
            "ecc": f"{r.ecc:.5f}",
            "sma": f"{r.sma:.3f} m",
            "inc": f"{r.inc:.3f} rad",
            "raa": f"{r.raa:.3f} rad",
            "arp": f"{r.arp:.3f} rad",
            "tra": f"{r.tra:.3f} rad",
        },
        "Op. units": {
            "ecc": f"{r.ecc:.5f}",
            "sma": f"{r.sma / km:.3f} km",
            "inc": f"{r.inc / deg:.3f} deg",
            "raa": f"{r.raa / deg:.3f} deg",
            "arp": f"{r.arp / deg:.3f} deg",
            "tra": f"{r.tra / deg:.3f} deg",
        },
    }
    derived = {
        "SI units": {
            "orp": f"{r.orp:.3f} s",
            "mnm": f"{r.mnm:.3f} rad/s",
            "mea": f"{r.mea:.3f} rad",
            "eca": f"{r.eca:.3f} rad",
            "pge": f"{r.pge:.3f} m",
            "apg": f"{r.apg:.3f} m",
        },
        "Op. units": {
            "orp": f"{r.orp / hour:.3f} hour",
            "mnm": f"{r.mnm / (rev / day):.3f} rev/day",
            "mea": f"{r.mea / deg:.3f} deg",
            "eca": f"{r.eca / deg:.3f} deg",
            "pge": f"{r.pge / km:.3f} km",
            "apg": f"{r.apg / km:.3f} km",
        },
    }
    return [orbital, derived]


@pytest.mark.parametrize(
    "lines",
    [ISS_2008, VANGUARD, (ISS_2008[0], splice(ISS_2008[1], 53, " " * 11)), (ISS_2008[0], splice(ISS_2008[1], 27, "1e+0001"))],
    ids=["iss", "vanguard", "infinite", "nan"],
)
def test_element_tables_match_python_formatting(lines):
    record = Probe(*lines)
    record._get_body()
    expected = expected_tables(record)
    assert record.tables == expected
    # Dicts compare without order; the row order is the table's order too.
    for table, wanted in zip(record.tables, expected):
        assert list(table) == ["SI units", "Op. units"]
        for column in table:
            assert list(table[column]) == list(wanted[column])


def test_printed_record_goes_through_representable():
    text = str(DUOLINE(*ISS_2008))
    assert text.startswith("Two-line Elements (DUOLINE)")
    assert ISS_2008[0] in text and ISS_2008[1] in text
    assert "{fence}" not in text


def test_body_propagates_base_class_errors():
    class Broken(DUOLINE):
        def _format_as_property(self, heading):
            raise LookupError(heading)

    with pytest.raises(LookupError, match="Orbital Elements:"):
        Broken(*ISS_2008)._get_body()


def test_headers():
    assert DUOLINE(*ISS_2008)._get_header() == "Two-line Elements (DUOLINE)"
    records = [DUOLINE(*ISS_2008), DUOLINE(*ISS_2019)]
    assert ELSET(*records, satname="ISS (ZARYA)")._get_header() == "ELSET ISS (ZARYA) (25544)"
    assert ELSET(*records)._get_header() == "ELSET None (25544)"
    assert ELSET(*records, satname="")._get_header() == "ELSET  (25544)"
    assert ELSET(DUOLINE(*VANGUARD))._get_header() == "ELSET None (5)"


def test_elset_header_reads_attributes_at_call_time():
    class Renamed(ELSET):
        @property
        def satname(self):
            return 42

    assert Renamed(DUOLINE(*VANGUARD))._get_header() == "ELSET 42 (5)"


@pytest.mark.parametrize("count", [1, 3])
def test_elset_body_counts_records(count):
    assert ELSET(*[DUOLINE(*ISS_2008)] * count)._get_body() == f"{count} elements"


@pytest.mark.parametrize("cls, name", [(DUOLINE, "DUOLINE"), (ELSET, "ELSET")])
@pytest.mark.parametrize("method", ["_get_header", "_get_body"])
def test_text_function_objects(cls, name, method):
    function = cls.__dict__[method]
    assert function.__qualname__ == f"{name}.{method}"
    assert function.__name__ == method
    assert function.__module__ == PATH
    assert function.__annotations__ == {"return": "str"}
    assert function.__doc__ == f"{name}.{method}(self) -> str"


@pytest.mark.parametrize("make", [lambda: DUOLINE(*ISS_2008), lambda: ELSET(DUOLINE(*ISS_2008))], ids=["record", "set"])
@pytest.mark.parametrize("method", ["_get_header", "_get_body"])
def test_text_methods_take_no_arguments(make, method):
    bound = getattr(make(), method)
    with pytest.raises(TypeError, match=rf"^{method}\(\) takes exactly 0 positional arguments \(1 given\)$"):
        bound(1)
    with pytest.raises(TypeError, match=rf"^{method}\(\) takes exactly 0 positional arguments \(2 given\)$"):
        bound(1, 2)
    with pytest.raises(TypeError, match=rf"^{method}\(\) got an unexpected keyword argument 'x'$"):
        bound(x=1)


@pytest.mark.parametrize("cls", [DUOLINE, ELSET])
def test_unbound_text_methods_check_the_instance(cls):
    with pytest.raises(TypeError):
        cls.__dict__["_get_body"](object())
    with pytest.raises(TypeError):
        cls._get_header()


@pytest.mark.parametrize("make", [lambda: DUOLINE(*ISS_2008), lambda: ELSET(DUOLINE(*ISS_2008))], ids=["record", "set"])
@pytest.mark.parametrize(
    "operation",
    [pickle.dumps, copy.copy, copy.deepcopy, lambda o: o.__reduce_ex__(2), lambda o: o.__setstate__({})],
    ids=["pickle", "copy", "deepcopy", "reduce_ex", "setstate"],
)
def test_pickling_and_copying_are_refused(make, operation):
    with pytest.raises(TypeError, match="non-trivial __cinit__"):
        operation(make())


@pytest.mark.parametrize("make", [lambda: DUOLINE(*ISS_2008), lambda: ELSET(DUOLINE(*ISS_2008))], ids=["record", "set"])
@pytest.mark.parametrize(
    "hook, args, kwargs, message",
    [
        ("__reduce__", (1,), {}, "__reduce__() takes exactly 0 positional arguments (1 given)"),
        ("__reduce__", (), {"protocol": 2}, "__reduce__() got an unexpected keyword argument 'protocol'"),
        ("__setstate__", (), {}, "__setstate__() takes exactly 1 positional argument (0 given)"),
        ("__setstate__", ({}, {}), {}, "__setstate__() takes exactly 1 positional argument (2 given)"),
        ("__setstate__", ({},), {"state": {}}, "__setstate__() got multiple values for keyword argument 'state'"),
        ("__setstate__", (), {"other": {}}, "__setstate__() takes exactly 1 positional argument (0 given)"),
        ("__setstate__", (), {"state": {}}, "no default __reduce__ due to non-trivial __cinit__"),
    ],
)
def test_pickling_hooks_bind_their_arguments_before_refusing(make, hook, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        getattr(make(), hook)(*args, **kwargs)
    assert str(info.value) == message
