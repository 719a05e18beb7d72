"""Text and Markdown tables of a benchmark run, and its JSON form."""

from __future__ import annotations

import dataclasses

from model import Accuracy, Case, Target, memory_target, slack_text

WIDTH = 70  # implementation column
PEERS = ("sgp4", "skyfield", "hapsira", "numba", "astroz", "heyoka", "satkit")


def fmt_time(seconds: float | None) -> str:
    if seconds is None:
        return "—"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale or unit == "ns":
            value = seconds / scale
            return f"{value:.3g} {unit}" if value < 1000 else f"{value:.0f} {unit}"
    return "—"


def fmt_bytes(n: int | None, signed: bool = False) -> str:
    if n is None:
        return "—"
    sign = ("+" if n >= 0 else "−") if signed else ("" if n >= 0 else "−")
    n = abs(n)
    for unit, scale in (("MiB", 2**20), ("KiB", 2**10)):
        if n >= scale:
            return f"{sign}{n / scale:.3g} {unit}"
    return f"{sign}{n} B"


def fmt_length(x: float | None, per: str = "") -> str:
    """A distance in metres (or a speed with per="/s") with a unit that suits it."""
    if x is None:
        return "—"
    if x != x:
        return "NaN"
    if x >= 1e6:
        return f"{x / 1e3:,.0f} km{per}"
    for unit, scale in (("km", 1e3), ("m", 1.0), ("mm", 1e-3), ("µm", 1e-6), ("nm", 1e-9)):
        if x >= scale or unit == "nm":
            return f"{x / scale:.3g} {unit}{per}"
    return "—"


def _accuracy_lines(a: Accuracy) -> list[str]:
    codes = "—" if a.codes_differ is None else f"{a.codes_differ:,}"
    label = "  " + a.label
    label = label if len(label) <= WIDTH - 10 else label[: WIDTH - 11] + "…"
    lines = [f"{label:<{WIDTH - 10}} {fmt_length(a.near_dr):>10} {fmt_length(a.near_dv, '/s'):>10} "
             f"{fmt_length(a.deep_dr):>10} {fmt_length(a.deep_dv, '/s'):>10} {codes:>14}"]
    flagged = "" if a.flagged is None else f", {a.flagged:,} with an error code there"
    extra = f"vs {a.reference}, {a.samples:,} samples{flagged}" + (f"; {a.note}" if a.note else "")
    lines.append(f"      ({extra})")
    return lines


def fmt_ratio(r: float | None) -> str:
    return "—" if r is None else f"{r:.3g}"


def fmt_target(t: Target | None) -> str:
    if t is None:
        return ""
    if t.unit == "ns":
        shown = "—" if t.value is None else f"{t.value:.3g} ns"
        return f"{t.text} ({shown})  {t.verdict}"
    if t.unit == "B":
        return f"{t.text} ({fmt_bytes(t.value, True)} over the result)  {t.verdict}"
    if t.unit == "s":
        shown = "—" if t.value is None else f"{t.value:.3g} s"
        return f"{t.text} ({shown})  {t.verdict}"
    return f"{t.text} (ratio {t.op} {_limit(t)})  {t.verdict}"


def _limit(t: Target) -> str:
    return {1 / 3: "1/3", 1 / 20: "1/20", 1 / 1.8: "1/1.8"}.get(t.limit, f"{t.limit:g}")


def _header(info: dict) -> list[str]:
    peers = ", ".join(f"{d} {info.get(d) or 'missing'}" for d in PEERS if d in info)
    removed = ", ".join(info["removed_environment"]) or "nothing"
    added = ", ".join(f"{k}={v}" for k, v in info.get("set_environment", {}).items()) or "nothing"
    lines = [
        f"quorvane benchmarks — {info['cpu']}, {info['cpus']} CPUs, {info['platform']}",
        f"Python {info['python']}, NumPy {info['numpy']}; {peers}",
        f"commit {info['commit']}{'' if info['tree_clean'] else ' (+ local changes)'}; environment: removed {removed}, set {added}",
    ]
    pools = info.get("threadpools")
    if isinstance(pools, list):
        lines.append("threadpools: " + "; ".join(f"{p['internal_api']} {p['version']} {p['architecture']} ×{p['num_threads']}" for p in pools))
    lines.append("medians of repeated timings; ratio = ours ÷ peer (< 1: quorvane is faster)")
    return lines


