"""Record layouts shared by the package: NumPy structured dtypes whose native
counterparts are the C structures of the record-type module."""

from quorvane.datamodel.structured import (
    AER_dtype,
    DTF_dtype,
    ENU_dtype,
    GeoState_dt,
    LLA_dtype,
    ORBEL_dt,
    SurfCoord_dtype,
)

__all__ = [
    "SurfCoord_dtype",
    "LLA_dtype",
    "ENU_dtype",
    "AER_dtype",
    "DTF_dtype",
    "GeoState_dt",
    "ORBEL_dt",
]
