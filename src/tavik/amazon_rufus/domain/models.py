"""Domain models that the question bank reader builds."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any


@dataclass
class Question:
    """One question of a template, ordered by ``position`` within its template."""

    id: int
    text: str
    position: int


@dataclass
class QuestionTemplate:
    """A question template: a description and its questions, sorted by position."""

    id: int
    description: str
    preferred_version_index: int
    questions: list[Question] = field(default_factory=list)
    created_at: Any = None
    updated_at: Any = None
