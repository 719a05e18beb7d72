"""Screen a catalogue for close approaches and plot the closest ones.

Usage: python examples/plot_conjunctions.py FILE [DAYS] [THRESHOLD_KM] [OUT.png]

Reads every element set of FILE into a table and screens all pairs with
SGP4 over DAYS days (default 3) from the latest epoch of the file, rounded
up to the minute, for approaches closer than THRESHOLD_KM (default 10 km).
Prints the ten closest events and plots the miss distance of every event
against its time of closest approach, the closest eight named.  OUT.png
defaults to a file in a new temporary directory.  Needs matplotlib
(pip install '.[plot]').
"""

import pathlib
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt
import numpy as np

from quorvane.conjunctions import screen
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue


def window(table, days):
    latest = np.datetime64(int(table.epoch_ns.max()), "ns")
    start = latest.astype("datetime64[m]") + np.timedelta64(1, "m")
    return start.astype("datetime64[ns]"), (start + np.timedelta64(int(days * 1440), "m")).astype("datetime64[ns]")


def label(table, index):
    return (table.name[index] or str(table.satno[index])).strip()


def report(table, events, count=10):
    order = np.argsort(events.miss_distance, kind="stable")[:count]
    print(f"{len(events)} events; the {min(count, len(events))} closest:")
    print(f"{'TCA (UTC)':<30} {'miss [m]':>9} {'speed [m/s]':>11}  objects")
    for k in order:
        names = f"{label(table, events.primary_index[k])} / {label(table, events.secondary_index[k])}"
        print(f"{str(events.tca[k]):<30} {events.miss_distance[k]:>9.1f} {events.relative_speed[k]:>11.1f}  {names}")


def plot(table, events, start, stop, threshold, out, named=8):
    fig, ax = plt.subplots(figsize=(11, 5), constrained_layout=True)
    speed = events.relative_speed / 1000.0
    dots = ax.scatter(events.tca, events.miss_distance / 1000.0, c=speed, s=14, cmap="viridis", vmin=0)
    fig.colorbar(dots, ax=ax, label="relative speed [km/s]")
    for k in np.argsort(events.miss_distance, kind="stable")[:named]:
        ax.annotate(f"{table.satno[events.primary_index[k]]}/{table.satno[events.secondary_index[k]]}",
                    (events.tca[k], events.miss_distance[k] / 1000.0), fontsize=7, xytext=(3, 3),
                    textcoords="offset points")
    ax.set_xlim(start, stop)
    ax.set_ylim(0, threshold / 1000.0)
    ax.set_ylabel("miss distance [km]")
    ax.set_xlabel("time of closest approach (UTC)")
    ax.set_title(f"{len(events)} approaches closer than {threshold / 1000:g} km among {len(table)} element sets")
    ax.grid(True, alpha=0.3)
    fig.autofmt_xdate()
    fig.savefig(out, dpi=100)
    plt.close(fig)


def main(argv):
    if len(argv) < 2 or len(argv) > 5:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    table = read_catalogue(argv[1])
    days = float(argv[2]) if len(argv) > 2 else 3.0
    threshold = (float(argv[3]) if len(argv) > 3 else 10.0) * 1000.0
    out = pathlib.Path(argv[4]) if len(argv) > 4 else pathlib.Path(tempfile.mkdtemp()) / "conjunctions.png"
    start, stop = window(table, days)
    events = screen(table, start, stop, threshold=threshold)
    report(table, events)
    if len(events.failed):
        print(f"{len(events.failed)} objects could not be propagated through the window (see .failed)")
    plot(table, events, start, stop, threshold, out)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
