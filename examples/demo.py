"""Parse a file of two-line element sets and show records and element sets.

Usage: python examples/demo.py FILE

FILE holds element sets in the two- or three-line form (an optional name
line, then line 1 and line 2).  Every record is printed, then one element set
per satellite, sorted by epoch, with a few of its arrays.  Last, the whole
catalogue is propagated with SGP4 over the day after each set's epoch, one
sample a minute, and a short table shows each set's altitude range and speed.
Then the next passes of every satellite over a ground station in Darmstadt
(the day after the file's latest epoch; each satellite's latest set), with
rise, culmination and set times, maximum elevation and whether the
satellite is sunlit or visible to the eye.
"""

import sys

import numpy as np

from quorvane.bodies.bodies import Earth
from quorvane.observers import Station, passes
from quorvane.propagators.analytical.sgp4.catalogue import iter_entries, read_catalogue, read_elsets
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
    print()
    next_passes(path)
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


def next_passes(path, hours=24):
    """Passes over one station in the day after the file's latest epoch."""
    table = read_catalogue(path)
    latest = {}
    for i, satno in enumerate(table.satno):  # each satellite's latest set
        if satno not in latest or table.epoch_ns[i] > table.epoch_ns[latest[satno]]:
            latest[satno] = i
    rows = np.array(sorted(latest.values()))
    sats = table.select(rows)
    start = np.datetime64(int(sats.epoch_ns.max()), "ns").astype("datetime64[m]").astype("datetime64[ns]")
    stop = start + np.timedelta64(hours, "h")
    station = Station(49.871 * units.deg, 8.622 * units.deg, 140.0, name="Darmstadt")
    found = passes(sats, station, start, stop, min_elevation=10.0 * units.deg)
    names = {int(s): (n or str(s)) for s, n in zip(sats.satno, sats.name)}
    print(f"Passes over {station.name} above 10 degrees, {str(start)[:16]} to {str(stop)[:16]} UTC: {len(found)}")
    print(f"{'satellite':<22} {'rise':<8} {'culmination':<11} {'set':<8} {'max el':>6} {'sunlit':>6} {'visible':>7}")

    def hhmmss(t):
        return "--:--:--" if np.isnat(t) else str(t)[11:19]

    for k in range(len(found)):
        print(f"{names[int(found.satno[k])][:22]:<22} {hhmmss(found.rise[k]):<8} {hhmmss(found.culmination[k]):<11} "
              f"{hhmmss(found.set[k]):<8} {found.max_elevation[k] / units.deg:>6.1f} "
              f"{'yes' if found.sunlit[k] else 'no':>6} {'yes' if found.visible[k] else 'no':>7}")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
