"""The benchmark cases: quorvane's calls against peers on the same inputs.

Each function builds its inputs from a fixed seed, times ours and every
available peer together with `timing.time_together` (repeats interleaved),
and returns `model.Case` objects with
the ratios (ours ÷ peer) and the targets.  A missing module (ours or a peer)
leaves its rows without a time and the reason in the note.
"""

from __future__ import annotations

import importlib
import math
from operator import attrgetter

import numpy as np

import baselines
import tles
from model import Case, Target, compare, fastest
from timing import Timed, time_together, traced_peak

SEED = 20240607
N_ARRAY = 10**6
N_STATES = 10**5
N_TLES = 10**4
TWO_PI = 2.0 * math.pi


def load(path: str):
    """(module, None) or (None, reason)."""
    try:
        return importlib.import_module(path), None
    except Exception as exc:  # any import failure means "not available"
        return None, f"{path} not importable ({type(exc).__name__}: {exc})"


class Ours:
    """quorvane's entry points, or the reason they cannot be called."""

    def __init__(self):
        self.orbel, self.orbel_why = load("quorvane.state.orbel")
        self.duoline, self.duoline_why = load("quorvane.propagators.analytical.sgp4.duoline")
        bodies, _ = load("quorvane.bodies.bodies")
        # The default GM of the entry points is Earth.GM; the NumPy baselines use the same value.
        self.GM = float(bodies.Earth.GM) if bodies is not None else 3.986004418e14
        datamodel, _ = load("quorvane.datamodel")
        self.ORBEL_dt = datamodel.ORBEL_dt if datamodel is not None else np.dtype(
            [(name, np.float64) for name in ("ecc", "sma", "inc", "raa", "arp", "tra", "slr")]
        )

    def function(self, name):
        if self.orbel is None:
            return None, self.orbel_why
        fn = getattr(self.orbel, name, None)
        return (fn, None) if fn is not None else (None, f"quorvane.state.orbel has no {name}")

    def cls(self, name):
        if self.duoline is None:
            return None, self.duoline_why
        obj = getattr(self.duoline, name, None)
        return (obj, None) if obj is not None else (None, f"duoline has no {name}")


def ours_timed(label, fn, why, stmt, env, items=1, **kw) -> Timed:
    """Timing of one of our calls; `f` in `stmt` is the function or class."""
    return Timed(label, stmt, {**env, "f": fn}, items, unavailable=None if fn is not None else why, **kw)


def _agreement(ours, theirs, *, angle=False, rtol=None) -> str | None:
    """Largest difference between our result and a peer's, for the record."""
    try:
        a = np.asarray(ours, dtype=np.float64)
        b = np.asarray(theirs, dtype=np.float64)
        if a.shape != b.shape:
            return f"shapes differ: {a.shape} vs {b.shape}"
        if np.array_equal(a, b, equal_nan=True):
            return "identical bits"
        d = np.abs(a - b)
        if angle:
            d = np.minimum(d % TWO_PI, TWO_PI - d % TWO_PI)
        if rtol:
            d = d / np.maximum(np.abs(a), 1e-300)
            return f"max rel |Δ| {np.nanmax(d):.2g}"
        return f"max |Δ| {np.nanmax(d):.2g}"
    except Exception as exc:
        return f"not compared ({type(exc).__name__})"


def _call(fn, *args):
    try:
        return fn(*args)
    except Exception:
        return None


# ----------------------------------------------------------------------------- scalar calls


def scalar_cases(ours: Ours) -> list[Case]:
    mnm, why1 = ours.function("mnm_from_sma")
    eca, why2 = ours.function("eca_from_mea")
    got = time_together([
        ours_timed("mnm_from_sma(7.0e6)", mnm, why1, "f(7.0e6)", {}),
        ours_timed("eca_from_mea(1.0, 0.1)", eca, why2, "f(1.0, 0.1)", {}),
        Timed("math.atan2(1.0, 2.0)", "f(1.0, 2.0)", {"f": math.atan2}),
    ])
    atan2 = got[2]
    return [Case("scalar call", mine, [compare(mine, atan2, ("within 2× of math.atan2", "<=", 2.0))]) for mine in got[:2]]


