"""Celestial bodies: Earth constants and low-precision ephemerides of the Sun and the Moon."""

from typing import Any, ClassVar

import numpy
from numpy.typing import ArrayLike, NDArray
from typing_extensions import disjoint_base

@disjoint_base
class CelestialBody:
    def __init__(self) -> None: ...

class Earth(CelestialBody):
    GM: ClassVar[float]
    Re: ClassVar[float]

class Sun(CelestialBody):
    @staticmethod
    def position(times: Any) -> NDArray[numpy.float64]: ...

class Moon(CelestialBody):
    @staticmethod
    def position(times: Any) -> NDArray[numpy.float64]: ...

def shadow(r: ArrayLike, times: Any, *, threads: int | None = None) -> numpy.ndarray: ...
def _shadow_of(r: ArrayLike, sun: ArrayLike) -> numpy.ndarray: ...
