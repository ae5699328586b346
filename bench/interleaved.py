"""Two builds of rundown_writer timed against each other in one process, round by round.

Run: python bench/interleaved.py OTHER_SO [--rounds N] [--case realistic|emoji]

Loads the installed module and the module file OTHER_SO (a build of another commit, say) side by side, then
times the native report of each on the bench's record in turn, round after round, and prints the median time
per report of each and the median of the per-round ratios (installed / other).
"""

from __future__ import annotations

import argparse
import importlib.util
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402

from tavik.amazon_rufus.services.rundown_writer import RundownWriter  # noqa: E402


def load(path: str):
    spec = importlib.util.spec_from_file_location("other.rundown_writer", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def per_report(fn, n: int) -> float:
    start = time.perf_counter()
    for _ in range(n):
        fn()
    return (time.perf_counter() - start) / n


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("other")
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--case", default="realistic")
    args = parser.parse_args(argv)
    record = getattr(corpus, f"{args.case}_record")()
    this, other = RundownWriter(), load(args.other).RundownWriter()
    assert this.format_data(record) == other.format_data(record)
    mine, theirs, ratios = [], [], []
    for k in range(args.rounds):
        pair = [(this, mine), (other, theirs)]
        for writer, times in pair if k % 2 else reversed(pair):
            times.append(per_report(lambda: writer.format_data(record), 20))
        ratios.append(mine[-1] / theirs[-1])
    print(f"{args.case}: installed {statistics.median(mine) * 1e3:.3f} ms, other {statistics.median(theirs) * 1e3:.3f} ms, "
          f"ratio {statistics.median(ratios):.3f} (median of {args.rounds} rounds)")


if __name__ == "__main__":
    main()
