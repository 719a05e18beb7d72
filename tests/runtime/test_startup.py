"""Module start-up rules shared by every extension module."""

import importlib

import pytest

MODULES = {
    "units": "quorvane.units.units",
    "arqel": "quorvane.mathtools.arqel.arqel",
    "structured": "quorvane.datamodel.structured",
}


@pytest.mark.parametrize("path", MODULES.values())
def test_reimport_and_reload_change_nothing(path):
    module = importlib.import_module(path)
    # the import machinery refreshes __spec__, __loader__ and the like on a
    # reload; everything the module itself defined must stay the same object
    own = lambda m: {k: v for k, v in vars(m).items() if not k.startswith("__") or k in ("__pyx_capi__", "__test__")}
    before = own(module)
    assert importlib.import_module(path) is module
    assert importlib.reload(module) is module
    after = own(module)
    assert before.keys() == after.keys()
    assert all(after[k] is v for k, v in before.items())


# (structured is imported by its package's __init__, so no second module
# object can be created before it executes)
@pytest.mark.parametrize("name, path", [(n, p) for n, p in MODULES.items() if n != "structured"])
def test_exec_on_another_module_object(python, name, path):
    proc = python(f"""
        import importlib.util
        spec = importlib.util.find_spec({path!r})
        first = importlib.util.module_from_spec(spec)
        second = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(first)
        spec.loader.exec_module(first)            # again on the same object: no effect
        assert importlib.util.module_from_spec(spec) is first
        try:
            spec.loader.exec_module(second)
        except RuntimeError as exc:
            print(exc)
    """)
    assert proc.stdout.strip() == f"Module '{name}' has already been imported. Re-initialisation is not supported."


def test_second_interpreter_is_refused(python):
    proc = python("""
        import os, tempfile, _testcapi
        import quorvane.units.units
        out = tempfile.mktemp()
        _testcapi.run_in_subinterp(f'''
        try:
            import quorvane.units.units
        except ImportError as exc:
            open({out!r}, "w").write(str(exc))
        ''')
        print(open(out).read())
        os.unlink(out)
    """)
    assert proc.stdout.strip() == (
        "Interpreter change detected - this module can only be loaded into one interpreter per process."
    )
