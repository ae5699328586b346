"""Big inputs: a 50 MB answer, a 10,000-answer record, pathological lines, and a 20 MB question bank. Times are
compared between sizes ten times apart with a bound far above linear growth (the machine is shared); under
the sanitizer the inputs are a fifth of the size."""

import json
import time

import pytest

from reliability_support import SANITIZED, realistic_record, write_bank
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

SCALE = 0.2 if SANITIZED else 1.0
BOUND = 40  # ten times the input in at most forty times the time


def seconds(call):
    best = float("inf")
    for _ in range(2):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


def chunk_text():
    return "\n".join(["## Heading", "Some words of a paragraph | with a pipe.", "- item", "  continued", "1. numbered",
                      "| a | b |", "| --- | --- |", "| 1 | 2 |", "```", "# code", "```", "", "尾行  "]) + "\n"


def big_answer(size):
    chunk = chunk_text()
    return {"answers": [{"text": chunk * (size // len(chunk)), "summaryText": "s"}]}


def test_a_50_mb_answer_renders_in_linear_time():
    size = int(50_000_000 * SCALE)
    small, _ = seconds(lambda: RundownWriter().format_data(big_answer(size // 10)))
    large, report = seconds(lambda: RundownWriter().format_data(big_answer(size)))
    assert report.startswith("## 第 1 题：第 1 题\n\n### 答案\n\n#### Heading") and report.endswith("### 总结\n\ns")
    assert len(report) > size * 0.8
    assert large < small * BOUND + 1, (small, large)


def test_a_big_answer_on_the_generic_path_gives_the_native_report_in_linear_time(generic):
    size = int(2_000_000 * SCALE)
    small, _ = seconds(lambda: generic.format_data(big_answer(size // 10)))
    large, report = seconds(lambda: generic.format_data(big_answer(size)))
    assert report == RundownWriter().format_data(big_answer(size))
    assert large < small * BOUND + 1, (small, large)


def many_answers(n):
    answers = realistic_record(n_answers=10)["answers"]
    return {"answers": [answers[i % len(answers)] for i in range(n)], "questions": [f"q{i}" for i in range(n)]}


def test_ten_thousand_answers_render_in_linear_time():
    n = int(10_000 * SCALE)
    small, _ = seconds(lambda: RundownWriter().format_data(many_answers(n // 10)))
    large, report = seconds(lambda: RundownWriter().format_data(many_answers(n)))
    assert report.count("\n## 第 ") == n - 1 and f"## 第 {n} 题：q{n - 1}" in report
    assert large < small * BOUND + 1, (small, large)


# Lines that a careless scanner takes quadratic time on: long runs of one marker, a row of many cells, a
# list item continued on many lines, a long table, an unclosed fence.
PATHOLOGICAL = {
    "hashes": lambda n: "#" * n,
    "spaces after a mark": lambda n: "-" + " " * n + "x",
    "pipes": lambda n: "|" * n,
    "many cells": lambda n: "| a " * (n // 4) + "|\n" + "| --- " * (n // 6) + "|",
    "continuations": lambda n: "- a" + "\n  b" * (n // 4),
    "long table": lambda n: "| a | b |\n| --- | --- |\n" + "| 1 | 2 |\n" * (n // 10),
    "unclosed fence": lambda n: "```\n" + "# x\n" * (n // 4),
    "delimiters": lambda n: "| a | b |\n" + "|---|---|\n" * (n // 10),
    "blank lines": lambda n: "x" + "\n \n" * (n // 3) + "y",
    "backticks": lambda n: "`" * n,
}


@pytest.mark.parametrize("make", PATHOLOGICAL.values(), ids=PATHOLOGICAL.keys())
def test_pathological_text_renders_in_linear_time(make):
    n = int(2_000_000 * SCALE)
    record = lambda size: {"answers": [{"text": make(size)}, {"blocks": [{"type": "paragraph", "text": make(size)}]}]}
    small, _ = seconds(lambda: RundownWriter().format_data(record(n // 10)))
    large, report = seconds(lambda: RundownWriter().format_data(record(n)))
    assert report.startswith("## 第 1 题：第 1 题")
    assert large < small * BOUND + 1, (small, large)


def test_a_20_mb_question_bank_loads(tmp_path):
    size = int(20_000_000 * SCALE)
    question = {"id": 1, "text": "How waterproof is it in heavy rain over a long day?" * 4, "position": 3}
    per_template = 50
    template_size = len(json.dumps({"id": 1, "questions": [question] * per_template}))
    n_templates = size // template_size + 1
    items = [{"id": i, "description": f"t{i}", "questions": [dict(question, id=k, position=-k) for k in range(per_template)]}
             for i in range(n_templates)]
    path = write_bank(tmp_path, json.dumps({"items": items}))
    assert path.stat().st_size >= size
    templates = PromptPoolService(str(tmp_path)).load_templates()
    assert len(templates) == n_templates and templates[-1].id == n_templates - 1
    assert [q.id for q in templates[0].questions] == list(range(per_template - 1, -1, -1))
