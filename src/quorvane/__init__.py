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
    write, for instance, ``#include <quorvane/state/orbel/orbel.hpp>``; the
    headers declare the shared record structures, the signature strings and
    function types of the exported kernels, and ``<quorvane/capi.hpp>`` binds
    those kernels from a module's ``__pyx_capi__`` table at run time.

    Returns
    -------
    str
        Absolute path of the ``include`` directory inside the installed package.
    """
    return _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "include")


__all__ = ["get_include", "__version__"]
