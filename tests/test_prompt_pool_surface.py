"""PromptPoolService as a plain class: its module namespace and imports, method surface, and constructor."""

import importlib
import inspect
import json
import sys
from pathlib import Path

import pytest

from tavik.amazon_rufus.domain import exceptions, models
from tavik.amazon_rufus.services import prompt_pool
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

MODULE = "tavik.amazon_rufus.services.prompt_pool"

SURFACE = {
    "__init__": ("(self, skills_dir: 'str | None' = None) -> 'None'", None),
    "load_templates": ("(self) -> 'list[QuestionTemplate]'", "读取并校验 question_templates.json。"),
    "_resolve_question_templates_path": ("(self) -> 'Path'", "解析题库文件路径。"),
    "_not_ready": ("(self) -> 'PromptPoolNotReadyError'", "构造可操作的缺失题库错误。"),
    "_parse_template": ("(self, item: 'dict') -> 'QuestionTemplate'", "解析单个模板。"),
    "_parse_question": ("(self, item: 'dict') -> 'Question'", "解析单个题目。"),
}


def test_module_namespace_and_class():
    public = {k: v for k, v in vars(prompt_pool).items() if not k.startswith("__")}
    assert public == {
        "json": json,
        "Path": Path,
        "PromptPoolNotReadyError": exceptions.PromptPoolNotReadyError,
        "Question": models.Question,
        "QuestionTemplate": models.QuestionTemplate,
        "PromptPoolService": PromptPoolService,
    }
    assert prompt_pool.__doc__ == "默认题库读取服务。"
    assert PromptPoolService.__bases__ == (object,) and type(PromptPoolService) is type
    assert PromptPoolService.__doc__ == "从已安装 Skill 中读取合并后的默认题目模板。"
    assert {k for k in vars(PromptPoolService) if not k.startswith("__")} | {"__init__"} == set(SURFACE)


@pytest.mark.parametrize("name", SURFACE)
def test_method_describes_itself(name):
    signature, doc = SURFACE[name]
    method = vars(PromptPoolService)[name]
    assert str(inspect.signature(method)) == signature
    assert method.__doc__ == doc
    assert method.__qualname__ == f"PromptPoolService.{name}" and method.__module__ == MODULE


IMPORTED = ["json", "pathlib", "tavik.amazon_rufus.domain.exceptions", "tavik.amazon_rufus.domain.models"]


@pytest.mark.parametrize("first", range(len(IMPORTED)))
def test_failing_import_fails_the_load_and_imports_keep_their_order(monkeypatch, first):
    # With this import and every later one blocked, the error must name this one.
    monkeypatch.delitem(sys.modules, MODULE)
    for name in IMPORTED[first:]:
        monkeypatch.setitem(sys.modules, name, None)  # makes `import name` raise ImportError
    with pytest.raises(ImportError, match=f"^import of {IMPORTED[first]} halted"):
        importlib.import_module(MODULE)


@pytest.mark.parametrize(
    "given, expected",
    [
        (None, None),
        ("", None),
        ("skills", Path("skills")),
        ("/opt/skills", Path("/opt/skills")),
        ("~/skills", Path.home() / "skills"),
    ],
)
def test_constructor_sets_skills_dir(given, expected):
    assert PromptPoolService(given).skills_dir == expected
    assert PromptPoolService(skills_dir=given).skills_dir == expected


class Text(str):
    pass


@pytest.mark.parametrize("given", [Path("/opt"), Text("/opt"), b"/opt", 0])
def test_constructor_takes_exactly_str_or_none(given):
    with pytest.raises(TypeError, match="'skills_dir' must be str or None"):
        PromptPoolService(given)


def test_constructor_uses_the_module_path_of_the_moment(monkeypatch):
    made = []

    class RecordingPath(type(Path())):
        def expanduser(self):
            made.append(str(self))
            return self

    monkeypatch.setattr(prompt_pool, "Path", RecordingPath)
    assert isinstance(PromptPoolService("~/x").skills_dir, RecordingPath) and made == ["~/x"]
