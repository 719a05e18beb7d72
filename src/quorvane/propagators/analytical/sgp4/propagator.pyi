"""SGP4/SDP4 propagation of two-line element sets: positions and velocities in the TEME frame."""

import datetime
import os
from collections.abc import Sequence
from typing import Any, Literal, final

import numpy
from numpy.typing import ArrayLike, NDArray

from quorvane.propagators.analytical.sgp4.catalogue import Catalogue
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.frames.eop import EOP
from quorvane.frames.frames import _GCRF, _ITRF, _TEME
from quorvane.time.time import Time

__pyx_capi__: dict[str, object]
ERRORS: dict[int, str]

@final
class SGP4:
    def __new__(
        cls,
        source: DUOLINE | ELSET | Sequence[DUOLINE] | Catalogue,
        *,
        gravity: Literal["wgs72", "wgs84", "wgs72old"] = ...,
        mode: Literal["improved", "afspc"] = ...,
    ) -> SGP4: ...
    def __len__(self) -> int: ...
    @property
    def satno(self) -> NDArray[numpy.int64]: ...
    @property
    def gravity(self) -> str: ...
    @property
    def mode(self) -> str: ...
    def propagate(
        self,
        times: Time | NDArray[numpy.datetime64] | numpy.datetime64 | str | datetime.date | Sequence[Any] | None = None,
        *,
        tsince: float | ArrayLike | None = None,
        select: Literal["latest", "nearest"] = "latest",
        threads: int | None = None,
        out: tuple[NDArray[numpy.float64], NDArray[numpy.float64], NDArray[numpy.int8]] | None = None,
        frame: _TEME | _ITRF | _GCRF = ...,
        eop: EOP | str | os.PathLike[str] | None = None,
        eop_policy: Literal["warn", "raise", "zero"] = "warn",
    ) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64], NDArray[numpy.int8]]: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
