"""RundownWriter behaves like a plain Python class: its methods bind, describe themselves, bind arguments
like Python functions, check exact argument types, and reach each other and `re` at the moment of use."""

import decimal
import fractions
import inspect
import re
import sys
import textwrap
import types

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tavik.amazon_rufus.services import rundown_writer
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

SURFACE = {
    "format_data": ("(self, data: 'dict') -> 'str'", "格式化 manager 返回的完整数据。"),
    "_extract_questions": ("(self, data: 'dict') -> 'list[str]'", "从全量数据中提取题目文本。"),
    "_normalize_question_list": ("(self, raw_questions: 'Any') -> 'list[str]'", "兼容字符串题目与前端 question item。"),
    "_question_at": ("(self, questions: 'list[str]', index: 'int') -> 'str'", "读取第 N 题文本，缺失时使用稳定兜底。"),
    "_format_section": ("(self, index: 'int', answer: 'Any', question: 'str') -> 'str'", "格式化单题 section。"),
    "_format_answer_body": ("(self, index: 'int', answer: 'dict') -> 'list[str]'", "按前端 block 模型格式化答案正文。"),
    "_format_product_links": ("(self, raw_links: 'Any') -> 'list[str]'", "格式化相关产品。"),
    "_format_recommended_asins": ("(self, raw_items: 'Any') -> 'list[str]'", "格式化推荐 ASIN。"),
    "_format_link_items": (
        "(self, raw_items: 'Any', *, include_source: 'bool') -> 'list[str]'",
        "兼容字符串链接和前端链接对象。",
    ),
    "_build_answer_blocks": (
        "(self, text: 'str', structured_blocks: 'Any') -> 'list[dict]'",
        "优先使用结构化 blocks，不可渲染时回退解析文本。",
    ),
    "_build_structured_answer_blocks": (
        "(self, structured_blocks: 'list[Any]') -> 'list[dict]'",
        "按前端结构化 block 规则组装展示块。",
    ),
    "_normalize_structured_row": ("(self, block: 'dict') -> 'list[str] | None'", "读取结构化表格行。"),
    "_normalize_row_cells": ("(self, row: 'list[str]', width: 'int') -> 'list[str]'", "补齐或合并表格列。"),
    "_to_structured_blocks": ("(self, blocks: 'list[dict]') -> 'list[dict]'", "将中间块转换为前端结构化 block。"),
    "_render_blocks": ("(self, blocks: 'list[dict]') -> 'list[str]'", "将展示块渲染为 Markdown-like 文本。"),
    "_collapse_blank_lines": ("(self, text: 'str') -> 'str'", "压缩连续空行并清理行尾空白。"),
    "_parse_markdown_heading": ("(self, line: 'str') -> 'dict | None'", "解析 Markdown 标题。"),
    "_parse_markdown_list_item": ("(self, line: 'str') -> 'dict | None'", "解析 Markdown 列表项。"),
    "_parse_markdown_table": (
        "(self, lines: 'list[str]', start_index: 'int') -> 'tuple[dict, int] | None'",
        "解析带 delimiter 的 Markdown 表格。",
    ),
    "_parse_pipe_row": ("(self, line: 'str') -> 'list[str] | None'", "解析管道分隔行。"),
    "_is_markdown_delimiter_row": ("(self, cells: 'list[str]') -> 'bool'", "判断是否为 Markdown 表头分隔符。"),
    "_normalize_text_lines": ("(self, text: 'str') -> 'list[str]'", "统一换行符。"),
    "_build_text_fallback_blocks": ("(self, text: 'str') -> 'list[dict]'", "解析 Markdown-like 文本为中间块。"),
}


def test_every_method_is_listed():
    methods = {k for k, v in vars(RundownWriter).items() if callable(v)}
    assert methods == set(SURFACE)


