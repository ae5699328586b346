"""Memory: long loops over every method of both classes, on their results and on their error paths, keep no
reference, no Python memory and no C++ memory from one call to the next; a batch of big reports gives its memory
back; and a report's peak memory is in proportion to what it writes."""

import json
import os
from pathlib import Path

import pytest

from reliability_support import (SANITIZED, Boom, Generic, IndexRaises, StrRaises, assert_loop_keeps_nothing,
                                 realistic_record, run_python, write_bank)
from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter
from test_prompt_pool_loading import BAD_FILES as LOADING_BAD_FILES

RECORD = realistic_record()
TEXT = RECORD["answers"][0]["text"]
LINES = TEXT.split("\n")
TABLE_AT = next(i for i, line in enumerate(LINES) if line.startswith("| Model") or line.startswith("| 型号"))
ANSWER = RECORD["answers"][0]
BLOCKS = ANSWER["blocks"]


HOSTILE = [
    {"answers": [{"text": TEXT, "summaryText": object()}]},  # not plain: the generic path
    {"answers": [{"text": StrRaises()}]},
    {"answers": [{"blocks": [{"type": "table_row", "cells": [StrRaises()]}]}]},
    {"answers": [{"text": 10**5000}]},  # str() refuses the number
    {"answers": [{"blocks": type("Blocks", (list,), {})([{"type": "paragraph", "text": "p"}])}]},
]

WRITER_CALLS = [
    ("format_data", (RECORD,), {}, None),
    ("_extract_questions", (RECORD,), {}, None),
    ("_normalize_question_list", (RECORD["questions"],), {}, None),
    ("_question_at", (["a", "b"], 2), {}, None),
    ("_question_at", (["a", "b"], 9), {}, None),
    ("_format_section", (1, ANSWER, "q"), {}, None),
    ("_format_answer_body", (1, ANSWER), {}, None),
    ("_format_product_links", (ANSWER["productLinks"],), {}, None),
    ("_format_recommended_asins", (ANSWER["recommendedAsins"],), {}, None),
    ("_format_link_items", (ANSWER["productLinks"],), {"include_source": 1}, None),
    ("_build_answer_blocks", (TEXT, BLOCKS), {}, None),
    ("_build_answer_blocks", (TEXT, None), {}, None),
    ("_build_structured_answer_blocks", (BLOCKS,), {}, None),
    ("_normalize_structured_row", ({"type": "table_row", "text": "a | b"},), {}, None),
    ("_normalize_row_cells", (["a", "b", "c"], 2), {}, None),
    ("_normalize_row_cells", (["a"], 3.5), {}, None),
    ("_to_structured_blocks", ([{"kind": "table", "header": ["a", "b"], "rows": [["1", "2"], "x"]}, {"kind": "heading"}],), {}, None),
    ("_render_blocks", ([{"type": "heading", "text": "h", "level": 1}, {"type": "list", "items": ["a"]},
                         {"type": "table", "header": ["a"], "rows": [["b", 1]]}, {"type": "text", "text": 3}],), {}, None),
    ("_collapse_blank_lines", (TEXT + "\n\n \n",), {}, None),
    ("_build_text_fallback_blocks", (TEXT,), {}, None),
    ("_normalize_text_lines", (TEXT,), {}, None),
    ("_parse_markdown_heading", ("  ### Heading  ",), {}, None),
    ("_parse_markdown_list_item", ("12) item",), {}, None),
    ("_parse_markdown_table", (LINES, TABLE_AT), {}, None),
    ("_parse_pipe_row", ("| a | b |",), {}, None),
    ("_parse_pipe_row", ("| \ud800 | ``` |",), {}, None),
    ("_is_markdown_delimiter_row", (["---", ":---:"],), {}, None),
    # Error paths: argument checks, binding, conversions and exceptions from the record's values.
    ("format_data", (type("Data", (dict,), {})(),), {}, TypeError),
    ("format_data", (), {"data": RECORD, "extra": 1}, TypeError),
    ("_question_at", (["a"], IndexRaises()), {}, Boom),
    ("_normalize_row_cells", (["a"], "2"), {}, TypeError),
    ("_format_link_items", ([],), {}, TypeError),
    ("_parse_markdown_table", (["| a | b |", "| --- | --- |", None], 0), {}, AttributeError),
    ("_parse_markdown_table", (["x"], "bad"), {}, TypeError),
    ("_parse_pipe_row", (None,), {}, TypeError),
    ("_render_blocks", ([{"type": "list", "items": None}],), {}, TypeError),
    ("_to_structured_blocks", ([3],), {}, AttributeError),
]