def text(results: list[Case], info: dict) -> str:
    out = _header(info)
    out.append("")
    out.append(f"{'implementation':<{WIDTH}} {'median':>10} {'per item':>10} {'ratio':>7}  target")
    group = None
    for case in results:
        if case.group != group:
            group = case.group
            out.append(f"── {group} " + "─" * (WIDTH + 30 - len(group)))
        ours = case.ours
        out.append(_line(ours.label, ours, None, None))
        if ours.note:
            out.append(f"    ({ours.note})")
        for row in case.peers:
            out.append(_line("  vs " + row.measured.label, row.measured, row.ratio, row.target))
            if row.measured.note:
                out.append(f"      ({row.measured.note})")
            if row.agreement:
                out.append(f"      result vs ours: {row.agreement}")
            if row.remark:
                out.append(f"      {row.remark}")
        for t in case.targets:
            value = fmt_ratio(t.value) if t.unit == "ratio" else ""
            out.append(f"{'  target':<{WIDTH}} {'':>10} {'':>10} {value:>7}  {fmt_target(t)}")
    if any(case.accuracy for case in results):
        out.append("── accuracy: largest differences from the reference on the same samples " + "─" * (WIDTH - 42))
        out.append(f"{'implementation':<{WIDTH - 10}} {'near |Δr|':>10} {'|Δv|':>10} {'deep |Δr|':>10} {'|Δv|':>10} {'codes differ':>14}")
        for case in results:
            if case.accuracy:
                out.append(f"{case.accuracy[0].workload or case.ours.label}:")
            for a in case.accuracy:
                out += _accuracy_lines(a)
    mems = [m for case in results for m in case.memory]
    if mems:
        out.append("── peak traced memory (tracemalloc), one call " + "─" * (WIDTH - 15))
        out.append(f"{'call':<{WIDTH}} {'result':>10} {'peak':>10} {'over':>10}  target")
        for m in mems:
            t = memory_target(m)
            verdict = f"≤ +{slack_text(m)}  {t.verdict}" if t else "(peer, for comparison)"
            label = m.label if not m.baseline else "  " + m.label
            out.append(f"{label:<{WIDTH}} {fmt_bytes(m.result):>10} {fmt_bytes(m.peak):>10} {fmt_bytes(m.excess, True):>10}  {verdict}")
    out.append("")
    out.append("targets:")
    for t in all_targets(results):
        out.append(f"  {t.verdict:<5} {fmt_target(t).rsplit('  ', 1)[0]}")
    out.append(f"run took {info.get('seconds', '?')} s")
    return "\n".join(out)


def _line(label: str, m, ratio, target) -> str:
    per = fmt_time(m.per_item) if m.items > 1 else ""
    label = label if len(label) <= WIDTH else label[: WIDTH - 1] + "…"
    return f"{label:<{WIDTH}} {fmt_time(m.median):>10} {per:>10} {fmt_ratio(ratio) if ratio is not None or target else '':>7}  {fmt_target(target)}".rstrip()


def all_targets(results: list[Case]) -> list[Target]:
    found = []
    for case in results:
        for row in case.peers:
            if row.target:
                found.append(_named(row.target, case.ours.label))
        found += [_named(t, case.ours.label) for t in case.targets]
        for m in case.memory:
            t = memory_target(m)
            if t:
                found.append(_named(t, m.label))
    return found


def _named(t: Target, label: str) -> Target:
    return dataclasses.replace(t, text=f"{label}: {t.text}")


