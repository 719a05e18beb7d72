"""What a benchmark case records: our timing, the peers' timings, the targets."""

from __future__ import annotations

import dataclasses
import operator

from timing import Measured, Memory

_OPS = {"<=": operator.le, "<": operator.lt}


@dataclasses.dataclass
class Target:
    """One reported target: `value op limit` passes (never asserted)."""

    text: str
    value: float | None
    op: str
    limit: float
    unit: str = "ratio"  # "ratio" (ours ÷ peer), "ns" (per element) or "B" (bytes)

    @property
    def passed(self) -> bool | None:
        if self.value is None:
            return None
        return bool(_OPS[self.op](self.value, self.limit))

    @property
    def verdict(self) -> str:
        return {True: "PASS", False: "MISS", None: "n/a"}[self.passed]


@dataclasses.dataclass
class PeerRow:
    measured: Measured
    ratio: float | None  # ours ÷ peer
    target: Target | None = None
    agreement: str | None = None  # how the peer's result compares with ours
    remark: str | None = None  # anything else measured about the call (threads used, ...)


@dataclasses.dataclass
class Accuracy:
    """Largest differences of one implementation's results from a reference's.

    Positions in metres, velocities in m/s, over the samples both report as
    valid, split into near-Earth and deep-space element sets (None: no such
    samples); `codes_differ` counts the samples whose error codes differ.
    """

    label: str
    reference: str
    near_dr: float | None
    near_dv: float | None
    deep_dr: float | None
    deep_dv: float | None
    codes_differ: int | None
    samples: int
    flagged: int | None  # samples to which the reference gives an error code
    note: str | None = None
    workload: str = ""  # what was propagated, for the tables


@dataclasses.dataclass
class Case:
    group: str
    ours: Measured
    peers: list[PeerRow]
    targets: list[Target] = dataclasses.field(default_factory=list)  # not tied to one peer
    memory: list[Memory] = dataclasses.field(default_factory=list)
    accuracy: list[Accuracy] = dataclasses.field(default_factory=list)


def ratio(ours: Measured, peer: Measured) -> float | None:
    if ours.median is None or peer.median is None:
        return None
    return ours.median / peer.median


def compare(ours: Measured, peer: Measured, target: tuple[str, str, float] | None = None, agreement=None,
            remark=None) -> PeerRow:
    """Peer row with the ratio ours ÷ peer and, optionally, a target on it."""
    r = ratio(ours, peer)
    t = Target(target[0], r, target[1], target[2]) if target else None
    return PeerRow(peer, r, t, agreement, remark)


def fastest(rows: list[PeerRow]) -> PeerRow | None:
    timed = [row for row in rows if row.measured.median is not None]
    return min(timed, key=lambda row: row.measured.median) if timed else None


def slack_text(memory: Memory) -> str:
    """The allowance of a memory target: "64 KiB", "1 MiB"."""
    n = memory.slack
    return f"{n // 2**20} MiB" if n % 2**20 == 0 else f"{n // 2**10} KiB"


def memory_target(memory: Memory) -> Target | None:
    """Peak traced memory of one of our array calls ≤ result size + its allowance."""
    if memory.baseline:
        return None
    return Target(f"peak ≤ result + {slack_text(memory)}", memory.excess, "<=", memory.slack, "B")
