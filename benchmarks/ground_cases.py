"""The "ground" group: from TEME to the ground, against skyfield.

Two workloads on the 979 sets of ``examples/data/real/gpredict-2018.tle``:

- **frames + geodetic**: every set at 1,440 one-minute steps from
  2018-01-22T01:05 UTC (the file's latest epoch rounded up): ours is
  ``propagate(times, frame=ITRF)`` followed by ``WGS84.geodetic``; the cost
  beyond SGP4 is that call less ``propagate(times)`` (TEME), per sample.
  skyfield's ``EarthSatellite.at(t)`` and ``wgs84.subpoint_of`` are
  compared per sample in two forms: one call per sample (the way the
  target was stated: about 21 µs a sample) and its vectorised form, one
  call per satellite over all 1,440 times, on a subset of the sets.
- **passes**: every set over three stations (one above 60° latitude) for
  seven days with a 0° mask; skyfield's ``find_events`` runs for a few
  satellites at one station; compared per satellite and station.

One-thread rows pin nothing but pass ``threads=1`` (skyfield is single
threaded); the all-threads ratio is ours with ``threads=None`` against ours
with ``threads=1``, timed as a pair of their own.  Both pairs (ours against
TEME, all threads against one) run alone, interleaved in alternating order
over many rounds, and their difference and ratio are the medians of the
per-round ones (`timing.paired`): the machine's speed drifts by a third
within minutes, which the difference of two separate medians does not
survive.
"""

from __future__ import annotations

from pathlib import Path

import numpy as np

from cases import load
from model import Case, PeerRow, Target
from timing import Timed, paired, time_together

DATA = Path(__file__).resolve().parents[1] / "examples" / "data" / "real" / "gpredict-2018.tle"
START = np.datetime64("2018-01-22T01:05", "ns")
MINUTES = 1440
SKYFIELD_SATS = 40  # skyfield's per-sample cost barely depends on the satellite
PAIR_ROUNDS = 21  # rounds of each interleaved pair of the frames case
PASS_DAYS = 7
SKYFIELD_PASS_SATS = 6
STATIONS = [  # (name, latitude, longitude, height m)
    ("Kiruna", 67.857, 20.964, 400.0),
    ("Darmstadt", 49.871, 8.622, 140.0),
    ("Santiago", -33.150, -70.667, 700.0),
]


def _per(ours, peer) -> float | None:
    if ours.per_item is None or peer.per_item is None:
        return None
    return ours.per_item / peer.per_item


def _skyfield():
    api, why = load("skyfield.api")
    if api is None:
        return None, None, why
    return api, api.load.timescale(builtin=True), None


def frames_cases() -> list[Case]:
    prop_mod, why = load("quorvane.propagators.analytical.sgp4.propagator")
    cat, _ = load("quorvane.propagators.analytical.sgp4.catalogue")
    frames, _ = load("quorvane.frames.frames")
    ell, _ = load("quorvane.mathtools.ellipsoid.ellipsoid")
    times = START + np.arange(MINUTES) * np.timedelta64(60, "s")
    env = {"T": times}
    if why is None and frames is not None and ell is not None:
        table = cat.read_catalogue(str(DATA))
        env.update(p=prop_mod.SGP4(table), I=frames.ITRF, g=getattr(ell.WGS84, "geodetic", None))
        n = len(table)
        if env["g"] is None:
            why = "Ellipsoid.geodetic is missing"
    else:
        n = 979
        why = why or "frames or ellipsoid module missing"
    samples = n * MINUTES
    api, ts, sky_why = _skyfield()
    sky_env = {}
    if api is not None:
        lines = [line.strip() for line in DATA.read_text().splitlines() if line.strip()]
        ones = [i for i, line in enumerate(lines) if line.startswith("1 ")][:SKYFIELD_SATS]
        sats = [api.EarthSatellite(lines[i], lines[i + 1], None, ts) for i in ones]
        t = ts.from_datetimes([d.astype("datetime64[us]").item().replace(tzinfo=api.utc) for d in times])
        single = [ts.from_datetime(d.astype("datetime64[us]").item().replace(tzinfo=api.utc)) for d in times[:200]]
        sky_env = {"S": sats, "t": t, "w": api.wgs84, "s0": sats[0], "one": single}
    full = "g(p.propagate(T, frame=I, threads={})[0], threads={})"
    ours, teme = time_together([
        Timed("ours: propagate(frame=ITRF) + geodetic, one thread", full.format(1, 1), env, samples, unavailable=why,
              repeat=PAIR_ROUNDS, budget=60.0),
        Timed("ours: propagate (TEME), one thread", "p.propagate(T, threads=1)", env, samples, unavailable=why,
              repeat=PAIR_ROUNDS, budget=60.0),
    ], alternate=True)
    sky_vector, sky = time_together([
        Timed(f"skyfield at(t) + wgs84.subpoint_of ({SKYFIELD_SATS} sets, vectorised over times)",
              "[w.subpoint_of(s.at(t)) for s in S]", sky_env, SKYFIELD_SATS * MINUTES, unavailable=sky_why, repeat=5),
        Timed("skyfield at(t) + wgs84.subpoint_of, one call per sample (200 samples)",
              "[w.subpoint_of(s0.at(x)) for x in one]", sky_env, 200, unavailable=sky_why, repeat=5),
    ])
    beyond = paired(ours, teme, lambda a, b: (a - b) / samples * 1e9)
    if beyond is not None:
        ours.note = f"{beyond:.2f} ns a sample beyond SGP4 (TEME), median of {len(ours.samples) - 1} paired rounds"
    cases = [Case("ground: frames + geodetic, 979 sets × 1,440 min", ours, [
        PeerRow(teme, None, Target("≤ 10 ns a sample beyond SGP4, one core", beyond, "<=", 10.0, "ns")),
        PeerRow(sky, _per(ours, sky), Target("≥ 400× skyfield per sample (SGP4 included)", _per(ours, sky), "<=",
                                              1 / 400)),
        PeerRow(sky_vector, _per(ours, sky_vector), remark="skyfield's vectorised form, for comparison"),
    ])]
    pair = time_together([
        Timed("ours: propagate(frame=ITRF) + geodetic, all threads", full.format("None", "None"), env, samples,
              unavailable=why, repeat=PAIR_ROUNDS, budget=60.0),
        Timed("ours: propagate(frame=ITRF) + geodetic, one thread", full.format(1, 1), env, samples, unavailable=why,
              repeat=PAIR_ROUNDS, budget=60.0),
    ], alternate=True)
    speedup = paired(pair[0], pair[1], lambda a, b: a / b)
    if speedup is not None:
        pair[0].note = f"{1 / speedup:.2f}× one thread, median of {len(pair[0].samples) - 1} paired rounds"
    cases.append(Case("ground: frames + geodetic, 979 sets × 1,440 min", pair[0], [
        PeerRow(pair[1], speedup, Target("all threads ≥ 1.8× one thread", speedup, "<=", 1 / 1.8))]))
    return cases


