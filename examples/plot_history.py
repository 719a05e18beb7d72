"""Plot one satellite's element history from a TLE catalogue.

Usage: python examples/plot_history.py FILE [SATNO] [OUT.png]

Builds the satellite's element set (SATNO, default: the satellite with the
most element sets in FILE) and plots perigee and apogee altitude and
inclination over the epochs, so decay and manoeuvres show at a glance.
Needs matplotlib (pip install '.[plot]').
"""

import sys

import matplotlib

matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt
import numpy as np

from quorvane.propagators.analytical.sgp4.catalogue import read_elsets
from quorvane.units import units


def plot(elset, out):
    epochs = np.asarray(elset.epoch.int64, dtype="datetime64[ns]")
    fig, (alt, inc) = plt.subplots(2, 1, sharex=True, figsize=(8, 6), constrained_layout=True)
    alt.plot(epochs, elset.apg / units.km, "o-", label="apogee")
    alt.plot(epochs, elset.pge / units.km, "o-", label="perigee")
    alt.set_ylabel("altitude above Earth.Re [km]")
    alt.legend()
    alt.grid(True, alpha=0.3)
    inc.plot(epochs, elset.inc / units.deg, "o-", color="tab:green")
    inc.set_ylabel("inclination [deg]")
    inc.ticklabel_format(axis="y", useOffset=False)
    inc.grid(True, alpha=0.3)
    fig.suptitle(f"{elset.satname or 'satellite'} ({elset.satno}): {elset.size} element sets")
    fig.autofmt_xdate()
    fig.savefig(out, dpi=100)
    plt.close(fig)


def main(argv):
    if not 2 <= len(argv) <= 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    sets = read_elsets(argv[1])
    if len(argv) > 2:
        key = int(argv[2]) if argv[2].isdigit() else argv[2]
        if key not in sets:
            print(f"satellite {argv[2]} is not in {argv[1]}", file=sys.stderr)
            return 1
        elset = sets[key]
    else:
        elset = max(sets.values(), key=lambda s: s.size)
    out = argv[3] if len(argv) > 3 else f"history-{elset.satno}.png"
    plot(elset, out)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
