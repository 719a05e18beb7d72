"""Parse a file of two-line element sets and show records and element sets.

Usage: python examples/demo.py FILE

FILE holds element sets in the three-line form (a name line, then line 1 and
line 2); a set without a name line is accepted too.  Every record is printed,
then one element set per satellite with a few of its arrays.
"""

import sys
from collections import defaultdict

import numpy as np

from quorvane.propagators.analytical.sgp4.duoline import DUOLINE, ELSET


def read_sets(path):
    """Yield (name, line1, line2) for each element set in the file."""
    with open(path, encoding="ascii") as f:
        lines = [line.rstrip("\n") for line in f if line.strip()]
    i = 0
    while i < len(lines):
        if lines[i].startswith("1 ") and i + 1 < len(lines) and lines[i + 1].startswith("2 "):
            yield None, lines[i], lines[i + 1]
            i += 2
        elif i + 2 < len(lines):
            yield lines[i].strip(), lines[i + 1], lines[i + 2]
            i += 3
        else:
            raise ValueError(f"{path}: incomplete element set at line {i + 1}")


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    by_satellite = defaultdict(list)
    names = {}
    for name, line1, line2 in read_sets(argv[1]):
        record = DUOLINE(line1, line2)
        print(f"--- {name or record.satno}")
        print(record)
        print()
        by_satellite[record.satno].append(record)
        names.setdefault(record.satno, name)

    np.set_printoptions(precision=6, suppress=False, linewidth=100)
    for satno, records in by_satellite.items():
        elset = ELSET(*records, satname=names[satno])
        print(elset)
        print("epoch (UTC):", elset.epoch.utc)
        print("sma [km]:   ", elset.sma / 1000.0)
        print("ecc:        ", elset.ecc)
        print("raa [deg]:  ", np.degrees(elset.raa))
        print("mnm [rev/d]:", elset.mnm * 86400.0 / (2.0 * np.pi))
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
