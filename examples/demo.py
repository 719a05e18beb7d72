"""Parse a file of two-line element sets and show records and element sets.

Usage: python examples/demo.py FILE

FILE holds element sets in the two- or three-line form (an optional name
line, then line 1 and line 2).  Every record is printed, then one element set
per satellite, sorted by epoch, with a few of its arrays.  Last, the whole
catalogue is propagated with SGP4 over the day after each set's epoch, one
sample a minute, and a short table shows each set's altitude range and speed.
"""

import sys

import numpy as np

from quorvane.bodies.bodies import Earth
from quorvane.propagators.analytical.sgp4.catalogue import iter_entries, read_elsets
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from quorvane.units import units


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    path = argv[1]
    for name, record in iter_entries(path):
        print(f"--- {name or record.satno}")
        print(record)
        print()

    np.set_printoptions(precision=6, suppress=False, linewidth=100)
    for elset in read_elsets(path).values():
        print(elset)
        print("epoch (UTC):", elset.epoch.utc)
        print("sma [km]:   ", elset.sma / units.km)
        print("ecc:        ", elset.ecc)
        print("raa [deg]:  ", elset.raa / units.deg)
        print("mnm [rev/d]:", elset.mnm / (units.rev / units.day))
        print()

    propagate_catalogue(list(iter_entries(path)))
    return 0


def propagate_catalogue(entries):
    """One day of every set, a sample a minute, in one call."""
    names = [name or str(record.satno) for name, record in entries]
    prop = SGP4([record for _, record in entries])
    r, v, err = prop.propagate(tsince=np.arange(0.0, 1440.0, 1.0))  # minutes after each epoch
    altitude = (np.linalg.norm(r, axis=-1) - float(Earth.Re)) / units.km
    speed = np.linalg.norm(v, axis=-1) / units.km
    print(f"SGP4, one day after each epoch, {r.shape[1]} samples per set (TEME, km, km/s)")
    print(f"{'satellite':<22} {'satno':>6}  {'epoch (UTC)':<27} {'alt min':>9} {'alt max':>9} {'speed':>7} {'errors':>6}")
    for i, (name, (_, record)) in enumerate(zip(names, entries)):
        ok = err[i] == 0
        low, high = (altitude[i][ok].min(), altitude[i][ok].max()) if ok.any() else (np.nan, np.nan)
        mean_speed = speed[i][ok].mean() if ok.any() else np.nan
        epoch = repr(record.epoch.utc)[:27]
        print(f"{name[:22]:<22} {prop.satno[i]:>6}  {epoch:<27} {low:>9.1f} {high:>9.1f} {mean_speed:>7.3f} {int((~ok).sum()):>6}")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
