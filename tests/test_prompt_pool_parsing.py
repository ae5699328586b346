"""_parse_template and _parse_question: key defaults, int() and str() conversions, skipped entries, the stable
sort by position, the keyword calls of the domain constructors, and the order in which errors are met."""

import math

import pytest

from tavik.amazon_rufus.services import prompt_pool
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService


class Recorder:
    """A stand-in for a domain class: keeps the keywords it was called with, in the order given."""

    def __init__(self, *args, **kwargs):
        assert not args
        self.keywords = list(kwargs.items())
        self.__dict__.update(kwargs)


@pytest.fixture
def service(monkeypatch):
    monkeypatch.setattr(prompt_pool, "Question", type("Question", (Recorder,), {}))
    monkeypatch.setattr(prompt_pool, "QuestionTemplate", type("QuestionTemplate", (Recorder,), {}))
    return PromptPoolService()


@pytest.mark.parametrize(
    "item, expected",
    [
        ({}, [("id", 0), ("text", ""), ("position", 0)]),
        ({"position": 2, "text": "t", "id": 5, "other": 1}, [("id", 5), ("text", "t"), ("position", 2)]),
        ({"id": "7", "text": None, "position": " -3 "}, [("id", 7), ("text", "None"), ("position", -3)]),
        ({"id": 7.9, "text": 12, "position": True}, [("id", 7), ("text", "12"), ("position", 1)]),
        ({"id": -2.5, "text": [1], "position": "1_0"}, [("id", -2), ("text", "[1]"), ("position", 10)]),
        ({"id": False, "text": True}, [("id", 0), ("text", "True"), ("position", 0)]),
    ],
)
def test_question_conversions(service, item, expected):
    question = service._parse_question(item)
    assert type(question).__name__ == "Question" and question.keywords == expected
    assert [type(v) for _, v in question.keywords] == [int, str, int]


@pytest.mark.parametrize(
    "item, expected",
    [
        ({}, [0, "", 0, [], None, None]),
        ({"id": " 12 ", "description": None, "preferred_version_index": -1.5}, [12, "None", -1, [], None, None]),
        ({"description": 12, "created_at": 5, "updated_at": {"d": 1}}, [0, "12", 0, [], 5, {"d": 1}]),
        ({"created_at": None, "updated_at": "2026-01-01"}, [0, "", 0, [], None, "2026-01-01"]),
    ],
)
def test_template_conversions(service, item, expected):
    template = service._parse_template(item)
    names = ["id", "description", "preferred_version_index", "questions", "created_at", "updated_at"]
    assert template.keywords == list(zip(names, expected))


@pytest.mark.parametrize(
    "questions, ids",
    [
        ([{"id": 1, "position": 3}, {"id": 2, "position": 1}, {"id": 3, "position": 3}], [2, 1, 3]),
        ([{"id": 1, "position": 1}, {"id": 2}, {"id": 3, "position": -1}], [3, 2, 1]),
        (["x", 5, None, [], True, {"id": 1}], [1]),
        ([{"id": 4}, {"id": 4}], [4, 4]),
        ({"a": 1}, []),
        ("text", []),
    ],
)
def test_questions_are_filtered_and_stably_sorted(service, questions, ids):
    assert [q.id for q in service._parse_template({"questions": questions}).questions] == ids


class Entry(dict):
    pass


@pytest.mark.parametrize(
    "item, error, first_seen",
    [
        ({"questions": None}, TypeError, "not iterable"),
        ({"id": None, "questions": [{"position": "first"}]}, ValueError, "'first'"),
        ({"id": [1], "description": object(), "preferred_version_index": None}, TypeError, "list"),
        ({"preferred_version_index": [1]}, TypeError, "list"),
        ({"id": math.inf}, OverflowError, "infinity"),
        ({"questions": [Entry()]}, TypeError, "must be dict, not Entry"),
    ],
)
def test_first_error_in_step_order_propagates(service, item, error, first_seen):
    with pytest.raises(error, match=first_seen):
        service._parse_template(item)


@pytest.mark.parametrize("method", ["_parse_template", "_parse_question"])
@pytest.mark.parametrize("item", [None, Entry(), [("id", 1)]])
def test_item_must_be_exactly_a_dict(service, method, item):
    with pytest.raises(TypeError, match="'item' must be dict"):
        getattr(service, method)(item)


def test_steps_and_classes_are_reached_at_each_call(service, monkeypatch):
    class Service(PromptPoolService):
        def _parse_question(self, item):
            return type("Q", (), {"position": -item["id"], "id": item["id"]})()

    template = Service()._parse_template({"questions": [{"id": 1}, {"id": 2}]})
    assert [q.id for q in template.questions] == [2, 1]
    monkeypatch.setattr(prompt_pool, "Question", lambda **keywords: object())
    with pytest.raises(AttributeError, match="position"):
        service._parse_template({"questions": [{}]})
    monkeypatch.delattr(prompt_pool, "Question")
    with pytest.raises(NameError, match="'Question'"):
        service._parse_question({})
