"""`python -m tavik.amazon_rufus report`: the report of a record file or of standard input."""

import json
import os
import pathlib
import subprocess
import sys
from types import SimpleNamespace

import pytest

from tavik.amazon_rufus.services.rundown_writer import RundownWriter

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


REPORT = [sys.executable, "-m", "tavik.amazon_rufus", "report"]


def run(*args, stdin=None, env=None):
    """The command's status and its outputs as text; the input is bytes or text to send as UTF-8."""
    data = stdin.encode("utf-8") if isinstance(stdin, str) else stdin
    done = subprocess.run([*REPORT, *args], input=data, capture_output=True, env={**os.environ, **(env or {})})
    return SimpleNamespace(returncode=done.returncode, stdout=done.stdout.decode(), stderr=done.stderr.decode())


def one_line_error(result, status, *words):
    assert (result.returncode, result.stdout) == (status, "")
    assert result.stderr.startswith("error: ") and result.stderr.count("\n") == 1, result.stderr
    assert "Traceback" not in result.stderr and all(word in result.stderr for word in words), result.stderr


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


BAD_RECORDS = {  # the bytes, and words of the one line that says what is wrong with them
    "not UTF-8": (b'{"answers": [{"text": "\xff"}]}', "is not UTF-8: byte 0xff at offset 23 (invalid start byte)"),
    "empty": (b"", "is empty"),
    "only white space": (b" \r\n\t", "is empty"),
    "not JSON": (b"{not json", "is not JSON: Expecting property name enclosed in double quotes at line 1, column 2"),
    "byte order mark": (b'\xef\xbb\xbf{"answers": []}', "begins with a byte order mark"),
    "nested too deeply": (b"[" * 100_000, "nests arrays and objects too deeply"),
    "integer too long": (b'{"answers": ' + b"7" * 5000 + b"}", "holds an integer of more than 4300 digits"),
    "array": (b"[1, 2]", ": the top level is an array, not an object"),
    "string": (b'"answers"', ": the top level is a string, not an object"),
    "number": (b"1.5", ": the top level is a number, not an object"),
    "true": (b"true", ": the top level is true, not an object"),
    "null": (b"null", ": the top level is null, not an object"),
}


@pytest.mark.parametrize("source", ["standard input", "file"])
@pytest.mark.parametrize("content, words", BAD_RECORDS.values(), ids=BAD_RECORDS.keys())
def test_unusable_record_is_one_line_naming_its_source_with_status_3(tmp_path, source, content, words):
    path = tmp_path / "record.json"
    path.write_bytes(content)
    result = run(str(path)) if source == "file" else run("-", stdin=content)
    one_line_error(result, 3, words, str(path) if source == "file" else "standard input")


@pytest.mark.parametrize("name, words", [("missing.json", "No such file or directory"), ("", "Is a directory")])
def test_unreadable_file_is_one_line_with_status_3(tmp_path, name, words):
    one_line_error(run(str(tmp_path / name)), 3, f"cannot read {tmp_path / name}: {words}")


@pytest.mark.parametrize("text, encoding", [("héllo 中", "ascii"), ("a\ud800b", "utf-8")], ids=["ascii", "surrogate"])
def test_text_the_output_cannot_encode_is_escaped_in_the_whole_report(text, encoding):
    record = {"answers": [{"text": text}, {"text": "after"}]}
    result = run("-", stdin=json.dumps(record), env={"PYTHONIOENCODING": encoding})
    expected = (RundownWriter().format_data(record) + "\n").encode(encoding, "backslashreplace").decode(encoding)
    assert (result.returncode, result.stdout, result.stderr) == (0, expected, "")


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
def test_output_that_cannot_be_written_is_one_line_with_status_1():
    with open("/dev/full", "wb") as full:
        done = subprocess.run([*REPORT, str(EXAMPLES / "run_result.json")], stdout=full, stderr=subprocess.PIPE)
    assert (done.returncode, done.stderr) == (1, b"error: cannot write to standard output: No space left on device\n")


def test_reader_that_stops_early_ends_the_command_quietly_with_status_1():
    record = json.dumps({"answers": [{"text": "x" * 1000}] * 1000})  # a report far longer than a pipe holds
    command = subprocess.Popen([*REPORT, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    command.stdin.write(record.encode())
    command.stdin.close()
    assert command.stdout.read(3) == b"## "
    command.stdout.close()
    assert (command.wait(timeout=60), command.stderr.read()) == (1, b"")
