"""Recognising single Markdown lines: headings, list items, pipe rows, delimiter rows and pipe tables (random
lines against `re.match` and the plain-Python writer: test_fast_path.py)."""

import pytest

from reliability_support import heading, item, table


@pytest.mark.parametrize(
    "line, expected",
    [
        ("## Title", heading(2, "Title")),
        ("   ###   Spaced   ", heading(3, "Spaced")),
        ("###### Six", heading(6, "Six")),
        ("## Title ##", heading(2, "Title ##")),
        ("#\u3000全角空格", heading(1, "全角空格")),
        ("#\u2028x", heading(1, "x")),
        ("####### Seven", None),
        ("#NoSpace", None),
        ("# ", None),
        ("#", None),
        ("", None),
        ("text # not", None),
        ("# a\nb", None),  # `.` stops at a line feed, and `$` is the end of the stripped line
    ],
)
def test_heading(writer, line, expected):
    result = writer._parse_markdown_heading(line)
    assert result == expected
    if result:
        assert list(result) == ["kind", "level", "text"]


@pytest.mark.parametrize(
    "line, expected",
    [
        ("- item", item("item")),
        ("* item", item("item")),
        ("• item", item("item")),
        ("  - item", item("item")),
        ("3) third", item("third")),
        ("12. twelfth", item("twelfth")),
        ("\u0663. 阿拉伯数字", item("阿拉伯数字")),  # Arabic-Indic three is a decimal digit
        ("- - nested", item("- nested")),
        ("-\u3000x", item("x")),
        ("-item", None),
        ("+ item", None),
        ("1.5 kg", None),
        ("---", None),
        ("- ", None),
        ("1. ", None),
        ("1.", None),
        ("a. b", None),
        ("- a\nb", None),
    ],
)
def test_list_item(writer, line, expected):
    assert writer._parse_markdown_list_item(line) == expected


@pytest.mark.parametrize(
    "line, expected",
    [
        ("| a | b |", ["a", "b"]),
        ("a | b", ["a", "b"]),
        ("  |a|b|  ", ["a", "b"]),
        ("||a|b||", ["", "a", "b", ""]),
        ("| a | | c |", ["a", "", "c"]),
        ("| - | x |", ["-", "x"]),
        ("| --- | :---: |", ["---", ":---:"]),
        ("\ud800|\x00", ["\ud800", "\x00"]),
        ("| a |", None),
        ("a |", None),
        ("| - | - |", None),
        ("| | |", None),
        ("|-|-|", None),
        ("no pipes", None),
        ("|", None),
        ("||", None),
    ],
)
def test_pipe_row(writer, line, expected):
    assert writer._parse_pipe_row(line) == expected


@pytest.mark.parametrize(
    "cells, expected",
    [
        (["---", "---"], True),
        ([":---", "---:", ":---:", "----------"], True),
        ([" --- "], True),
        ([], False),
        (["--"], False),
        ([":-:"], False),
        (["- - -"], False),
        (["---", "x"], False),
        (["::---"], False),
        (["---\n"], True),  # stripped first
    ],
)
def test_delimiter_row(writer, cells, expected):
    assert writer._is_markdown_delimiter_row(cells) is expected


def test_delimiter_row_cells_must_be_strings(writer):
    with pytest.raises(AttributeError):
        writer._is_markdown_delimiter_row(["---", 3])


@pytest.mark.parametrize(
    "lines, start, expected",
    [
        (["| a | b |", "| --- | --- |", "| 1 | 2 |", "| 3 | 4 |", ""], 0, (table(["a", "b"], [["1", "2"], ["3", "4"]]), 4)),
        (["| a | b |", "| --- | --- |", "| 1 | 2 |", "| 3 | 4 |"], 0, (table(["a", "b"], [["1", "2"], ["3", "4"]]), 4)),
        (["x", "| a | b |", "|---|:-:|"], 1, None),
        (["x", "| a | b |", "|---|---|"], 1, (table(["a", "b"], []), 3)),
        (["| a | b |", "| --- | --- |", "| c | d |", "| --- | --- |", "| e | f |"], 0, (table(["a", "b"], [["c", "d"]]), 3)),
        (["| a | b |", "| --- | --- |", "| c | d |", "plain", "| e | f |"], 0, (table(["a", "b"], [["c", "d"]]), 3)),
        (["| a | b |", "| --- | --- |", "| one |"], 0, (table(["a", "b"], []), 2)),
        (["| a | b |", "| --- |"], 0, None),
        (["| a | b | c |", "| --- | --- |", "  | 1 | 2 | 3 | 4 |  "], 0, (table(["a", "b", "c"], [["1", "2", "3", "4"]]), 3)),
        (["| a | b |", "|-|-|", "| 1 | 2 |"], 0, None),
        (["| a | b |", "plain"], 0, None),
        (["| a | b |"], 0, None),
        (["| a | b |", "| --- | --- |"], 2, None),
        (["| a | b |", "| --- | --- |"], 5, None),
        ([], 0, None),
    ],
)
def test_table(writer, lines, start, expected):
    assert writer._parse_markdown_table(lines, start) == expected


def test_table_keys_in_order(writer):
    block, _ = writer._parse_markdown_table(["a | b", "--- | ---"], 0)
    assert list(block) == ["kind", "header", "rows"]


class Shrinking:
    """A subclass whose row parser empties the lines while the table is being read."""

    def make(self, rundown):
        class Writer(rundown.RundownWriter):
            def _parse_pipe_row(self, line):
                cells = super()._parse_pipe_row(line)
                if cells and cells[0] == "1":
                    lines.clear()
                return cells

        lines = ["| a | b |", "| --- | --- |", "| 1 | 2 |", "| 3 | 4 |"]
        return Writer(), lines


def test_table_survives_lines_changed_by_an_override(module):
    writer, lines = Shrinking().make(module)
    assert writer._parse_markdown_table(lines, 0) == (table(["a", "b"], [["1", "2"]]), 3)
