"""Native conjunction screening of SGP4 objects (the engine of quorvane.conjunctions)."""

from typing import Any

import numpy
from numpy.typing import NDArray

from quorvane.propagators.analytical.sgp4.propagator import SGP4

def screen(
    source: SGP4, against: SGP4 | None, window: tuple[int, int, int, int, int, int, int], threshold: float,
    threads: int | None, bounds: NDArray[numpy.float64] | None = None,
) -> tuple[tuple[NDArray[Any], ...], tuple[NDArray[numpy.int64], ...], dict[str, float]]: ...
def step(
    source: SGP4, against: SGP4 | None, start: int, substeps: int, bounds: NDArray[numpy.float64] | None = None
) -> int: ...
def start_bounds(source: SGP4, against: SGP4 | None, start: int, threads: int | None) -> NDArray[numpy.float64]: ...
def _interpolation_check(
    source: SGP4, start: int, step: int, count: int
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64]]: ...
