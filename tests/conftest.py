import pytest

from tavik.amazon_rufus.services import rundown_writer


@pytest.fixture
def module():
    return rundown_writer


@pytest.fixture
def writer():
    return rundown_writer.RundownWriter()
