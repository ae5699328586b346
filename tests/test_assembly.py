"""Display blocks assembled from an answer's structured blocks, or from its parsed text."""

import pytest


def heading(t, level):
    return {"type": "heading", "text": t, "level": level}


def text(t):
    return {"type": "text", "text": t}


def lst(*items):
    return {"type": "list", "items": list(items)}


def table(header, *rows):
    return {"type": "table", "header": header, "rows": list(rows)}


def row(*cells, **extra):
    return {"type": "table_row", "cells": list(cells), **extra}


def item(t):
    return {"type": "list_item", "text": t}


def para(t):
    return {"type": "paragraph", "text": t}


ASSEMBLIES = [
    ([{"type": "heading", "text": "  Price  ", "level": 9}], [heading("Price", 6)]),
    ([{"type": "heading", "text": "x", "level": "2"}], [heading("x", 2)]),
    ([{"type": "heading", "text": "x", "level": True}], [heading("x", 1)]),
    ([{"type": "heading", "text": "x", "level": 0}], [heading("x", 1)]),
    ([{"type": "heading", "text": "x", "level": -5}], [heading("x", 1)]),
    ([{"type": "heading", "text": "x", "level": 2.5}], [heading("x", 2)]),
    ([{"type": "heading", "text": "x", "level": 10**30}], [heading("x", 6)]),
    ([{"type": "heading", "text": "x"}], [heading("x", 2)]),
    (["s", 3, None, {"type": "image", "text": "x"}, {"type": "divider"}, {"type": "paragraph", "text": "  "}, {"text": "x"}], []),
    ([item("a"), item("b"), para("p"), item("c")], [lst("a", "b"), text("p"), lst("c")]),
    ([item("a"), item("b"), {"type": "divider"}, item("c")], [lst("a", "b", "c")]),
    ([item("a"), item("b"), item(" "), item("c")], [lst("a", "b", "c")]),
    ([row("H1", "H2"), row("1"), row("2", "3", "4")], [table(["H1", "H2"], ["1", ""], ["2", "3 | 4"])]),
    ([row("a", "b")], [text("a | b")]),
    ([row("a", "b"), row("c", "d"), heading("h", 2), row("e", "f")],
     [table(["a", "b"], ["c", "d"]), heading("h", 2), text("e | f")]),
    ([row("a", "b"), row("c", "d"), row("a", "b"), row("1", "2")], [table(["a", "b"], ["c", "d"], ["a", "b"], ["1", "2"])]),
    ([item("x"), {"type": "table_row"}, item("y")], [lst("x"), lst("y")]),
    ([row("a", "b"), {"type": "table_row"}, row("c", "d")], [table(["a", "b"], ["c", "d"])]),
    ([row("a", "b"), row("c", "d"), {"type": "table_row", "text": "just words"}, row("e", "f"), row("g", "h")],
     [table(["a", "b"], ["c", "d"]), text("just words"), table(["e", "f"], ["g", "h"])]),
    ([row("a", "b"), {"type": "table_row", "text": "just words"}], [text("a | b"), text("just words")]),
    ([{"type": "table_row", "cells": [" a ", None, 3]}, row("x", "y")], [table(["a", "", "3"], ["x", "y", ""])]),
    ([{"type": "table_row", "text": "a | b"}, {"type": "table_row", "text": "c|d"}], [table(["a", "b"], ["c", "d"])]),
    ([{"type": "table_row", "cells": [], "text": "plain"}], [text("plain")]),
    ([{"type": "paragraph", "text": 12}, {"type": "list_item", "text": ["x"]}], [text("12"), lst("['x']")]),
    ([row("a"), row("b", "c")], [table(["a"], ["b | c"])]),
]


@pytest.mark.parametrize("blocks, expected", ASSEMBLIES)
def test_structured_assembly(writer, blocks, expected):
    assert writer._build_structured_answer_blocks(blocks) == expected


