"""Hostile input: values whose conversions raise, answer with the wrong type or change the record while it is
read, values of every JSON kind in every place, subclassed containers, and steps that call back into the
writer: the callback's exception comes out unchanged or the report does, and no reference is gained or lost on
the way."""

import re
import sys

import pytest

from reliability_support import SANITIZED, Boom, IndexRaises, StrRaises, run_python, same_report, shared, walk, write_bank
from tavik.amazon_rufus.services import rundown_writer
from tavik.amazon_rufus.domain import models
from tavik.amazon_rufus.services import prompt_pool
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter


def assert_raises_cleanly(call, inputs, error_type, message=None):
    """`call()` raises exactly `error_type` (unwrapped, unchained) every time, and leaves the reference counts
    of everything in `inputs` as they were."""
    objects = [o for o in walk(inputs).values() if not shared(o)]
    seen = []
    for _ in range(3):  # the first call may fill caches; counts are compared after the second and the third
        try:
            call()
        except BaseException as error:  # the exact type is checked
            assert type(error) is error_type, repr(error)
            assert error.__cause__ is None and error.__context__ is None, repr(error.__context__)
            if message is not None:
                assert str(error) == message
            del error
        else:
            raise AssertionError("no exception")
        seen.append([sys.getrefcount(o) for o in objects])
    before, after = seen[1], seen[2]
    assert after == before, [type(o).__name__ for o, b, a in zip(objects, before, after) if a != b]


# -- Numbers converted on entry. --------------------------------------------------------------------------------

class IndexWrongType:
    def __index__(self):
        return "2"


class IntRaises:
    def __int__(self):
        raise Boom("int")


class IntWrongType:
    def __int__(self):
        return 2.0


NUMBER_METHODS = [
    ("_question_at", lambda n: (["a", "b"], n)),
    ("_format_section", lambda n: (n, {}, "q")),
    ("_format_answer_body", lambda n: (n, {"text": "t"})),
    ("_normalize_row_cells", lambda n: (["a", "b", "c"], n)),
    ("_parse_markdown_table", lambda n: (["| a | b |", "| --- | --- |"], n)),
]


@pytest.mark.parametrize("name, make_args", NUMBER_METHODS, ids=[m[0] for m in NUMBER_METHODS])
@pytest.mark.parametrize(
    "number, error, message",
    [
        (IndexRaises(), Boom, "index"),
        (IntRaises(), Boom, "int"),
        (IndexWrongType(), TypeError, "__index__ returned non-int (type str)"),
        (IntWrongType(), TypeError, "__int__ returned non-int (type float)"),
        (1j, TypeError, None),
        ("1", TypeError, None),
        (None, TypeError, None),
    ],
    ids=["index raises", "int raises", "index str", "int float", "complex", "str", "None"],
)
def test_number_conversions_that_fail_raise_their_own_error(name, make_args, number, error, message):
    method = getattr(RundownWriter(), name)
    args = make_args(number)
    assert_raises_cleanly(lambda: method(*args), args, error, message)


class ClearsOnIndex:
    """A number whose conversion empties a list passed beside it."""

    def __init__(self, target, value):
        self.target, self.value = target, value

    def __index__(self):
        self.target.clear()
        return self.value


@pytest.mark.parametrize(
    "name, target, make_args, expected",
    [
        ("_question_at", ["a", "b"], lambda t, n: (t, n), "第 2 题"),
        ("_normalize_row_cells", ["a", "b", "c"], lambda t, n: (t, n), ["", ""]),
        ("_parse_markdown_table", ["| a | b |", "| --- | --- |"], lambda t, n: (t, n), None),
    ],
)
def test_a_conversion_that_empties_the_other_argument_is_seen_by_the_body(name, target, make_args, expected):
    number = ClearsOnIndex(target, 2 if name != "_parse_markdown_table" else 0)
    assert getattr(RundownWriter(), name)(*make_args(target, number)) == expected


# -- Truth, text and equality of the record's values. -------------------------------------------------------

class BoolRaises:
    def __bool__(self):
        raise Boom("bool")


class BoolWrongType:
    def __bool__(self):
        return 1


class StrWrongType:
    def __str__(self):
        return b"bytes"


