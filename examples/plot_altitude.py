"""Plot one satellite's altitude over a week from its element-set history.

Usage: python examples/plot_altitude.py FILE [SATNO] [OUT.png]

Builds the satellite's ELSET (SATNO, default 25544, the ISS) from FILE and
propagates it with SGP4 over the week that ends at its latest epoch, one
sample a minute: each time uses the element set of latest epoch at or before
it, as an ephemeris built from element sets does.  The plot shows the
altitude above Earth.Re and marks the epochs where a newer set takes over.
OUT.png defaults to a file in a new temporary directory.  Needs matplotlib
(pip install '.[plot]').
"""

import pathlib
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt
import numpy as np

from quorvane.bodies.bodies import Earth
from quorvane.propagators.analytical.sgp4.catalogue import read_elsets
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from quorvane.units import units


def plot(elset, out):
    epochs = np.asarray(elset.epoch.int64, dtype="datetime64[ns]")
    end = epochs.max()
    times = end - np.arange(7 * 1440, -1, -1) * np.timedelta64(1, "m")
    r, v, err = SGP4(elset).propagate(times)
    altitude = (np.linalg.norm(r, axis=1) - float(Earth.Re)) / units.km

    fig, ax = plt.subplots(figsize=(10, 4), constrained_layout=True)
    ax.plot(times, altitude, lw=0.6, label="SGP4 altitude")
    for epoch in epochs[(epochs > times[0]) & (epochs <= end)]:
        ax.axvline(epoch, color="tab:red", lw=0.8, alpha=0.6)
    ax.plot([], [], color="tab:red", lw=0.8, label="epoch of a newer element set")
    ax.set_ylabel("altitude above Earth.Re [km]")
    ax.set_title(f"{elset.satname or elset.satno}: one week from {elset.size} element sets")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="upper right")
    fig.autofmt_xdate()
    fig.savefig(out, dpi=100)
    plt.close(fig)
    return int((err != 0).sum())


def main(argv):
    if len(argv) < 2 or len(argv) > 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    sets = read_elsets(argv[1])
    satno = int(argv[2]) if len(argv) > 2 else 25544
    if satno not in sets:
        print(f"satellite {satno} is not in {argv[1]}", file=sys.stderr)
        return 1
    out = pathlib.Path(argv[3]) if len(argv) > 3 else pathlib.Path(tempfile.mkdtemp()) / f"altitude-{satno}.png"
    failed = plot(sets[satno], out)
    if failed:
        print(f"{failed} samples had SGP4 error codes (left out)", file=sys.stderr)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
