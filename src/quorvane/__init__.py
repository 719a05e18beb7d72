"""quorvane: astrodynamics in Python with a native core.

The names a program reaches for first are at the top of the package::

    import quorvane as qv

    table = qv.read_catalogue("stations.tle")
    r, v, code = qv.SGP4(table).propagate(qv.Time("2024-01-05T12:00"))

They are imported on first use (``import quorvane`` itself loads no
submodule) and are the same objects as under their modules, which stay where
they are: catalogues and records in
``quorvane.propagators.analytical.sgp4`` (``catalogue``, ``duoline``,
``propagator``), instants in ``quorvane.time.time``, frames and Earth
orientation in ``quorvane.frames`` (``frames``, ``eop``), stations and passes
in ``quorvane.observers``, the Sun, the Moon and the Earth's shadow in
``quorvane.bodies.bodies``, reference ellipsoids in
``quorvane.mathtools.ellipsoid.ellipsoid`` and conjunction screening in
``quorvane.conjunctions``.  Orbital-element relations, anomalies and state
vectors live in ``quorvane.state.orbel``; the shared record dtypes in
``quorvane.datamodel``.
"""

import os as _os

__version__ = "0.1.0"

# Each top-level name and the module it comes from.
_LAZY = {
    "Catalogue": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_catalogue": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_records": "quorvane.propagators.analytical.sgp4.catalogue",
    "read_elsets": "quorvane.propagators.analytical.sgp4.catalogue",
    "DUOLINE": "quorvane.propagators.analytical.sgp4.duoline",
    "ELSET": "quorvane.propagators.analytical.sgp4.duoline",
    "SGP4": "quorvane.propagators.analytical.sgp4.propagator",
    "Time": "quorvane.time.time",
    "GCRF": "quorvane.frames.frames",
    "ITRF": "quorvane.frames.frames",
    "TEME": "quorvane.frames.frames",
    "ENU": "quorvane.frames.frames",
    "transform": "quorvane.frames.frames",
    "EOP": "quorvane.frames.eop",
    "Station": "quorvane.observers",
    "passes": "quorvane.observers",
    "Passes": "quorvane.observers",
    "Earth": "quorvane.bodies.bodies",
    "Sun": "quorvane.bodies.bodies",
    "Moon": "quorvane.bodies.bodies",
    "shadow": "quorvane.bodies.bodies",
    "Ellipsoid": "quorvane.mathtools.ellipsoid.ellipsoid",
    "WGS84": "quorvane.mathtools.ellipsoid.ellipsoid",
    "WGS72": "quorvane.mathtools.ellipsoid.ellipsoid",
    "GRS80": "quorvane.mathtools.ellipsoid.ellipsoid",
    "screen": "quorvane.conjunctions",
    "Conjunctions": "quorvane.conjunctions",
}


# Type checkers read __init__.pyi, which imports these names from their
# modules (and has no __getattr__, so a misspelt name is an error there).
def __getattr__(name: str) -> object:
    """Import the module of a top-level name on first use and keep the name."""
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    import importlib

    value = getattr(importlib.import_module(module), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))


def get_include() -> str:
    """Return the directory that holds quorvane's C++ declaration headers.

    Native extensions outside the package add it to their include path and
    include, for instance, ``<quorvane/state/orbel/orbel.hpp>`` (the element
    record and the signature strings and function types of orbel's exported
    kernels), ``<quorvane/mathtools/arqel/arqel.hpp>`` (the vector kernels)
    or ``<quorvane/datamodel/structured/structured.hpp>`` (the shared record
    structures).  ``<quorvane/runtime/bind.hpp>`` binds those kernels at run
    time from a module's ``__pyx_capi__`` table, checking each signature
    string, and ``<quorvane/runtime/ref.hpp>`` holds references to Python
    objects.

    Returns
    -------
    str
        Absolute path of the ``include`` directory inside the installed
        package; compile with ``-I`` followed by this path.
    """
    return _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "include")


# The lazy names in _LAZY's order; type checkers read the written-out list
# of __init__.pyi (stubtest checks that the two agree).
__all__ = ["get_include", "__version__", *_LAZY]
