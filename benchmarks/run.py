#!/usr/bin/env python3
"""Side-by-side benchmarks of quorvane against its peers, in one run.

    python benchmarks/run.py [--only GROUP] [--markdown PATH] [--no-save]

Prints a table of medians and ratios (ours ÷ peer: below 1 means quorvane is
faster), with PASS/MISS beside each target, and saves everything (every
sample, the machine, the versions) as JSON in benchmarks/results/.

OpenBLAS: on some processors this environment sets OPENBLAS_CORETYPE and
OPENBLAS_L2_SIZE (older OpenBLAS builds misbehave there); they slow a current
NumPy.  For a fair NumPy baseline this process removes both before NumPy is
loaded, and records what it removed and which kernel threadpoolctl then
reports.  It also sets OPENBLAS_NUM_THREADS=1 unless that is set already (no
timed statement uses BLAS; an idle worker would only compete for a core).
Nothing outside this process is changed.
"""

from __future__ import annotations

import os
import sys

_BLAS_VARIABLES = ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")
_REMOVED = {name: os.environ.pop(name) for name in _BLAS_VARIABLES if name in os.environ}
# No timed statement uses BLAS, but an idle OpenBLAS worker still spins for a
# while after start-up and takes a core from the single-threaded code being
# timed (3-6 % of the samples on a 2-core machine).
_SET = {} if "OPENBLAS_NUM_THREADS" in os.environ else {"OPENBLAS_NUM_THREADS": "1"}
os.environ.update(_SET)
if (_REMOVED or _SET) and "numpy" in sys.modules:  # too late for this process: start again
    os.execv(sys.executable, [sys.executable, *sys.argv])

import argparse  # noqa: E402
import dataclasses  # noqa: E402
import datetime as dt  # noqa: E402
import importlib.metadata  # noqa: E402
import json  # noqa: E402
import platform  # noqa: E402
import subprocess  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))

import numpy as np  # noqa: E402

import cases  # noqa: E402
import lanes_cases  # noqa: E402
import report  # noqa: E402

HERE = Path(__file__).resolve().parent
# "frames" is the first case of "ground" alone (propagate(frame=ITRF) + geodetic).
GROUPS = ("scalar", "relations", "anomalies", "states", "tles", "catalogue", "sgp4", "lanes", "ground", "frames",
          "screen")


def machine() -> dict:
    info = {
        "when": dt.datetime.now().isoformat(timespec="seconds"),
        "platform": platform.platform(),
        "cpu": _cpu_model(),
        "cpus": os.cpu_count(),
        "python": sys.version.split()[0],
        "numpy": np.__version__,
        "removed_environment": _REMOVED,
        "set_environment": _SET,
        "commit": _git("rev-parse", "--short", "HEAD"),
        "tree_clean": _git("status", "--porcelain", "--untracked-files=no", "--", ".") == "",
    }
    for dist in ("sgp4", "skyfield", "hapsira", "numba", "astroz", "heyoka", "satkit"):
        try:
            info[dist] = importlib.metadata.version(dist)
        except importlib.metadata.PackageNotFoundError:
            info[dist] = None
    try:
        from threadpoolctl import threadpool_info

        info["threadpools"] = [
            {k: pool.get(k) for k in ("internal_api", "version", "architecture", "num_threads")} for pool in threadpool_info()
        ]
    except ImportError:
        info["threadpools"] = "threadpoolctl not installed"
    return info


def _cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def _git(*args) -> str | None:
    try:
        out = subprocess.run(["git", *args], cwd=HERE, capture_output=True, text=True, check=True)
        return out.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None


def run(groups) -> list:
    ours = cases.Ours()
    done = []
    if "scalar" in groups:
        done += cases.scalar_cases(ours)
    if "relations" in groups or "anomalies" in groups:
        x = cases.array_inputs()
        if "relations" in groups:
            done += cases.relation_cases(ours, x)
        if "anomalies" in groups:
            done += cases.anomaly_cases(ours, x)
        del x
    if "states" in groups:
        done += cases.state_cases(ours, cases.state_inputs(ours))
    if "tles" in groups:
        done += cases.tle_cases(ours)
    if "catalogue" in groups:
        import catalogue_cases

        done += catalogue_cases.catalogue_cases(ours)
    if "sgp4" in groups:
        import sgp4_cases  # sets SATKIT_OFFLINE before satkit is imported

        done += sgp4_cases.sgp4_cases()
    if "lanes" in groups:
        done += lanes_cases.lanes_cases()
    if "ground" in groups or "frames" in groups:
        import ground_cases

        done += ground_cases.ground_cases(only_frames="ground" not in groups)
    if "screen" in groups:
        import screen_cases

        done += screen_cases.screen_cases()
    return done


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", action="append", choices=GROUPS, help="run only this group (repeatable)")
    parser.add_argument("--markdown", type=Path, help="also write the table as Markdown to this file")
    parser.add_argument("--no-save", action="store_true", help="do not write JSON to benchmarks/results/")
    args = parser.parse_args(argv)

    info = machine()
    started = time.perf_counter()
    results = run(tuple(args.only or GROUPS))
    info["seconds"] = round(time.perf_counter() - started, 1)

    print(report.text(results, info))
    if not args.no_save:
        out = HERE / "results"
        out.mkdir(exist_ok=True)
        stamp = dt.datetime.now().strftime("%Y%m%d-%H%M%S")
        payload = json.dumps({"machine": info, "cases": [report.as_dict(c) for c in results]}, indent=1, default=_json)
        (out / f"bench-{stamp}.json").write_text(payload)
        (out / "latest.json").write_text(payload)
        print(f"\nsaved benchmarks/results/bench-{stamp}.json")
    if args.markdown:
        args.markdown.write_text(report.markdown(results, info))
        print(f"wrote {args.markdown}")
    return 0


def _json(obj):
    if dataclasses.is_dataclass(obj):
        return dataclasses.asdict(obj)
    if isinstance(obj, np.generic):
        return obj.item()
    raise TypeError(type(obj).__name__)


if __name__ == "__main__":
    sys.exit(main())
