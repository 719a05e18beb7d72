"""The shipped .pyi stubs agree with the extension modules they describe.

Each stub is parsed with ast and compared with the imported module: the
names it declares, the parameters (names, kinds, defaults) of every function
and method whose runtime object has a signature, class bases and class
attributes, and the types of module variables.  Constructors of native types
have no runtime signature, so they are called with the stub's parameters.
"""

import ast
import builtins
import importlib
import inspect
import os
import subprocess
import sys
import types
from pathlib import Path

import numpy
import pytest

from markers import not_sanitized

import quorvane

MODULES = [
    "quorvane.units.units",
    "quorvane.mathtools.misc.misc",
    "quorvane.bodies.bodies",
    "quorvane.time.time",
    "quorvane.frames.frames",
    "quorvane.mathtools.ellipsoid.ellipsoid",
    "quorvane.utils.representable",
    "quorvane.datamodel.structured",
    "quorvane._testing.lanes",
    "quorvane._testing.tle_fields",
    "quorvane.mathtools.arqel.arqel",
    "quorvane.state.orbel",
    "quorvane.propagators.analytical.sgp4.duoline",
    "quorvane.propagators.analytical.sgp4._catalogue",
    "quorvane.propagators.analytical.sgp4.propagator",
    "quorvane.observers._observers",
]
# Dunder names that belong to a module's interface and so to its stub.
MODULE_DUNDERS = {"__pyx_capi__", "__test__"}

LINE1 = "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976"
LINE2 = "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676"

PACKAGE_DIR = Path(quorvane.__file__).parent


def _stub_path(module):
    return Path(module.__file__).parent / (module.__name__.rpartition(".")[2] + ".pyi")


def _is_dunder(name):
    return name.startswith("__") and name.endswith("__")


def _is_type_alias(node):
    return isinstance(node, ast.AnnAssign) and ast.unparse(node.annotation) in ("TypeAlias", "typing.TypeAlias")


class Stub:
    """Top-level declarations of one stub: name -> list of ast nodes."""

    def __init__(self, path):
        self.tree = ast.parse(path.read_text(), filename=str(path))
        self.names = {}
        for node in self.tree.body:
            for name in _declared_names(node):
                self.names.setdefault(name, []).append(node)

    def helpers(self):
        """Stub-only type aliases (private names that exist only for typing)."""
        return {n for n, nodes in self.names.items() if n.startswith("_") and all(map(_is_type_alias, nodes))}


def _declared_names(node):
    if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
        return [node.name]
    if isinstance(node, ast.AnnAssign):
        return [node.target.id]
    if isinstance(node, ast.Assign):
        return [t.id for t in node.targets]
    if isinstance(node, (ast.Import, ast.ImportFrom)):
        # Only the explicit re-export form `import x as x` declares a name.
        return [a.asname for a in node.names if a.asname and a.asname == a.name.rpartition(".")[2]]
    return []


def _class_members(cls_node):
    members = {}
    for node in cls_node.body:
        for name in _declared_names(node):
            members.setdefault(name, []).append(node)
    return members


def _is_property(func):
    return any(ast.unparse(d) == "property" for d in func.decorator_list)


def _stub_params(func):
    """[(name, kind, default)] of a stub def; default is inspect.Parameter.empty,
    Ellipsis (any value) or the literal value."""
    a = func.args
    out = []
    positional = a.posonlyargs + a.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(a.defaults)) + list(a.defaults)
    for i, (arg, default) in enumerate(zip(positional, defaults)):
        kind = inspect.Parameter.POSITIONAL_ONLY if i < len(a.posonlyargs) else inspect.Parameter.POSITIONAL_OR_KEYWORD
        out.append((arg.arg, kind, _literal(default)))
    if a.vararg:
        out.append((a.vararg.arg, inspect.Parameter.VAR_POSITIONAL, inspect.Parameter.empty))
    for arg, default in zip(a.kwonlyargs, a.kw_defaults):
        out.append((arg.arg, inspect.Parameter.KEYWORD_ONLY, _literal(default)))
    if a.kwarg:
        out.append((a.kwarg.arg, inspect.Parameter.VAR_KEYWORD, inspect.Parameter.empty))
    return out