def test_assembly_keeps_list_identities_and_key_order(writer):
    header = ["a", "b"]
    out = writer._build_structured_answer_blocks([item("x"), {"type": "table_row", "cells": header}, row("1", "2")])
    assert [list(b) for b in out] == [["type", "items"], ["type", "header", "rows"]]
    assert out[1]["header"] is not header  # cells are re-read as texts
    wide = ["1", "2"]
    rows = writer._build_structured_answer_blocks([row("a", "b"), {"type": "table_row", "cells": wide}])[0]["rows"]
    assert rows == [wide]


@pytest.mark.parametrize(
    "blocks",
    [None, [], "Hello", ("x",), {"type": "paragraph", "text": "ignored"}, [{"type": "divider"}], [{"type": "paragraph"}]],
)
def test_text_is_parsed_when_structured_blocks_yield_nothing(writer, blocks):
    assert writer._build_answer_blocks("Hello", blocks) == [text("Hello")]
    assert writer._build_answer_blocks("", blocks) == []


@pytest.mark.parametrize(
    "source, expected",
    [
        ("   ", [text("")]),
        ("Intro\n\n## Pros\n- fast\n- light\n| a | b |\n| --- | --- |\n| 1 | 2 |",
         [text("Intro"), heading("Pros", 2), lst("fast", "light"), table(["a", "b"], ["1", "2"])]),
        ("| a | b |\n| --- | --- |", [text("a | b")]),
        ("| a | b |\n|---|---|\n| 1 | 2 |\n\n| c | d |\n|---|---|\n| 3 | 4 |",
         [table(["a", "b"], ["1", "2"], ["c", "d"], ["3", "4"])]),
        ("| a | b | c |\n|---|---|---|\n| 1 | |\n| 1 | 2 | 3 | 4 |", [table(["a", "b", "c"], ["1", "", ""], ["1", "2", "3 | 4"])]),
    ],
)
def test_text_fallback_assembly(writer, source, expected):
    assert writer._build_answer_blocks(source, None) == expected


def test_structured_blocks_win_over_text(writer):
    assert writer._build_answer_blocks("ignored text", [para("p")]) == [text("p")]


@pytest.mark.parametrize(
    "cells, width, expected",
    [
        (["a", "b", "c", "d"], 2, ["a", "b | c | d"]),
        (["a", "b", "c", "d"], 1, ["a | b | c | d"]),
        (["a", "b", "c", "d"], 6, ["a", "b", "c", "d", "", ""]),
        (["a"], 3, ["a", "", ""]),
        ([], 2, ["", ""]),
        (["a", "b"], 2.7, ["a", "b"]),
        (["a", "b"], 0, ["a", "b"]),  # below 1, slices count from the end, as in Python
        (["a", "b", "c"], -1, ["a", "b | c"]),
    ],
)
def test_normalize_row_cells(writer, cells, width, expected):
    assert writer._normalize_row_cells(cells, width) == expected


def test_normalize_row_cells_returns_the_same_list_when_it_fits(writer):
    cells = ["a", "b", "c", "d"]
    assert writer._normalize_row_cells(cells, 4) is cells
    assert writer._normalize_row_cells(cells, 5) is not cells


@pytest.mark.parametrize(
    "block, expected",
    [
        ({"cells": [" a ", None, 3, 0, False]}, ["a", "", "3", "", ""]),
        ({"text": "a | b"}, ["a", "b"]),
        ({"cells": [], "text": "plain"}, None),
        ({"cells": "a|b", "text": "c|d"}, ["c", "d"]),
        ({"text": 5}, None),
        ({}, None),
    ],
)
def test_normalize_structured_row(writer, block, expected):
    assert writer._normalize_structured_row(block) == expected


def test_subclassed_containers_reach_the_exact_checks(writer):
    class Blocks(list):
        pass

    class Row(dict):
        pass

    with pytest.raises(TypeError):
        writer._build_answer_blocks("", Blocks([para("p")]))
    with pytest.raises(TypeError):
        writer._build_structured_answer_blocks([Row(type="table_row", text="a|b")])
    assert writer._build_structured_answer_blocks([Row(type="paragraph", text="p")]) == [text("p")]
