"""The native report against the generic one and against the plain-Python writer of bench/: the same text,
or the same exception type, for any record; and the guard that picks the native report only while nothing it
reaches has been replaced."""

import os
import re
import signal
import time
import types

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from reliability_support import (LONG_ANSWER, Generic, ReferenceWriter, int_levels, legacy_str, needs_legacy_str,
                                 same_report)
from tavik.amazon_rufus.services import rundown_writer
from tavik.amazon_rufus.services.rundown_writer import RundownWriter


# -- Strategies: lines near every construct, every whitespace and line boundary, every JSON value. ------

SPACES = [" ", "\t", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x1f", "\x85", "\xa0", "\u1680", "\u2000", "\u200a",
          "\u2028", "\u2029", "\u202f", "\u205f", "\u3000", "\u200b"]
BREAKS = ["\n", "\r\n", "\r", "\x0b", "\x0c", "\x1c", "\x85", "\u2028", "\u2029", "\n\n", "\r\r\n"]
NEAR_MISSES = [
    "# Title", "#NoSpace", "####### x", "###### six", "## Title ##", "#", "# ", "-item", "- item", "* star", "• dot",
    "+ plus", "1.5 kg", "1. one", "12) twelve", "\u0663. three", "---", "|-|-|", "||a|b||", "| --- | :---: |",
    "| a | b |", "| 1 | 2 | 3 |", "a | b", "| a |", "| - | - |", "```", "```py", "  indented", "  - sub",
    "plain words", "中文段落", "\ud800", "\udfff lone", "x\x00y", "", "   ", "| :-: | --- |", "|---|---|", "|--|:--:|",
]
fragment = st.one_of(st.sampled_from(NEAR_MISSES), st.sampled_from(SPACES), st.text(max_size=6))
line = st.lists(fragment, max_size=4).map("".join)
markdown = st.lists(st.tuples(line, st.sampled_from(BREAKS)), max_size=14).map(lambda parts: "".join(a + b for a, b in parts))

json_scalar = st.one_of(st.none(), st.booleans(), st.integers(-3, 3), st.floats(allow_nan=False, width=16),
                        st.sampled_from(["", " ", "x", " y ", "table_row", "heading", "paragraph", "list_item"]), line)
json_value = st.recursive(json_scalar, lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=3), inner, max_size=3), max_leaves=6)

block = st.one_of(
    json_value,
    st.fixed_dictionaries(
        {"type": st.sampled_from(["heading", "paragraph", "list_item", "table_row", "image", None, 3])},
        optional={"text": st.one_of(line, json_value), "level": st.one_of(st.integers(-8, 9), json_value),
                  "cells": st.one_of(st.lists(st.one_of(line, json_value), max_size=4), json_value)},
    ),
)
link = st.one_of(
    line, json_value,
    st.fixed_dictionaries({}, optional={k: st.one_of(line, json_value) for k in ("asin", "title", "href", "source", "description")}),
)
answer = st.one_of(
    json_value,
    st.fixed_dictionaries(
        {},
        optional={
            "text": st.one_of(markdown, json_value),
            "blocks": st.one_of(st.lists(block, max_size=8), json_value),
            "isSuccess": st.one_of(st.booleans(), json_value),
            "summaryText": st.one_of(markdown, json_value),
            "productLinks": st.one_of(st.lists(link, max_size=4), json_value),
            "recommendedAsins": st.one_of(st.lists(link, max_size=4), json_value),
        },
    ),
)
question = st.one_of(line, json_value, st.fixed_dictionaries({}, optional={"question": st.one_of(line, json_value), "text": st.one_of(line, json_value)}))
record = st.fixed_dictionaries(
    {"answers": st.one_of(st.lists(answer, max_size=4), json_value)},
    optional={
        "questions": st.one_of(st.lists(question, max_size=4), json_value),
        "upload_payload": st.one_of(json_value, st.fixed_dictionaries({"records": st.lists(st.one_of(json_value, st.fixed_dictionaries({"questions": st.lists(question, max_size=3)})), max_size=2)})),
    },
)

