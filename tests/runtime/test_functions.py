"""Function objects and argument binding, seen through the orbel functions."""

import inspect
import pickle

import pytest

import quorvane.state.orbel as orbel
from quorvane.bodies.bodies import Earth


def test_attributes():
    f = orbel.mnm_from_sma
    assert (f.__name__, f.__qualname__, f.__module__) == ("mnm_from_sma", "mnm_from_sma", "quorvane.state.orbel")
    assert f.__doc__.splitlines()[0] == (
        "mnm_from_sma(sma: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]"
    )
    assert f.__annotations__ == {
        "sma": "double | ndarray[double]",
        "GM": "double",
        "return": "double | ndarray[double]",
    }
    assert f.__defaults__ == (Earth.GM,) and f.__kwdefaults__ is None
    assert orbel.eca_from_mea.__defaults__ is None


def test_signature():
    sig = inspect.signature(orbel.mnm_from_sma)
    assert list(sig.parameters) == ["sma", "GM"]
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in sig.parameters.values())
    assert sig.parameters["GM"].default == Earth.GM
    assert sig.parameters["sma"].default is inspect.Parameter.empty
    assert sig.return_annotation == "double | ndarray[double]"
    assert str(inspect.signature(orbel.eca_from_mea)) == (
        "(mea: 'double | ndarray[double]', ecc: 'double | ndarray[double]') -> 'double | ndarray[double]'"
    )


def test_pickled_by_qualified_name():
    assert pickle.loads(pickle.dumps(orbel.tra_from_mea)) is orbel.tra_from_mea


def test_binds_as_method():
    class Holder:
        f = orbel.mea_from_eca

    # bound like a Python function: the instance becomes the first argument
    with pytest.raises(AttributeError, match="'Holder' object has no attribute 'ndim'"):
        Holder().f(0.5)
    assert Holder.f is orbel.mea_from_eca


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: orbel.mnm_from_sma(), "mnm_from_sma() takes at least 1 positional argument (0 given)"),
        (lambda: orbel.mnm_from_sma(1.0, 2.0, 3.0), "mnm_from_sma() takes at most 2 positional arguments (3 given)"),
        (lambda: orbel.mnm_from_sma(GM=1.0), "mnm_from_sma() takes at least 1 positional argument (0 given)"),
        (lambda: orbel.eca_from_mea(1.0), "eca_from_mea() takes exactly 2 positional arguments (1 given)"),
        (lambda: orbel.eca_from_mea(mea=1.0), "eca_from_mea() takes exactly 2 positional arguments (1 given)"),
        (lambda: orbel.eca_from_mea(1.0, 2.0, 3.0), "eca_from_mea() takes exactly 2 positional arguments (3 given)"),
        (lambda: orbel.eca_from_mea(1.0, 0.1, mea=2.0), "eca_from_mea() got multiple values for keyword argument 'mea'"),
        (lambda: orbel.eca_from_mea(1.0, 0.1, foo=2.0), "eca_from_mea() got an unexpected keyword argument 'foo'"),
        (lambda: orbel.mnm_from_sma(7e6, gm=1.0), "mnm_from_sma() got an unexpected keyword argument 'gm'"),
        (lambda: orbel.sv_from_orbel(), "sv_from_orbel() takes at least 1 positional argument (0 given)"),
        (lambda: orbel.orbel_from_sv(1), "orbel_from_sv() takes at least 2 positional arguments (1 given)"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keywords_bind_by_name():
    assert orbel.mnm_from_sma(GM=4.0, sma=1.0) == orbel.mnm_from_sma(1.0, 4.0) == 2.0
    assert orbel.eca_from_mea(ecc=0.0, mea=1.25) == 1.25