def markdown(results: list[Case], info: dict) -> str:
    """Short Markdown form: the targets, then every comparison, then memory."""
    out = ["# Benchmark results", ""]
    out += [line + "  " for line in _header(info)]
    out += [f"`make bench` (or `.venv/bin/python benchmarks/run.py`); the run took {info.get('seconds', '?')} s.", ""]
    out += ["## Targets", "", "| call | target | measured | verdict |", "|---|---|---:|---|"]
    for case in results:
        for row in case.peers:
            if row.target:
                out.append(f"| {_md(case.ours.label)} | {_md(_target_text(row.target))} | {_md_value(row.target)} | {row.target.verdict} |")
        for t in case.targets:
            out.append(f"| {_md(case.ours.label)} | {_md(_target_text(t))} | {_md_value(t)} | {t.verdict} |")
        for m in case.memory:
            t = memory_target(m)
            if t:
                out.append(f"| {_md(m.label)} | peak traced memory ≤ result + {slack_text(m)} | {fmt_bytes(m.excess, True)} | {t.verdict} |")
    out += ["", "## Timings (medians)", "", "| ours | median | peer | median | ratio |", "|---|---:|---|---:|---:|"]
    for case in results:
        for i, row in enumerate(case.peers):
            left = f"{_md(case.ours.label)} | {_md_time(case.ours)}" if i == 0 else " | "
            out.append(f"| {left} | {_md(row.measured.label)} | {_md_time(row.measured)} | {fmt_ratio(row.ratio)} |")
    notes = {}
    for case in results:
        for m in [case.ours] + [row.measured for row in case.peers]:
            if m.median is not None and m.note:
                notes[m.label] = m.note
    if notes:
        out += ["", "## Notes", ""] + [f"- {_md(label)}: {_md(note)}" for label, note in notes.items()]
    accs = [(a.workload or case.ours.label, a) for case in results for a in case.accuracy]
    if accs:
        out += ["", "## Accuracy (largest differences from the reference on the same samples)", "",
                "| workload | implementation | reference | near-Earth \\|Δr\\| | \\|Δv\\| | deep-space \\|Δr\\| | \\|Δv\\| | error codes differ |",
                "|---|---|---|---:|---:|---:|---:|---:|"]
        for case_label, a in accs:
            codes = "—" if a.codes_differ is None else f"{a.codes_differ:,} of {a.samples:,}"
            note = f" ({_md(a.note)})" if a.note else ""
            out.append(f"| {_md(case_label)} | {_md(a.label)}{note} | {_md(a.reference)} | {fmt_length(a.near_dr)} | "
                       f"{fmt_length(a.near_dv, '/s')} | {fmt_length(a.deep_dr)} | {fmt_length(a.deep_dv, '/s')} | {codes} |")
    return "\n".join(out) + "\n"


def _target_text(t: Target) -> str:
    if t.unit == "ratio":
        return f"{t.text} (ratio {t.op} {_limit(t)})"
    return t.text


def _md_value(t: Target) -> str:
    if t.value is None:
        return "n/a"
    if t.unit in ("ns", "s"):
        return f"{t.value:.3g} {t.unit}"
    return f"{t.value:.3g}"


def _md(s: str) -> str:
    return s.replace("|", "\\|")


def _md_time(m) -> str:
    if m.median is None:
        return "n/a"
    return fmt_time(m.per_item) + "/item" if m.items > 1 else fmt_time(m.median)


def as_dict(case: Case) -> dict:
    d = dataclasses.asdict(case)
    for row, raw in zip(case.peers, d["peers"]):
        if row.target:
            raw["target"]["passed"] = row.target.passed
    for t, raw in zip(case.targets, d["targets"]):
        raw["passed"] = t.passed
    for m, raw in zip(case.memory, d["memory"]):
        t = memory_target(m)
        raw["excess"] = m.excess
        raw["passed"] = t.passed if t else None
    return d
