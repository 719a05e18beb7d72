"""Record layouts: NumPy structured dtypes matching the package's C record structures."""

import numpy as numpy
from numpy import dtype as dtype

SurfCoord_dtype: numpy.dtype[numpy.void]
LLA_dtype: numpy.dtype[numpy.void]
ENU_dtype: numpy.dtype[numpy.void]
AER_dtype: numpy.dtype[numpy.void]
DTF_dtype: numpy.dtype[numpy.void]
GeoState_dt: numpy.dtype[numpy.void]
ORBEL_dt: numpy.dtype[numpy.void]

__test__: dict[str, object]
