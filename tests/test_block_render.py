"""Intermediate blocks converted to structured blocks, display blocks rendered to lines, and the
blank-line tidy-up of a report."""

import pytest


def test_conversion_of_every_kind(writer):
    header, row_a, row_b = ["A", "B"], ["1", "2"], ["3", "4", "5"]
    blocks = [
        {"kind": "heading", "level": 3, "text": "H"},
        {"kind": "heading"},
        {"kind": "list_item", "text": "i"},
        {"kind": "table", "header": header, "rows": [row_a, "skip", row_b]},
        {"kind": "text", "text": "x"},
        {"text": "x"},
        {"kind": 7},
    ]
    out = writer._to_structured_blocks(blocks)
    assert out == [
        {"type": "heading", "text": "H", "level": 3},
        {"type": "heading", "text": "", "level": 2},
        {"type": "list_item", "text": "i"},
        {"type": "table_row", "text": "A | B", "cells": ["A", "B"]},
        {"type": "table_row", "text": "1 | 2", "cells": ["1", "2"]},
        {"type": "table_row", "text": "3 | 4 | 5", "cells": ["3", "4", "5"]},
        {"type": "paragraph", "text": "x"},
        {"type": "paragraph", "text": "x"},
        {"type": "paragraph", "text": ""},
    ]
    assert [list(b) for b in out[:4]] == [["type", "text", "level"]] * 2 + [["type", "text"], ["type", "text", "cells"]]
    assert out[3]["cells"] is header and out[4]["cells"] is row_a and out[5]["cells"] is row_b


@pytest.mark.parametrize(
    "block, expected",
    [
        ({"kind": "table", "header": ("A", "B"), "rows": [["1", "2"]]}, [("", []), ("1 | 2", ["1", "2"])]),
        ({"kind": "table"}, [("", [])]),
        ({"kind": "table", "header": ["A"], "rows": "not a list"}, [("A", ["A"])]),
    ],
)
def test_conversion_of_malformed_tables(writer, block, expected):
    out = writer._to_structured_blocks([block])
    assert [(b["text"], b["cells"]) for b in out] == expected


@pytest.mark.parametrize(
    "blocks, error",
    [([None], AttributeError), (["text"], AttributeError), ([{"kind": "table", "header": ["a", 1]}], TypeError)],
)
def test_conversion_errors(writer, blocks, error):
    with pytest.raises(error):
        writer._to_structured_blocks(blocks)


def test_rendering_of_every_type(writer):
    blocks = [
        {"type": "heading", "text": "Spec", "level": 1},
        {"type": "list", "items": ["a", "b"]},
        {"type": "table", "header": ["K", "V"], "rows": [["x", "1"]]},
        {"type": "text", "text": "Done"},
    ]
    assert writer._render_blocks(blocks) == [
        "### Spec", "", "- a", "- b", "", "| K | V |", "| --- | --- |", "| x | 1 |", "", "Done",
    ]


@pytest.mark.parametrize(
    "level, marks",
    [(1, 3), (2, 4), (3, 5), (4, 6), (9, 6), (0, 2), (-1, 1), (-5, 1), (10**40, 6), (-(10**40), 1),
     (True, 3), (False, 2), ("2", 4), (None, 4), (2.0, 4)],
)
def test_heading_marks(writer, level, marks):
    assert writer._render_blocks([{"type": "heading", "text": "T", "level": level}]) == ["#" * marks + " T"]


@pytest.mark.parametrize(
    "blocks, expected",
    [
        # The whole line is stripped, not the text: inner blanks after the marks stay.
        ([{"type": "heading", "text": "  Title  ", "level": 1}], ["###   Title"]),
        ([{"type": "heading", "text": "", "level": 1}], ["###"]),
        ([{"type": "heading", "level": 1}], ["###"]),
        ([{"type": "heading", "text": 12, "level": 1}], ["### 12"]),
        ([{"type": "text", "text": "a"}, {"type": "table", "header": []}, {"type": "text", "text": "b"}], ["a", "", "", "b"]),
        ([{"type": "text", "text": "a"}, {"type": "text", "text": "   "}], ["a", ""]),
        ([{"type": "text", "text": "  "}, {"type": "text", "text": "b"}], ["b"]),
        ([{"type": "table", "header": ["A", "B"], "rows": [["1"], "oops", ["2", "3", "4"]]}],
         ["| A | B |", "| --- | --- |", "| 1 |", "| 2 | 3 | 4 |"]),
        ([{"type": "table", "header": [1, None], "rows": [[2.5, True]]}], ["| 1 | None |", "| --- | --- |", "| 2.5 | True |"]),
        ([{"type": "list", "items": [" raw ", 3]}], ["-  raw ", "- 3"]),
        ([{"type": "list"}], []),
        ([{"type": "mystery", "text": " x\ny "}], ["x\ny"]),
        ([{"text": 0}, {"text": ["l"]}], ["['l']"]),
        ([], []),
    ],
)
def test_rendering(writer, blocks, expected):
    assert writer._render_blocks(blocks) == expected


@pytest.mark.parametrize(
    "blocks, error",
    [
        ([{"type": "list", "items": None}], TypeError),
        ([{"type": "table", "header": None}], TypeError),
        ([{"type": "table", "header": ["a"], "rows": None}], TypeError),
        ([3], AttributeError),
    ],
)
def test_rendering_errors(writer, blocks, error):
    with pytest.raises(error):
        writer._render_blocks(blocks)


def test_rendering_reads_blocks_through_get(writer):
    class Block(dict):
        def get(self, key, default=None):
            return {"type": "text", "text": "from get"}.get(key, default)

    assert writer._render_blocks([Block()]) == ["from get"]
    assert writer._to_structured_blocks([Block(kind="heading")]) == [{"type": "paragraph", "text": "from get"}]


@pytest.mark.parametrize(
    "source, expected",
    [
        ("a\n\n\n  \nb  \n\n", "a\n\nb"),
        ("\n\n x", "\n x"),
        ("", ""),
        ("\n \n", ""),
        ("a\r\nb\rc", "a\nb\nc"),
        ("a\n\t\nb", "a\n\nb"),
        ("a\n\u3000\u3000\nb\u3000", "a\n\nb"),
        ("a\x0bb\x0cc\x1cd\x1de\x1ef\x85g\u2028h\u2029i", "a\nb\nc\nd\ne\nf\ng\nh\ni"),
        ("a\x0b\x0cb\x1c\x1d\x1ec\x85\u2028\u2029d\u3000", "a\n\nb\n\nc\n\nd"),
        ("  keep leading  \n", "  keep leading"),
        ("x\ud800 \n\n\ny\x00", "x\ud800\n\ny\x00"),
    ],
)
def test_collapse_blank_lines(writer, source, expected):
    assert writer._collapse_blank_lines(source) == expected
