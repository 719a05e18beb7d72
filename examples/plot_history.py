"""Plot one satellite's element history from a TLE catalogue.

Usage: python examples/plot_history.py FILE [SATNO] [-o OUT.png | -d DIR] [--gap DAYS]

Builds the satellite's element set (SATNO, default: the satellite with the
most element sets in FILE) and plots perigee and apogee altitude and
inclination over the epochs, so decay and manoeuvres show at a glance.
Epochs further apart than --gap days (default 3) are not joined by a line:
a straight line across weeks without data would suggest values nobody
measured.  The figure goes to OUT.png, or to history-SATNO.png in DIR (by
default a new temporary directory); the path is printed.
Needs matplotlib (pip install '.[plot]').
"""

import argparse
import os
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt
import numpy as np

from quorvane.propagators.analytical.sgp4.catalogue import read_elsets
from quorvane.units import units

DAY_NS = 86_400 * 10**9


def with_breaks(epochs, values, gap_days):
    """`epochs` and `values` with a NaN value inserted in every gap longer
    than `gap_days`, so that a line plot is not drawn across it."""
    epochs = np.asarray(epochs, dtype="datetime64[ns]")
    values = np.asarray(values, dtype=float)
    gaps = np.flatnonzero(np.diff(epochs.view(np.int64)) > gap_days * DAY_NS)
    middles = epochs[gaps] + (epochs[gaps + 1] - epochs[gaps]) // 2
    return np.insert(epochs, gaps + 1, middles), np.insert(values, gaps + 1, np.nan)


def figure(elset, gap_days=3.0):
    """The two-panel figure of an element set (altitudes, inclination)."""
    epochs = np.asarray(elset.epoch.int64, dtype="datetime64[ns]")
    fig, (alt, inc) = plt.subplots(2, 1, sharex=True, figsize=(8, 6), constrained_layout=True)
    for values, label in ((elset.apg, "apogee"), (elset.pge, "perigee")):
        alt.plot(*with_breaks(epochs, values / units.km, gap_days), "o-", label=label)
    alt.set_ylabel("perigee / apogee altitude\nabove the equatorial radius [km]")
    alt.legend()
    alt.grid(True, alpha=0.3)
    inc.plot(*with_breaks(epochs, elset.inc / units.deg, gap_days), "o-", color="tab:green")
    inc.set_ylabel("inclination [deg]")
    inc.set_xlabel("epoch (UTC)")
    inc.ticklabel_format(axis="y", useOffset=False)
    inc.grid(True, alpha=0.3)
    fig.suptitle(f"{elset.satname or 'satellite'} ({elset.satno}): {elset.size} element sets")
    fig.autofmt_xdate()
    return fig


def plot(elset, out, gap_days=3.0):
    fig = figure(elset, gap_days)
    fig.savefig(out, dpi=100)
    plt.close(fig)


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("file", help="TLE catalogue (two- or three-line form)")
    parser.add_argument("satno", nargs="?", help="satellite number (default: the one with most sets)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("-o", "--output", help="path of the PNG file to write")
    where.add_argument("-d", "--directory", help="directory for history-SATNO.png (default: a new temporary one)")
    parser.add_argument("--gap", type=float, default=3.0, help="days without data that break the line")
    return parser.parse_args(argv)


def main(argv):
    args = parse(argv[1:])
    sets = read_elsets(args.file)
    if args.satno is not None:
        key = int(args.satno) if args.satno.isdigit() else args.satno
        if key not in sets:
            print(f"satellite {args.satno} is not in {args.file}", file=sys.stderr)
            return 1
        elset = sets[key]
    else:
        elset = max(sets.values(), key=lambda s: s.size)
    if args.output:
        out = args.output
    else:
        directory = args.directory or tempfile.mkdtemp(prefix="quorvane-history-")
        out = os.path.join(directory, f"history-{elset.satno}.png")
    plot(elset, out, args.gap)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
