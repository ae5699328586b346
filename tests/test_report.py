"""Whole reports: question texts, sections, answer bodies, link lists, and how they are joined."""

import pytest

from reliability_support import same_report
from tavik.amazon_rufus.services.rundown_writer import RundownWriter


@pytest.mark.parametrize(
    "items, include_source, expected",
    [
        (None, True, []),
        ({"asin": "B1"}, True, []),
        (("B1",), True, []),
        ("B1", True, []),
        (["   ", "", None, 3, 2.5, ["B1"]], True, []),
        ([{"asin": "B1", "title": "   ", "href": "/dp/B1"}], False, ["- B1", "  /dp/B1"]),
        ([{"description": " only "}], True, ["  only"]),
        ([{"source": "s"}], False, []),
        ([{"asin": 12345, "title": 0, "href": None}], False, ["- 12345"]),
        ([{"title": "T", "source": "s"}], "yes", ["- T (s)"]),
        ([{"title": "T", "source": "s"}], 0, ["- T"]),
        (["\ud800x"], False, ["- \ud800x"]),
    ],
)
def test_link_items(writer, items, include_source, expected):
    assert writer._format_link_items(items, include_source=include_source) == expected


class Recording(RundownWriter):
    def __init__(self, body=None):
        self.calls = []
        self.body = body

    def __getattribute__(self, name):
        value = object.__getattribute__(self, name)
        if name.startswith("_") and not name.startswith("__") and callable(value):
            object.__getattribute__(self, "calls").append(name)
        return value


@pytest.mark.parametrize(
    "record, expected",
    [
        ({"answers": None}, ""),
        ({"answers": [{}]}, "## 第 1 题：第 1 题\n\n### 答案\n\n第 1 题未获取到答案"),
        ({"answers": [None], "questions": "not a list"}, "## 第 1 题：第 1 题\n\n### 答案\n\n第 1 题未获取到答案"),
        ({"answers": [{"summaryText": "  S  "}]}, "## 第 1 题：第 1 题\n\n### 总结\n\nS"),
        ({"answers": [{"summaryText": "line 1\n\n\nline 2   "}]}, "## 第 1 题：第 1 题\n\n### 总结\n\nline 1\n\nline 2"),
        ({"answers": [{"text": "  Yes.  ", "isSuccess": False}]}, "## 第 1 题：第 1 题\n\n### 答案\n\nYes."),
        ({"answers": [{"isSuccess": False, "blocks": [{"type": "paragraph", "text": "p"}]}]},
         "## 第 1 题：第 1 题\n\n### 答案\n\n第 1 题未获取到答案"),
        ({"answers": [{"isSuccess": 0, "blocks": [{"type": "paragraph", "text": "p"}]}]},
         "## 第 1 题：第 1 题\n\n### 答案\n\np"),
        ({"answers": [{"text": 42}]}, "## 第 1 题：第 1 题\n\n### 答案\n\n42"),
    ],
)
def test_reports(record, expected):
    assert same_report(record) == expected


def test_section_worked_example():
    class Writer(RundownWriter):
        def _format_product_links(self, raw_links):
            return ["- B000000001 - Trail jacket", "  /dp/B000000001"]

        def _format_answer_body(self, index, answer):
            return ["Yes, it is."]

        def _format_recommended_asins(self, raw_items):
            return ["- B000000002"]

    section = Writer()._format_section(2, {"summaryText": "  Waterproof to 10,000 mm.  "}, "Is it waterproof?")
    assert section == (
        "## 第 2 题：Is it waterproof?\n\n### 相关产品\n\n- B000000001 - Trail jacket\n  /dp/B000000001\n\n"
        "### 答案\n\nYes, it is.\n\n### 推荐 ASIN\n\n- B000000002\n\n### 总结\n\nWaterproof to 10,000 mm."
    )