@pytest.mark.parametrize("name, args, kwargs, expected", WRITER_CALLS,
                         ids=[f"{c[0]}-{c[3].__name__ if c[3] else 'ok'}-{i}" for i, c in enumerate(WRITER_CALLS)])
def test_writer_method_keeps_nothing(name, args, kwargs, expected):
    method = getattr(RundownWriter(), name)
    assert_loop_keeps_nothing(lambda: method(*args, **kwargs), (args, kwargs), expected)


@pytest.mark.parametrize("writer", [RundownWriter(), Generic()], ids=["native", "generic"])
def test_realistic_report_keeps_nothing(writer):
    expected = RundownWriter().format_data(RECORD)
    assert writer.format_data(RECORD) == expected
    assert_loop_keeps_nothing(lambda: writer.format_data(RECORD), RECORD)


@pytest.mark.parametrize("record", HOSTILE, ids=["not plain", "str raises", "cell str raises", "huge int", "list subclass"])
def test_hostile_record_keeps_nothing(record):
    writer = RundownWriter()
    try:
        writer.format_data(record)
        expected = None
    except Exception as error:  # the loop expects the same exception at every call
        expected = type(error)
    assert_loop_keeps_nothing(lambda: writer.format_data(record), record, expected)


def test_a_failing_step_override_keeps_nothing():
    class Writer(RundownWriter):
        def _format_answer_body(self, index, answer):
            raise Boom(index)

    writer = Writer()
    assert_loop_keeps_nothing(lambda: writer.format_data(RECORD), RECORD, Boom)


# -- Big reports: memory given back, and a peak in proportion to the report. ------------------------------

@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator keeps freed blocks in quarantine")
def test_memory_after_a_batch_of_reports_returns_to_where_it_was():
    # Big reports of every kind: many answers, a very wide row, a long text; their results dropped.
    out = run_python("""
        import ctypes, gc, json
        from tavik.amazon_rufus.services.rundown_writer import RundownWriter

        class MallInfo(ctypes.Structure):
            _fields_ = [(name, ctypes.c_size_t) for name in
                        "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()]
        libc = ctypes.CDLL(None)
        libc.mallinfo2.restype = MallInfo

        def in_use():
            gc.collect()
            info = libc.mallinfo2()
            return info.uordblks + info.hblkhd

        wide = {"answers": [{"blocks": [{"type": "table_row", "cells": ["c"] * 200_000},
                                        {"type": "table_row", "cells": ["d"] * 3}]}]}
        many = {"answers": [{"text": "## h\\n- a\\n| a | b |\\n| - | x |\\n" + "p " * 500} for _ in range(200)]}
        text = {"answers": [{"text": "|" + "x|" * 200_000 + "\\n" + "line\\n" * 100_000}]}
        writer = RundownWriter()
        for record in (wide, many, text):
            writer.format_data(record)
        before = in_use()
        for _ in range(4):
            for record in (wide, many, text):
                report = writer.format_data(record)
                del report
        print(json.dumps({"before": before, "after": in_use()}))
    """)
    assert out.returncode == 0, out.stderr
    sizes = json.loads(out.stdout)
    assert sizes["after"] - sizes["before"] < 256 * 1024, sizes


