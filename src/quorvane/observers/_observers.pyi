"""Look angles of Earth-fixed positions from a site (native layer of quorvane.observers)."""

import numpy
from numpy.typing import ArrayLike

from quorvane.frames.frames import ENU

def look(
    enu: ENU, r: ArrayLike, v: ArrayLike | None = None, *, threads: int | None = None
) -> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray, numpy.ndarray]: ...
def _enu_parts(enu: ENU) -> tuple[numpy.ndarray, numpy.ndarray]: ...