def passes_cases() -> list[Case]:
    obs, why = load("quorvane.observers")
    cat, _ = load("quorvane.propagators.analytical.sgp4.catalogue")
    prop_mod, _ = load("quorvane.propagators.analytical.sgp4.propagator")
    stop = START + np.timedelta64(PASS_DAYS, "D")
    env = {"a": START, "b": stop}
    n = 979
    if why is None and hasattr(obs, "passes"):
        from quorvane.units import units

        table = cat.read_catalogue(str(DATA))
        n = len(table)
        stations = [obs.Station(lat * units.deg, lon * units.deg, h, name=name) for name, lat, lon, h in STATIONS]
        env.update(P=obs.passes, p=prop_mod.SGP4(table), st=stations)
    else:
        why = why or "quorvane.observers.passes is missing"
    api, ts, sky_why = _skyfield()
    sky_env = {}
    if api is not None:
        lines = [line.strip() for line in DATA.read_text().splitlines() if line.strip()]
        ones = [i for i, line in enumerate(lines) if line.startswith("1 ")]
        # LEO sets spread through the file: the workload where passes are many and short.
        leo = [i for i in ones if float(lines[i + 1][52:63]) > 11.0]
        pick = leo[:: max(1, len(leo) // SKYFIELD_PASS_SATS)][:SKYFIELD_PASS_SATS]
        sats = [api.EarthSatellite(lines[i], lines[i + 1], None, ts) for i in pick]
        name, lat, lon, h = STATIONS[1]
        topos = api.wgs84.latlon(lat, lon, elevation_m=h)
        t0 = ts.from_datetime(START.astype("datetime64[us]").item().replace(tzinfo=api.utc))
        t1 = ts.from_datetime(stop.astype("datetime64[us]").item().replace(tzinfo=api.utc))
        sky_env = {"S": sats, "o": topos, "t0": t0, "t1": t1}
    timed = [
        Timed(f"ours: passes, {n} sets × 3 stations × {PASS_DAYS} days, one thread",
              "P(p, st, a, b, threads=1)", env, n * len(STATIONS), unavailable=why, repeat=5),
        Timed(f"skyfield find_events, {SKYFIELD_PASS_SATS} LEO sets × 1 station × {PASS_DAYS} days",
              "[s.find_events(o, t0, t1, altitude_degrees=0.0) for s in S]", sky_env, SKYFIELD_PASS_SATS,
              unavailable=sky_why, repeat=3),
    ]
    ours, sky = time_together(timed)
    ratio = _per(ours, sky)
    return [Case("ground: passes, per satellite and station", ours, [
        PeerRow(sky, ratio, Target("≥ 100× skyfield find_events per satellite and station, one core", ratio, "<=",
                                   1 / 100))])]


def ground_cases(only_frames: bool = False) -> list[Case]:
    return frames_cases() if only_frames else frames_cases() + passes_cases()
