"""load_templates on real files: the one candidate path, the four not-ready errors with their chaining, the
errors that pass through unchanged, and the steps and names reached at the moment of each call."""

import json
import os
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from reliability_support import BANK, write_bank

from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError
from tavik.amazon_rufus.services import prompt_pool
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

MISSING = "题库未就绪，请先执行 `tavik skills install tavik-amazon-rufus`，再执行 `tavik skills upgrade tavik-amazon-rufus`"
NO_ITEMS = "题库格式错误：缺少 items 列表"
EMPTY = "题库为空，请执行 `tavik skills upgrade tavik-amazon-rufus` 同步默认题库"
ONE_QUESTION = b'{"items": [{"questions": [{"id": 1}]}]}'


def open_descriptors() -> int:
    return len(os.listdir("/proc/self/fd")) if os.path.isdir("/proc/self/fd") else 0


BAD_FILES = [
    ("empty file", b"", PromptPoolNotReadyError, "json"),
    ("truncated", b'{"items": [{"id": 1', PromptPoolNotReadyError, "json"),
    ("byte-order mark", b"\xef\xbb\xbf" + ONE_QUESTION, PromptPoolNotReadyError, "json"),
    ("not UTF-8", b'{"items": "\xff"}', UnicodeDecodeError, None),
    ("top-level array", b"[]", AttributeError, None),
    ("top-level string", b'"items"', AttributeError, None),
    ("no items", b'{"other": []}', PromptPoolNotReadyError, NO_ITEMS),
    ("items null", b'{"items": null}', PromptPoolNotReadyError, NO_ITEMS),
    ("items object", b'{"items": {"0": {}}}', PromptPoolNotReadyError, NO_ITEMS),
    ("items string", b'{"items": "[]"}', PromptPoolNotReadyError, NO_ITEMS),
    ("items number", b'{"items": 1}', PromptPoolNotReadyError, NO_ITEMS),
    ("items empty", b'{"items": []}', PromptPoolNotReadyError, EMPTY),
    ("only an empty template", b'{"items": [{}]}', PromptPoolNotReadyError, EMPTY),
    ("only skipped entries", b'{"items": [{"questions": ["q", 1, null, []]}]}', PromptPoolNotReadyError, EMPTY),
    ("string item", b'{"items": ["x"]}', TypeError, None),
    ("questions null", b'{"items": [{"questions": null}]}', TypeError, None),
    ("bad position", b'{"items": [{"questions": [{"position": "first"}]}]}', ValueError, None),
    ("infinite id", b'{"items": [{"id": Infinity}]}', OverflowError, None),
    ("directory", None, IsADirectoryError, None),
]


@pytest.mark.parametrize("content, error, message", [case[1:] for case in BAD_FILES], ids=[c[0] for c in BAD_FILES])
def test_bad_file_gives_exactly_its_error(tmp_path, content, error, message):
    path = write_bank(tmp_path, content)
    before = open_descriptors()
    with pytest.raises(Exception) as raised:
        PromptPoolService(str(tmp_path)).load_templates()
    assert type(raised.value) is error
    if message == "json":
        assert raised.value.args == (f"题库 JSON 格式错误: {path}",)
    elif message:
        assert raised.value.args == (message,)
    assert open_descriptors() == before


@pytest.mark.parametrize(
    "content, cause",
    [(None, FileNotFoundError), (b"{", json.JSONDecodeError), (b"{}", None), (b'{"items": []}', None)],
    ids=["missing", "invalid JSON", "no items", "empty"],
)
def test_chaining_of_the_four_not_ready_errors(tmp_path, content, cause):
    if content is not None:
        write_bank(tmp_path, content)
    with pytest.raises(PromptPoolNotReadyError) as raised:
        PromptPoolService(str(tmp_path)).load_templates()
    error = raised.value
    if cause is None:
        assert error.__cause__ is None and error.__context__ is None and not error.__suppress_context__
    else:
        assert type(error.__cause__) is cause and error.__suppress_context__
        assert error.__context__ is error.__cause__ and error.__cause__.__traceback__ is not None
    if content is None:
        assert error.args == (MISSING,)


