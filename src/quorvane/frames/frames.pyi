"""Reference frames: GCRF, ITRF and TEME instances, topocentric ENU frames, and transform()."""

import os
from typing import Any, Literal, Self, final

import numpy
from numpy.typing import ArrayLike, NDArray

from quorvane.frames.eop import EOP
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

def transform(
    r: ArrayLike,
    v: ArrayLike | None,
    times: Any,
    frm: _GCRF | _ITRF | _TEME,
    to: _GCRF | _ITRF | _TEME,
    *,
    eop: EOP | str | os.PathLike[str] | None = None,
    eop_policy: Literal["warn", "raise", "zero"] = "warn",
    threads: int | None = None,
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64] | None]: ...