def _literal(node):
    if node is inspect.Parameter.empty or node is None:
        return inspect.Parameter.empty
    return ast.literal_eval(node)


def _runtime_signature(obj):
    try:
        return inspect.signature(obj)
    except (TypeError, ValueError):
        return None


def _compare_signature(where, stub_defs, runtime_obj):
    signature = _runtime_signature(runtime_obj)
    assert signature is not None, f"{where}: the runtime object has no signature"
    runtime = [(p.name, p.kind, p.default) for p in signature.parameters.values()]
    for func in stub_defs:
        stub = _stub_params(func)
        assert [(n, k) for n, k, _ in stub] == [(n, k) for n, k, _ in runtime], where
        for (name, _, stub_default), (_, _, runtime_default) in zip(stub, runtime):
            if stub_default is inspect.Parameter.empty or runtime_default is inspect.Parameter.empty:
                assert stub_default is runtime_default, f"{where}: default of {name}"
            elif stub_default is not Ellipsis:
                assert stub_default == runtime_default, f"{where}: default of {name}"


def _is_function_object(value):
    slot_types = (types.WrapperDescriptorType, types.MethodDescriptorType, types.BuiltinFunctionType)
    return callable(value) and not isinstance(value, slot_types) and _runtime_signature(value) is not None


def _annotation_type(node, module):
    """The runtime class an annotation names, or None when it is not a plain class."""
    if isinstance(node, ast.Subscript):
        if ast.unparse(node.value) == "ClassVar":
            return _annotation_type(node.slice, module)
        node = node.value
    dotted = ast.unparse(node)
    root, _, rest = dotted.partition(".")
    scope = {"numpy": numpy}.get(root) or getattr(module, root, None) or getattr(builtins, root, None)
    for part in rest.split(".") if rest else []:
        scope = getattr(scope, part, None)
    return scope if isinstance(scope, type) else None


@pytest.fixture(params=MODULES)
def module_and_stub(request):
    module = importlib.import_module(request.param)
    path = _stub_path(module)
    assert path.is_file(), f"no stub beside {module.__file__}"
    return module, Stub(path)


def test_every_extension_module_has_a_stub_and_the_package_is_typed():
    extensions = sorted(PACKAGE_DIR.rglob("*.so"))
    assert len(extensions) >= len(MODULES)
    missing = [str(p) for p in extensions if not (p.parent / (p.name.partition(".")[0] + ".pyi")).is_file()]
    assert missing == []
    assert (PACKAGE_DIR / "py.typed").is_file()


def test_module_names_agree(module_and_stub):
    module, stub = module_and_stub
    runtime = {n for n in vars(module) if not _is_dunder(n) or n in MODULE_DUNDERS}
    declared = set(stub.names) - stub.helpers()
    assert declared == runtime


def test_functions_agree(module_and_stub):
    module, stub = module_and_stub
    for name, nodes in stub.names.items():
        defs = [n for n in nodes if isinstance(n, ast.FunctionDef)]
        if defs:
            _compare_signature(f"{module.__name__}.{name}", defs, getattr(module, name))


def test_variables_have_the_declared_types(module_and_stub):
    module, stub = module_and_stub
    for name, nodes in stub.names.items():
        for node in nodes:
            if isinstance(node, ast.AnnAssign) and not _is_type_alias(node):
                expected = _annotation_type(node.annotation, module)
                assert expected is not None, f"{name}: annotation not checkable"
                assert isinstance(getattr(module, name), expected), name