# ----------------------------------------------------------------------------- 10⁶-element arrays


def array_inputs():
    rng = np.random.default_rng(SEED)
    return {
        "a": rng.uniform(6.6e6, 4.2e7, N_ARRAY),  # semi-major axes, m
        "T": rng.uniform(5.4e3, 1.75e5, N_ARRAY),  # periods, s
        "M": rng.uniform(0.0, TWO_PI, N_ARRAY),
        "e": rng.uniform(0.0, 0.95, N_ARRAY),
    }


def relation_cases(ours: Ours, x) -> list[Case]:
    env = {"np": np, "GM": ours.GM, "TWO_PI": TWO_PI, **x}
    cases = []
    relations = (
        ("mnm_from_sma", "a", "np.sqrt(GM / a) / a"),
        ("sma_from_orp", "T", "np.cbrt(T * (GM * T / TWO_PI) / TWO_PI)"),
    )
    for name, arg, expr in relations:
        fn, why = ours.function(name)
        mine, peer = time_together([
            ours_timed(f"{name}({arg})", fn, why, f"f({arg})", env, N_ARRAY),
            Timed(f"NumPy {expr}", expr, env, N_ARRAY),
        ])
        agree = _agreement(_call(fn, x[arg]), eval(expr, env)) if fn else None
        case = Case("10⁶ float64 elements", mine, [compare(mine, peer, ("no slower than NumPy", "<=", 1.0), agree)])
        if fn:
            case.memory.append(traced_peak(f"{name}({arg})", lambda fn=fn, v=x[arg]: fn(v)))
            case.memory.append(traced_peak(f"NumPy {expr}", lambda: eval(expr, env), baseline=True))
        cases.append(case)
    return cases


def anomaly_cases(ours: Ours, x) -> list[Case]:
    M, e = x["M"], x["e"]
    env = {"np": np, "M": M, "e": e, "kepler": baselines.kepler_newton, "tra": baselines.tra_from_mea}
    hap, hap_why = load("hapsira.core.angles")
    loop = {"np": np, "Ml": M.tolist(), "el": e.tolist(), "n": N_ARRAY}
    if hap is not None:
        loop.update(M_to_E=hap.M_to_E, E_to_nu=hap.E_to_nu)
    slow = {"repeat": 3, "budget": 0.5}
    cases = []

    # eca_from_mea
    fn, why = ours.function("eca_from_mea")
    hap_stmt = "np.fromiter(map(M_to_E, Ml, el), np.float64, count=n)"
    mine, numpy_, hapsira = time_together([
        ours_timed("eca_from_mea(M, e)", fn, why, "f(M, e)", env, N_ARRAY),
        Timed("NumPy Newton solver, vectorised", "kepler(M, e)", env, N_ARRAY),
        Timed("hapsira M_to_E: Python loop over jitted scalar (no array form)", hap_stmt, loop, N_ARRAY,
              unavailable=hap_why, **slow),
    ])
    got = _call(fn, M, e) if fn else None
    rows = [
        compare(mine, numpy_, agreement=_agreement(got, baselines.kepler_newton(M, e)) if fn else None),
        compare(mine, hapsira, agreement=_agreement(got, eval(hap_stmt, loop), angle=True) if fn and hap else None),
    ]
    best = fastest(rows)
    targets = [
        Target("under 100 ns per element", None if mine.per_item is None else mine.per_item * 1e9, "<", 100.0, "ns"),
        Target(f"no slower than the fastest peer ({_short(best)})", best.ratio if best else None, "<=", 1.0),
    ]
    case = Case("10⁶ float64 elements", mine, rows, targets)
    if fn:
        case.memory.append(traced_peak("eca_from_mea(M, e)", lambda: fn(M, e)))
        case.memory.append(traced_peak("NumPy Newton solver", lambda: baselines.kepler_newton(M, e), baseline=True))
    cases.append(case)

    # tra_from_mea
    fn, why = ours.function("tra_from_mea")
    hap_stmt = "np.fromiter(map(E_to_nu, map(M_to_E, Ml, el), el), np.float64, count=n)"
    mine, numpy_, hapsira = time_together([
        ours_timed("tra_from_mea(M, e)", fn, why, "f(M, e)", env, N_ARRAY),
        Timed("NumPy Newton solver + arctan2, vectorised", "tra(M, e)", env, N_ARRAY),
        Timed("hapsira M_to_E then E_to_nu: Python loop over jitted scalars", hap_stmt, loop, N_ARRAY,
              unavailable=hap_why, **slow),
    ])
    got = _call(fn, M, e) if fn else None
    rows = [
        compare(mine, numpy_, agreement=_agreement(got, baselines.tra_from_mea(M, e), angle=True) if fn else None),
        compare(mine, hapsira, agreement=_agreement(got, eval(hap_stmt, loop), angle=True) if fn and hap else None),
    ]
    case = Case("10⁶ float64 elements", mine, rows)
    if fn:
        case.memory.append(traced_peak("tra_from_mea(M, e)", lambda: fn(M, e)))
    cases.append(case)
    return cases