def test_class_is_plain():
    assert RundownWriter.__bases__ == (object,)
    assert type(RundownWriter) is type
    assert RundownWriter.__module__ == "tavik.amazon_rufus.services.rundown_writer"
    assert RundownWriter.__qualname__ == RundownWriter.__name__ == "RundownWriter"
    assert RundownWriter.__doc__ == "将 Rufus 全量结果投影为前端风格的终端报告。"
    writer = RundownWriter()
    writer.note = 1
    assert vars(writer) == {"note": 1}
    with pytest.raises(TypeError):
        RundownWriter(1)


@pytest.mark.parametrize("name", SURFACE)
def test_method_describes_itself(name):
    signature, doc = SURFACE[name]
    method = getattr(RundownWriter, name)
    assert method.__name__ == name
    assert method.__qualname__ == f"RundownWriter.{name}"
    assert method.__module__ == "tavik.amazon_rufus.services.rundown_writer"
    assert method.__doc__ == doc
    assert str(inspect.signature(method)) == signature
    params = inspect.signature(method).parameters
    expected = {p: params[p].annotation for p in params if p != "self"}
    expected["return"] = inspect.signature(method).return_annotation
    assert method.__annotations__ == expected
    assert all(type(v) is str for v in method.__annotations__.values())
    assert name in repr(method)


def test_methods_bind_like_functions(writer):
    bound = writer._parse_pipe_row
    assert isinstance(bound, types.MethodType)
    assert bound.__self__ is writer and bound.__func__ is RundownWriter.__dict__["_parse_pipe_row"]
    assert str(inspect.signature(bound)) == "(line: 'str') -> 'list[str] | None'"
    assert RundownWriter._parse_pipe_row(writer, "a|b") == bound("a|b") == bound(line="a|b") == ["a", "b"]
    assert RundownWriter._parse_pipe_row(self=writer, line="a|b") == ["a", "b"]


def _python_twin(name):
    """A Python method with the same signature, to compare CPython's own error messages with."""
    sig = inspect.signature(getattr(RundownWriter, name))
    bare = sig.replace(
        parameters=[p.replace(annotation=p.empty) for p in sig.parameters.values()], return_annotation=sig.empty
    )
    namespace = {}
    exec(textwrap.dedent(f"class RundownWriter:\n    def {name}{bare}:\n        pass"), namespace)
    return getattr(namespace["RundownWriter"], name)


ARITY_CALLS = [
    ("_parse_pipe_row", (), {}),
    ("_parse_pipe_row", ("a", "b"), {}),
    ("_parse_pipe_row", ("a",), {"line": "b"}),
    ("_parse_pipe_row", (), {"lines": "b"}),
    ("_parse_markdown_table", (), {}),
    ("_parse_markdown_table", ([],), {}),
    ("_parse_markdown_table", ([], 0, 1), {}),
    ("_render_blocks", ([], []), {}),
    ("_format_link_items", ([],), {}),
    ("_format_link_items", ([], True), {}),
    ("_format_link_items", ([], True), {"include_source": True}),
    ("_format_section", (1,), {"questions": "q"}),
]


@pytest.mark.parametrize("name, args, kwargs", ARITY_CALLS)
def test_arity_errors_read_like_cpython(writer, name, args, kwargs):
    with pytest.raises(TypeError) as ours:
        getattr(writer, name)(*args, **kwargs)
    with pytest.raises(TypeError) as theirs:
        _python_twin(name)(writer, *args, **kwargs)
    assert str(ours.value) == str(theirs.value)


