"""Random decoded records, random texts and random bank files: a report is always a str, the same on the native
path, the generic path and the plain-Python writer of bench/; the text methods give what the plain-Python
writer gives; and a bank either loads or raises one of the listed errors.

A longer run by hand: TAVIK_FUZZ_EXAMPLES=20000 python -m pytest tests/test_reliability_fuzz.py"""

import json
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from reliability_support import ReferenceWriter, same_report, write_bank
from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

EXAMPLES = int(os.environ.get("TAVIK_FUZZ_EXAMPLES", "150"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, database=None,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

# What json.loads can give: bounded ints, every float (NaN and infinities too), any str (lone surrogates come
# from \ud800 escapes), lists and dicts with str keys.
KEYS = ["answers", "questions", "upload_payload", "records", "question", "text", "summaryText", "isSuccess",
        "blocks", "productLinks", "recommendedAsins", "asin", "title", "href", "source", "description", "type",
        "level", "cells", "heading", "paragraph", "list_item", "table_row"]
MARKS = ["#", "## ", "- ", "* ", "• ", "1. ", "2) ", "|", " | ", "---", ":---:", "```", "\n", "\r\n", "\r", "  ",
         "\t", "\u3000", "\u2028", "\x85", "\x0b", "\ud800", "\x00", "中文", "x"]
text = st.lists(st.one_of(st.sampled_from(MARKS), st.text(max_size=4)), max_size=30).map("".join)
# Texts of the characters the walk looks at.
walk_text = st.text(st.sampled_from(list("#-*|` \n\r\t\u3000:1.)ab") + ["\ud800", "\x00"]), max_size=60)
scalar = st.one_of(st.none(), st.booleans(), st.integers(-(10**30), 10**30), st.floats(), text,
                   st.sampled_from(KEYS))
json_like = st.recursive(
    scalar,
    lambda inner: st.lists(inner, max_size=5) | st.dictionaries(st.one_of(st.sampled_from(KEYS), st.text(max_size=3)), inner, max_size=6),
    max_leaves=40,
)
block = st.fixed_dictionaries({"type": st.sampled_from(["heading", "paragraph", "list_item", "table_row"])},
                              optional={"text": st.one_of(text, json_like), "level": json_like,
                                        "cells": st.lists(st.one_of(text, json_like), max_size=5)})
answer = st.fixed_dictionaries({}, optional={
    "text": st.one_of(text, json_like), "summaryText": json_like, "isSuccess": json_like,
    "blocks": st.one_of(st.lists(st.one_of(block, json_like), max_size=8), json_like),
    "productLinks": json_like, "recommendedAsins": json_like,
})
record = st.fixed_dictionaries(
    {"answers": st.lists(st.one_of(answer, json_like), max_size=5)},
    optional={"questions": json_like, "upload_payload": st.one_of(json_like, st.fixed_dictionaries({"records": json_like}))},
)


@FUZZ
@given(record)
def test_a_decoded_record_always_gives_a_report(rec):
    report = same_report(rec)
    assert type(report) is str
    assert not report.endswith("\n") and "\n\n\n" not in report


@FUZZ
@given(json_like)
def test_any_decoded_value_as_the_record_or_its_answers(value):
    for rec in ({"answers": value}, {"answers": [value, value], "questions": value}, value if isinstance(value, dict) else {}):
        assert type(same_report(rec)) is str


@FUZZ
@given(text | walk_text, st.integers(0, 40))
def test_text_methods_on_any_text(t, index):
    writer, reference = RundownWriter(), ReferenceWriter()
    lines = writer._normalize_text_lines(t)
    assert lines == reference._normalize_text_lines(t)
    for name in ("_build_text_fallback_blocks", "_collapse_blank_lines"):
        assert getattr(writer, name)(t) == getattr(reference, name)(t), name
    assert writer._parse_markdown_table(lines, index) == reference._parse_markdown_table(lines, index)


# -- Bank files. --------------------------------------------------------------------------------------------

# Errors a bank file may raise besides PromptPoolNotReadyError: a file that is not UTF-8 (a ValueError), a top
# level without `get`, items that are not objects, values int() refuses, and JSON nested past the recursion limit.
PASSED_THROUGH = (UnicodeDecodeError, AttributeError, TypeError, ValueError, OverflowError, RecursionError)

bank_value = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(-5, 5), st.floats(), st.text(max_size=5)),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.sampled_from(["items", "questions", "id", "text", "position", "description"]), inner, max_size=4),
    max_leaves=20,
)
bank_bytes = st.one_of(
    st.binary(max_size=200),
    bank_value.map(lambda v: json.dumps(v, allow_nan=True).encode()),
    st.tuples(bank_value, st.integers(0, 50), st.binary(max_size=4)).map(
        lambda t: (lambda b: b[: t[1]] + t[2] + b[t[1]:])(json.dumps({"items": [t[0]]}).encode())),
)


@FUZZ
@given(content=bank_bytes)
def test_any_bank_file_loads_or_raises_a_listed_error(tmp_path_factory, content):
    skills = tmp_path_factory.mktemp("bank")
    write_bank(skills, content)
    try:
        templates = PromptPoolService(str(skills)).load_templates()
    except PromptPoolNotReadyError as error:
        assert len(error.args) == 1 and type(error.args[0]) is str
        return
    except PASSED_THROUGH as error:
        assert not isinstance(error, PromptPoolNotReadyError)
        return
    assert sum(len(t.questions) for t in templates) > 0
    for template in templates:
        positions = [q.position for q in template.questions]
        assert positions == sorted(positions)
