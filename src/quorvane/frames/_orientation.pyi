from typing import Any

import numpy
from numpy.typing import ArrayLike, NDArray

OMEGA_EARTH: float

def matrices(
    ns: ArrayLike, frm: str, to: str, eop: Any = None, eop_policy: str = "warn"
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64]]: ...
