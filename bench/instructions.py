"""Instructions per report of the realistic record or of the same with emoji-heavy text, counted by valgrind's
callgrind: a figure that the load of a shared machine does not move.

Run: python bench/instructions.py [--reports N] [--case realistic|emoji|100kb]

Runs the same script twice under `valgrind --tool=callgrind`, once writing no report and once writing N
(after one report that warms up both runs alike), and prints the difference over N for the native path and for
the generic path (a subclass that replaces one step). Needs valgrind on the PATH.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

PROBE = r"""
import sys
sys.path.insert(0, sys.argv[1])
import corpus
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

writer = corpus.Generic() if sys.argv[2] == "generic" else RundownWriter()
record = {"realistic": corpus.realistic_record, "emoji": corpus.emoji_record,
          "100kb": lambda: corpus.single_answer_record(100_000)}[sys.argv[4]]()
writer.format_data(record)
for _ in range(int(sys.argv[3])):
    writer.format_data(record)
"""


def total_instructions(path: str, reports: int, case: str) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        # A fixed hash seed: the layout of every dict, and with it the count, is then the same from run to run.
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c", PROBE,
                        HERE, path, str(reports), case], check=True, capture_output=True,
                       env={**os.environ, "PYTHONHASHSEED": "0"})
        with open(out) as f:
            return int(re.search(r"^summary:\s*(\d+)", f.read(), re.M).group(1))


def per_report(path: str, reports: int, case: str) -> float:
    return (total_instructions(path, reports, case) - total_instructions(path, 0, case)) / reports


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reports", type=int, default=20, help="reports counted on each path (default 20)")
    parser.add_argument("--case", choices=["realistic", "emoji", "100kb"], default="realistic",
                        help="the realistic record, the same with emoji-heavy text, or one answer of 100 KB (default realistic)")
    args = parser.parse_args(argv)
    native = per_report("native", args.reports, args.case)
    generic = per_report("generic", max(1, args.reports // 4), args.case)
    print(f"instructions per {args.case} report: native {native / 1e6:.3f}M, generic {generic / 1e6:.2f}M, "
          f"ratio {generic / native:.1f}x")


if __name__ == "__main__":
    main()
