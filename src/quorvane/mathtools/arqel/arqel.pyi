"""3-vector kernels for native code; the module's interface is its export table."""

import numpy as numpy

__pyx_capi__: dict[str, object]
__test__: dict[str, object]