PEAK_PROBE = """
import json, sys
sys.path.insert(0, TESTS)
from reliability_support import Generic
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

def peak():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM"))

n = int(sys.argv[2])
records = {
    "empty cells": {"answers": [{"blocks": [{"type": "table_row", "cells": [""] * n}]}]},
    "float cells": {"answers": [{"blocks": [{"type": "table_row", "cells": [1.5] * n},
                                           {"type": "table_row", "cells": [0] * n}]}]},
    "pipe row": {"answers": [{"text": "|" * n + "x"}]},
    "pipe table": {"answers": [{"text": "| a " * n + "|\\n" + "| --- " * n + "|\\n" + "| b |\\n" * 1000}]},
    "blank fence": {"answers": [{"text": "```\\n" + "\\n" * n + "x"}]},
    "short lines": {"answers": [{"text": "a\\n" * n}]},
}
record = records[sys.argv[1]]
writer = Generic() if sys.argv[3] == "generic" else RundownWriter()
writer.format_data({"answers": [{"text": "warm up"}]})
with open("/proc/self/clear_refs", "w") as refs:
    refs.write("5")
before = peak()
report = writer.format_data(record)
print(json.dumps({"peak": peak() - before, "report": sys.getsizeof(report)}))
"""


def peak_beyond_record(case: str, n: int, path: str) -> dict:
    out = run_python(PEAK_PROBE.replace("TESTS", repr(os.path.dirname(os.path.abspath(__file__))))
                     .replace("sys.argv[1]", repr(case)).replace("sys.argv[2]", str(n))
                     .replace("sys.argv[3]", repr(path)))
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's shadow memory and quarantine inflate resident memory")
@pytest.mark.parametrize("case", ["empty cells", "float cells", "pipe row", "pipe table", "blank fence", "short lines"])
def test_peak_memory_of_wide_rows_and_many_parts(case):
    n = 1_000_000
    native = peak_beyond_record(case, n, "native")
    generic = peak_beyond_record(case, n, "generic")
    # Against the generic path, and against what the native path writes (its buffer and the report).
    assert native["peak"] <= 2 * generic["peak"] + (4 << 20), (native, generic)
    if case in ("pipe row", "pipe table", "blank fence", "short lines"):
        assert native["peak"] <= 2 * native["report"] + (4 << 20), native


# -- The question bank. --------------------------------------------------------------------------------------

TEMPLATE = {"id": "7", "description": None, "preferred_version_index": True, "created_at": {"at": [1]},
            "questions": [{"id": 2, "text": "b", "position": 3}, "skip", {"id": 1, "position": -1.5}]}

# The bad files of the loading tests, and a missing one.
BAD_FILES = [(content, error) for _, content, error, _ in LOADING_BAD_FILES] + [("missing", PromptPoolNotReadyError)]


def make_bank(skills: Path, content) -> PromptPoolService:
    if content != "missing":
        write_bank(skills, content)
    return PromptPoolService(str(skills))


def test_loading_every_bad_file_keeps_nothing(tmp_path):
    services = [make_bank(tmp_path / str(i), content) for i, (content, _) in enumerate(BAD_FILES)]
    for service, (_, error) in zip(services, BAD_FILES):
        with pytest.raises(error):
            service.load_templates()
    turn = iter(range(10**9))

    def load_next():
        service = services[next(turn) % len(services)]
        service.load_templates()

    # The loop counts each load as one call: every bad file is loaded LOOP_CALLS / 19 times.
    assert_loop_keeps_nothing(load_next, services, Exception)


@pytest.mark.parametrize(
    "name, args, expected",
    [
        ("load_templates", (), None),
        ("_resolve_question_templates_path", (), None),
        ("_not_ready", (), None),
        ("_parse_template", (TEMPLATE,), None),
        ("_parse_question", (TEMPLATE["questions"][0],), None),
        ("_parse_template", ({"questions": [{"id": None}]},), TypeError),
        ("_parse_question", (type("Item", (dict,), {})(),), TypeError),
        ("_parse_template", (), TypeError),
    ],
)
def test_question_bank_method_keeps_nothing(tmp_path, name, args, expected):
    service = make_bank(tmp_path, b'{"items": [{"questions": [{"id": 1, "text": "q"}]}, {"id": 2}]}')
    method = getattr(service, name)
    assert_loop_keeps_nothing(lambda: method(*args), (args, service), expected)


@pytest.mark.parametrize("skills_dir, expected", [("~/skills", None), (None, None), ("", None), (Path("x"), TypeError)])
def test_constructor_keeps_nothing(skills_dir, expected):
    assert_loop_keeps_nothing(lambda: PromptPoolService(skills_dir), skills_dir, expected)