FAST = settings(max_examples=int(__import__("os").environ.get("TAVIK_EXAMPLES", "300")), deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
pytestmark = pytest.mark.filterwarnings("ignore::hypothesis.errors.HypothesisWarning")


@FAST
@given(record)
def test_native_report_equals_generic_report(rec):
    same_report(rec)


@FAST
@given(markdown, markdown)
def test_native_text_walk_equals_generic(text, summary):
    same_report({"questions": [summary], "answers": [{"text": text, "summaryText": summary}]})


@pytest.mark.parametrize(
    "text",
    [
        "Intro\n\n## Pros\n- fast\n  and light\n1. cheap\n| a | b |\n| --- | --- |\n| 1 | 2 |\nClosing",
        "Before\n```\nx = 1\n\n# not a heading\n```\nAfter",
        "```\ncode\n\n\n",
        "- item\nplain\n  tail\nmore plain",
        "a  \x0b\nb",
        "p \u2028\n  q\r\n\r\n\r\nr\rs",
        "```\n  \x0b  \n\n```",
        "| a | b |\n|---|---|\n| c | d |\n|---|---|\n| e | f |",
        "| a | b |\n|--|:--:|\n| 1 | 2 |\n\n| a | b |\n| :---: | --: |\n| 1 | 2 |",
        "| a | b |\n|---|---|\n\n| c | d |\n|---|---|\n| 1 | 2 | 3 |",
        "| a | b | c |\n| --- | --- | --- |\n| 1 | |\n| 1 | 2 | 3 | 4 | 5 |",
        "x\r",
        "- a" + "\n  b" * 50,
    ],
)
def test_native_report_on_known_texts(text):
    same_report({"answers": [{"text": text}, {"blocks": [{"type": "paragraph", "text": text}]}]})


@pytest.mark.parametrize(
    "blocks",
    [
        [{"type": "table_row", "cells": [None]}],
        [{"type": "table_row", "cells": ["", ""]}],
        [{"type": "table_row", "cells": ["", "a", ""]}],
        [{"type": "table_row", "text": " | x"}, {"type": "table_row", "text": "y |  "}],
        [{"type": "table_row", "cells": ["a\nb", " c "]}, {"type": "table_row", "cells": [1.5, True, [1]]}],
        [{"type": "heading", "text": "H", "level": 10**40}, {"type": "heading", "text": "H", "level": -(10**40)}],
        [{"type": "heading", "text": "H", "level": level} for level in (True, False, 0, 7, 2.5, "3", None)],
        [{"type": "list_item", "text": "a\r"}, {"type": "list_item", "text": "\rb"}],
    ],
)
def test_native_report_on_edge_blocks(writer, reference, blocks):
    same_report({"answers": [{"blocks": blocks, "summaryText": "s"}, {"blocks": blocks}]})
    assert writer._build_structured_answer_blocks(blocks) == int_levels(reference._build_structured_answer_blocks(blocks))


def _with_deleted_entries():
    answer = {"drop": 1, "text": "old", "blocks": [], "summaryText": "s"}
    del answer["drop"]
    del answer["blocks"]
    answer["text"] = "new"  # replaced in place, not appended
    return answer


def _instance_dict():
    class Holder:
        def __init__(self):
            self.text = "from an instance"
            self.summaryText = "summary"

    Holder()  # the first instance settles the shared keys
    return vars(Holder())


def _grown():
    answer = {f"k{i}": i for i in range(500)}
    answer.update(text="after growth", summaryText="s")
    for i in range(0, 500, 2):
        del answer[f"k{i}"]
    return answer


@pytest.mark.parametrize(
    "answer",
    [_with_deleted_entries(), _instance_dict(), _grown(), {1: "int key", "text": "t", None: 2, 2.5: "f", True: 0}],
    ids=["deleted-entries", "instance-dict", "grown", "non-str-keys"],
)
def test_dicts_of_every_layout_read_alike(answer):
    """Dicts are read by walking their entries: deleted entries, shared keys and keys of other types."""
    same_report({"answers": [answer, dict(answer)], "questions": [answer]})


@pytest.mark.parametrize("value", [10**5000, -(10**5000), float("inf"), float("nan"), -0.0, 1e300, True],
                         ids=["huge", "-huge", "inf", "nan", "-0.0", "1e300", "True"])
def test_numbers_as_text_in_both_paths(value):
    """Huge ints are refused by str() on both paths alike; floats and bools read as their str()."""
    blocks = [{"type": "paragraph", "text": value}, {"type": "table_row", "cells": [value, value]}]
    same_report({"answers": [{"text": value, "summaryText": value, "productLinks": [{"asin": value}], "blocks": blocks}]})


def test_every_code_point_survives_both_paths():
    chars = "".join(chr(c) for c in range(0x110000) if c % 7 == 0 or c < 0x3100)
    text = "x".join(chars[i:i + 64] for i in range(0, len(chars), 64))
    same_report({"answers": [{"text": text, "summaryText": text}], "questions": [text]})


# -- Long reports. --------------------------------------------------------------------------------------

@settings(FAST, max_examples=max(20, FAST.max_examples // 5))
@given(st.lists(answer, min_size=1, max_size=12), st.lists(question, max_size=8))
def test_long_reports_equal_generic(answers, questions):
    same_report({"questions": questions, "answers": [LONG_ANSWER, *answers, LONG_ANSWER, *answers]})


@pytest.mark.parametrize("last", [{"text": type("Text", (str,), {})("x")}, {"text": 10**5000}, {"summaryText": object()}],
                         ids=["str subclass", "huge int", "object"])
def test_a_long_report_given_up_midway_equals_generic(last):
    """Reading stops at the last answer, after sections have been written already."""
    same_report({"answers": [LONG_ANSWER] * 6 + [last]})


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_long_reports_after_fork():
    record = {"answers": [LONG_ANSWER] * 4}
    expected = RundownWriter().format_data(record)
    pid = os.fork()
    if pid == 0:
        os._exit(0 if all(RundownWriter().format_data(record) == expected for _ in range(3)) else 1)
    deadline = time.monotonic() + 60
    while (done := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
        time.sleep(0.01)
    if done[0] == 0:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        pytest.fail("the child's report did not finish")
    assert os.waitstatus_to_exitcode(done[1]) == 0
    assert RundownWriter().format_data(record) == expected


# -- The guard. ---------------------------------------------------------------------------------------

# The continuation line reaches the walk's own `re.match`, which the generic path always calls.
RECORD = {"answers": [{"text": "# Title\n- item\n  continued\n| a | b |\n| --- | --- |\n| 1 | 2 |"}]}


def path_of(writer, seen):
    seen.clear()
    report = writer.format_data(RECORD)
    assert report == "## 第 1 题：第 1 题\n\n### 答案\n\n### Title\n\n- item continued\n\n| a | b |\n| --- | --- |\n| 1 | 2 |"
    return "generic" if seen else "native"


class Plain(RundownWriter):
    pass


class OwnLookup(RundownWriter):
    def __getattribute__(self, name):
        return super().__getattribute__(name)


class BuiltinFirst(dict, RundownWriter):
    """Every step is looked for in a namespace of the interpreter's own type first (kept apart from it from 3.12)."""


class BuiltinFirstOverride(dict, Generic):
    pass


@pytest.mark.parametrize("cls, path", [(RundownWriter, "native"), (Plain, "native"), (Generic, "generic"),
                                       (OwnLookup, "generic"), (BuiltinFirst, "native"),
                                       (BuiltinFirstOverride, "generic")])
def test_guard_per_class(compiles, cls, path):
    assert path_of(cls(), compiles) == path


# What an instance holds under a step's name, made from the instance itself, and the path that it takes.
INSTANCE_ATTRIBUTES = [
    (lambda w: w._render_blocks, "native"),  # the step bound to the instance: the very code the class gives
    (lambda w: RundownWriter()._render_blocks, "generic"),  # bound to another instance
    (lambda w: types.MethodType(RundownWriter.__dict__["_render_blocks"], w), "native"),  # the same binding, made anew
    (lambda w: types.MethodType(lambda self, blocks: RundownWriter._render_blocks(self, blocks), w), "generic"),
]


@pytest.mark.parametrize("make, path", INSTANCE_ATTRIBUTES)
def test_guard_per_instance_attribute(compiles, make, path):
    writer = Plain()
    writer._render_blocks = make(writer)
    assert path_of(writer, compiles) == path


def test_class_attribute_switches_at_the_next_call_and_back(compiles, monkeypatch):
    writer = Plain()
    assert path_of(writer, compiles) == "native"
    original = RundownWriter.__dict__["_parse_pipe_row"]
    with monkeypatch.context() as patch:
        patch.setattr(RundownWriter, "_parse_pipe_row", lambda self, line: original(self, line))
        assert path_of(writer, compiles) == "generic"
    assert path_of(writer, compiles) == "native"
    Plain._collapse_blank_lines = lambda self, text: RundownWriter._collapse_blank_lines(self, text)
    try:
        assert path_of(writer, compiles) == "generic"
    finally:
        del Plain._collapse_blank_lines
    assert path_of(writer, compiles) == "native"


def test_instance_attribute_switches_at_the_next_call_and_back(compiles):
    writer = RundownWriter()
    writer.unrelated = 1
    assert path_of(writer, compiles) == "native"
    writer._normalize_text_lines = lambda text: RundownWriter._normalize_text_lines(writer, text)
    assert path_of(writer, compiles) == "generic"
    del writer._normalize_text_lines
    assert path_of(writer, compiles) == "native"


def test_re_replacements_switch_at_the_next_call_and_back(compiles, monkeypatch):
    writer = RundownWriter()
    original_match = re.match
    monkeypatch.setattr(rundown_writer, "re", types.SimpleNamespace(match=original_match))
    assert path_of(writer, compiles) == "generic"
    monkeypatch.setattr(rundown_writer, "re", re)
    assert path_of(writer, compiles) == "native"
    monkeypatch.setattr(re, "match", lambda pattern, string: original_match(pattern, string))
    assert path_of(writer, compiles) == "generic"
    monkeypatch.setattr(re, "match", original_match)
    assert path_of(writer, compiles) == "native"


TEXT = "- a\n  continued"


class Truthy:
    def __bool__(self):
        return True

    def __str__(self):
        return "T"


class Heading:
    def __eq__(self, other):
        return other == "heading"

    __hash__ = object.__hash__


class Key(str):
    pass


@pytest.mark.parametrize(
    "answer",
    [{"text": type("Text", (str,), {})(TEXT)}, {"text": TEXT, "productLinks": type("Links", (list,), {})()},
     {"text": TEXT, "summaryText": object()}, {"text": TEXT, "summaryText": ["a list"]},
     {"text": TEXT, "productLinks": [{"title": Truthy(), "href": "/dp/B1"}]},
     {Key("text"): TEXT}],
)
def test_records_that_could_run_python_code_take_the_generic_path(compiles, answer):
    assert RundownWriter().format_data({"answers": [answer]}).startswith("## 第 1 题")
    assert compiles


def test_a_type_with_its_own_equality_is_compared_by_it():
    report = RundownWriter().format_data({"answers": [{"text": TEXT, "blocks": [{"type": Heading(), "text": "x"}]}]})
    assert report.endswith("### 答案\n\n#### x")


def test_subclassed_answer_takes_the_generic_path():
    calls = []

    class Answer(dict):
        def get(self, key, default=None):
            calls.append(key)
            return super().get(key, default)

    with pytest.raises(TypeError, match="answer"):
        RundownWriter().format_data({"answers": [Answer(text="x")]})
    assert calls == ["productLinks", "summaryText"]


# -- The native line parsers against `re.match` on the same patterns and against the plain-Python writer. --

def with_python_re(call):
    saved = rundown_writer.re
    rundown_writer.re = types.SimpleNamespace(match=re.match)
    try:
        return call()
    finally:
        rundown_writer.re = saved


def parsed(name, arg):
    """What the module's parser gives for `arg`, checked equal with the module's `re` replaced (the parser then
    calls `re.match`) and to the plain-Python writer's parser."""
    method = getattr(RundownWriter(), name)
    result = method(arg)
    assert result == with_python_re(lambda: method(arg)), name
    assert result == getattr(ReferenceWriter(), name)(arg), name
    return result


# Lines of the characters that the patterns look at, and lines of any characters.
short_line = st.text(st.sampled_from(list("#-*•1٣.) |:\t\u3000\u2028\x85\x1cab\n") + ["\ud800"]), max_size=12)


@settings(max_examples=500, deadline=None)
@given(line | short_line | st.text(max_size=12))
def test_native_line_parsers_agree_with_re_match(text):
    for name in ("_parse_markdown_heading", "_parse_markdown_list_item", "_parse_pipe_row"):
        parsed(name, text)
    parsed("_is_markdown_delimiter_row", [text, text.strip(), "---", ":" + text])


@pytest.mark.parametrize("digit", ["\u1c59", "\ua620", "\uff10", "\U0001d7ce", "\u0e50"])
@pytest.mark.parametrize("lead", ["{}. item", "{}) item", "1{}2. item"])
def test_digits_of_every_script_start_list_items_as_in_re(digit, lead):
    """The digit test asks the interpreter's table only outside a range without decimal digits."""
    assert parsed("_parse_markdown_list_item", lead.format(digit)) is not None


def test_the_range_skipped_by_the_digit_test_holds_no_decimal_digit():
    assert not any(chr(c).isdecimal() for c in range(0x1C5A, 0xA620))


@pytest.mark.parametrize("wide", ["", "题", "\U0001f600"], ids=["1-byte", "2-byte", "4-byte"])
def test_pipe_rows_of_every_short_length_split_alike(wide):
    """Short rows have all their "|" found at once: rows of every length up to past that limit, at the start
    of a text and further in, pipes at either end or not."""
    for n in range(1, 70):
        for row in ("|" + "a|" * (n // 2), "x" * (n % 5) + "| b " * (n // 4) + "|" * (n % 2), wide + "|" * n):
            parsed("_parse_pipe_row", row)
            for text in (row, "lead-in text " * (n % 3) + wide + "\n" + row):
                same_report({"answers": [{"text": text + "\n" + row + "\n| --- | --- |\n" + row}]})


@needs_legacy_str
@pytest.mark.parametrize("make_ready", [False, True])
def test_strs_stored_apart_from_their_object_read_as_their_text(make_ready):
    """Strs made by the deprecated C API, ready or not yet, in every place of a record and as the argument of
    a step: the same results as ordinary strs, on both paths."""
    def legacy(text):
        return legacy_str(text, ready=make_ready)

    text = "## 标题\n- item\n| a | b |\n| --- | --- |\n| 1 | 2 |\nline\x0bsplit"

    def record(make):
        return {"answers": [{"text": make(text), "summaryText": make(" 总结 "),
                             "blocks": [{"type": make("heading"), "text": make("  ")}],
                             "productLinks": [make("B01")]},
                            {"blocks": [{"type": "table_row", "cells": [make("x"), make("y\nz")]}],
                             "recommendedAsins": [{"asin": make("B02"), "source": make("s")}]}],
                "questions": [make("问题"), {"question": make("q2")}]}

    expected = same_report(record(str))
    for writer in (RundownWriter(), Generic()):
        assert writer.format_data(record(legacy)) == expected
    for method, arg in (("_parse_markdown_heading", "## 标题"), ("_parse_pipe_row", "| a | b |"),
                        ("_parse_markdown_list_item", "- item"), ("_normalize_text_lines", "a\nb"),
                        ("_build_text_fallback_blocks", "para"), ("_collapse_blank_lines", "a\n\n\nb  ")):
        assert getattr(RundownWriter(), method)(legacy(arg)) == getattr(RundownWriter(), method)(arg), method
    assert RundownWriter()._build_answer_blocks(legacy("para"), None) == RundownWriter()._build_answer_blocks("para", None)
    assert RundownWriter()._build_answer_blocks("para", None)
    assert Generic()._format_section(1, {}, legacy("问题")) == RundownWriter()._format_section(1, {}, "问题")
