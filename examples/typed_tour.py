"""A short tour of quorvane's public API, fully typed (checked with mypy --strict).

Run it with:  python examples/typed_tour.py
"""

from __future__ import annotations

import numpy as np
from numpy.typing import NDArray

import quorvane
from quorvane.datamodel import ORBEL_dt
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET
from quorvane.state import orbel
from quorvane.units import units

ISS_2024 = (
    "1 25544U 98067A   24005.48765432  .00021463  00000-0  38251-3 0  9976",
    "2 25544  51.6416 352.4210 0004638  46.8201  66.1754 15.49952591433676",
)
ISS_2008 = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)


def parse() -> ELSET:
    records = [DUOLINE(*ISS_2024), DUOLINE(*ISS_2008)]
    satno: int | str = records[0].satno
    print(f"satellite {satno}: inclination {records[0].inc / units.deg:.4f} deg")
    print(records[0])
    # The element set sorts its records by epoch.
    return ELSET(*records, satname="ISS (ZARYA)")


def element_arrays(elset: ELSET) -> NDArray[np.float64]:
    perigee_km: NDArray[np.float64] = elset.pge / units.km
    apogee_km: NDArray[np.float64] = elset.apg / units.km
    print(f"{elset.satname}: {elset.size} records, first epoch {elset.epoch[0]!r}")
    print("perigee altitudes (km):", np.round(perigee_km, 3))
    print("apogee altitudes (km): ", np.round(apogee_km, 3))
    return elset.mea


def anomalies(mea: NDArray[np.float64], ecc: float) -> None:
    eca: NDArray[np.float64] = orbel.eca_from_mea(mea, ecc)
    tra: NDArray[np.float64] = orbel.tra_from_eca(eca, ecc)
    back: NDArray[np.float64] = orbel.mea_from_tra(tra, ecc)
    print("largest round-trip error (rad):", float(np.max(np.abs(back - mea))))
    # Scalars give floats.
    period: float = orbel.orp_from_sma(7_000_000.0)
    print(f"period of a 7000 km orbit: {period / units.minute:.3f} min")


def state_vectors() -> None:
    r = np.array([[7_000_000.0, 0.0, 0.0], [0.0, 8_000_000.0, 0.0]])
    v = np.array([[0.0, 7_546.0, 0.0], [-6_000.0, 0.0, 2_000.0]])
    elements: NDArray[np.void] = orbel.orbel_from_sv(r, v)
    assert elements.dtype == ORBEL_dt
    print("semi-major axes (km):", elements["sma"] / units.km)
    r2, v2 = orbel.sv_from_orbel(elements)
    print("largest position error (m):", float(np.max(np.abs(r2 - r))))


def main() -> None:
    elset = parse()
    mea = element_arrays(elset)
    anomalies(mea, float(elset.ecc[0]))
    state_vectors()
    print("headers for native consumers:", quorvane.get_include())


if __name__ == "__main__":
    main()
