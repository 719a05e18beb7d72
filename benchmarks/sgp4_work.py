"""The SGP4 workloads: element sets, sample times and how they are compared.

Three workloads, the same for every implementation:

- `iss()`: the ISS set of 2008 (`tles.TEMPLATES`) at 10⁶ times uniform over
  ±3 days around its epoch (a step of 0.5184 s, so every time is a whole
  number of nanoseconds and the absolute times of the peers that take dates
  are exact);
- `catalogue_tsince()`: the 1,511 real sets of `examples/data/real/*.tle`,
  each at 0, 1, …, 1439 minutes after its own epoch;
- `catalogue_grid()`: the same sets, each catalogue file at one common UTC
  grid of 1,440 one-minute steps starting at the file's latest epoch
  (rounded up to the minute), for the peers whose many-satellite entry
  points take only absolute times shared by all satellites.

Samples are compared in one layout, `(n, m, 3)` positions in metres and
velocities in m/s with `(n, m)` error codes; `accuracy` gives the largest
differences from a reference over the samples both call valid.
"""

from __future__ import annotations

import dataclasses
from pathlib import Path

import numpy as np

import tles
from model import Accuracy

ROOT = Path(__file__).resolve().parent.parent
CATALOGUES = sorted((ROOT / "examples" / "data" / "real").glob("*.tle"))
NS_PER_MIN = 60 * 10**9
NS_PER_DAY = 86400 * 10**9
UNIX_JD = 2440587.5  # Julian date of 1970-01-01T00:00 UTC
ISS_TIMES = 10**6
ISS_STEP_NS = 518_400_000  # 6 days / 10⁶, exact in nanoseconds
CATALOGUE_TIMES = 1440
DEEP_MEAN_MOTION = 1440.0 / 225.0  # rev/day: periods of 225 minutes or more take the deep-space terms


@dataclasses.dataclass
class Workload:
    """Element sets and the times at which every implementation evaluates them."""

    label: str
    pairs: list[tuple[str, str]]
    epochs: np.ndarray  # int64 nanoseconds since 1970 (UTC), exact from the records' text
    groups: list[slice]  # the sets that share one call (one catalogue file), in order
    offsets: np.ndarray | None = None  # int64 ns after each set's own epoch, (m,)
    grids: list[np.ndarray] | None = None  # datetime64[ns] per group, (m,) each
    deep: np.ndarray | None = None  # bool (n,): the set takes the deep-space terms

    def __post_init__(self):
        if self.deep is None:
            # Set from python-sgp4's own choice when it is installed (see sgp4_peers).
            self.deep = np.array([float(b[52:63]) < DEEP_MEAN_MOTION for _, b in self.pairs])

    @property
    def n(self) -> int:
        return len(self.pairs)

    @property
    def m(self) -> int:
        return len(self.offsets) if self.offsets is not None else len(self.grids[0])

    @property
    def samples(self) -> int:
        return self.n * self.m

    @property
    def tsince(self) -> np.ndarray:
        """Minutes after each set's epoch, (m,), for the per-set layout."""
        return self.offsets / NS_PER_MIN

    def dates(self, i: int) -> np.ndarray:
        """datetime64[ns] times of set `i`, (m,)."""
        if self.grids is not None:
            return self.grids[self.group_of(i)]
        return (self.epochs[i] + self.offsets).astype("datetime64[ns]")

    def group_of(self, i: int) -> int:
        return next(k for k, g in enumerate(self.groups) if g.start <= i < g.stop)


def epoch_ns(line1: str) -> int:
    """Epoch of a line 1 as int nanoseconds since 1970, exactly.

    Columns 19-20 hold the two-digit year (57-99: 19xx), 21-32 the day of
    the year with up to 8 decimals; 1e-8 day is 864,000 ns, so the epoch is
    a whole number of nanoseconds.
    """
    yy = int(line1[18:20])
    year = 1900 + yy if yy >= 57 else 2000 + yy
    whole, _, frac = line1[20:32].strip().partition(".")
    start = int(np.datetime64(f"{year:04d}-01-01", "ns").astype(np.int64))
    return start + (int(whole) - 1) * NS_PER_DAY + int((frac + "00000000")[:8]) * 864_000


