"""Reference ellipsoids: WGS84, WGS72 and GRS80."""

from typing import Self, final

import numpy
from numpy.typing import ArrayLike

__pyx_capi__: dict[str, object]

@final
class Ellipsoid:
    def __new__(cls, a: float, f: float, name: str) -> Self: ...
    @property
    def a(self) -> float: ...
    @property
    def f(self) -> float: ...
    @property
    def b(self) -> float: ...
    @property
    def e2(self) -> float: ...
    @property
    def name(self) -> str: ...
    def geodetic(
        self, r: ArrayLike, *, threads: int | None = None
    ) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]: ...
    def cartesian(
        self, lat: ArrayLike, lon: ArrayLike, height: ArrayLike, *, threads: int | None = None
    ) -> numpy.ndarray: ...

WGS84: Ellipsoid
WGS72: Ellipsoid
GRS80: Ellipsoid

def _geodetic_closed_form(
    ellipsoid: Ellipsoid, r: ArrayLike
) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]: ...
