"""quorvane: astrodynamics in Python with a native core.

Orbital-element relations, anomalies and state vectors live in
``quorvane.state.orbel``; two-line element sets in
``quorvane.propagators.analytical.sgp4.duoline``; the shared record dtypes in
``quorvane.datamodel``.
"""

import os as _os

__version__ = "0.1.0"


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


__all__ = ["get_include", "__version__"]
