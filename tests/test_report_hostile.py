"""Records that change while they are read, values of every kind, and subclassed containers."""

import pytest

from tavik.amazon_rufus.services.rundown_writer import RundownWriter


class Mutating:
    """A value whose text form changes the record it sits in."""

    def __init__(self, action, label="x"):
        self.action, self.label = action, label

    def __str__(self):
        self.action()
        return self.label


def test_str_that_clears_the_answer_list():
    answers = []
    answers.extend([{"text": Mutating(answers.clear, "first")}, {"text": "second"}])
    assert RundownWriter().format_data({"answers": answers}) == "## 第 1 题：第 1 题\n\n### 答案\n\nfirst"


def test_str_that_deletes_keys_of_the_answer_being_rendered():
    answer = {}
    answer.update({
        "productLinks": [{"title": Mutating(lambda: answer.pop("productLinks"), "T")}, "P"],
        "summaryText": Mutating(answer.clear, "S"),
        "text": "body",
        "recommendedAsins": ["R"],
    })
    report = RundownWriter().format_data({"answers": [answer]})
    assert report == "## 第 1 题：第 1 题\n\n### 相关产品\n\n- T\n- P\n\n### 总结\n\nS"


def test_str_that_empties_link_and_block_lists():
    links, blocks, questions = [], [], []
    links.extend([{"title": Mutating(links.clear, "L1")}, "L2"])
    blocks.extend([{"type": "list_item", "text": Mutating(blocks.clear, "i1")}, {"type": "list_item", "text": "i2"}])
    questions.extend([{"question": Mutating(questions.clear, "Q1")}, "Q2"])
    report = RundownWriter().format_data({"questions": questions, "answers": [{"productLinks": links, "blocks": blocks}]})
    assert report == "## 第 1 题：Q1\n\n### 相关产品\n\n- L1\n\n### 答案\n\n- i1"


def test_override_that_clears_the_record_mid_report():
    record = {"answers": [{"text": "a"}, {"text": "b"}, {"text": "c"}], "questions": ["A", "B", "C"]}

    class Writer(RundownWriter):
        def _format_answer_body(self, index, answer):
            record["answers"].clear()
            record.clear()
            answer.clear()
            return super()._format_answer_body(index, answer)

    assert Writer().format_data(record) == "## 第 1 题：A\n\n### 答案\n\n第 1 题未获取到答案"


def test_exceptions_from_str_propagate_unchanged():
    class Boom(Exception):
        pass

    class Bad:
        def __str__(self):
            raise Boom("no text")

    with pytest.raises(Boom, match="no text"):
        RundownWriter().format_data({"answers": [{"summaryText": Bad()}]})


JSON_VALUES = [None, True, False, 0, 1, -2.5, "", "  x  ", [], ["a", 1, None], {}, {"k": "v"}]
ANSWER_KEYS = ["text", "summaryText", "isSuccess", "blocks", "productLinks", "recommendedAsins"]


@pytest.mark.parametrize("key", ANSWER_KEYS)
@pytest.mark.parametrize("value", JSON_VALUES, ids=repr)
def test_any_json_value_in_any_answer_field_is_tolerated(key, value):
    report = RundownWriter().format_data({"answers": [{key: value}, value], "questions": value, "upload_payload": value})
    assert report.startswith("## 第 1 题：")


@pytest.mark.parametrize("value", JSON_VALUES, ids=repr)
def test_any_json_value_inside_blocks_and_links_is_tolerated(value):
    answer = {
        "blocks": [value, {"type": "heading", "text": value, "level": value}, {"type": "table_row", "cells": value, "text": value},
                   {"type": "list_item", "text": value}, {"type": value, "text": "t"}],
        "productLinks": [value, {"asin": value, "title": value, "href": value, "source": value, "description": value}],
        "recommendedAsins": [value, {"asin": value, "source": value}],
    }
    record = {"answers": [answer], "upload_payload": {"records": [value, {"questions": value}]}}
    assert RundownWriter().format_data(record).startswith("## 第 1 题：第 1 题")


def test_lone_surrogates_and_nul_pass_through():
    report = RundownWriter().format_data({
        "questions": ["\ud800 q"],
        "answers": [{"text": "# \udfff\n- \x00 item", "summaryText": "\ud83d", "productLinks": ["\udc00"]}],
    })
    assert report == "## 第 1 题：\ud800 q\n\n### 相关产品\n\n- \udc00\n\n### 答案\n\n### \udfff\n\n- \x00 item\n\n### 总结\n\n\ud83d"


@pytest.mark.parametrize(
    "answer",
    [
        {"blocks": type("Blocks", (list,), {})([{"type": "paragraph", "text": "p"}])},
        {"blocks": [type("Row", (dict,), {})(type="table_row", text="a|b")]},
    ],
)
def test_subclassed_containers_raise_type_error(answer):
    with pytest.raises(TypeError):
        RundownWriter().format_data({"answers": [answer]})


def test_subclassed_answer_reaches_the_exact_check_of_the_body():
    with pytest.raises(TypeError, match="answer"):
        RundownWriter().format_data({"answers": [type("Answer", (dict,), {})(text="x")]})
