import re

import pytest

import reliability_support
from tavik.amazon_rufus.services import rundown_writer


@pytest.fixture
def module():
    return rundown_writer


@pytest.fixture
def writer():
    return rundown_writer.RundownWriter()


@pytest.fixture
def compiles(monkeypatch):
    """Counts the patterns compiled by `re.match`: the generic path compiles, the native one never does."""
    seen = []
    original = re._compile

    def counting(pattern, flags):
        seen.append(pattern)
        return original(pattern, flags)

    monkeypatch.setattr(re, "_compile", counting)
    return seen


@pytest.fixture
def generic():
    """A writer whose every report takes the generic path."""
    return reliability_support.Generic()


@pytest.fixture
def reference():
    """The report writer as plain Python (bench/reference_writer.py)."""
    return reliability_support.ReferenceWriter()
