"""quorvane: astrodynamics in Python with a native core.

Orbital-element relations, anomalies and state vectors live in
``quorvane.state.orbel``; two-line element sets in
``quorvane.propagators.analytical.sgp4.duoline``; the shared record dtypes in
``quorvane.datamodel``.
"""

__version__ = "0.1.0"