def test_classes_agree(module_and_stub):
    module, stub = module_and_stub
    for name, nodes in stub.names.items():
        if not isinstance(nodes[0], ast.ClassDef):
            continue
        cls_node, cls = nodes[0], getattr(module, name)
        assert isinstance(cls, type), name
        assert [ast.unparse(b).rpartition(".")[2] for b in cls_node.bases] == [
            b.__name__ for b in cls.__bases__ if b is not object
        ], name
        members = _class_members(cls_node)
        runtime_members = dict(vars(cls))
        # Function objects placed in the type dict are part of the interface,
        # dunder ones (pickling hooks) included; slot wrappers are not.
        interface = {
            n for n, v in runtime_members.items() if not _is_dunder(n) or _is_function_object(v)
        } - {"__new__", "__init__"}
        declared = {n for n in members if not _is_dunder(n) or n in runtime_members} - {"__new__", "__init__"}
        assert declared >= interface, f"{name}: stub lacks {sorted(interface - declared)}"
        for member in declared:
            assert member in runtime_members, f"{name}.{member} is not defined on the class at run time"
            value, stub_nodes = runtime_members[member], members[member]
            where = f"{module.__name__}.{name}.{member}"
            if inspect.isdatadescriptor(value):
                assert all(isinstance(n, ast.FunctionDef) and _is_property(n) for n in stub_nodes), where
                # Stub properties have no setter: the runtime ones refuse assignment.
                instance = _any_instance(module, cls)
                if instance is not None:
                    with pytest.raises(AttributeError):
                        setattr(instance, member, getattr(instance, member))
            elif _is_function_object(value):
                _compare_signature(where, stub_nodes, value)
            elif callable(value):
                # A slot wrapper (__lt__, __len__, ...): declared as a method.
                assert all(isinstance(n, ast.FunctionDef) for n in stub_nodes), where
            else:
                assert all(isinstance(n, ast.AnnAssign) for n in stub_nodes), where
                expected = _annotation_type(stub_nodes[0].annotation, module)
                assert expected is not None and isinstance(value, expected), where


# ---------------------------------------------------------------- constructors

SAMPLES = {
    "line1": LINE1,
    "line2": LINE2,
    "strict_validation": False,
    "satname": "ISS (ZARYA)",
    "lat": 0.5,
    "lon": 0.25,
    "origin": None,
    "a": 6378137.0,
    "f": 1 / 298.257223563,
    "name": "test",
    "value": "2024-01-05",
    "format": None,
    "gravity": "wgs72",
    "mode": "improved",
}


def _sample(name):
    if name == "source":  # the propagator's element sets
        from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

        return DUOLINE(LINE1, LINE2)
    return SAMPLES[name]


def _any_instance(module, cls):
    """An instance of cls: a module variable, or one built from the samples."""
    for value in vars(module).values():
        if isinstance(value, cls):
            return value
    if _constructor_node(cls) is None:
        return None
    return _construct(cls, None)[0]


def _constructor_node(cls):
    module = sys.modules[cls.__module__]
    stub = Stub(_stub_path(module))
    for klass in cls.__mro__:
        if klass.__module__ != cls.__module__ or klass.__name__ not in stub.names:
            continue
        members = _class_members(stub.names[klass.__name__][0])
        for dunder in ("__new__", "__init__"):
            if dunder in members:
                return members[dunder][0]
    return None


def _construct(cls, drop, **extra):
    """Call cls with a sample for every parameter of its stub constructor,
    leaving out the parameter `drop` and adding the keywords `extra`."""
    node = _constructor_node(cls)
    params = _stub_params(node)[1:]  # without cls/self
    args, kwargs = [], {}
    for name, kind, _ in params:
        if name == drop:
            continue
        if kind is inspect.Parameter.VAR_POSITIONAL:
            from quorvane.propagators.analytical.sgp4.duoline import DUOLINE

            args = [DUOLINE(LINE1, LINE2)]
        elif kind is inspect.Parameter.VAR_KEYWORD:
            return None, params
        else:
            kwargs[name] = _sample(name)
    return cls(*args, **kwargs, **extra), params


