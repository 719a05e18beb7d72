"""Native consumers outside the package: the shipped headers and the binding helper.

A tiny extension module is compiled in a temporary directory against the
installed headers only (quorvane.get_include() plus the Python headers),
binds c_eca_from_mea from orbel and dot from arqel by capsule, and is called
from a fresh interpreter.
"""

import re
import shutil
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

import quorvane
from markers import sanitizer_env

INCLUDE = Path(quorvane.get_include())
HEADERS = ["datamodel/structured/structured.hpp", "mathtools/arqel/arqel.hpp", "state/orbel/orbel.hpp"]
# Layouts of Python objects, and the runtime's binding helpers: with Python.h.
PYTHON_HEADERS = ["runtime/ref.hpp", "runtime/bind.hpp", "siblings/utils/representable/representable.hpp",
                  "propagators/analytical/sgp4/duoline/duoline.hpp"]
CXX = shutil.which("g++") or shutil.which("c++")

needs_compiler = pytest.mark.skipif(CXX is None, reason="no C++ compiler on PATH")


def compile_cxx(args, cwd):
    proc = subprocess.run([CXX, "-std=c++20", "-Wall", "-Wextra", "-Werror", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr


def test_get_include_is_the_shipped_header_directory():
    assert INCLUDE.is_absolute() and INCLUDE.parent == Path(quorvane.__file__).parent
    shipped = sorted(str(p.relative_to(INCLUDE / "quorvane")) for p in INCLUDE.rglob("*") if p.is_file())
    assert shipped == sorted(HEADERS + PYTHON_HEADERS)
    # The installed package holds no other C or C++ file.
    package = Path(quorvane.__file__).parent
    sources = [p for p in package.rglob("*") if p.suffix in {".c", ".cc", ".cpp", ".h", ".hpp"}]
    assert [p for p in sources if not p.is_relative_to(INCLUDE)] == []


@needs_compiler
@pytest.mark.parametrize("header", HEADERS)
def test_declaration_header_compiles_alone_without_python(header, tmp_path):
    # Only the shipped directory is on the include path: no Python headers,
    # no source tree.  Including twice checks the include guard.
    source = tmp_path / "use.cpp"
    source.write_text(f"#include <quorvane/{header}>\n#include <quorvane/{header}>\n")
    compile_cxx(["-fsyntax-only", "-I", str(INCLUDE), str(source)], tmp_path)


@needs_compiler
@pytest.mark.parametrize("header", PYTHON_HEADERS)
def test_python_object_header_compiles_with_the_python_headers_only(header, tmp_path):
    source = tmp_path / "use.cpp"
    source.write_text(f"#include <quorvane/{header}>\n#include <quorvane/{header}>\n")
    compile_cxx(["-fsyntax-only", "-I", str(INCLUDE), "-I", sysconfig.get_paths()["include"], str(source)],
                tmp_path)


EXTENSION = r"""
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <quorvane/runtime/bind.hpp>
#include <quorvane/datamodel/structured/structured.hpp>
#include <quorvane/mathtools/arqel/arqel.hpp>
#include <quorvane/state/orbel/orbel.hpp>

// Import the module `path` and bind one kernel from it; sys.modules keeps
// the exporter alive, so the pointer stays valid.
template <class F>
static int import_kernel(const char* path, const char* name, F** fn, const char* signature) {
    qv::Ref exporter = qv::import_module(path);
    return exporter ? qv::bind_kernel(exporter.get(), path, name, fn, signature) : -1;
}

static qv::orbel::AnomalyKernel* eca_from_mea = nullptr;
static qv::arqel::Dot* dot = nullptr;

static PyObject* call_eca_from_mea(PyObject*, PyObject* args) {
    double mea, ecc;
    if (!PyArg_ParseTuple(args, "dd", &mea, &ecc)) return nullptr;
    return PyFloat_FromDouble(eca_from_mea(mea, ecc));
}

static PyObject* call_dot(PyObject*, PyObject* args) {
    double a[3], b[3];
    if (!PyArg_ParseTuple(args, "(ddd)(ddd)", &a[0], &a[1], &a[2], &b[0], &b[1], &b[2])) return nullptr;
    return PyFloat_FromDouble(dot(a, b));
}

// bind(path, name, signature): bind any kernel, to see the helper's errors.
static PyObject* bind(PyObject*, PyObject* args) {
    const char *path, *name, *signature;
    if (!PyArg_ParseTuple(args, "sss", &path, &name, &signature)) return nullptr;
    void (*fn)() = nullptr;
    if (import_kernel(path, name, &fn, signature) < 0) return nullptr;
    Py_RETURN_NONE;
}

// The header's constants, to compare with what the modules publish.
static PyObject* header_facts(PyObject*, PyObject*) {
    return Py_BuildValue("{s:s,s:s,s:s,s:s,s:n}", "c_eca_from_mea", qv::orbel::sig_anomaly,
                         "c_orbel_from_sv", qv::orbel::sig_orbel_from_sv, "c_sv_from_orbel",
                         qv::orbel::sig_sv_from_orbel, "dot", qv::arqel::sig_dot, "sizeof_ORBEL_t",
                         static_cast<Py_ssize_t>(sizeof(ORBEL_t)));
}

static PyMethodDef methods[] = {
    {"eca_from_mea", call_eca_from_mea, METH_VARARGS, nullptr},
    {"dot", call_dot, METH_VARARGS, nullptr},
    {"bind", bind, METH_VARARGS, nullptr},
    {"header_facts", header_facts, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

static PyModuleDef definition = {PyModuleDef_HEAD_INIT, "outside", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_outside() {
    if (import_kernel("quorvane.state.orbel", "c_eca_from_mea", &eca_from_mea,
                                qv::orbel::sig_anomaly) < 0 ||
        import_kernel("quorvane.mathtools.arqel.arqel", "dot", &dot, qv::arqel::sig_dot) < 0)
        return nullptr;
    return PyModule_Create(&definition);
}
"""


@pytest.fixture(scope="module")
def outside(tmp_path_factory):
    if CXX is None:
        pytest.skip("no C++ compiler on PATH")
    build = tmp_path_factory.mktemp("outside")
    (build / "outside.cpp").write_text(EXTENSION)
    target = build / ("outside" + sysconfig.get_config_var("EXT_SUFFIX"))
    compile_cxx(["-O2", "-ffp-contract=off", "-shared", "-fPIC", "-I", sysconfig.get_paths()["include"],
                 "-I", str(INCLUDE), "outside.cpp", "-o", str(target)], build)
    return build


def run_outside(build, code):
    # A fresh interpreter whose path holds the extension but not the source tree.
    proc = subprocess.run([sys.executable, "-I", "-c", textwrap.dedent(code)],
                          cwd=build, env={"PYTHONPATH": str(build), **sanitizer_env()}, capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def test_outside_extension_calls_the_bound_kernels(outside):
    out = run_outside(outside, f"""
        import sys; sys.path.insert(0, {str(outside)!r})
        import numpy as np
        import outside
        from quorvane.state import orbel
        for mea, ecc in [(0.0, 0.5), (1.0, 0.1), (3.0, 0.9), (-2.5, 0.0), (6.0, 0.001)]:
            assert outside.eca_from_mea(mea, ecc) == orbel.eca_from_mea(mea, ecc), (mea, ecc)
        mea = np.linspace(-7.0, 7.0, 29)
        assert [outside.eca_from_mea(m, 0.3) for m in mea] == list(orbel.eca_from_mea(mea, 0.3))
        a, b = (1.0, -2.0, 3.5), (0.25, 4.0, -1.0)
        assert outside.dot(a, b) == (1.0 * 0.25 + -2.0 * 4.0) + 3.5 * -1.0
        print("ok")
    """)
    assert out.strip() == "ok"


def test_outside_header_constants_match_the_published_capsules(outside):
    run_outside(outside, f"""
        import sys; sys.path.insert(0, {str(outside)!r})
        import ctypes, outside
        from quorvane.state import orbel
        from quorvane.mathtools.arqel import arqel
        from quorvane.datamodel import ORBEL_dt
        name = ctypes.pythonapi.PyCapsule_GetName
        name.restype, name.argtypes = ctypes.c_char_p, [ctypes.py_object]
        facts = outside.header_facts()
        assert facts.pop("sizeof_ORBEL_t") == ORBEL_dt.itemsize
        for kernel, signature in facts.items():
            exporter = arqel if kernel == "dot" else orbel
            assert name(exporter.__pyx_capi__[kernel]).decode() == signature, kernel
    """)


@pytest.mark.parametrize("path, name, signature, error", [
    ("quorvane.state.orbel", "c_no_such_kernel", "double (double const , double const )",
     "ImportError: quorvane.state.orbel does not export expected C function c_no_such_kernel"),
    ("quorvane.state.orbel", "c_eca_from_mea", "double (double, double)",
     "TypeError: C function quorvane.state.orbel.c_eca_from_mea has wrong signature "
     "(expected double (double, double), got double (double const , double const ))"),
    ("quorvane.propagators.analytical.sgp4.duoline", "parse_line1", "void (void)",
     "AttributeError"),  # a module without an export table
    ("quorvane.no_such_module", "dot", "double (double *, double *)", "ModuleNotFoundError"),
])
def test_outside_binding_errors_use_the_runtime_texts(outside, path, name, signature, error):
    out = run_outside(outside, f"""
        import sys; sys.path.insert(0, {str(outside)!r})
        import outside
        try:
            outside.bind({path!r}, {name!r}, {signature!r})
        except Exception as exc:
            print(f"{{type(exc).__name__}}: {{exc}}")
    """)
    assert out.strip().startswith(error)


def test_get_include_docstring_names_shipped_headers():
    named = re.findall(r"<(quorvane/[\w/]+\.hpp)>", quorvane.get_include.__doc__)
    assert named and all((INCLUDE / header).is_file() for header in named), named
