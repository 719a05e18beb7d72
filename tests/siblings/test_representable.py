import gc
import pickle
import weakref

import pytest

from quorvane.utils.representable import Representable


class Record(Representable):
    def __init__(self, header, body, *args, **kwargs):
        super().__init__(header, body, *args, **kwargs)
        self.header, self.body = header, body

    def _get_header(self):
        return self.header

    def _get_body(self):
        return self.body


def test_constructor_takes_any_arguments():
    r = Representable(1, "two", three=3)
    r._satname = "ISS"
    assert r.__dict__ == {"_satname": "ISS"}
    assert Record("h", "b", 1, x=2).header == "h"


def test_printed_form_with_fences():
    r = Record("Heading", "short\n{fence}\na much longer line\n{fence}\nend")
    expected = "\n".join(["Heading", "=" * 18, "short", "-" * 18, "a much longer line", "-" * 18, "end"])
    assert repr(r) == str(r) == expected


def test_header_can_set_the_width():
    assert repr(Record("A long heading", "x\n{fence}")) == "A long heading\n" + "=" * 14 + "\nx\n" + "-" * 14


def test_only_whole_fence_lines_are_filled():
    body = "a {fence} b\n{fence}\n{x} and {} stay"
    assert repr(Record("H", body)).splitlines()[2:] == ["a {fence} b", "-" * 15, "{x} and {} stay"]


def test_empty_body():
    assert repr(Record("Head", "")) == "Head\n===="


def test_hooks_must_return_str():
    with pytest.raises(TypeError, match=r"_get_body\(\) must return str, not int"):
        repr(Record("H", 5))


def test_errors_in_hooks_propagate():
    class Failing(Representable):
        def _get_header(self):
            raise AttributeError("inside the hook")

        def _get_body(self):
            return ""

    with pytest.raises(AttributeError, match="inside the hook"):
        repr(Failing())


def test_without_hooks_prints_as_object():
    assert repr(Representable()).startswith("<quorvane.utils.representable.Representable object at 0x")


def test_formatted_form():
    r = Representable()
    assert r._create_formatted_form({"epoch": "2024-01-01", "frame": "TEME", "x": 1}) == (
        "epoch : 2024-01-01\nframe : TEME\nx     : 1"
    )
    assert r._create_formatted_form({}) == ""


def test_formatted_frame():
    frame = {
        "SI units": {"ecc": "0.00067", "sma": "6790123.456 m"},
        "Op. units": {"ecc": "0.00067", "sma": "6790.123 km", "tra": "1.0 deg"},
    }
    assert Representable()._create_formatted_frame(frame).splitlines() == [
        "          SI units    Op. units",
        "ecc        0.00067      0.00067",
        "sma  6790123.456 m  6790.123 km",
        "tra                     1.0 deg",
    ]


def test_format_as_property():
    assert Representable()._format_as_property("Orbital Elements:") == "Orbital Elements:\n" + "~" * 17


@pytest.mark.parametrize(
    "method, argument",
    [("_create_formatted_form", ["a"]), ("_create_formatted_frame", {"col": ["a"]}), ("_create_formatted_frame", 3)],
)
def test_methods_reject_non_dicts(method, argument):
    with pytest.raises(TypeError, match="must be dict"):
        getattr(Representable(), method)(argument)


def test_methods_are_native_functions():
    for name in ("_create_formatted_form", "_create_formatted_frame", "_format_as_property"):
        f = Representable.__dict__[name]
        assert f.__qualname__ == f"Representable.{name}" and f.__module__ == "quorvane.utils.representable"
        assert f.__doc__.startswith(f"Representable.{name}(self, ")
        assert f.__annotations__["return"] == "str"
    with pytest.raises(TypeError, match="takes exactly 1 positional argument"):
        Representable()._format_as_property()
    with pytest.raises(TypeError, match="requires a 'Representable' object"):
        Representable._format_as_property(5, "x")


def test_defines_no_pickling_of_its_own():
    for hook in ("__reduce__", "__reduce_ex__", "__getstate__", "__setstate__", "__getnewargs__"):
        assert hook not in Representable.__dict__

    class Refusing(Record):
        def __reduce__(self):
            raise TypeError("refused")

    with pytest.raises(TypeError, match="refused"):
        pickle.dumps(Refusing("h", "b"))


def test_cycles_through_the_dict_are_collected():
    class Marker:
        pass

    r, marker = Record("h", "b"), Marker()
    r.me, r.marker = r, marker
    alive = weakref.ref(marker)
    del r, marker
    gc.collect()
    assert alive() is None
