"""Recognising single Markdown lines: headings, list items, pipe rows, delimiter rows and pipe tables."""

import re

import pytest
from hypothesis import given, strategies as st


def heading(level, text):
    return {"kind": "heading", "level": level, "text": text}


def item(text):
    return {"kind": "list_item", "text": text}


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


def table(header, rows):
    return {"kind": "table", "header": header, "rows": rows}


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


PATTERNS = {
    "heading": r"^(#{1,6})\s+(.*)$",
    "bullet": r"^([-*•])\s+(.*)$",
    "ordered": r"^\d+[.)]\s+(.*)$",
}
line_chars = st.sampled_from(list("#-*•1٣.) |:\t\u3000\u2028\x85\x1cab\n") + ["\ud800"])
lines_text = st.text(line_chars, max_size=12) | st.text(max_size=12)


@given(lines_text)
def test_parsers_agree_with_re_and_never_raise(line):
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter

    writer = RundownWriter()
    trimmed = line.strip()
    h = re.match(PATTERNS["heading"], trimmed)
    expected = {"kind": "heading", "level": len(h.group(1)), "text": h.group(2).strip()} if h else None
    assert writer._parse_markdown_heading(line) == (expected if expected and expected["text"] else None)
    result = writer._parse_markdown_list_item(line)
    assert result is None or (result["text"] and result["text"] == result["text"].strip())
    row = writer._parse_pipe_row(line)
    assert row is None or (len(row) >= 2 and any(c and c != "-" for c in row))
