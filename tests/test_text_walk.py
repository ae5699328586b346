"""An answer's Markdown-like text walked into intermediate blocks."""

import pytest

from reliability_support import heading, item, table, text


@pytest.mark.parametrize(
    "source, expected",
    [
        ("", [""]),
        ("a\r\nb\rc\n", ["a", "b", "c", ""]),
        ("a\r\r\nb", ["a", "", "b"]),
        ("a\u2028b\x85c", ["a\u2028b\x85c"]),  # only CR and LF end lines here
    ],
)
def test_normalize_text_lines(writer, source, expected):
    assert writer._normalize_text_lines(source) == expected


WALKS = [
    ("", []),
    ("   ", []),
    ("\n\n \n", []),
    ("First line\n  second line   ", [text("First line\n  second line")]),
    (
        "Intro\n\n## Pros\n- fast\n  and light\n1. cheap\n| a | b |\n| --- | --- |\n| 1 | 2 |\nClosing",
        [text("Intro"), heading(2, "Pros"), item("fast and light"), item("cheap"), table(["a", "b"], [["1", "2"]]), text("Closing")],
    ),
    ("Before\n```\nx = 1\n\n# not a heading\n```\nAfter", [text("Before\n```\nx = 1\n\n# not a heading\n```\nAfter")]),
    ("```\ncode", [text("```\ncode")]),
    ("```py   \n  - x  \n```\n- y", [text("```py\n  - x\n```"), item("y")]),
    ("- item\n\n  more", [item("item more")]),
    ("- item\nplain\n  tail", [item("item tail"), text("plain")]),
    ("# Title\n  indented", [heading(1, "Title"), text("indented")]),
    ("| a | b |\nplain", [text("| a | b |\nplain")]),
    ("| a | b |\n|---|---|\n\n| c | d |\n|---|---|", [table(["a", "b"], []), table(["c", "d"], [])]),
    (
        "| a | b |\n|---|---|\n| c | d |\n|---|---|\n| e | f |",
        [table(["a", "b"], [["c", "d"]]), text("|---|---|\n| e | f |")],
    ),
    ("- a | b\n| --- | --- |", [table(["- a", "b"], [])]),
    ("  - sub", [item("sub")]),
    ("  ## Sub", [heading(2, "Sub")]),
    ("- a\n\u3000continued", [item("a continued")]),
    ("- a\n\u2028x", [item("a x")]),  # U+2028 is whitespace to the continuation test
    ("para\r\n\r\nnext", [text("para"), text("next")]),
    ("\ud800 lone\n- \udfff", [text("\ud800 lone"), item("\udfff")]),
]


@pytest.mark.parametrize("source, expected", WALKS)
def test_walk(writer, source, expected):
    assert writer._build_text_fallback_blocks(source) == expected


def test_text_blocks_keep_key_order(writer):
    blocks = writer._build_text_fallback_blocks("p\n# h\n- i\n| a | b |\n| --- | --- |")
    assert [list(b) for b in blocks] == [["kind", "text"], ["kind", "level", "text"], ["kind", "text"], ["kind", "header", "rows"]]


def test_walk_uses_the_instance_line_source(module):
    class Writer(module.RundownWriter):
        def _normalize_text_lines(self, text):
            return text.split(";")

    assert Writer()._build_text_fallback_blocks("- a; b;# c") == [item("a b"), heading(1, "c")]


@pytest.mark.parametrize("next_index", [3, 10**6, 2**63, 10**30, -(10**30)])
def test_a_table_s_next_index_of_any_size(next_index):
    # A replaced table parser may say where the walk goes on: any index at or beyond the end ends it, as the
    # loop `while index < len(lines)` does, and one below the first line fails as `lines[index]` does.
    from reliability_support import ReferenceWriter
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter

    def parser(self, lines, start_index):
        return (table(["a", "b"], []), next_index) if start_index == 0 else None

    source = "| a | b |\n| - | -- |\n| --- | --- |\n|1|2|"
    outcomes = []
    for base in (RundownWriter, ReferenceWriter):
        walker = type("Walker", (base,), {"_parse_markdown_table": parser})()
        try:
            outcomes.append(walker._build_text_fallback_blocks(source))
        except IndexError as error:
            outcomes.append(type(error))
    expected = {3: [table(["a", "b"], []), text("|1|2|")], -(10**30): IndexError}
    assert outcomes == [expected.get(next_index, [table(["a", "b"], [])])] * 2
