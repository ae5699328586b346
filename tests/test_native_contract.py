"""What the native report owes the rest of the process (its memory is in test_memory.py): no thread, no side
effect of its guard, and a record that Python code changes mid-report (a collection's callbacks) read safely."""

import gc
import os

import pytest

from reliability_support import LONG_ANSWER, realistic_record, run_python
from tavik.amazon_rufus.services.rundown_writer import RundownWriter


def test_a_long_report_starts_no_thread():
    before = sorted(os.listdir("/proc/self/task"))
    for _ in range(3):
        assert RundownWriter().format_data({"answers": [LONG_ANSWER] * 2})
    assert sorted(os.listdir("/proc/self/task")) == before


def test_the_guard_creates_no_instance_dict():
    writer = RundownWriter()
    assert writer.format_data(realistic_record()).startswith("## 第 1 题")
    assert gc.get_referents(writer) == [RundownWriter]


class _CollidingKey:
    """A key that lands on the slot of a step's name in the instance dict; comparing it runs Python code."""

    def __init__(self, name, action):
        self.name, self.action = name, action

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        self.action()
        return False


def _tagging_override(self, text):
    return "TAGGED"


@pytest.mark.parametrize("probe", ["_normalize_text_lines", "_parse_markdown_heading", "_parse_pipe_row"])
@pytest.mark.parametrize("where", ["instance", "class"])
def test_code_run_by_the_guard_cannot_hide_an_override(probe, where):
    class Writer(RundownWriter):
        pass

    writer = Writer()

    def install():
        # The first step the guard looks at: already checked when the colliding key is met.
        if where == "instance":
            writer.__dict__["_collapse_blank_lines"] = _tagging_override.__get__(writer)
        else:
            Writer._collapse_blank_lines = _tagging_override

    writer.__dict__[_CollidingKey(probe, install)] = 1
    assert writer.format_data({"answers": [{"text": "body"}]}) == "TAGGED"


MUTATING_CALLBACK = """
import gc, sys
from tavik.amazon_rufus.services.rundown_writer import RundownWriter
sys.path.insert(0, {tests!r})
from reliability_support import Generic, realistic_record

def containers(obj, out):
    if isinstance(obj, dict):
        out.append(obj)
        for v in list(obj.values()):
            containers(v, out)
    elif isinstance(obj, list):
        out.append(obj)
        for v in list(obj):
            containers(v, out)
    return out

shapes = {{
    "realistic": realistic_record,
    "text": lambda: {{"answers": [{{"text": "## h\\n- a\\n  b\\n| a | b |\\n| --- | --- |\\n| 1 | 2 |\\npara\\n" * 30}}] * 3}},
    "blocks": lambda: {{"answers": [{{"blocks": [{{"type": "table_row", "cells": ["a", 1.5, None, 7]}},
                                              {{"type": "heading", "text": "h", "level": 2}},
                                              {{"type": "list_item", "text": "i"}}] * 20}}]}},
    "links": lambda: {{"answers": [{{"productLinks": [{{"asin": "B1", "title": "t", "href": "/dp"}}] * 20,
                                   "recommendedAsins": ["B2"] * 20, "summaryText": "s"}}] * 5}},
    "failing str": lambda: {{"answers": [{{"text": "x", "summaryText": 10 ** 5000}}, {{"text": "y"}}] * 5}},
}}
outcomes = set()
for name, make in shapes.items():
    for writer in (RundownWriter(), Generic()):
        for how in ("clear", "extend", "replace"):
            record = make()
            parts = containers(record, [])
            fired = []

            def callback(phase, info, parts=parts, how=how, fired=fired):
                if phase != "start" or fired:
                    return
                fired.append(1)
                for part in parts:
                    if isinstance(part, dict):
                        if how == "clear":
                            part.clear()
                        else:
                            part.update({{"text": "新" * 50, "answers": [None] * 3, "cells": [1, "x"]}})
                    else:
                        if how == "clear":
                            part.clear()
                        elif how == "extend":
                            part.extend([{{"text": "more"}}, "s", None] * 5)
                        else:
                            part[:] = [{{"type": "paragraph", "text": "r"}}]

            gc.callbacks.append(callback)
            gc.set_threshold(1)
            try:
                result = writer.format_data(record)
                outcomes.add(type(result).__name__)
            except ValueError:
                outcomes.add("ValueError")
            finally:
                gc.set_threshold(700)
                gc.callbacks.remove(callback)
print(sorted(outcomes))
"""


def test_a_collection_that_changes_the_record_mid_report():
    out = run_python(MUTATING_CALLBACK.format(tests=os.path.dirname(os.path.abspath(__file__))), timeout=300)
    assert out.returncode == 0, out.stderr[-3000:]
    assert "str" in out.stdout and "ValueError" in out.stdout