PLACES = {
    "answer text": lambda v: {"answers": [{"text": v}]},
    "summary": lambda v: {"answers": [{"summaryText": v, "text": "t"}]},
    "question": lambda v: {"questions": [{"question": v}], "answers": [{}]},
    "payload question": lambda v: {"upload_payload": {"records": [{"questions": [{"text": v}]}]}, "answers": [{}]},
    "link title": lambda v: {"answers": [{"productLinks": [{"title": v}]}]},
    "source": lambda v: {"answers": [{"recommendedAsins": [{"asin": "A", "source": v}]}]},
    "block text": lambda v: {"answers": [{"blocks": [{"type": "paragraph", "text": v}]}]},
    "cell": lambda v: {"answers": [{"blocks": [{"type": "table_row", "cells": ["a", v]}]}]},
    "row text": lambda v: {"answers": [{"blocks": [{"type": "table_row", "text": v}]}]},
}


@pytest.mark.parametrize("place", PLACES.values(), ids=PLACES.keys())
@pytest.mark.parametrize(
    "value, error, message",
    [
        (BoolRaises(), Boom, "bool"),
        (BoolWrongType(), TypeError, "__bool__ should return bool, returned int"),
        (StrRaises(), Boom, "str"),
        (StrWrongType(), TypeError, "__str__ returned non-string (type bytes)"),
    ],
    ids=["bool raises", "bool int", "str raises", "str bytes"],
)
def test_failing_truth_or_text_of_a_value_propagates(place, value, error, message):
    record = place(value)
    writer = RundownWriter()
    assert_raises_cleanly(lambda: writer.format_data(record), record, error, message)


class EqRaises:
    def __eq__(self, other):
        raise Boom("eq")

    __hash__ = object.__hash__


class EqAnswersUntruthfully:
    def __eq__(self, other):
        return BoolRaises()

    __hash__ = object.__hash__


@pytest.mark.parametrize("block_type", [EqRaises(), EqAnswersUntruthfully()], ids=["raises", "untruthful"])
@pytest.mark.parametrize("text", ["t", ""])
def test_a_block_type_whose_equality_fails_propagates(block_type, text):
    record = {"answers": [{"blocks": [{"type": block_type, "text": text}]}]}
    assert_raises_cleanly(lambda: RundownWriter().format_data(record), record, Boom)


class StrSubclassStrip(str):
    """What `str()` of the value below gives: a str whose strip() answers with another kind of value."""

    def strip(self, *chars):
        return self.result

    result = ""


class Stripless:
    def __init__(self, result):
        self.result = result

    def __str__(self):
        text = StrSubclassStrip("x")
        text.result = self.result
        return text


class Falsy:
    __slots__ = ()

    def __bool__(self):
        return False


@pytest.mark.parametrize("stripped", [-0.0, Falsy(), None, (), 0], ids=["-0.0", "falsy object", "None", "()", "0"])
def test_a_failed_answer_whose_text_strips_to_a_false_non_str_has_no_body(stripped):
    # `text` is whatever strip() gave; a false one counts as empty, whatever its type.
    answer = {"text": Stripless(stripped), "isSuccess": False, "blocks": [{"type": "paragraph", "text": "b"}]}
    assert RundownWriter()._format_answer_body(1, answer) == []
    assert RundownWriter().format_data({"answers": [answer]}).endswith("第 1 题未获取到答案")


# -- Values of every JSON kind, and subclassed containers. ------------------------------------------------------

JSON_VALUES = [None, True, False, 0, 1, -2.5, "", "  x  ", [], ["a", 1, None], {}, {"k": "v"}]
ANSWER_KEYS = ["text", "summaryText", "isSuccess", "blocks", "productLinks", "recommendedAsins"]


@pytest.mark.parametrize("key", ANSWER_KEYS)
@pytest.mark.parametrize("value", JSON_VALUES, ids=repr)
def test_any_json_value_in_any_answer_field_is_tolerated(key, value):
    report = same_report({"answers": [{key: value}, value], "questions": value, "upload_payload": value})
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
    assert same_report(record).startswith("## 第 1 题：第 1 题")


