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


# Every extension module, by name and path.
EVERY_MODULE = {
    "units": "quorvane.units.units",
    "misc": "quorvane.mathtools.misc.misc",
    "bodies": "quorvane.bodies.bodies",
    "time": "quorvane.time.time",
    "frames": "quorvane.frames.frames",
    "ellipsoid": "quorvane.mathtools.ellipsoid.ellipsoid",
    "representable": "quorvane.utils.representable",
    "structured": "quorvane.datamodel.structured",
    "arqel": "quorvane.mathtools.arqel.arqel",
    "orbel": "quorvane.state.orbel",
    "duoline": "quorvane.propagators.analytical.sgp4.duoline",
}
# The modules that use NumPy's C API.
NUMPY_MODULES = ["arqel", "orbel", "duoline", "time"]


# PyModule_ExecDef hands the exec slot a module object of the caller's
# choosing: a plain module without a definition, or another extension's
# module.  Either is a second execution on another object.
@pytest.mark.parametrize("name, path", EVERY_MODULE.items())
def test_exec_definition_on_a_foreign_module_object(python, name, path):
    proc = python(f"""
        import ctypes, importlib, types
        api = ctypes.pythonapi
        api.PyModule_GetDef.restype = ctypes.c_void_p
        api.PyModule_GetDef.argtypes = [ctypes.py_object]
        api.PyModule_ExecDef.restype = ctypes.c_int
        api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
        module = importlib.import_module({path!r})
        units = importlib.import_module("quorvane.units.units")
        definition = api.PyModule_GetDef(module)
        for target in (types.ModuleType({name!r}), units if module is not units else importlib.import_module("quorvane.mathtools.misc.misc")):
            try:
                api.PyModule_ExecDef(target, definition)
            except RuntimeError as exc:
                print(exc)
    """, check=False)
    message = f"Module '{name}' has already been imported. Re-initialisation is not supported."
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.splitlines() == [message, message]


# A NumPy whose C API table is unusable: the import fails with ImportError
# (the reason as its cause) and nothing is written to stderr.
@pytest.mark.parametrize("api", ["1", "None", "missing"])
@pytest.mark.parametrize("name", NUMPY_MODULES)
def test_broken_numpy_c_api_fails_the_import_quietly(python, name, api):
    proc = python(f"""
        import importlib, sys, types
        import numpy
        fake = types.ModuleType("numpy._core._multiarray_umath")
        if {api!r} != "missing":
            fake._ARRAY_API = {api}
        sys.modules["numpy._core._multiarray_umath"] = fake
        try:
            importlib.import_module({EVERY_MODULE[name]!r})
        except ImportError as exc:
            print(type(exc).__name__, exc, type(exc.__cause__).__name__, sep=" | ")
            assert {EVERY_MODULE[name]!r} not in sys.modules
    """, check=False)
    assert proc.returncode == 0 and proc.stderr == ""
    cause = "AttributeError" if api == "missing" else "RuntimeError"
    assert proc.stdout.strip() == f"ImportError | numpy._core.multiarray failed to import | {cause}"
