"""What the command line writes of texts that come from outside (answers, questions, bank files): their control
characters shown as escapes, never obeyed by the terminal, unless `--raw` asks for them as they are; and its
failure lines, which say what failed and stay one line whatever the input holds."""

import json
import os
import re
import subprocess
import sys

import pytest

from reliability_support import SANITIZED
from tavik.amazon_rufus import cli
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

# ESC [ 2 J clears the screen, ESC ] … BEL sets the window title, U+009B is CSI in C1 form, U+0090 DCS, U+009D OSC;
# then NUL, backspace, DEL. Every one of them stays inside a line of the report.
HOSTILE = "a\x1b[2J\x1b]0;owned\x07\x9b31m\x90\x9d\x00\x08\x7fz"
SHOWN = r"a\x1b[2J\x1b]0;owned\x07\x9b31m\x90\x9d\x00\x08\x7fz"
# What may remain in escaped output: printable text, tab and line feed.
OBEYED = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")

T = HOSTILE
RECORDS = {  # a record that carries the text in one field
    "question": {"questions": [T], "answers": [{}]},
    "answer text": {"answers": [{"text": f"before {T} after"}]},
    "text table cell": {"answers": [{"text": f"| h | i |\n| --- | --- |\n| {T} | b |"}]},
    "block paragraph": {"answers": [{"blocks": [{"type": "paragraph", "text": T}]}]},
    "block heading": {"answers": [{"blocks": [{"type": "heading", "text": T}]}]},
    "block list item": {"answers": [{"blocks": [{"type": "list_item", "text": T}]}]},
    "block cells": {"answers": [{"blocks": [{"type": "table_row", "cells": ["h", T]}] * 2}]},
    "block row text": {"answers": [{"blocks": [{"type": "table_row", "text": f"{T} | d"}]}]},
    "product link string": {"answers": [{"productLinks": [T]}]},
    "link asin": {"answers": [{"productLinks": [{"asin": T, "title": "t"}]}]},
    "link title": {"answers": [{"productLinks": [{"asin": "B1", "title": T}]}]},
    "link href": {"answers": [{"productLinks": [{"href": T}]}]},
    "link description": {"answers": [{"productLinks": [{"asin": "B1", "description": T}]}]},
    "recommendation source": {"answers": [{"recommendedAsins": [{"asin": "B1", "source": T}]}]},
    "summary": {"answers": [{"summaryText": T}]},
}


def run_main(capsys, *args):
    try:
        status = cli.main(list(args), prog="tavik-rufus")
    except SystemExit as usage:  # how the parser leaves on a usage error
        status = usage.code
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("record", RECORDS.values(), ids=RECORDS.keys())
def test_report_shows_control_characters_and_raw_passes_them(tmp_path, capsys, record):
    path = tmp_path / "record.json"
    path.write_text(json.dumps(record), encoding="utf-8")
    report = RundownWriter().format_data(record) + "\n"
    assert HOSTILE in report

    status, out, err = run_main(capsys, "report", str(path))
    assert (status, err) == (0, "")
    assert SHOWN in out and not OBEYED.search(out)
    assert out.replace(SHOWN, HOSTILE) == report  # only the controls changed; the text around them is whole

    assert run_main(capsys, "report", "--raw", str(path)) == (0, report, "")


def bank(tmp_path, description, text):
    path = tmp_path / "skills" / "tavik-amazon-rufus" / "data" / "question_templates.json"
    path.parent.mkdir(parents=True)
    item = {"id": 7, "description": description, "questions": [{"id": 1, "text": text, "position": 1}]}
    path.write_text(json.dumps({"items": [item]}), encoding="utf-8")
    return str(tmp_path / "skills")


@pytest.mark.parametrize(
    "description, text, raw, shown",
    [
        (HOSTILE, "q", f"[7] {HOSTILE}\n  1. q\n", f"[7] {SHOWN}\n  1. q\n"),
        ("d", HOSTILE, f"[7] d\n  1. {HOSTILE}\n", f"[7] d\n  1. {SHOWN}\n"),
        # A carriage return would let the rest of a line overwrite its start; tab and line feed are kept.
        ("safe\rforged", "a\tb\nc", "[7] safe\rforged\n  1. a\tb\nc\n", "[7] safe\\x0dforged\n  1. a\tb\nc\n"),
    ],
    ids=["description", "question text", "carriage return"],
)
def test_templates_show_control_characters_and_raw_passes_them(tmp_path, capsys, description, text, raw, shown):
    skills = bank(tmp_path, description, text)
    assert run_main(capsys, "templates", "--skills-dir", skills) == (0, shown, "")
    assert run_main(capsys, "templates", "--skills-dir", skills, "--raw") == (0, raw, "")


def test_escapes_and_unencodable_characters_are_written_alike():
    record = json.dumps({"answers": [{"text": "é中\x9b\x1b"}]})
    done = subprocess.run(
        [sys.executable, "-m", "tavik.amazon_rufus", "report", "-"], input=record.encode(), capture_output=True,
        env={**os.environ, "PYTHONIOENCODING": "ascii"},
    )
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.endswith(b"\\xe9\\u4e2d\\x9b\\x1b\n")


@pytest.mark.parametrize(
    "args, status, line",
    [
        (("report", "/nonexistent/\x1b[2J\nname"), 3, r"error: cannot read /nonexistent/\x1b[2J\x0aname: No such"),
        (("templates", "--skills-dir", "/nonexistent/\x9b"), 4, r"looked for /nonexistent/\x9b/tavik-amazon-rufus/"),
        (("report", "a", "\x1b[2J\r"), 2, r"error: unrecognized arguments: \x1b[2J\x0d; see tavik-rufus --help"),
    ],
    ids=["report", "templates", "usage"],
)
def test_failure_line_shows_the_controls_of_its_input(capsys, args, status, line):
    done, out, err = run_main(capsys, *args)
    assert (done, out) == (status, "") and err.count("\n") == 1 and line in err and not OBEYED.search(err), err


@pytest.mark.parametrize(
    "error, line",
    [
        (MemoryError(), "error: out of memory"),
        (MemoryError("std::bad_alloc"), "error: out of memory"),
        (ValueError(), "error: unexpected ValueError"),
        (ValueError("  \n "), "error: unexpected ValueError"),
        (ValueError("two\nlines"), "error: unexpected ValueError: two lines"),
    ],
)
def test_every_failure_line_says_what_failed(monkeypatch, capsys, error, line):
    def failing(args):
        raise error

    monkeypatch.setattr(cli, "_report", failing)
    assert run_main(capsys, "report", "-") == (1, "", line + "\n")


@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve far more address space than any limit here")
def test_report_beyond_the_memory_limit_says_out_of_memory():
    # Two million empty answers: 6 MB of JSON that take far more than the limit as objects and as a report.
    limit = (
        "import resource, runpy, sys; resource.setrlimit(resource.RLIMIT_AS, (256 << 20, resource.RLIM_INFINITY));"
        "sys.argv = ['tavik-rufus', 'report', '-']; runpy.run_module('tavik.amazon_rufus', run_name='__main__')"
    )
    record = b'{"answers": [' + b",".join([b"{}"] * 2_000_000) + b"]}"
    done = subprocess.run([sys.executable, "-c", limit], input=record, capture_output=True)
    assert (done.returncode, done.stdout, done.stderr) == (1, b"", b"error: out of memory\n")
