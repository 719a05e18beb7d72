"""Parse a file of two-line element sets and show records and element sets.

Usage: python examples/demo.py FILE

FILE holds element sets in the two- or three-line form (an optional name
line, then line 1 and line 2).  Every record is printed, then one element set
per satellite, sorted by epoch, with a few of its arrays.
"""

import sys

import numpy as np

from quorvane.propagators.analytical.sgp4.catalogue import iter_entries, read_elsets
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
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