# ----------------------------------------------------------------------------- 10⁵ states


def state_inputs(ours: Ours):
    rng = np.random.default_rng(SEED + 1)
    n = N_STATES
    el = {
        "ecc": rng.uniform(0.0, 0.9, n),
        "sma": rng.uniform(6.6e6, 4.2e7, n),
        "inc": rng.uniform(0.01, math.pi - 0.01, n),
        "raa": rng.uniform(0.0, TWO_PI, n),
        "arp": rng.uniform(0.0, TWO_PI, n),
        "tra": rng.uniform(0.0, TWO_PI, n),
    }
    el["slr"] = el["sma"] * (1.0 - el["ecc"] * el["ecc"])
    r, v = baselines.coe2rv(el["ecc"], el["inc"], el["raa"], el["arp"], el["tra"], el["slr"], ours.GM)
    orbel = np.zeros(n, dtype=ours.ORBEL_dt)
    for name, values in el.items():
        orbel[name] = values
    return {"r": np.ascontiguousarray(r), "v": np.ascontiguousarray(v), "orbel": orbel, **el}


def state_cases(ours: Ours, s) -> list[Case]:
    GM = ours.GM
    hap, hap_why = load("hapsira.core.elements")
    numba, _ = load("numba")
    env = {"np": np, "GM": GM, **s, "rv2coe_np": baselines.rv2coe, "coe2rv_np": baselines.coe2rv}
    slow = {"repeat": 3, "budget": 0.5}
    cases = []

    # orbel_from_sv
    fn, why = ours.function("orbel_from_sv")
    loop = {"np": np, "GM": GM, "R": list(s["r"]), "V": list(s["v"])}
    if hap is not None:
        loop["rv2coe"] = hap.rv2coe
    hap_stmt = "np.array([rv2coe(GM, x, y) for x, y in zip(R, V)])"
    mine, numpy_, hapsira = time_together([
        ours_timed("orbel_from_sv(r, v)", fn, why, "f(r, v)", env, N_STATES),
        Timed("NumPy rv2coe, textbook, vectorised (7 arrays)", "rv2coe_np(r, v, GM)", env, N_STATES),
        Timed("hapsira rv2coe: Python loop over jitted scalar (no array form)", hap_stmt, loop, N_STATES,
              unavailable=hap_why, **slow),
    ])
    got = _call(fn, s["r"], s["v"]) if fn else None
    ok = got is not None
    rows = [
        compare(mine, numpy_, agreement=_agreement(got["tra"], baselines.rv2coe(s["r"], s["v"], GM)[5], angle=True) if ok else None),
        compare(mine, hapsira, agreement=_agreement(got["slr"], eval(hap_stmt, loop)[:, 0], rtol=True) if ok and hap else None),
    ]
    best = fastest(rows)
    targets = [Target(f"≥ 2× faster than the fastest peer ({_short(best)})", best.ratio if best else None, "<=", 0.5)]
    case = Case("10⁵ states", mine, rows, targets)
    if fn:
        case.memory.append(traced_peak("orbel_from_sv(r, v)", lambda: fn(s["r"], s["v"])))
    cases.append(case)

    # sv_from_orbel
    fn, why = ours.function("sv_from_orbel")
    fields = ("slr", "ecc", "inc", "raa", "arp", "tra")
    loop = {"np": np, "GM": GM, "Z": list(zip(*(s[k].tolist() for k in fields)))}
    # coe2rv_many takes the gravitational parameter per element, as an array too.
    many = {"GM": np.full(N_STATES, GM), **{k: np.ascontiguousarray(s[k]) for k in fields}}
    if hap is not None:
        loop["coe2rv"] = hap.coe2rv
        many["f"] = hap.coe2rv_many
    threads = numba.get_num_threads() if numba else 1
    loop_stmt = "_rv = [coe2rv(GM, *z) for z in Z]; np.array([x[0] for x in _rv]); np.array([x[1] for x in _rv])"
    many_stmt = "f(GM, slr, ecc, inc, raa, arp, tra)"
    np_stmt = "coe2rv_np(ecc, inc, raa, arp, tra, slr, GM)"
    timings = [
        ours_timed("sv_from_orbel(orbel)", fn, why, "f(orbel)", env, N_STATES),
        Timed("NumPy coe2rv, textbook, vectorised (field arrays)", np_stmt, env, N_STATES),
        Timed("hapsira coe2rv: Python loop over jitted scalar", loop_stmt, loop, N_STATES, unavailable=hap_why, **slow),
        Timed(f"hapsira coe2rv_many (numba parallel, {threads} threads)", many_stmt, many, N_STATES, unavailable=hap_why),
    ]
    measured = time_together(timings)
    if hap is not None and numba and threads > 1:
        # numba's thread count is process-wide state: time the one-thread form on its own.
        numba.set_num_threads(1)
        try:
            measured += time_together([Timed("hapsira coe2rv_many (numba parallel, 1 thread)", many_stmt, many, N_STATES)])
        finally:
            numba.set_num_threads(threads)
    mine = measured[0]
    got = _call(fn, s["orbel"]) if fn else None
    ok = got is not None
    agreements = [
        _agreement(got[0], eval(np_stmt, env)[0], rtol=True) if ok else None,
        None,
        _agreement(got[0], eval(many_stmt, many)[0], rtol=True) if ok and hap else None,
        None,
    ]
    rows = [compare(mine, peer, agreement=agree) for peer, agree in zip(measured[1:], agreements)]
    best = fastest(rows)
    targets = [Target(f"≥ 2× faster than the fastest peer ({_short(best)})", best.ratio if best else None, "<=", 0.5)]
    case = Case("10⁵ states", mine, rows, targets)
    if fn:
        case.memory.append(traced_peak("sv_from_orbel(orbel)", lambda: fn(s["orbel"])))
    cases.append(case)
    return cases


