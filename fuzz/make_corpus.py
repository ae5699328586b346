"""Writes the seed corpus fuzz/corpus/ from the worked records: the example run results, the golden test
records (read from the test suite, so pytest must be importable), and a few texts and line lists of the
constructs that the text walk knows. Run it with the installed package on the path:
    python fuzz/make_corpus.py"""

from __future__ import annotations

import glob
import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import records  # noqa: E402

TEXTS = [
    "Intro\n\n## Pros\n- fast\n  and light\n1. cheap\n| a | b |\n| --- | --- |\n| 1 | 2 |\nClosing",
    "Before\n```\nx = 1\n\n# not a heading\n```\nAfter",
    "```\ncode",
    "- item\n\n  more\n- item\nplain\n  tail\n# Title\n  indented",
    "| a | b |\nplain\n\n| a | b |\n| --- | --- |\n| c | d |\n| --- | --- |\n| e | f |",
    "| p | q |\n|---|---|\n\n| r | s |\n| --- | :---: |\n| 1 | 2 | 3 |\n| 4 |\n|-|-|\n| - | - |\n||a|b||",
    "## Title ##\n   ###   Spaced   \n####### Seven\n#NoSpace\n# \n* star\n• bullet\n3) third\n12. twelfth\n-item\n+ item\n1.5 kg\n---\n- ",
    "a\r\nb\rc\n\x0bd\x0ce\x1cf\x1dg\x1eh\x85i\u2028j\u2029k\u3000\n\u3000\n\t\n",
    "表格 😀\n| 名称 | 价格 🎒 |\n| :--- | ---: |\n| 帐篷 | ¥20 |\n\n- 中文 \U0001F3D5\n  续行\u3000\n",
]

WIDE = ["Model", " 型号 ", None, 3, 4.5, True, False, "", "😀 wide", "-", "last"]

# Rows wider than the few cells that the native report keeps inline, given as cells and as pipe text.
RECORDS = [
    {"answers": [{"blocks": [
        {"type": "table_row", "cells": WIDE},
        {"type": "table_row", "cells": WIDE[:3]},
        {"type": "table_row", "cells": WIDE + WIDE},
        {"type": "table_row", "text": " | ".join(f"c{i}" for i in range(12))},
        {"type": "table_row", "cells": WIDE},
        {"type": "heading", "text": "lone wide row", "level": 3},
        {"type": "table_row", "text": "|" + "|".join("中" * i for i in range(1, 11)) + "|"},
    ]}]},
    {"answers": [{"text": "| " + " | ".join(f"h{i}" for i in range(10)) + " |\n|" + "---|" * 10 + "\n"
                          + "| " + " | ".join(f"v{i}" for i in range(14)) + " |\n| 1 | 2 |"}]},
]

LINE_LISTS = [
    ["| a | b |", "| --- | --- |", "| c | d |", "", "x"],
    ["| a | b |\r", "| --- | --- |\n", "|c|d|\u2028", "| --- |"],
    ["# heading\nsecond", "- item\x85x", "| a\n| b |", "|:---:|---|"],
]


def golden_records() -> list[dict]:
    sys.path.insert(0, os.path.join(ROOT, "tests"))
    import test_report_golden as golden  # the worked reports of the test suite

    found = [param.values[0] for param in golden.REPORTS]
    return [r for r in found if isinstance(r, dict)]


def main() -> None:
    out_dir = os.path.join(HERE, "corpus")
    os.makedirs(out_dir, exist_ok=True)
    seeds: list[bytes] = []
    for path in sorted(glob.glob(os.path.join(ROOT, "examples", "*.json"))):
        with open(path, encoding="utf-8") as f:
            seeds.append(records.encode(json.load(f)))
    seeds += [records.encode(record) for record in golden_records() + RECORDS]
    seeds += [records.encode({"answers": [{"text": text}]}) for text in TEXTS]
    seeds.append(records.encode({}, texts=TEXTS[:3], line_lists=LINE_LISTS))
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(out_dir, f"seed-{name}"), "wb") as f:
            f.write(seed)
    print(f"{len(seeds)} seeds in {out_dir}")


if __name__ == "__main__":
    main()
