"""Benchmark of RundownWriter.format_data: the native report against the generic path, side by side.

Run: python bench/bench_report.py [--quick]

Prints, per case, the median time per report of both paths, their ratio, the report's output rate (MB/s of
UTF-8), and for each scale series the growth exponent (log-log slope of time against size). A last table
gives the peak memory of the native report beyond the input record and the returned string, measured in a
fresh process with tracemalloc (the interpreter's allocations) and the peak resident size (all of them).
"""

from __future__ import annotations

import argparse
import json
import math
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402

from tavik.amazon_rufus.services.rundown_writer import RundownWriter  # noqa: E402


class Generic(RundownWriter):
    """Replacing one step (by itself) sends every report down the generic path."""

    def _render_blocks(self, blocks):
        return super()._render_blocks(blocks)


def median_time(fn, budget: float, max_runs: int) -> float:
    times = []
    start = time.perf_counter()
    while len(times) < max_runs and (len(times) < 3 or time.perf_counter() - start < budget):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def slope(sizes, times) -> float:
    xs = [math.log(s) for s in sizes]
    ys = [math.log(t) for t in times]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def measure(name, record, budget, generic=True, max_runs=200):
    fast, slow = RundownWriter(), Generic()
    report = fast.format_data(record)
    if generic:
        assert slow.format_data(record) == report, f"{name}: the two paths disagree"
    out_mb = len(report.encode("utf-8", "surrogatepass")) / 1e6
    t_fast = median_time(lambda: fast.format_data(record), budget, max_runs)
    t_slow = median_time(lambda: slow.format_data(record), budget, max_runs) if generic else float("nan")
    ratio = t_slow / t_fast if generic else float("nan")
    print(f"{name:<28} {t_fast * 1e3:>10.3f} {t_slow * 1e3:>12.3f} {ratio:>8.1f}x {out_mb / t_fast:>9.1f} {out_mb:>9.3f}")
    return t_fast, out_mb


MEMORY_PROBE = r"""
import json, resource, sys, tracemalloc
sys.path.insert(0, sys.argv[1])
import corpus
from tavik.amazon_rufus.services.rundown_writer import RundownWriter
record = corpus.single_answer_record(int(sys.argv[2]))
writer = RundownWriter()
writer.format_data({"answers": [{"text": "warm up"}]})
rss_before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
tracemalloc.start()
report = writer.format_data(record)
current, peak = tracemalloc.get_traced_memory()
tracemalloc.stop()
rss_after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
size = sys.getsizeof(report)
print(json.dumps({"report": size, "traced": peak - size, "rss": max(0, rss_after - rss_before - size)}))
"""


def memory(size: int) -> dict:
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, here, str(size)], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="shorter timing budget and smaller series")
    args = parser.parse_args()
    budget = 0.3 if args.quick else 1.5

    header = f"{'case':<28} {'native ms':>10} {'generic ms':>12} {'ratio':>9} {'MB/s':>9} {'out MB':>9}"
    print(header)
    print("-" * len(header))
    measure("realistic: 50 answers x 2KB", corpus.realistic_record(), budget)

    counts = [1, 10, 100] if args.quick else [1, 10, 100, 1000]
    times = [measure(f"answers: {n}", corpus.realistic_record(n), budget, generic=n <= 100)[0] for n in counts]
    print(f"{'growth exponent (answers)':<28} {slope(counts, times):>10.3f}")

    sizes = [1_000, 10_000, 100_000, 1_000_000] + ([] if args.quick else [10_000_000])
    times = []
    for size in sizes:
        t, _ = measure(f"one answer: {size // 1000} KB", corpus.single_answer_record(size), budget,
                       generic=size <= 100_000, max_runs=50)
        times.append(t)
    print(f"{'growth exponent (size)':<28} {slope(sizes, times):>10.3f}")

    print()
    print(f"{'memory of one answer':<28} {'report MB':>10} {'traced x':>12} {'rss x':>9}")
    for size in sizes[-2:]:
        m = memory(size)
        print(f"{f'{size // 1000} KB':<28} {m['report'] / 1e6:>10.2f} {m['traced'] / m['report']:>12.2f} {m['rss'] / m['report']:>9.2f}")


if __name__ == "__main__":
    main()
