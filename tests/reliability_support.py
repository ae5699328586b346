"""Shared by the tests: the subclass that sends every report down the generic path, the plain-Python writer of
bench/ and the check that all three write the same report, a realistic record, the scale of the long loops,
and measurements of what a loop of calls keeps (references, traced Python memory, resident memory including
C++ allocations)."""

from __future__ import annotations

import gc
import importlib.util
import os
import random
import subprocess
import sys
import textwrap
import tracemalloc
from pathlib import Path

from tavik.amazon_rufus.services.rundown_writer import RundownWriter

# .ci/run sets TAVIK_SANITIZED=1 for the run under AddressSanitizer, where every call is several times slower:
# the loops then run a tenth of their calls and resident memory, which the sanitizer's quarantine of freed
# blocks inflates, is not compared.
SANITIZED = os.environ.get("TAVIK_SANITIZED") == "1"
LOOP_CALLS = 2_000 if SANITIZED else 20_000

BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench")


class Generic(RundownWriter):
    """Replaces no behaviour, but one replaced step sends every report down the generic path."""

    def _render_blocks(self, blocks):
        return super()._render_blocks(blocks)


def _load_reference():
    spec = importlib.util.spec_from_file_location("reference_writer", os.path.join(BENCH, "reference_writer.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.ReferenceWriter


ReferenceWriter = _load_reference()


def outcome(writer, record):
    """The report, or the type of the exception raised instead."""
    try:
        return writer.format_data(record)
    except Exception as error:  # the type is compared
        return type(error)


def same_report(record):
    """The native report, checked equal to the generic path's and to the plain-Python writer's (or the same
    exception type from all three)."""
    native = outcome(RundownWriter(), record)
    generic = outcome(Generic(), record)
    assert native == generic, "the native and generic paths disagree"
    assert native == outcome(ReferenceWriter(), record), "the module and the plain-Python writer disagree"
    return native


def int_levels(blocks):
    """`blocks` with a heading's level True read as 1: the module gives the int, the plain-Python writer keeps
    the bool, and both render it alike."""
    return [dict(b, level=int(b["level"])) if isinstance(b, dict) and type(b.get("level")) is bool else b
            for b in blocks]


def text(t):
    """An intermediate block of the text walk: a paragraph, a heading, a list item, a table."""
    return {"kind": "text", "text": t}


def heading(level, t):
    return {"kind": "heading", "level": level, "text": t}


def item(t):
    return {"kind": "list_item", "text": t}


def table(header, rows):
    return {"kind": "table", "header": header, "rows": rows}


class Boom(Exception):
    """An error of the tests' own, raised by the hostile values below."""


class IndexRaises:
    def __index__(self):
        raise Boom("index")


class StrRaises:
    def __str__(self):
        raise Boom("str")


BANK = Path("tavik-amazon-rufus", "data", "question_templates.json")


def write_bank(skills, content) -> Path:
    """The question bank under the skills directory `skills`: `content` as bytes or text, or a directory where the
    file should be (None)."""
    path = Path(skills) / BANK
    path.parent.mkdir(parents=True, exist_ok=True)
    if content is None:
        path.mkdir()
    elif isinstance(content, str):
        path.write_text(content)
    else:
        path.write_bytes(content)
    return path


# An answer of many sections' worth of every construct.
LONG_ANSWER = {"text": "## 概览\n" + "".join(f"- item {i}\n  more\n| a | b {i} |\n| --- | --- |\n| 1 | 2 |\n\npara {i}\n"
                                             for i in range(900))}

PHRASES_EN = "waterproof seams breathable hood light pack fits true to size durable zipper vents".split()
PHRASES_ZH = ["防水性能很好", "透气面料", "适合登山", "重量较轻", "性价比高", "做工扎实"]


def _sentence(rng: random.Random, zh: bool) -> str:
    if zh:
        return "，".join(rng.choice(PHRASES_ZH) for _ in range(rng.randint(2, 4))) + "。"
    return " ".join(rng.choice(PHRASES_EN) for _ in range(rng.randint(5, 10))).capitalize() + "."


def markdown_text(rng: random.Random, zh: bool) -> str:
    """One answer text with every construct the text walk knows."""
    return "\n".join([
        f"## {_sentence(rng, zh)[:20]}", _sentence(rng, zh), _sentence(rng, zh), "",
        f"- {_sentence(rng, zh)}", f"  {_sentence(rng, zh)}", f"1. {_sentence(rng, zh)}", "",
        "| 型号 | 重量 |" if zh else "| Model | Weight |", "| --- | :---: |",
        f"| A{rng.randint(1, 99)} | {rng.randint(200, 900)} g |", f"| B | 1 | surplus |", "",
        "```text", f"# {_sentence(rng, zh)}", "```", _sentence(rng, zh) + "   ", "\r\n\r\n",
    ])


def structured_blocks(rng: random.Random, zh: bool) -> list:
    return [
        {"type": "heading", "text": _sentence(rng, zh)[:20], "level": rng.randint(0, 9)},
        {"type": "paragraph", "text": _sentence(rng, zh)},
        {"type": "list_item", "text": _sentence(rng, zh)},
        {"type": "list_item", "text": " "},
        {"type": "image", "text": "photo.png"},
        {"type": "table_row", "cells": ["Model", "Weight", "Rating"]},
        {"type": "table_row", "cells": [f"A{rng.randint(1, 99)}", None, 4.5]},
        {"type": "table_row", "text": "B | 300 g"},
    ]


def links(rng: random.Random, n: int) -> list:
    out: list = []
    for i in range(n):
        asin = f"B0{rng.randint(10**7, 10**8 - 1)}"
        if i % 3 == 0:
            out.append(f"  {asin}  ")
        else:
            out.append({"asin": asin, "title": _sentence(rng, i % 2 == 0)[:24], "href": f"/dp/{asin}",
                        "source": "similar", "description": _sentence(rng, False)})
    return out


def realistic_record(n_answers: int = 6, seed: int = 7) -> dict:
    """A decoded run result: Chinese and English answers, text and structured blocks, link lists, summaries,
    a failed answer and an answer that is not a dict."""
    rng = random.Random(seed)
    answers: list = []
    for i in range(n_answers):
        zh = i % 2 == 0
        answers.append({
            "isSuccess": True,
            "text": markdown_text(rng, zh),
            "blocks": structured_blocks(rng, zh) if i % 3 == 0 else [],
            "productLinks": links(rng, 1 + i % 3),
            "recommendedAsins": links(rng, 1 + i % 2),
            "summaryText": f"  {_sentence(rng, zh)}  ",
        })
    answers[2 % n_answers] = {"isSuccess": False, "text": "", "blocks": [{"type": "paragraph", "text": "x"}]}
    answers.append(None)
    questions = [{"question": _sentence(rng, i % 2 == 0)} if i % 2 else _sentence(rng, True) for i in range(n_answers - 1)]
    return {"questions": ["  ", *questions], "answers": answers, "upload_payload": {"records": [{"questions": ["u"]}]}}


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def walk(obj, seen=None):
    """`obj` and every container and value inside it, each once."""
    seen = {} if seen is None else seen
    if id(obj) in seen:
        return seen
    seen[id(obj)] = obj
    if isinstance(obj, dict):
        for key, value in obj.items():
            walk(key, seen)
            walk(value, seen)
    elif isinstance(obj, (list, tuple)):
        for value in obj:
            walk(value, seen)
    return seen


def shared(obj) -> bool:
    """Objects whose reference count the rest of the interpreter changes too: None, bools, small ints, and
    strings the compiler or the interpreter interns (names and single characters)."""
    if obj is None or isinstance(obj, bool) or (type(obj) is int and -5 <= obj <= 256):
        return True
    return type(obj) is str and (len(obj) <= 1 or obj.isidentifier())


def run_quietly(call, n: int, expected: type[BaseException] | None) -> None:
    for _ in range(n):
        if expected is None:
            call()
            continue
        try:
            call()
        except expected:
            pass
        else:
            raise AssertionError(f"{call} did not raise {expected.__name__}")


def assert_loop_keeps_nothing(call, inputs, expected: type[BaseException] | None = None, calls: int = LOOP_CALLS,
                              traced_bound: int = 64_000, resident_bound: int = 4 << 20) -> None:
    """Runs `call` `calls` times after a warm-up; the reference counts of everything inside `inputs`, the traced
    Python memory and (outside the sanitizer run) the resident memory must come out as they went in."""
    objects = [o for o in walk(inputs).values() if not shared(o)]
    run_quietly(call, max(calls // 20, 50), expected)
    gc.collect()
    counts = [sys.getrefcount(o) for o in objects]
    resident = resident_bytes()
    # Most calls run untraced (tracing costs more than the calls); the traced stretch sees Python allocations.
    run_quietly(call, calls - calls // 10, expected)
    tracemalloc.start()
    try:
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0]
        run_quietly(call, calls // 10, expected)
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0] - traced
    finally:
        tracemalloc.stop()
    grown = resident_bytes() - resident
    after = [sys.getrefcount(o) for o in objects]
    changed = [(type(objects[i]).__name__, repr(objects[i])[:40], counts[i], after[i])
               for i in range(len(objects)) if after[i] != counts[i]]
    assert not changed, f"reference counts changed over {calls} calls: {changed[:5]}"
    assert traced < traced_bound, f"{traced} traced bytes kept over {calls // 10} calls"
    if not SANITIZED:
        assert grown < resident_bound, f"resident memory grew by {grown} bytes over {calls} calls"


def run_python(code: str, timeout: float = 120) -> subprocess.CompletedProcess:
    """`code` in a fresh interpreter, so that a crash fails one test instead of ending the run."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)


# The deprecated C API that makes a str whose characters live apart from the object (and leaves it not ready) is
# gone from CPython 3.12 on, and with it every such str: the tests of them run on 3.11 only.
def needs_legacy_str(test):
    import pytest  # here: the sub-interpreters and subprocesses that import this file have no need of it

    return pytest.mark.skipif(sys.version_info >= (3, 12),
                              reason="strs stored apart from their object exist only up to CPython 3.11")(test)


def legacy_str(text: str, ready: bool = True) -> str:
    """An exact str made by the deprecated C API, whose characters live apart from the object. Unless `ready`,
    it is left as that API leaves it: not ready, its length reading 0 until something makes it ready."""
    import ctypes
    import warnings

    api = ctypes.pythonapi
    new = api.PyUnicode_FromUnicode
    new.restype, new.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_ssize_t]
    units = api.PyUnicode_AsUnicode
    units.restype, units.argtypes = ctypes.c_void_p, [ctypes.py_object]
    make_ready = api._PyUnicode_Ready
    make_ready.restype, make_ready.argtypes = ctypes.c_int, [ctypes.py_object]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        s = new(None, len(text))
        ctypes.memmove(units(s), ctypes.create_unicode_buffer(text), len(text) * ctypes.sizeof(ctypes.c_wchar))
    if ready:
        assert make_ready(s) == 0 and type(s) is str and s == text
    return s
