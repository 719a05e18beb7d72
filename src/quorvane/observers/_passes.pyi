"""Native core of the pass finder quorvane.observers.passes (private)."""

from typing import Any

import numpy

def _find(
    propagator: Any,
    grid: numpy.ndarray,
    theta: numpy.ndarray,
    pom: numpy.ndarray,
    stations: numpy.ndarray,
    sin_mask: float,
    threads: int | None = None,
) -> tuple[numpy.ndarray, ...]: ...
def _states(
    propagator: Any, index: numpy.ndarray, times: numpy.ndarray
) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]: ...