class Unequal(str):
    """A keyword whose text is a parameter's name but whose comparison denies it."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        return False


# (method, keyword, the name that CPython 3.13 and later suggest for it, or None). Older interpreters suggest none.
UNEXPECTED_KEYWORDS = [
    ("_parse_pipe_row", "lines", "line"),
    ("_parse_pipe_row", "Line", "line"),
    ("_parse_pipe_row", "LINE", None),  # a change of case costs half an edit, four of them too much
    ("_parse_pipe_row", "sel", "self"),
    ("_parse_pipe_row", "linés", None),  # measured in UTF-8 bytes
    ("_parse_pipe_row", "\udcffline", None),  # not writable in UTF-8
    ("_parse_pipe_row", "line" + "s" * 37, None),  # beyond 40 bytes once the common prefix is set aside
    ("_parse_pipe_row", "x", None),
    ("_parse_pipe_row", Unequal("line"), None),
    ("_format_link_items", "include_sources", "include_source"),
    ("_format_link_items", "raw_item", "raw_items"),
    ("_format_section", "questions", "question"),
    ("_format_section", "indx", "index"),
]


@pytest.mark.parametrize("name, keyword, suggested", UNEXPECTED_KEYWORDS)
def test_unexpected_keywords_read_like_cpython(writer, name, keyword, suggested):
    with pytest.raises(TypeError) as ours:
        getattr(writer, name)(**{keyword: 1})
    with pytest.raises(TypeError) as theirs:
        _python_twin(name)(writer, **{keyword: 1})
    assert str(ours.value) == str(theirs.value)
    hint = f". Did you mean '{suggested}'?" if suggested and sys.version_info >= (3, 13) else ""
    assert str(ours.value).endswith(f"got an unexpected keyword argument '{keyword}'{hint}")


@st.composite
def near_names(draw):
    """A parameter's name with a stretch replaced, and perhaps part of it in the other case."""
    base = draw(st.sampled_from(["self", "raw_items", "include_source", "index", "question", "lines", "start_index"]))
    i = draw(st.integers(0, len(base)))
    j = draw(st.integers(i, len(base)))
    name = base[:i] + draw(st.text(alphabet="aeinorstx_SIé", max_size=4)) + base[j:]
    k = draw(st.integers(0, len(name)))
    return name[:k] + name[k:].swapcase() if draw(st.booleans()) else name


@settings(max_examples=300, deadline=None)
@given(name=st.sampled_from(["_format_link_items", "_format_section", "_parse_markdown_table"]),
       keyword=near_names() | st.text(alphabet="aeilmnorstuwxdqIS_é", min_size=1, max_size=45))
def test_any_unexpected_keyword_reads_like_cpython(name, keyword):
    writer = RundownWriter()
    if not keyword or keyword in inspect.signature(getattr(RundownWriter, name)).parameters:
        return
    with pytest.raises(TypeError) as ours:
        getattr(writer, name)(**{keyword: 1})
    with pytest.raises(TypeError) as theirs:
        _python_twin(name)(writer, **{keyword: 1})
    assert str(ours.value) == str(theirs.value)


def test_class_level_call_without_self_names_self():
    with pytest.raises(TypeError, match=r"missing 3 required positional arguments: 'self', 'lines', and 'start_index'"):
        RundownWriter._parse_markdown_table()


class Str(str):
    pass


class List(list):
    pass


class Dict(dict):
    pass


TYPE_ERRORS = [
    ("_parse_pipe_row", (None,), "line", "str", "None"),
    ("_parse_pipe_row", (Str("a|b"),), "line", "str", "Str"),
    ("_parse_markdown_heading", (b"# x",), "line", "str", "bytes"),
    ("_parse_markdown_list_item", (1,), "line", "str", "int"),
    ("_collapse_blank_lines", (Str(""),), "text", "str", "Str"),
    ("_normalize_text_lines", (None,), "text", "str", "None"),
    ("_build_text_fallback_blocks", (["x"],), "text", "str", "list"),
    ("_is_markdown_delimiter_row", (("---", "---"),), "cells", "list", "tuple"),
    ("_render_blocks", (List(),), "blocks", "list", "List"),
    ("_to_structured_blocks", (None,), "blocks", "list", "None"),
    ("_parse_markdown_table", (List(), 0), "lines", "list", "List"),
    ("_parse_markdown_table", ([], "0"), "start_index", "a number", "str"),
    ("_parse_markdown_table", ([], None), "start_index", "a number", "None"),
    ("format_data", (None,), "data", "dict", "None"),
    ("_extract_questions", (Dict(),), "data", "dict", "Dict"),
    ("_question_at", ((), 1), "questions", "list", "tuple"),
    ("_question_at", ([], "1"), "index", "a number", "str"),
    ("_format_section", (1, {}, None), "question", "str", "None"),
    ("_format_section", (None, {}, "q"), "index", "a number", "None"),
    ("_format_answer_body", (1, Dict()), "answer", "dict", "Dict"),
    ("_build_answer_blocks", (None, []), "text", "str", "None"),
    ("_build_structured_answer_blocks", (List([{}]),), "structured_blocks", "list", "List"),
    ("_normalize_structured_row", (Dict(),), "block", "dict", "Dict"),
    ("_normalize_row_cells", (["a"], "2"), "width", "a number", "str"),
    ("_normalize_row_cells", (("a",), 2), "row", "list", "tuple"),
]