def test_not_ready_result_is_raised_as_returned(tmp_path):
    other = KeyError("mine")
    handled = []

    class Service(PromptPoolService):
        def _not_ready(self):
            handled.append(sys.exc_info()[1])  # called while the missing file is being handled
            return other

    with pytest.raises(KeyError) as raised:
        Service(str(tmp_path)).load_templates()
    assert raised.value is other and type(other.__cause__) is FileNotFoundError
    assert handled == [other.__cause__] and sys.exc_info() == (None, None, None)


def test_errors_of_path_resolution_are_not_converted():
    class Service(PromptPoolService):
        def _resolve_question_templates_path(self):
            raise FileNotFoundError("cwd is gone")

    with pytest.raises(FileNotFoundError, match="cwd is gone"):
        Service().load_templates()


def test_unset_skills_dir_follows_the_current_directory(tmp_path, monkeypatch):
    first, second = tmp_path / "a", tmp_path / "b"
    write_bank(first / ".agents" / "skills", b'{"items": [{"id": 1, "questions": [{}]}]}')
    write_bank(second / ".agents" / "skills", b'{"items": [{"id": 2, "questions": [{}]}]}')
    service = PromptPoolService("")
    monkeypatch.chdir(first)
    assert [t.id for t in service.load_templates()] == [1]
    monkeypatch.chdir(second)
    assert [t.id for t in service.load_templates()] == [2]
    assert service._resolve_question_templates_path() == second / ".agents" / "skills" / BANK


def test_skills_dir_is_read_at_each_load_and_relative_stays_relative(tmp_path, monkeypatch):
    service = PromptPoolService("skills")
    assert service._resolve_question_templates_path() == Path("skills") / BANK
    write_bank(tmp_path, ONE_QUESTION)
    service.skills_dir = tmp_path
    assert len(service.load_templates()) == 1


def test_file_order_is_kept_and_one_question_suffices(tmp_path):
    write_bank(tmp_path, b'{"x": 1, "items": [{"id": 2}, {"id": 1, "questions": [{"text": "q"}]}]}')
    templates = PromptPoolService(str(tmp_path)).load_templates()
    assert [(t.id, len(t.questions)) for t in templates] == [(2, 0), (1, 1)]


def test_read_and_decode_go_through_the_path_object_and_module_json(monkeypatch):
    calls = []

    class FakePath:
        def read_text(self, **kwargs):
            calls.append(kwargs)
            return "text"

        def __str__(self):
            return "fake"

    class DecodeError(Exception):
        pass

    def loads(text):
        calls.append(text)
        raise DecodeError

    class Service(PromptPoolService):
        def _resolve_question_templates_path(self):
            return FakePath()

    monkeypatch.setattr(prompt_pool, "json", SimpleNamespace(loads=loads, JSONDecodeError=DecodeError))
    with pytest.raises(PromptPoolNotReadyError, match="^题库 JSON 格式错误: fake$"):
        Service().load_templates()
    assert calls == [{"encoding": "utf-8"}, "text"]
    monkeypatch.setattr(prompt_pool, "json", SimpleNamespace(loads=loads, JSONDecodeError="not a class"))
    with pytest.raises(TypeError, match="catching classes that do not inherit from BaseException") as raised:
        Service().load_templates()
    assert type(raised.value.__context__) is DecodeError


def test_example_bank_loads(monkeypatch):
    examples = Path(__file__).resolve().parents[1] / "examples" / "skills"
    templates = PromptPoolService(str(examples)).load_templates()
    assert len(templates) == 3 and templates[-1].questions == []
    for template in templates:
        positions = [q.position for q in template.questions]
        assert positions == sorted(positions)