def read_pairs(path: Path) -> list[tuple[str, str]]:
    """The (line 1, line 2) pairs of a two- or three-line catalogue, in file order."""
    pairs, line1 = [], None
    for raw in path.read_text().splitlines():
        line = raw.rstrip()
        if line.startswith("1 ") and len(line) == 69:
            line1 = line
        elif line.startswith("2 ") and len(line) == 69 and line1 is not None:
            if line[2:7] != line1[2:7]:
                raise ValueError(f"{path.name}: line 2 of {line[2:7]} follows line 1 of {line1[2:7]}")
            pairs.append((line1, line))
            line1 = None
    return pairs


def iss() -> Workload:
    pair = tles.TEMPLATES["ISS"]
    offsets = -3 * NS_PER_DAY + ISS_STEP_NS * np.arange(ISS_TIMES, dtype=np.int64)
    return Workload("ISS ×10⁶ times (±3 days)", [pair], np.array([epoch_ns(pair[0])]), [slice(0, 1)], offsets)


def _catalogue():
    pairs, groups = [], []
    for path in CATALOGUES:
        found = read_pairs(path)
        groups.append(slice(len(pairs), len(pairs) + len(found)))
        pairs += found
    return pairs, np.array([epoch_ns(a) for a, _ in pairs], dtype=np.int64), groups


def catalogue_tsince() -> Workload:
    pairs, epochs, groups = _catalogue()
    offsets = NS_PER_MIN * np.arange(CATALOGUE_TIMES, dtype=np.int64)
    return Workload(f"{len(pairs):,} sets ×1,440 min from epoch", pairs, epochs, groups, offsets)


def catalogue_grid() -> Workload:
    pairs, epochs, groups = _catalogue()
    grids = []
    for g in groups:
        start = -(-int(epochs[g].max()) // NS_PER_MIN) * NS_PER_MIN  # latest epoch, rounded up to the minute
        grids.append((start + NS_PER_MIN * np.arange(CATALOGUE_TIMES, dtype=np.int64)).astype("datetime64[ns]"))
    return Workload(f"{len(pairs):,} sets ×1,440 min, UTC grid", pairs, epochs, groups, grids=grids)


def julian(dates: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """(jd, fr) of datetime64[ns] times: jd the 0h Julian date of the first day, fr the rest in days."""
    ns = dates.astype("datetime64[ns]").astype(np.int64)
    day0 = int(ns.min()) // NS_PER_DAY
    jd = np.full(ns.shape, UNIX_JD + day0)
    fr = (ns - day0 * NS_PER_DAY).astype(np.float64) / NS_PER_DAY
    return jd, fr


# ----------------------------------------------------------------------------- comparison


def accuracy(label: str, reference: str, ref, got, deep: np.ndarray, codes: bool = True, note: str | None = None) -> Accuracy:
    """Largest |Δr| (m) and |Δv| (m/s) of `got` from `ref`, near-Earth and deep-space sets apart.

    `ref` and `got` are (r, v, err) in the common layout.  Samples count
    when both report code 0 and finite values.  Without codes (`codes`
    False) an implementation's non-finite sample stands for an error, and
    only "error or not" is compared.
    """
    r0, v0, e0 = ref
    r1, v1, e1 = got
    finite = np.isfinite(r1).all(axis=-1) & np.isfinite(v1).all(axis=-1)
    if codes:
        differ = int(np.count_nonzero(e0 != e1))
        ok = (e0 == 0) & (e1 == 0)
    else:
        differ = int(np.count_nonzero((e0 != 0) == finite))
        ok = (e0 == 0) & finite
    flagged = int(np.count_nonzero(e0))
    silent = int(np.count_nonzero(ok & ~finite))
    if silent:
        note = f"{note}; " if note else ""
        note += f"{silent:,} samples non-finite with code 0"
    ok &= finite & np.isfinite(r0).all(axis=-1)
    dr = np.linalg.norm(r1 - r0, axis=-1)
    dv = np.linalg.norm(v1 - v0, axis=-1)
    out = {}
    for name, rows in (("near", ~deep), ("deep", deep)):
        mask = ok & rows[:, None]
        out[name] = (float(dr[mask].max()), float(dv[mask].max())) if mask.any() else (None, None)
    return Accuracy(label, reference, *out["near"], *out["deep"], differ, int(e0.size), flagged, note)


def accuracy_failed(label: str, reference: str, samples: int, why: str) -> Accuracy:
    return Accuracy(label, reference, None, None, None, None, None, samples, None, f"not compared: {why}")