@pytest.mark.parametrize("name, args, param, expected, received", TYPE_ERRORS)
def test_exact_argument_types(writer, name, args, param, expected, received):
    with pytest.raises(TypeError) as error:
        getattr(writer, name)(*args)
    message = str(error.value)
    assert f"RundownWriter.{name}()" in message
    assert f"'{param}'" in message and f"must be {expected}, not {received}" in message


TABLE = ["| a | b |", "| --- | --- |", "| 1 | 2 |"]


@pytest.mark.parametrize(
    "start, expected",
    [(0, 3), (False, 3), (0.9, 3), (decimal.Decimal("0.5"), 3), (fractions.Fraction(1, 2), 3), (True, None)],
)
def test_int_parameter_takes_any_number(writer, start, expected):
    result = writer._parse_markdown_table(TABLE, start)
    assert (result and result[1]) == expected


def test_start_index_beyond_any_size(writer):
    assert writer._parse_markdown_table(TABLE, 10**30) is None


class WideRows(RundownWriter):
    def _parse_pipe_row(self, line):
        return line.split("|") if "|" in line else None

    def _is_markdown_delimiter_row(self, cells):
        return "---" in "".join(cells)


def test_subclass_override_is_seen_by_its_caller():
    block, _ = WideRows()._parse_markdown_table(TABLE, 0)
    assert block["header"] == ["", " a ", " b ", ""]


def test_class_and_instance_replacements_are_seen_at_the_next_call():
    class Writer(RundownWriter):
        pass

    writer = Writer()
    text = "- a\n- b"
    assert [b["text"] for b in writer._build_text_fallback_blocks(text)] == ["a", "b"]
    writer._parse_markdown_list_item = lambda line: {"kind": "list_item", "text": line.upper()}
    assert [b["text"] for b in writer._build_text_fallback_blocks(text)] == ["- A", "- B"]
    del writer._parse_markdown_list_item
    Writer._parse_markdown_list_item = lambda self, line: None
    assert writer._build_text_fallback_blocks(text) == [{"kind": "text", "text": "- a\n- b"}]
    del Writer._parse_markdown_list_item
    assert len(writer._build_text_fallback_blocks(text)) == 2


def test_replacement_re_on_the_module_is_used_by_the_next_call(writer, monkeypatch):
    seen = []

    class RecordingRe:
        @staticmethod
        def match(pattern, string):
            seen.append(pattern)
            return re.match(pattern, string)

    assert writer._parse_markdown_heading("# Title")["text"] == "Title"
    monkeypatch.setattr(rundown_writer, "re", RecordingRe)
    assert writer._parse_markdown_heading("# Title")["text"] == "Title"
    assert seen == [r"^(#{1,6})\s+(.*)$"]
    monkeypatch.delattr(rundown_writer, "re")
    with pytest.raises(NameError, match="name 're' is not defined"):
        writer._parse_markdown_heading("# Title")


def test_function_attributes_are_writable_like_python_functions():
    method = RundownWriter.__dict__["_render_blocks"]
    method.extra = 1
    assert method.__dict__ == {"extra": 1}
    del method.extra
    assert method.__get__(None, RundownWriter) is method
    assert method.__defaults__ is None and method.__kwdefaults__ is None
    assert method.__globals__ is vars(rundown_writer)
