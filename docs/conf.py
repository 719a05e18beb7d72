"""Sphinx configuration of the quorvane documentation.

Built by `make docs` (warnings are errors) from the docstrings of the
installed package and the pages beside this file.
"""

import os
import re
import sys

import quorvane

# Document the extension modules themselves, not the .pyi stubs beside them
# (autodoc would otherwise execute a stub in place of its module).
os.environ["SPHINX_AUTODOC_IGNORE_NATIVE_MODULE_TYPE_STUBS"] = "1"

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "examples"))  # the guide's figure uses the plotting example

project = "quorvane"
author = "The quorvane maintainers"
copyright = "2026, The quorvane maintainers"
release = version = quorvane.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
    "matplotlib.sphinxext.plot_directive",
    "myst_parser",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]

# NumPy-style docstrings; a native function's first docstring line is its
# signature, which autodoc takes as the signature.
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
napoleon_use_param = False
# Attributes sections as fields: the properties they name are documented
# themselves (directives would describe them twice).
napoleon_use_ivar = True
autodoc_docstring_signature = True
autodoc_member_order = "bysource"
autodoc_default_options = {"undoc-members": False}

# The guide's code runs from the project root, where examples/data lives.
doctest_global_setup = f"import os; os.chdir({ROOT!r})"
plot_working_directory = ROOT
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 100)]

myst_heading_anchors = 2

html_theme = "alabaster"
html_title = f"quorvane {release}"
html_theme_options = {"description": "Orbital elements, anomalies, state vectors and two-line element sets"}


def _drop_text_signature_marker(app, what, name, obj, options, lines):
    """A docstring may carry CPython's text-signature marker (a line "--"
    after the signature line); autodoc takes the signature line, the marker
    is left over: drop it."""
    if lines and lines[0].strip() == "--":
        del lines[0]
        while lines and not lines[0].strip():
            del lines[0]


def _escape_type_underscores(app, what, name, obj, options, lines):
    """An attribute docstring starts with its type ("ndarray[str_]: ..."),
    which napoleon passes on as reStructuredText: a name ending in an
    underscore there would read as a hyperlink reference."""
    if what in ("attribute", "property"):
        lines[:] = [re.sub(r"(\w)_\]", r"\1\\_]", line) for line in lines]


def setup(app):
    app.connect("autodoc-process-docstring", _drop_text_signature_marker)
    app.connect("autodoc-process-docstring", _escape_type_underscores)