def test_lone_surrogates_and_nul_pass_through():
    report = same_report({
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


# -- The record changed while it is read. -------------------------------------------------------------------

class Acting:
    """A true value whose truth test runs `action` once, then reads as `text`."""

    def __init__(self, text):
        self.text, self.action = text, None

    def __bool__(self):
        action, self.action = self.action, None
        if action:
            action()
        return True

    def __str__(self):
        return self.text


def mutation_case(name):
    first, second = Acting("first"), Acting("second")
    blocks = [{"type": "paragraph", "text": first}, {"type": "paragraph", "text": second}]
    answer = {"blocks": blocks, "summaryText": "s", "productLinks": ["p"]}
    record = {"answers": [answer, {"text": "other"}], "questions": ["Q1", "Q2"]}
    actions = {
        "clear answers": (lambda: record["answers"].clear(), ["## 第 1 题：Q1", "first", "second"]),
        "delete the answer's keys": (lambda: [answer.pop(k) for k in list(answer)], ["first", "second", "### 总结", "## 第 2 题：Q2"]),
        "replace blocks": (lambda: answer.update(blocks=[{"type": "paragraph", "text": "new"}]), ["first", "second", "other"]),
        "clear the blocks being walked": (blocks.clear, ["first", "### 总结", "other"]),
        "append to the blocks being walked": (lambda: blocks.append({"type": "paragraph", "text": "added"}), ["first", "second", "added"]),
        "delete the record's questions": (lambda: record.pop("questions"), ["## 第 1 题：Q1", "## 第 2 题：Q2", "first"]),
    }
    first.action, expected = actions[name]
    return record, expected


@pytest.mark.parametrize("name", [
    "clear answers", "delete the answer's keys", "replace blocks", "clear the blocks being walked",
    "append to the blocks being walked", "delete the record's questions",
])
def test_record_changed_by_a_truth_test_while_it_is_read(name):
    record, expected = mutation_case(name)
    lines = RundownWriter().format_data(record).split("\n")
    assert all(line in lines for line in expected), lines
    absent = {"clear the blocks being walked": "second", "clear answers": "## 第 2 题：Q2"}.get(name)
    assert absent is None or absent not in lines


def test_a_block_type_that_appends_to_the_blocks_being_assembled():
    blocks = []

    class Type:
        def __eq__(self, other):
            if len(blocks) < 3:
                blocks.append({"type": "list_item", "text": f"added {len(blocks)}"})
            return other == "paragraph"

        __hash__ = object.__hash__

    blocks.append({"type": Type(), "text": "first"})
    assert RundownWriter()._build_structured_answer_blocks(blocks) == [
        {"type": "text", "text": "first"}, {"type": "list", "items": ["added 1", "added 2"]}]


class Mutating:
    """A value whose text form runs `action` first."""

    def __init__(self, action, label):
        self.action, self.label = action, label

    def __str__(self):
        self.action()
        return self.label


def _clears_the_answer_list():
    answers = []
    answers.extend([{"text": Mutating(answers.clear, "first")}, {"text": "second"}])
    return {"answers": answers}, "## 第 1 题：第 1 题\n\n### 答案\n\nfirst"


def _deletes_keys_of_the_answer_being_rendered():
    answer = {}
    answer.update({
        "productLinks": [{"title": Mutating(lambda: answer.pop("productLinks"), "T")}, "P"],
        "summaryText": Mutating(answer.clear, "S"),
        "text": "body",
        "recommendedAsins": ["R"],
    })
    return {"answers": [answer]}, "## 第 1 题：第 1 题\n\n### 相关产品\n\n- T\n- P\n\n### 总结\n\nS"


def _empties_link_block_and_question_lists():
    links, blocks, questions = [], [], []
    links.extend([{"title": Mutating(links.clear, "L1")}, "L2"])
    blocks.extend([{"type": "list_item", "text": Mutating(blocks.clear, "i1")}, {"type": "list_item", "text": "i2"}])
    questions.extend([{"question": Mutating(questions.clear, "Q1")}, "Q2"])
    record = {"questions": questions, "answers": [{"productLinks": links, "blocks": blocks}]}
    return record, "## 第 1 题：Q1\n\n### 相关产品\n\n- L1\n\n### 答案\n\n- i1"


@pytest.mark.parametrize("make", [_clears_the_answer_list, _deletes_keys_of_the_answer_being_rendered,
                                  _empties_link_block_and_question_lists])
def test_record_changed_by_a_text_form_while_it_is_read(make):
    record, expected = make()
    assert RundownWriter().format_data(record) == expected


def test_override_that_clears_the_record_mid_report():
    record = {"answers": [{"text": "a"}, {"text": "b"}, {"text": "c"}], "questions": ["A", "B", "C"]}

    class Writer(RundownWriter):
        def _format_answer_body(self, index, answer):
            record["answers"].clear()
            record.clear()
            answer.clear()
            return super()._format_answer_body(index, answer)

    assert Writer().format_data(record) == "## 第 1 题：A\n\n### 答案\n\n第 1 题未获取到答案"


def test_re_replacement_that_empties_the_cells_being_checked(writer, monkeypatch):
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


def test_heading_parser_that_rewrites_the_lines():
    class Writer(RundownWriter):
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


# -- Re-entry. ------------------------------------------------------------------------------------------------

INNER = {"questions": ["inner?"], "answers": [{"text": "- a\n- b", "summaryText": "s"}]}
INNER_REPORT = RundownWriter().format_data(INNER)


def test_a_step_that_reports_again_on_the_same_writer_and_on_a_new_one():
    inner = []

    class Writer(RundownWriter):
        def _format_section(self, index, answer, question):
            if question != "inner?":
                inner.append(self.format_data(INNER))  # the generic path, re-entered
                inner.append(RundownWriter().format_data(INNER))  # the native path, inside the generic one
            return super()._format_section(index, answer, question)

    record = {"answers": [{"text": "x"}, {"text": "y"}]}
    assert Writer().format_data(record) == RundownWriter().format_data(record)
    assert inner == [INNER_REPORT] * 4


def test_a_value_whose_text_reports_on_the_writer_reading_it():
    writer = RundownWriter()

    class Text:
        def __str__(self):
            return writer.format_data(INNER).split("\n")[0]

    assert writer.format_data({"answers": [{"summaryText": Text()}]}).endswith("### 总结\n\n## 第 1 题：inner?")


def test_unbounded_re_entry_ends_in_recursion_error():
    class Writer(RundownWriter):
        def _format_answer_body(self, index, answer):
            return [self.format_data({"answers": [answer]})]

    record = {"answers": [{"text": "x"}]}
    assert_raises_cleanly(lambda: Writer().format_data(record), record, RecursionError)


def test_unbounded_re_entry_on_a_small_thread_stack_ends_in_recursion_error():
    # Every native call counts as a level of the recursion, so the limit is reached before a 1.5 MB stack
    # overflows (the sanitizer's larger frames get the default 8 MB). 3.13 sized the interpreter's own limit of
    # C levels for its default 8 MB stack: its own nested recursion (json.dumps, ==) overflows 1.5 MB there, and
    # ends in RecursionError on 2 MB, which the script shows first on the same stack.
    stack_kb = 8192 if SANITIZED else 2048 if sys.version_info >= (3, 13) else 1536
    result = run_python(f"""
        import json, threading
        from tavik.amazon_rufus.services.rundown_writer import RundownWriter

        class Writer(RundownWriter):
            def _format_answer_body(self, index, answer):
                return [self.format_data({{"answers": [answer]}})]

        def run():
            nested = []
            for _ in range(100_000):
                nested = [nested]
            for work in (lambda: json.dumps(nested), lambda: Writer().format_data({{"answers": [{{"text": "x"}}]}})):
                try:
                    work()
                except RecursionError:
                    print("RecursionError")

        threading.stack_size({stack_kb} * 1024)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    """)
    assert (result.returncode, result.stdout) == (0, "RecursionError\n" * 2), result.stderr[-2000:]


def test_a_step_that_replaces_the_class_s_steps_mid_report():
    class Writer(RundownWriter):
        def _question_at(self, questions, index):
            Writer._format_section = lambda self, i, a, q: f"replaced {i}"
            return super()._question_at(questions, index)

    assert Writer().format_data({"answers": [{}, {}]}) == "replaced 1\n\nreplaced 2"
    del Writer._format_section
    assert Writer().format_data({"answers": [{}]}) == "replaced 1"


# -- The question bank. -------------------------------------------------------------------------------------

@pytest.mark.parametrize(
    "item, error",
    [
        ({"id": IntRaises()}, Boom),
        ({"id": IntWrongType()}, TypeError),
        ({"description": StrRaises()}, Boom),
        ({"questions": [{"position": IndexRaises()}]}, Boom),
        ({"questions": [{"text": StrWrongType()}]}, TypeError),
        ({"questions": type("Entries", (), {"__iter__": lambda self: iter([1 / 0])})()}, ZeroDivisionError),
    ],
    ids=["id int raises", "id int float", "description str raises", "position index raises", "text str bytes",
         "questions iteration raises"],
)
def test_template_values_whose_conversion_fails_propagate(item, error):
    assert_raises_cleanly(lambda: PromptPoolService()._parse_template(item), item, error)


def test_positions_whose_comparison_fails_propagate_from_the_sort(monkeypatch):
    class Position:
        def __lt__(self, other):
            raise Boom("lt")

        def __index__(self):
            return 1

    class Question:
        def __init__(self, id, text, position):
            self.position = Position()

    monkeypatch.setattr(prompt_pool, "Question", Question)
    item = {"questions": [{}, {}]}
    assert_raises_cleanly(lambda: PromptPoolService()._parse_template(item), item, Boom)


def test_loading_inside_a_constructor_called_by_loading(tmp_path, monkeypatch):
    write_bank(tmp_path, '{"items": [{"id": 1, "questions": [{"id": 1}, {"id": 2}]}]}')
    service = PromptPoolService(str(tmp_path))
    nested = []

    def question(**fields):
        if not nested:
            nested.append(0)  # the loads below build their questions without loading again
            nested.extend(len(service.load_templates()) for _ in range(3))
        return models.Question(**fields)

    monkeypatch.setattr(prompt_pool, "Question", question)
    templates = service.load_templates()
    assert [q.id for q in templates[0].questions] == [1, 2] and nested == [0, 1, 1, 1]


def test_not_ready_that_loads_another_missing_bank(tmp_path):
    seen = []

    class Service(PromptPoolService):
        def _not_ready(self):
            seen.append(sys.exc_info()[1])
            if len(seen) == 1:
                try:
                    Service(str(tmp_path / "other")).load_templates()
                except Exception as inner:
                    seen.append(inner)
            seen.append(sys.exc_info()[1])
            return super()._not_ready()

    with pytest.raises(Exception) as raised:
        Service(str(tmp_path)).load_templates()
    outer_missing, inner_missing, inner_raised, same_again = seen[0], seen[1], seen[3], seen[4]
    assert type(outer_missing) is FileNotFoundError and same_again is outer_missing
    assert type(inner_missing) is FileNotFoundError and inner_missing is not outer_missing
    assert inner_raised.__cause__ is inner_missing
    assert raised.value.__cause__ is outer_missing and sys.exc_info() == (None, None, None)


# -- Faults of the native report. ----------------------------------------------------------------------------

NATIVE_LOOKUP = """
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter
    armed = []

    class Key:
        # Hashes like the key the report looks up, so the lookup asks this key's __eq__.
        def __init__(self, name, action):
            self.name, self.action = name, action
        def __hash__(self):
            return hash(self.name)
        def __eq__(self, other):
            if armed:
                armed.clear()
                self.action()
            return False

    records = [{{"questions": ["Q" * 40]}}]
    record = {{"answers": [{{"text": "a"}}]}}
    if {case!r} == "records":
        record["upload_payload"] = {{Key("records", lambda: record.update(upload_payload=None)): 1, "records": records}}
    else:
        records[0][Key("questions", records.clear)] = 1
        record["upload_payload"] = {{"records": records}}
    del records
    armed.append(1)
    print(RundownWriter().format_data(record).split("\\n")[0])
"""


@pytest.mark.parametrize("case", ["records", "first record"])
def test_a_key_whose_equality_drops_the_dict_being_searched(case):
    result = run_python(NATIVE_LOOKUP.format(case=case))
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout == "## 第 1 题：" + "Q" * 40 + "\n"
