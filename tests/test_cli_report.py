"""`python -m tavik.amazon_rufus report`: the report of a record file or of standard input."""

import json
import pathlib
import subprocess
import sys

import pytest

from tavik.amazon_rufus.services.rundown_writer import RundownWriter

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def run(*args, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "tavik.amazon_rufus", "report", *args],
        input=stdin, capture_output=True, text=True, encoding="utf-8",
    )


@pytest.mark.parametrize("name", ["run_result.json", "run_result_upload_payload.json"])
def test_examples_render_as_format_data_does(name):
    path = EXAMPLES / name
    result = run(str(path))
    assert result.returncode == 0, result.stderr
    assert result.stdout == RundownWriter().format_data(json.loads(path.read_text(encoding="utf-8"))) + "\n"


def test_example_shows_every_section_kind():
    out = run(str(EXAMPLES / "run_result.json")).stdout
    for marker in ["### 相关产品", "### 答案", "### 推荐 ASIN", "### 总结", "| --- |", "```text", "未获取到答案", "第 5 题：第 5 题"]:
        assert marker in out


def test_standard_input():
    result = run("-", stdin=json.dumps({"answers": [{"text": "hi"}]}))
    assert (result.returncode, result.stdout) == (0, "## 第 1 题：第 1 题\n\n### 答案\n\nhi\n")


def test_empty_report_prints_nothing():
    assert (run("-", stdin="{}").returncode, run("-", stdin="{}").stdout) == (0, "")


@pytest.mark.parametrize(
    "args, stdin, words",
    [
        (["/nonexistent/record.json"], None, "cannot read"),
        (["-"], "{not json", "not JSON"),
        (["-"], "[1, 2]", "JSON object"),
        (["-"], "null", "JSON object"),
    ],
)
def test_bad_input_is_one_line_on_stderr_with_status_2(args, stdin, words):
    result = run(*args, stdin=stdin)
    assert result.returncode == 2 and result.stdout == ""
    assert words in result.stderr and len(result.stderr.strip().splitlines()) == 1
    assert "Traceback" not in result.stderr