@pytest.mark.parametrize(
    "record, titles",
    [
        ({"questions": ["  ", {"question": "Q2"}]}, ["Q2", "第 2 题"]),
        ({"questions": [{"question": "   ", "text": "T"}, {"question": 0, "text": "T2"}]}, ["T2", "第 2 题"]),
        ({"questions": [{"question": 12}, None, 3, ["x"], " b "]}, ["12", "b"]),
        ({"questions": [], "upload_payload": {"records": [{"questions": ["U1", "U2", "U3"]}]}}, ["U1", "U2"]),
        ({"questions": ["  "], "upload_payload": {"records": [{"questions": [{"text": "U1"}]}]}}, ["U1", "第 2 题"]),
        ({"upload_payload": {"records": ["x", {"questions": ["U1"]}]}}, ["第 1 题", "第 2 题"]),
        ({"upload_payload": {"records": []}}, ["第 1 题", "第 2 题"]),
        ({"upload_payload": ["x"]}, ["第 1 题", "第 2 题"]),
        ({"questions": ("A", "B")}, ["第 1 题", "第 2 题"]),
        ({"questions": ["A"], "upload_payload": {"records": [{"questions": ["U1", "U2"]}]}}, ["A", "第 2 题"]),
    ],
)
def test_question_titles(writer, record, titles):
    report = writer.format_data({**record, "answers": [{"text": "a"}, {"text": "b"}]})
    headings = [line for line in report.split("\n") if line.startswith("## ")]
    assert headings == [f"## 第 {n} 题：{t}" for n, t in enumerate(titles, start=1)]


@pytest.mark.parametrize(
    "questions, index, expected",
    [(["a", "b"], 2, "b"), (["a"], 2, "第 2 题"), (["a"], 0, "第 0 题"), (["a"], -1, "第 -1 题"),
     (["a"], 10**20, f"第 {10**20} 题"), (["a", "b"], 2.9, "b"), (["a"], True, "a")],
)
def test_question_at(writer, questions, index, expected):
    assert writer._question_at(questions, index) == expected


def test_three_sections_in_answer_order(writer):
    record = {"questions": [{"question": "A", "number": 9}, "B", "C"], "answers": [{"text": "1"}, {"text": "2"}, {"text": "3"}]}
    assert writer.format_data(record) == "\n\n".join(
        f"## 第 {n} 题：{q}\n\n### 答案\n\n{n}" for n, q in ((1, "A"), (2, "B"), (3, "C"))
    )


def test_calling_order_seen_by_a_recording_subclass():
    writer = Recording()
    writer.format_data({
        "questions": [],
        "upload_payload": {"records": [{"questions": ["Q"]}]},
        "answers": [{"text": "- a\n- b", "productLinks": ["P"], "recommendedAsins": ["R"]}, {"blocks": [{"type": "paragraph", "text": "p"}]}],
    })
    section = ["_format_product_links", "_format_link_items", "_format_answer_body", "_build_answer_blocks"]
    assert writer.calls == [
        "_extract_questions", "_normalize_question_list", "_normalize_question_list",
        "_question_at", "_format_section",
        *section, "_build_text_fallback_blocks", "_normalize_text_lines",
        "_parse_markdown_heading", "_parse_markdown_table", "_parse_pipe_row", "_parse_markdown_list_item",
        "_parse_markdown_heading", "_parse_markdown_table", "_parse_pipe_row", "_parse_markdown_list_item",
        "_to_structured_blocks", "_build_structured_answer_blocks", "_render_blocks",
        "_format_recommended_asins", "_format_link_items",
        "_question_at", "_format_section",
        *section, "_build_structured_answer_blocks", "_render_blocks",
        "_format_recommended_asins", "_format_link_items",
        "_collapse_blank_lines",
    ]


def test_an_overridden_step_changes_the_report():
    class Writer(RundownWriter):
        def _format_link_items(self, raw_items, *, include_source):
            return [f"* {item}" + (" [rec]" if include_source else "") for item in raw_items or []]

    report = Writer().format_data({"answers": [{"text": "a", "productLinks": ["P1"], "recommendedAsins": ["R1"]}]})
    assert report == "## 第 1 题：第 1 题\n\n### 相关产品\n\n* P1\n\n### 答案\n\na\n\n### 推荐 ASIN\n\n* R1 [rec]"


def test_sections_that_are_not_text_are_dropped_and_the_whole_report_is_tidied():
    class Writer(RundownWriter):
        def _format_section(self, index, answer, question):
            return [None, "", f"s{index}  \n\n\n"][index % 3]

    assert Writer().format_data({"answers": [1, 2, 3, 4, 5]}) == "s2\n\ns5"
