"""Reference frames: GCRF, ITRF and TEME instances and topocentric ENU frames."""

from typing import Self, final

from numpy.typing import ArrayLike
from typing_extensions import disjoint_base

__pyx_capi__: dict[str, object]

@disjoint_base
class Frame:
    @property
    def name(self) -> str: ...

@final
class _GCRF(Frame): ...

@final
class _ITRF(Frame): ...

@final
class _TEME(Frame): ...

@final
class ENU(Frame):
    def __new__(cls, lat: float, lon: float, origin: ArrayLike | None = None) -> Self: ...

GCRF: _GCRF
ITRF: _ITRF
TEME: _TEME
