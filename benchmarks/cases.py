"""The benchmark cases: quorvane's calls against peers on the same inputs.

Each function builds its inputs from a fixed seed, times ours and every
available peer with `timing.time_stmt`, and returns `model.Case` objects with
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
from timing import Measured, time_stmt, traced_peak, unavailable

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


def _time_ours(label, fn, why, stmt, env, items, **kw) -> Measured:
    if fn is None:
        return unavailable(label, why, items)
    try:
        return time_stmt(label, stmt, {**env, "f": fn}, items=items, **kw)
    except Exception as exc:  # an unfinished module may raise; report instead of stopping
        return unavailable(label, f"raised {type(exc).__name__}: {exc}", items)


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
    atan2 = time_stmt("math.atan2(1.0, 2.0)", "f(1.0, 2.0)", {"f": math.atan2})
    cases = []
    for name, args in (("mnm_from_sma", "7.0e6"), ("eca_from_mea", "1.0, 0.1")):
        fn, why = ours.function(name)
        mine = _time_ours(f"{name}({args})", fn, why, f"f({args})", {}, 1)
        row = compare(mine, atan2, ("within 2× of math.atan2", "<=", 2.0))
        cases.append(Case("scalar call", mine, [row]))
    return cases


# ----------------------------------------------------------------------------- 10⁶-element arrays


def array_inputs():
    rng = np.random.default_rng(SEED)
    return {
        "a": rng.uniform(6.6e6, 4.2e7, N_ARRAY),  # semi-major axes, m
        "T": rng.uniform(5.4e3, 1.75e5, N_ARRAY),  # periods, s
        "M": rng.uniform(0.0, TWO_PI, N_ARRAY),
        "e": rng.uniform(0.0, 0.95, N_ARRAY),
    }


def _hapsira_angles():
    mod, why = load("hapsira.core.angles")
    return mod, (why or "")


def relation_cases(ours: Ours, x) -> list[Case]:
    env = {"np": np, "GM": ours.GM, "TWO_PI": TWO_PI, **x}
    cases = []
    specs = (
        ("mnm_from_sma", "a", "np.sqrt(GM / a) / a"),
        ("sma_from_orp", "T", "np.cbrt(T * (GM * T / TWO_PI) / TWO_PI)"),
    )
    for name, arg, expr in specs:
        fn, why = ours.function(name)
        mine = _time_ours(f"{name}({arg})", fn, why, f"f({arg})", env, N_ARRAY)
        peer = time_stmt(f"NumPy {expr}", expr, env, items=N_ARRAY)
        agree = _agreement(_call(fn, x[arg]), eval(expr, env)) if fn else None
        row = compare(mine, peer, ("no slower than NumPy", "<=", 1.0), agree)
        case = Case("10⁶ float64 elements", mine, [row])
        if fn:
            case.memory.append(traced_peak(f"{name}({arg})", lambda fn=fn, v=x[arg]: fn(v)))
            case.memory.append(traced_peak(f"NumPy {expr}", lambda: eval(expr, env), baseline=True))
        cases.append(case)
    return cases


def anomaly_cases(ours: Ours, x) -> list[Case]:
    M, e = x["M"], x["e"]
    env = {"np": np, "M": M, "e": e, "kepler": baselines.kepler_newton, "tra": baselines.tra_from_mea}
    hap, hap_why = _hapsira_angles()
    loop_env = {}
    if hap is not None:
        loop_env = {"np": np, "Ml": M.tolist(), "el": e.tolist(), "n": N_ARRAY, "M_to_E": hap.M_to_E, "E_to_nu": hap.E_to_nu}
    cases = []

    # eca_from_mea
    fn, why = ours.function("eca_from_mea")
    mine = _time_ours("eca_from_mea(M, e)", fn, why, "f(M, e)", env, N_ARRAY)
    mine_result = _call(fn, M, e) if fn else None
    rows = [
        compare(
            mine,
            time_stmt("NumPy Newton solver, vectorised", "kepler(M, e)", env, items=N_ARRAY),
            agreement=_agreement(mine_result, baselines.kepler_newton(M, e)) if fn else None,
        )
    ]
    label = "hapsira M_to_E: Python loop over jitted scalar (no array form)"
    if hap is not None:
        stmt = "np.fromiter(map(M_to_E, Ml, el), np.float64, count=n)"
        peer = time_stmt(label, stmt, loop_env, items=N_ARRAY, repeat=3, budget=0.5)
        agree = _agreement(mine_result, eval(stmt, loop_env), angle=True) if fn else None
        rows.append(compare(mine, peer, agreement=agree))
    else:
        rows.append(compare(mine, unavailable(label, hap_why, N_ARRAY)))
    best = fastest(rows)
    targets = [
        Target("under 100 ns per element", None if mine.per_item is None else mine.per_item * 1e9, "<", 100.0, "ns"),
        Target(f"no slower than the fastest peer ({_short(best)})",
               best.ratio if best else None, "<=", 1.0),
    ]
    case = Case("10⁶ float64 elements", mine, rows, targets)
    if fn:
        case.memory.append(traced_peak("eca_from_mea(M, e)", lambda: fn(M, e)))
        case.memory.append(traced_peak("NumPy Newton solver", lambda: baselines.kepler_newton(M, e), baseline=True))
    cases.append(case)

    # tra_from_mea
    fn, why = ours.function("tra_from_mea")
    mine = _time_ours("tra_from_mea(M, e)", fn, why, "f(M, e)", env, N_ARRAY)
    mine_result = _call(fn, M, e) if fn else None
    rows = [
        compare(
            mine,
            time_stmt("NumPy Newton solver + arctan2, vectorised", "tra(M, e)", env, items=N_ARRAY),
            agreement=_agreement(mine_result, baselines.tra_from_mea(M, e), angle=True) if fn else None,
        )
    ]
    label = "hapsira M_to_E then E_to_nu: Python loop over jitted scalars"
    if hap is not None:
        stmt = "np.fromiter(map(E_to_nu, map(M_to_E, Ml, el), el), np.float64, count=n)"
        peer = time_stmt(label, stmt, loop_env, items=N_ARRAY, repeat=3, budget=0.5)
        agree = _agreement(mine_result, eval(stmt, loop_env), angle=True) if fn else None
        rows.append(compare(mine, peer, agreement=agree))
    else:
        rows.append(compare(mine, unavailable(label, hap_why, N_ARRAY)))
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
    el_mod, el_why = load("hapsira.core.elements")
    numba, _ = load("numba")
    env = {"np": np, "GM": GM, **s, "rv2coe_np": baselines.rv2coe, "coe2rv_np": baselines.coe2rv}
    cases = []

    # orbel_from_sv
    fn, why = ours.function("orbel_from_sv")
    mine = _time_ours("orbel_from_sv(r, v)", fn, why, "f(r, v)", env, N_STATES)
    got = _call(fn, s["r"], s["v"]) if fn else None
    ref = baselines.rv2coe(s["r"], s["v"], GM)
    rows = [
        compare(
            mine,
            time_stmt("NumPy rv2coe, textbook, vectorised (7 arrays)", "rv2coe_np(r, v, GM)", env, items=N_STATES),
            agreement=_agreement(got["tra"], ref[5], angle=True) if got is not None else None,
        )
    ]
    label = "hapsira rv2coe: Python loop over jitted scalar (no array form)"
    if el_mod is not None:
        loop = {"np": np, "GM": GM, "R": list(s["r"]), "V": list(s["v"]), "rv2coe": el_mod.rv2coe}
        stmt = "np.array([rv2coe(GM, x, y) for x, y in zip(R, V)])"
        peer = time_stmt(label, stmt, loop, items=N_STATES, repeat=3, budget=0.5)
        agree = _agreement(got["slr"], eval(stmt, loop)[:, 0], rtol=True) if got is not None else None
        rows.append(compare(mine, peer, agreement=agree))
    else:
        rows.append(compare(mine, unavailable(label, el_why, N_STATES)))
    best = fastest(rows)
    targets = [Target(f"≥ 2× faster than the fastest peer ({_short(best)})", best.ratio if best else None, "<=", 0.5)]
    case = Case("10⁵ states", mine, rows, targets)
    if fn:
        case.memory.append(traced_peak("orbel_from_sv(r, v)", lambda: fn(s["r"], s["v"])))
    cases.append(case)

    # sv_from_orbel
    fn, why = ours.function("sv_from_orbel")
    mine = _time_ours("sv_from_orbel(orbel)", fn, why, "f(orbel)", env, N_STATES)
    got = _call(fn, s["orbel"]) if fn else None
    stmt = "coe2rv_np(ecc, inc, raa, arp, tra, slr, GM)"
    rows = [
        compare(
            mine,
            time_stmt("NumPy coe2rv, textbook, vectorised (field arrays)", stmt, env, items=N_STATES),
            agreement=_agreement(got[0], eval(stmt, env)[0], rtol=True) if got is not None else None,
        )
    ]
    if el_mod is not None:
        fields = [s[k].tolist() for k in ("slr", "ecc", "inc", "raa", "arp", "tra")]
        loop = {"np": np, "GM": GM, "Z": list(zip(*fields)), "coe2rv": el_mod.coe2rv}
        stmt = "_rv = [coe2rv(GM, *z) for z in Z]; np.array([x[0] for x in _rv]); np.array([x[1] for x in _rv])"
        label = "hapsira coe2rv: Python loop over jitted scalar"
        rows.append(compare(mine, time_stmt(label, stmt, loop, items=N_STATES, repeat=3, budget=0.5)))
        # coe2rv_many takes the gravitational parameter per element, as an array too.
        many = {"GM": np.full(N_STATES, GM), "f": el_mod.coe2rv_many, **{k: np.ascontiguousarray(s[k]) for k in ("slr", "ecc", "inc", "raa", "arp", "tra")}}
        stmt = "f(GM, slr, ecc, inc, raa, arp, tra)"
        threads = numba.get_num_threads() if numba else None
        label = f"hapsira coe2rv_many (numba parallel, {threads} threads)"
        peer = time_stmt(label, stmt, many, items=N_STATES)
        agree = _agreement(got[0], eval(stmt, many)[0], rtol=True) if got is not None else None
        rows.append(compare(mine, peer, agreement=agree))
        if numba and threads and threads > 1:
            numba.set_num_threads(1)
            try:
                rows.append(compare(mine, time_stmt("hapsira coe2rv_many (numba parallel, 1 thread)", stmt, many, items=N_STATES)))
            finally:
                numba.set_num_threads(threads)
    else:
        rows.append(compare(mine, unavailable("hapsira coe2rv / coe2rv_many", el_why, N_STATES)))
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
    cases = []

    mine = _time_ours("DUOLINE(line1, line2) ×10⁴ (4 satellites)", D, why, "[f(a, b) for a, b in P]", {"P": mixed}, N_TLES)
    rows = []
    if sgp4 is not None:
        t2 = sgp4.Satrec.twoline2rv
        env = {"P": mixed, "g": sgp4_parse_gather, "t2": t2}
        rows.append(compare(mine, time_stmt("python-sgp4 Satrec.twoline2rv + gather 6 elements", "g(P, t2)", env, items=N_TLES),
                            ("≥ 3× faster than python-sgp4 + gather", "<=", 1 / 3)))
        rows.append(compare(mine, time_stmt("python-sgp4 Satrec.twoline2rv alone", "[t2(a, b) for a, b in P]", env, items=N_TLES)))
    else:
        rows.append(compare(mine, unavailable("python-sgp4", sgp4_why, N_TLES)))
    if sky is not None:
        env = {"P": mixed, "ES": sky.EarthSatellite, "ts": sky.load.timescale()}
        rows.append(compare(mine, time_stmt("skyfield EarthSatellite(line1, line2, None, ts)", "[ES(a, b, None, ts) for a, b in P]", env,
                                            items=N_TLES, repeat=5), ("≥ 20× faster than skyfield", "<=", 1 / 20)))
    else:
        rows.append(compare(mine, unavailable("skyfield", sky_why, N_TLES)))
    cases.append(Case("10⁴ two-line element sets", mine, rows))

    # ELSET over the records of one satellite, against building those records.
    build = _time_ours("DUOLINE ×10⁴ (one satellite)", D, why, "[f(a, b) for a, b in P]", {"P": single}, N_TLES)
    records = _call(lambda: [D(a, b) for a, b in single]) if D else None
    if records is None or E is None:
        reason = ewhy or why or "records could not be built"
        ordered = unavailable("ELSET(*records) ×10⁴, time-ordered", reason, N_TLES)
        shuffled = unavailable("ELSET(*records) ×10⁴, shuffled", reason, N_TLES)
    else:
        env = {"R": records, "f": E}
        ordered = _time_ours("ELSET(*records) ×10⁴, time-ordered", E, None, "f(*R)", env, N_TLES)
        order = np.random.default_rng(SEED + 4).permutation(len(records))
        shuffled = _time_ours("ELSET(*records) ×10⁴, shuffled", E, None, "f(*R)", {"R": [records[i] for i in order]}, N_TLES)
    rows = [compare(ordered, build, ("under half the cost of building the records", "<", 0.5))]
    cases.append(Case("10⁴ two-line element sets", ordered, rows))
    cases.append(Case("10⁴ two-line element sets", shuffled, [compare(shuffled, build)]))

    # The whole road, text to arrays: records plus element set against sgp4 plus gathering.
    if D is not None and E is not None:
        whole = _time_ours("DUOLINE ×10⁴ + ELSET (one satellite)", D, None, "E(*[f(a, b) for a, b in P])", {"P": single, "E": E}, N_TLES)
    else:
        whole = unavailable("DUOLINE ×10⁴ + ELSET (one satellite)", ewhy or why, N_TLES)
    if sgp4 is not None:
        env = {"P": single, "g": sgp4_parse_gather, "t2": sgp4.Satrec.twoline2rv}
        rows = [compare(whole, time_stmt("python-sgp4 twoline2rv + gather (one satellite)", "g(P, t2)", env, items=N_TLES))]
        cases.append(Case("10⁴ two-line element sets", whole, rows))
    return cases
