"""Small numeric helpers: the [0, 2*pi) angle function atan2_asymmetric."""

from typing import SupportsFloat, SupportsIndex

__pyx_capi__: dict[str, object]

def atan2_asymmetric(y: SupportsFloat | SupportsIndex, x: SupportsFloat | SupportsIndex) -> float: ...