def _short(row) -> str:
    """Name of a peer: its label up to the first comma or colon."""
    if row is None:
        return "none measured"
    label = row.measured.label
    for stop in (":", ","):
        label = label.split(stop)[0]
    return label


# ----------------------------------------------------------------------------- two-line element sets

SGP4_SIX = ("inclo", "nodeo", "ecco", "argpo", "mo", "no_kozai")


def sgp4_parse_gather(pairs, twoline2rv):
    """python-sgp4's reader plus the six mean elements gathered into arrays.

    One `numpy.fromiter` per element over the records was the fastest of the
    gathering forms tried (against a list of tuples turned into one (N, 6)
    array, or one list per element).
    """
    sats = [twoline2rv(a, b) for a, b in pairs]
    n = len(sats)
    return tuple(np.fromiter(map(attrgetter(k), sats), np.float64, count=n) for k in SGP4_SIX)


def tle_cases(ours: Ours) -> list[Case]:
    mixed = tles.generate(N_TLES, list(tles.TEMPLATES), SEED + 2)
    single = tles.generate(N_TLES, ["ISS"], SEED + 3)
    tles.validate(mixed)
    tles.validate(single)
    sgp4, sgp4_why = load("sgp4.api")
    sky, sky_why = load("skyfield.api")
    D, why = ours.cls("DUOLINE")
    E, ewhy = ours.cls("ELSET")
    t2 = sgp4.Satrec.twoline2rv if sgp4 else None
    cases = []

    # Records from text, against python-sgp4 and skyfield.
    sgp4_env = {"P": mixed, "g": sgp4_parse_gather, "t2": t2}
    sky_env = {"P": mixed, "ES": sky.EarthSatellite, "ts": sky.load.timescale()} if sky else {}
    mine, gather, alone, skyfield = time_together([
        ours_timed("DUOLINE(line1, line2) ×10⁴ (4 satellites)", D, why, "[f(a, b) for a, b in P]", {"P": mixed}, N_TLES),
        Timed("python-sgp4 Satrec.twoline2rv + gather 6 elements", "g(P, t2)", sgp4_env, N_TLES, unavailable=sgp4_why),
        Timed("python-sgp4 Satrec.twoline2rv alone", "[t2(a, b) for a, b in P]", sgp4_env, N_TLES, unavailable=sgp4_why),
        Timed("skyfield EarthSatellite(line1, line2, None, ts)", "[ES(a, b, None, ts) for a, b in P]", sky_env, N_TLES,
              unavailable=sky_why, repeat=5),
    ])
    rows = [
        compare(mine, gather, ("≥ 3× faster than python-sgp4 + gather", "<=", 1 / 3)),
        compare(mine, alone),
        compare(mine, skyfield, ("≥ 20× faster than skyfield", "<=", 1 / 20)),
    ]
    cases.append(Case("10⁴ two-line element sets", mine, rows))

    # The same with the garbage collector running, as in a program: records
    # with an instance dictionary are tracked by it, and so are skyfield's objects.
    on = {"gc": True}
    mine, gather, skyfield = time_together([
        ours_timed("DUOLINE ×10⁴, garbage collector on", D, why, "[f(a, b) for a, b in P]", {"P": mixed}, N_TLES, **on),
        Timed("python-sgp4 twoline2rv + gather, garbage collector on", "g(P, t2)", sgp4_env, N_TLES, unavailable=sgp4_why, **on),
        Timed("skyfield EarthSatellite, garbage collector on", "[ES(a, b, None, ts) for a, b in P]", sky_env, N_TLES,
              unavailable=sky_why, repeat=5, **on),
    ])
    cases.append(Case("10⁴ two-line element sets", mine, [compare(mine, gather), compare(mine, skyfield)]))

    # ELSET over the records of one satellite, against building those records;
    # and the whole road from text to arrays against python-sgp4 plus gathering.
    records = _call(lambda: [D(a, b) for a, b in single]) if D else None
    reason = why or ewhy or (None if records is not None else "records could not be built")
    order = np.random.default_rng(SEED + 4).permutation(N_TLES)
    shuffled = [records[i] for i in order] if records is not None else None
    build, ordered, mixed_up, whole, sgp4_whole = time_together([
        ours_timed("DUOLINE ×10⁴ (one satellite)", D, why, "[f(a, b) for a, b in P]", {"P": single}, N_TLES),
        ours_timed("ELSET(*records) ×10⁴, time-ordered", E, reason, "f(*R)", {"R": records}, N_TLES),
        ours_timed("ELSET(*records) ×10⁴, shuffled", E, reason, "f(*R)", {"R": shuffled}, N_TLES),
        ours_timed("DUOLINE ×10⁴ + ELSET (one satellite)", D, reason, "E(*[f(a, b) for a, b in P])", {"P": single, "E": E}, N_TLES),
        Timed("python-sgp4 twoline2rv + gather (one satellite)", "g(P, t2)", {**sgp4_env, "P": single}, N_TLES, unavailable=sgp4_why),
    ])
    cases.append(Case("10⁴ two-line element sets", ordered, [compare(ordered, build, ("under half the cost of building the records", "<", 0.5))]))
    cases.append(Case("10⁴ two-line element sets", mixed_up, [compare(mixed_up, build)]))
    cases.append(Case("10⁴ two-line element sets", whole, [compare(whole, sgp4_whole)]))
    return cases
