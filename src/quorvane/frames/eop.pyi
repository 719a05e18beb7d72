"""Earth orientation parameters from IERS ``finals2000A`` tables."""

import os
from typing import Any, Literal

import numpy
from numpy.typing import ArrayLike, NDArray

from quorvane.time.time import Time

__all__ = ["EOP", "EOPWarning", "resolve"]

_F64 = NDArray[numpy.float64]

class EOPWarning(UserWarning): ...

class EOP:
    mjd: _F64
    dut1: _F64
    xp: _F64
    yp: _F64
    dx: _F64
    dy: _F64
    lod: _F64
    first: Time
    last: Time
    source: str
    def __init__(self, columns: dict[str, ArrayLike], source: str = "<columns>") -> None: ...
    def __len__(self) -> int: ...
    @classmethod
    def from_file(cls, path: str | os.PathLike[str]) -> EOP: ...
    @classmethod
    def default(cls) -> EOP: ...
    def at(
        self, ns: ArrayLike, policy: Literal["warn", "raise", "zero"] = "warn"
    ) -> tuple[_F64, _F64, _F64, _F64, _F64]: ...
    def _interpolate(self, ns: ArrayLike, policy: str = "warn") -> tuple[_F64, _F64, _F64, _F64, _F64, _F64]: ...

def resolve(eop: EOP | str | os.PathLike[str] | None) -> EOP: ...
def _default_path() -> str: ...
def _parse(lines: Any) -> dict[str, _F64]: ...
