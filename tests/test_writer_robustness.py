"""Hostile callbacks and repeated calls: containers changed under the walk, and no leaked objects."""

import gc
import tracemalloc

import pytest

from tavik.amazon_rufus.services import rundown_writer


def test_re_replacement_that_empties_the_cells_being_checked(writer, monkeypatch):
    import re

    cells = ["---", "---", "---"]

    class ClearingRe:
        @staticmethod
        def match(pattern, string):
            cells.clear()
            return re.match(pattern, string)

    monkeypatch.setattr(rundown_writer, "re", ClearingRe)
    assert writer._is_markdown_delimiter_row(cells) is True


def test_block_whose_get_empties_the_block_list(writer):
    blocks = []

    class Block(dict):
        def get(self, key, default=None):
            blocks.clear()
            return dict.get(self, key, default)

    blocks.extend([Block(type="text", text="a"), {"type": "text", "text": "b"}])
    assert writer._render_blocks(blocks) == ["a"]
    blocks.extend([Block(kind="text", text="a"), {"kind": "text", "text": "b"}])
    assert writer._to_structured_blocks(blocks) == [{"type": "paragraph", "text": "a"}]


def test_heading_parser_that_rewrites_the_lines(module):
    class Writer(module.RundownWriter):
        def _normalize_text_lines(self, text):
            self.lines = super()._normalize_text_lines(text)
            return self.lines

        def _parse_markdown_heading(self, line):
            self.lines[:] = self.lines[:2]
            return super()._parse_markdown_heading(line)

    assert Writer()._build_text_fallback_blocks("# a\n# b\n# c\n# d") == [
        {"kind": "heading", "level": 1, "text": "a"},
        {"kind": "heading", "level": 1, "text": "b"},
    ]


SAMPLE = "Intro\n\n## Pros\n- fast\n  and light\n| a | b |\n| --- | --- |\n| 1 | 2 |\n```\ncode\n```\n\ud800"
CALLS = [
    ("_build_text_fallback_blocks", (SAMPLE,)),
    ("_parse_markdown_table", (SAMPLE.split("\n"), 5)),
    ("_render_blocks", ([{"type": "heading", "text": "h"}, {"type": "list", "items": ["a"]},
                         {"type": "table", "header": ["a"], "rows": [["b"]]}, {"type": "text", "text": "t"}],)),
    ("_to_structured_blocks", ([{"kind": "table", "header": ["a", "b"], "rows": [["1", "2"]]}, {"kind": "heading"}],)),
    ("_collapse_blank_lines", (SAMPLE + "\n\n\n",)),
    ("_parse_pipe_row", (None,)),  # the error path must not leak either
    ("_parse_markdown_table", (["x"], "bad")),
    ("format_data", ({"questions": ["q"], "answers": [{"text": SAMPLE, "summaryText": 3.5, "productLinks": ["a", {"href": "h"}],
                      "blocks": [{"type": "table_row", "cells": ["a", 1]}, {"type": "table_row", "text": "b|c"}]}]},)),
    ("format_data", ({"answers": [{"text": SAMPLE, "summaryText": object()}]},)),  # not plain: the generic path
    ("format_data", ({"answers": [{"text": 10**5000}]},)),  # str() refuses: the error path
]


@pytest.mark.parametrize("name, args", CALLS)
def test_repeated_calls_do_not_grow_memory(writer, name, args):
    method = getattr(writer, name)

    def run(n):
        for _ in range(n):
            try:
                method(*args)
            except (TypeError, ValueError):
                pass

    run(200)
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    run(3000)
    gc.collect()
    grown = tracemalloc.get_traced_memory()[0] - before
    tracemalloc.stop()
    assert grown < 20_000, f"{name} kept {grown} bytes over 3000 calls"
