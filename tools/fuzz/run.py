"""Run the fuzz targets for a time budget.

    python tools/fuzz/run.py --seconds 90            # what CI runs
    python tools/fuzz/run.py --seconds 3600 --seed 1 # a long run, reproducible

The targets take turns in rounds of ``--batch`` examples each until the
budget is spent.  A target that finds a failure is shrunk by Hypothesis to a
small example, which is printed; the run goes on with the other targets and
exits with status 1.  A hang (one example running longer than ``--hang``
seconds) dumps every thread's stack and ends the process with status 1; a
crash ends it with the signal's status.  At the end the counts are printed:
inputs tried, records and sets built, calls made.
"""

from __future__ import annotations

import argparse
import faulthandler
import os
import random
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from hypothesis import HealthCheck, Phase, given, seed as hseed, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import fuzz_targets  # noqa: E402


def guarded(target, hang_seconds):
    """`target` with a watchdog: an example that runs too long ends the process."""

    def run(data):
        faulthandler.dump_traceback_later(hang_seconds, exit=True)
        try:
            target(data)
        finally:
            faulthandler.cancel_dump_traceback_later()

    return run


def run_batch(name, examples, seed, hang_seconds, shrink=True):
    """Run `examples` examples of target `name`; the failure's text, or None."""
    phases = [Phase.generate, Phase.shrink] if shrink else [Phase.generate]
    test = settings(
        max_examples=examples,
        deadline=None,
        database=None,
        phases=phases,
        suppress_health_check=list(HealthCheck),
        report_multiple_bugs=False,
    )(hseed(seed)(given(st.data())(guarded(fuzz_targets.TARGETS[name], hang_seconds))))
    try:
        test()
    except Exception:  # noqa: BLE001 - the failure is the report
        return traceback.format_exc()
    return None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=90.0, help="time budget (default 90)")
    parser.add_argument("--batch", type=int, default=200, help="examples per target per round")
    parser.add_argument("--seed", type=int, default=None, help="seed of the first round (default: random)")
    parser.add_argument("--hang", type=float, default=20.0, help="seconds one example may take")
    parser.add_argument("--targets", nargs="*", default=sorted(fuzz_targets.TARGETS))
    args = parser.parse_args(argv)

    faulthandler.enable()
    rng = random.Random(args.seed)
    first_seed = args.seed if args.seed is not None else rng.randrange(2**32)
    print(f"fuzzing {', '.join(args.targets)} for {args.seconds:g} s, first seed {first_seed}", flush=True)
    deadline = time.monotonic() + args.seconds
    failures = {}
    rounds = 0
    seed = first_seed
    while time.monotonic() < deadline:
        for name in args.targets:
            if name in failures or time.monotonic() >= deadline:
                continue
            report = run_batch(name, args.batch, seed, args.hang)
            if report:
                failures[name] = (seed, report)
                print(f"FAILURE in target {name} (seed {seed}):\n{report}", flush=True)
        rounds += 1
        seed = rng.randrange(2**32)
        if len(failures) == len(args.targets):
            break

    c = fuzz_targets.counts
    print(f"rounds: {rounds}")
    print(f"inputs tried: {c['inputs tried']}")
    print(f"records built: {c['records built']}")
    print(f"sets built: {c['sets built']}")
    print(f"catalogues read: {c['catalogues read']}")
    print(f"calls made: {c['calls made']} "
          f"(arrays returned: {c['arrays returned']}, floats returned: {c['floats returned']})")
    if failures:
        print(f"failed targets: {', '.join(f'{n} (seed {s})' for n, (s, _) in sorted(failures.items()))}")
        return 1
    print("no failures")
    return 0


if __name__ == "__main__":
    sys.exit(main())
