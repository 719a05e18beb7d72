"""Reference frames: GCRF, ITRF and TEME instances and topocentric ENU frames."""

from typing import Self

from numpy.typing import ArrayLike

__pyx_capi__: dict[str, object]

class Frame:
    @property
    def name(self) -> str: ...

class _GCRF(Frame): ...
class _ITRF(Frame): ...
class _TEME(Frame): ...

class ENU(Frame):
    def __new__(cls, lat: float, lon: float, origin: ArrayLike | None = None) -> Self: ...

GCRF: _GCRF
ITRF: _ITRF
TEME: _TEME
