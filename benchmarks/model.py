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


@dataclasses.dataclass
class Case:
    group: str
    ours: Measured
    peers: list[PeerRow]
    targets: list[Target] = dataclasses.field(default_factory=list)  # not tied to one peer
    memory: list[Memory] = dataclasses.field(default_factory=list)


def ratio(ours: Measured, peer: Measured) -> float | None:
    if ours.median is None or peer.median is None:
        return None
    return ours.median / peer.median


def compare(ours: Measured, peer: Measured, target: tuple[str, str, float] | None = None, agreement=None) -> PeerRow:
    """Peer row with the ratio ours ÷ peer and, optionally, a target on it."""
    r = ratio(ours, peer)
    t = Target(target[0], r, target[1], target[2]) if target else None
    return PeerRow(peer, r, t, agreement)


def fastest(rows: list[PeerRow]) -> PeerRow | None:
    timed = [row for row in rows if row.measured.median is not None]
    return min(timed, key=lambda row: row.measured.median) if timed else None


SLACK = 64 * 1024  # bytes an array call may allocate besides its result


def memory_target(memory: Memory) -> Target | None:
    """Peak traced memory of one of our array calls ≤ result size + 64 KiB."""
    if memory.baseline:
        return None
    return Target("peak ≤ result + 64 KiB", memory.excess, "<=", SLACK, "B")