def test_a_caller_s_handled_exception_survives_the_conversion(tmp_path):
    try:
        raise ValueError("outer")
    except ValueError as outer:
        with pytest.raises(PromptPoolNotReadyError) as raised:
            PromptPoolService(str(tmp_path)).load_templates()
        assert sys.exc_info()[1] is outer
        assert raised.value.__cause__.__context__ is outer


def _load_and_look(service, seen):
    seen.append(sys.exc_info()[1])
    with pytest.raises(PromptPoolNotReadyError):
        service.load_templates()
    seen.append(sys.exc_info()[1])


def _load_in_generator(service, own):
    """Loads a missing bank in the generator's own frame, inside a handler of its own when `own` is an exception,
    and yields what the generator sees as handled before the load and after it, then once resumed."""
    seen = []
    if own is None:
        _load_and_look(service, seen)
        yield seen
        seen.append(sys.exc_info()[1])
        yield seen
        return
    try:
        raise own
    except BaseException:
        _load_and_look(service, seen)
        yield seen
        seen.append(sys.exc_info()[1])
        yield seen


# (the generator's own handled exception, whether the caller handles one while the load runs, and what the
# generator sees before, after and once resumed outside the caller's handler: "outer", "own" or None)
HANDLED_IN_GENERATORS = [
    ("none", False, [None, None, None]),
    ("none", True, ["outer", "outer", None]),
    ("own", False, ["own", "own", "own"]),
    ("own", True, ["own", "own", "own"]),
    ("the caller's", True, ["outer", "outer", "outer"]),  # its slot holds the very exception below it
]


@pytest.mark.parametrize("own, caller_handles, expected", HANDLED_IN_GENERATORS)
def test_the_handled_exception_of_a_generator_that_loads(tmp_path, own, caller_handles, expected):
    outer, mine = ValueError("outer"), KeyError("own")
    names = {None: None, id(outer): "outer", id(mine): "own"}
    own_exception = {"none": None, "own": mine, "the caller's": outer}[own]
    steps = _load_in_generator(PromptPoolService(str(tmp_path)), own_exception)
    if caller_handles:
        try:
            raise outer
        except ValueError:
            seen = next(steps)
    else:
        seen = next(steps)
    assert sys.exc_info()[1] is None
    seen = next(steps)
    assert [names[id(e)] if e is not None else None for e in seen] == expected


ANY = st.none() | st.booleans() | st.floats() | st.text(max_size=3) | st.sampled_from(["1", " -2 ", [], {}])


def mostly(good, odd=ANY):
    """`good` three times in four, so that whole documents often load; `odd` otherwise."""
    return st.integers(0, 3).flatmap(lambda roll: good if roll else odd)


NUMBER = mostly(st.integers(-3, 3))
QUESTION = mostly(st.fixed_dictionaries({}, optional={"id": NUMBER, "text": ANY, "position": NUMBER, "x": ANY}))
TEMPLATE_KEYS = {"id": NUMBER, "description": ANY, "preferred_version_index": NUMBER, "created_at": ANY}
TEMPLATE = mostly(
    st.fixed_dictionaries({"questions": mostly(st.lists(QUESTION, max_size=4))}, optional=TEMPLATE_KEYS), st.just({})
)
DOCUMENT = mostly(st.fixed_dictionaries({"items": mostly(st.lists(TEMPLATE, max_size=3))}, optional={"x": ANY}))


@settings(max_examples=200, deadline=None)
@given(document=DOCUMENT)
def test_any_document_loads_or_raises_a_listed_error(tmp_path_factory, document):
    skills = tmp_path_factory.mktemp("fuzz")
    write_bank(skills, json.dumps(document).encode())
    try:
        templates = PromptPoolService(str(skills)).load_templates()
    except (PromptPoolNotReadyError, AttributeError, TypeError, ValueError, OverflowError):
        return
    assert sum(len(t.questions) for t in templates) > 0
    for template in templates:
        positions = [q.position for q in template.questions]
        assert positions == sorted(positions)