def _constructed_classes():
    out = []
    for path in MODULES:
        module = importlib.import_module(path)
        stub = Stub(_stub_path(module))
        for name, nodes in stub.names.items():
            if isinstance(nodes[0], ast.ClassDef):
                cls = getattr(module, name)
                node = _constructor_node(cls)
                if node is not None and node.args.kwarg is None:
                    out.append(pytest.param(cls, id=f"{path.rpartition('.')[2]}.{name}"))
    return out


@pytest.mark.parametrize("cls", _constructed_classes())
def test_constructor_takes_the_stub_parameters(cls):
    instance, params = _construct(cls, None)
    assert type(instance) is cls
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        _construct(cls, None, no_such_parameter=1)
    # A parameter without a default in the stub is required at run time.
    for name, kind, default in params:
        if default is inspect.Parameter.empty and kind in (inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.KEYWORD_ONLY):
            with pytest.raises(TypeError):
                _construct(cls, name)


# ---------------------------------------------------------------- mypy

ROOT = Path(__file__).resolve().parents[2]
TOUR = ROOT / "examples" / "typed_tour.py"


@pytest.mark.skipif(not TOUR.is_file(), reason="examples/typed_tour.py is not beside this copy of the tests")
@not_sanitized
def test_mypy_strict_accepts_the_typed_tour_and_the_package(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed in this Python (pip install mypy)")
    # Run outside the source tree so the installed package (stubs included)
    # is what mypy reads; once for the example, once for the package itself.
    for target in ([str(TOUR)], ["-p", "quorvane"]):
        proc = subprocess.run(
            [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), *target],
            capture_output=True, text=True, timeout=300, cwd=tmp_path,
            env={k: v for k, v in os.environ.items() if k != "MYPYPATH"},
        )
        assert proc.returncode == 0, proc.stdout + proc.stderr


def test_typed_tour_runs():
    if not TOUR.is_file():
        pytest.skip("examples/typed_tour.py is not beside this copy of the tests")
    proc = subprocess.run([sys.executable, str(TOUR)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert quorvane.get_include() in proc.stdout



def _mypy(tmp_path, *args):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed in this Python (pip install mypy)")
    # Outside the source tree, so the installed package and its stubs are read.
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=tmp_path,
        env={k: v for k, v in os.environ.items() if k != "MYPYPATH"},
    )


@not_sanitized
def test_stubtest_finds_no_disagreement(tmp_path):
    proc = _mypy(tmp_path, "mypy.stubtest", "quorvane", "--mypy-config-file", os.devnull)
    assert proc.returncode == 0, proc.stdout + proc.stderr


# Every kind of value Time accepts at run time, as a caller would write it.
TIME_CALLS = """
import datetime

import numpy as np

from quorvane.time.time import Time

instants = [
    Time("2024-01-05T12:00:00"),
    Time(1_704_456_000_000_000_000),
    Time(np.int64(1_704_456_000_000_000_000)),
    Time(datetime.datetime(2024, 1, 5, 12, tzinfo=datetime.timezone.utc)),
    Time(datetime.date(2024, 1, 5)),
    Time(np.datetime64("2024-01-05T12:00")),
    Time(np.array([0, 1], dtype=np.int64)),
    Time(np.array(["2024-01-05", "2024-01-06"], dtype="datetime64[D]")),
    Time(2460315.0, format="jd"),
    Time(np.float64(2460315.0), format="jd"),
]
print(len(instants))
"""


@not_sanitized
def test_time_stub_accepts_what_time_accepts(tmp_path):
    script = tmp_path / "times.py"
    script.write_text(TIME_CALLS)
    ran = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=60)
    assert ran.stdout.strip() == "10", ran.stderr
    proc = _mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(script))
    assert proc.returncode == 0, proc.stdout + proc.stderr
