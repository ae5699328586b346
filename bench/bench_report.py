"""Benchmark of RundownWriter.format_data: the native report against the generic path, side by side.

Run: python bench/bench_report.py [--quick]

Prints, per case (among them the realistic record and the same with emoji-heavy text, whose strs store 4 bytes
per character), the median time per report of the native path, of the generic path (forced by a subclass
that replaces one step) and of the same rules written as plain Python (reference_writer.py), timed in turn
round after round, the medians of the per-round ratios of both to the native path, the report's output rate
(MB/s of UTF-8), and for each scale series the growth exponent (log-log slope of time against size).

In each round every contender writes a batch of reports back to back (as many as take 20 ms or more, at least
one), and its time per report is the batch's time over its size. All three must give the same report. Every
report runs on the calling thread alone. A last table gives the peak memory of the native report beyond the
input record and the returned string, measured in a fresh process with tracemalloc (the interpreter's
allocations) and the peak resident size (all of them, reset before the call through /proc/self/clear_refs).
The minor page faults per report of the realistic case tell when the allocator's give and take of memory
with the system weighs on a timing. The instruction counts, which the load of a shared machine does not move,
come from instructions.py (run with --instructions to have them printed here too).
"""

from __future__ import annotations

import argparse
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
from reference_writer import ReferenceWriter  # noqa: E402

from tavik.amazon_rufus.services.rundown_writer import RundownWriter  # noqa: E402


def batch_sizes(fns) -> list[int]:
    """Reports per batch for each function: the first count of 1, 2, 5, 10, 20, 50, ... whose batch takes
    20 ms or more once the function has run (as `timeit` sizes its loops)."""
    sizes = []
    for fn in fns:
        fn()
        k = 1
        while True:
            t0 = time.perf_counter()
            for _ in range(k):
                fn()
            if time.perf_counter() - t0 >= 0.02:
                break
            k = k * 5 // 2 if str(k)[0] == "2" else k * 2
        sizes.append(k)
    return sizes


def minor_faults() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def interleaved(fns, budget: float, max_runs: int, faults: list[float] | None = None) -> list[list[float]]:
    """Times each function once per round, round after round, so that all of them meet the same state of a
    shared machine; returns the times per report, per function. `faults`, when given, receives each
    function's minor page faults per report: memory that the allocator gave back to the system between two
    reports and takes again, which shows in the time."""
    sizes = batch_sizes(fns)
    times: list[list[float]] = [[] for _ in fns]
    counts = [0] * len(fns)
    start = time.perf_counter()
    while len(times[0]) < max_runs and (len(times[0]) < 5 or time.perf_counter() - start < budget):
        for i, (fn, k, out) in enumerate(zip(fns, sizes, times)):
            f0 = minor_faults()
            t0 = time.perf_counter()
            for _ in range(k):
                fn()
            out.append((time.perf_counter() - t0) / k)
            counts[i] += minor_faults() - f0
    if faults is not None:
        faults[:] = [c / (k * len(t)) for c, k, t in zip(counts, sizes, times)]
    return times


def median_ratio(slow: list[float], fast: list[float]) -> float:
    return statistics.median(s / f for s, f in zip(slow, fast))


def slope(sizes, times) -> float:
    xs = [math.log(s) for s in sizes]
    ys = [math.log(t) for t in times]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def measure(name, record, budget, generic=True, max_runs=200, faults=None):
    fast, slow, python = RundownWriter(), corpus.Generic(), ReferenceWriter()
    report = fast.format_data(record)
    if generic:
        assert slow.format_data(record) == report, f"{name}: the native and generic paths disagree"
        assert python.format_data(record) == report, f"{name}: the native path and the Python code disagree"
    out_mb = len(report.encode("utf-8", "surrogatepass")) / 1e6
    nan = float("nan")
    fns = [lambda: fast.format_data(record)]
    if generic:
        fns += [lambda: slow.format_data(record), lambda: python.format_data(record)]
    times = interleaved(fns, budget, max_runs, faults)
    t_fast = statistics.median(times[0])
    t_slow, t_python = (statistics.median(t) for t in times[1:]) if generic else (nan, nan)
    r_slow, r_python = (median_ratio(t, times[0]) for t in times[1:]) if generic else (nan, nan)
    print(f"{name:<28} {t_fast * 1e3:>10.3f} {t_slow * 1e3:>11.3f} {r_slow:>8.1f}x "
          f"{t_python * 1e3:>10.3f} {r_python:>8.1f}x {out_mb / t_fast:>8.1f} {out_mb:>8.3f}")
    return t_fast, out_mb


MEMORY_PROBE = r"""
import gc, json, sys, tracemalloc
sys.path.insert(0, sys.argv[1])
import corpus
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

def peak_rss():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM"))

record = corpus.single_answer_record(int(sys.argv[2]))
writer = RundownWriter()
writer.format_data({"answers": [{"text": "warm up"}]})
gc.collect()
with open("/proc/self/clear_refs", "w") as refs:  # peak resident size starts again from the current one
    refs.write("5")
before = peak_rss()
tracemalloc.start()
report = writer.format_data(record)
traced = tracemalloc.get_traced_memory()[1]
tracemalloc.stop()
size = sys.getsizeof(report)
print(json.dumps({"report": size, "traced": max(0, traced - size), "rss": max(0, peak_rss() - before - size)}))
"""


def memory(size: int) -> dict:
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, here, str(size)], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="shorter timing budget and smaller series")
    parser.add_argument("--instructions", action="store_true", help="also count instructions with callgrind")
    args = parser.parse_args()
    budget = 0.3 if args.quick else 1.5

    header = (f"{'case':<28} {'native ms':>10} {'generic ms':>11} {'ratio':>9} {'python ms':>10} {'ratio':>9}"
              f" {'MB/s':>8} {'out MB':>8}")
    print(header)
    print("-" * len(header))
    faults: list[float] = []
    measure("realistic: 50 answers x 2KB", corpus.realistic_record(), budget, faults=faults)
    measure("emoji: 50 answers x 2KB", corpus.emoji_record(), budget)

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

    print()
    print("minor page faults per realistic report: native {:.1f}, generic {:.1f}, python {:.1f}".format(*faults))
    if args.instructions:
        import instructions
        for case in ("realistic", "emoji"):
            instructions.main(["--case", case])
    else:
        print("instructions per report: python bench/instructions.py [--case emoji] (valgrind --tool=callgrind)")


if __name__ == "__main__":
    main()
