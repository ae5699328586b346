"""`python -m tavik.amazon_rufus templates`: the bank listed in order, the not-ready message and status 4, or one
line naming the bank file and what is wrong in it, with status 3."""

import subprocess
import sys
from pathlib import Path

import pytest

EMPTY = "题库为空，请执行 `tavik skills upgrade tavik-amazon-rufus` 同步默认题库"
MISSING = "题库未就绪，请先执行 `tavik skills install tavik-amazon-rufus`，再执行 `tavik skills upgrade tavik-amazon-rufus`"
EXAMPLES = Path(__file__).resolve().parents[1] / "examples" / "skills"


def run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "tavik.amazon_rufus", "templates", *args], cwd=cwd, capture_output=True, text=True
    )


def test_example_bank_is_listed_in_file_and_position_order(tmp_path):
    done = run("--skills-dir", str(EXAMPLES), cwd=tmp_path)
    assert done.returncode == 0 and done.stderr == ""
    lines = done.stdout.splitlines()
    assert lines[0] == "[101] 选品调研：户外露营帐篷"
    assert [line.split(".")[0].strip() for line in lines[1:4]] == ["1", "2", "3"]
    assert lines[-1] == "[103] 待补充：厨房小家电"


BANK = Path("tavik-amazon-rufus", "data", "question_templates.json")


@pytest.mark.parametrize(
    "args, looked_for",
    [
        ((), "{cwd}/.agents/skills/" + str(BANK)),
        (("--skills-dir", ""), "{cwd}/.agents/skills/" + str(BANK)),
        (("--skills-dir", "missing"), "missing/" + str(BANK)),
        (("--skills-dir", str(EXAMPLES / "tavik-amazon-rufus")), f"{EXAMPLES}/tavik-amazon-rufus/{BANK}"),  # too deep
    ],
    ids=["default", "empty", "relative", "one folder too deep"],
)
def test_missing_bank_prints_the_message_and_the_path_looked_for_and_exits_4(tmp_path, args, looked_for):
    done = run(*args, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (4, "")
    assert done.stderr == f"error: {MISSING}; looked for {looked_for.format(cwd=tmp_path)}\n"


def test_home_directory_that_cannot_be_expanded_is_the_users_input_with_status_3(tmp_path):
    done = run("--skills-dir", "~tavik-no-such-user/skills", cwd=tmp_path)
    assert (done.returncode, done.stdout, done.stderr) == (3, "", (
        "error: cannot expand ~tavik-no-such-user in --skills-dir ~tavik-no-such-user/skills: "
        "no home directory is known for user tavik-no-such-user\n"
    ))


def test_bank_below_the_current_directory_is_found(tmp_path):
    bank = tmp_path / ".agents" / "skills" / "tavik-amazon-rufus" / "data" / "question_templates.json"
    bank.parent.mkdir(parents=True)
    bank.write_text('{"items": [{"id": 9, "description": "空", "questions": []}]}', encoding="utf-8")
    done = run(cwd=tmp_path)
    assert (done.returncode, done.stderr) == (4, f"error: {EMPTY}; in {bank}\n")


def bank_file(tmp_path):
    path = tmp_path / "skills" / "tavik-amazon-rufus" / "data" / "question_templates.json"
    path.parent.mkdir(parents=True)
    return path


Q = b'"questions": [{}]'
BAD_BANKS = {  # the bytes, the status, and the one line that says what is wrong with them
    "empty file": (b" \n", 4, "题库 JSON 格式错误: {path} (the file is empty)"),
    "byte order mark": (
        b'\xef\xbb\xbf{"items": [{' + Q + b"}]}", 4,
        "题库 JSON 格式错误: {path} (it begins with a byte order mark)",
    ),
    "cut short": (b'{"items": [', 4, "题库 JSON 格式错误: {path} (Expecting value at line 1, column 12)"),
    "no items": (b'{"items": {}}', 4, "题库格式错误：缺少 items 列表; in {path}"),
    "no question": (b'{"items": [{"questions": ["x", 5]}]}', 4, EMPTY + "; in {path}"),
    "top level array": (b"[]", 3, "{path}: the top level is an array, not an object"),
    "top level null": (b"null", 3, "{path}: the top level is null, not an object"),
    "item no object": (b'{"items": [{' + Q + b"}, 7]}", 3, "{path}: item 2 is a number, not an object"),
    "questions null": (b'{"items": [{"questions": null}]}', 3, '{path}: item 1: "questions" is null, not an array'),
    "position a word": (
        b'{"items": [{"questions": [{}, {"position": "first"}]}]}', 3,
        '{path}: item 1, question 2: "position" is the string "first", not an integer',
    ),
    "version infinite": (
        b'{"items": [{' + Q + b', "preferred_version_index": 1e999}]}', 3,
        '{path}: item 1: "preferred_version_index" is the number Infinity, not an integer',
    ),
    "not UTF-8": (b'{"items": [{"description": "\xff"}]}', 3, "{path} is not UTF-8: byte 0xff at offset 28"),
    "nested too deeply": (b'{"items": ' + b"[" * 100_000, 3, "{path} nests arrays and objects too deeply"),
}


@pytest.mark.parametrize("content, status, words", BAD_BANKS.values(), ids=BAD_BANKS.keys())
def test_bad_bank_is_one_line_with_its_status(tmp_path, content, status, words):
    path = bank_file(tmp_path)
    path.write_bytes(content)
    done = run("--skills-dir", str(tmp_path / "skills"), cwd=tmp_path)
    assert (done.returncode, done.stdout) == (status, "")
    assert done.stderr.startswith("error: ") and done.stderr.count("\n") == 1, done.stderr
    assert "Traceback" not in done.stderr and words.format(path=path) in done.stderr


def test_directory_in_place_of_the_bank_is_one_line_with_status_3(tmp_path):
    path = bank_file(tmp_path)
    path.mkdir()
    done = run("--skills-dir", str(tmp_path / "skills"), cwd=tmp_path)
    assert (done.returncode, done.stderr) == (3, f"error: cannot read {path}: Is a directory\n")


def test_current_directory_that_is_gone_is_one_line_with_status_3(tmp_path):
    script = 'mkdir "$1" && cd "$1" && rmdir "$1" && exec "$2" -m tavik.amazon_rufus templates'
    done = subprocess.run(["sh", "-c", script, "sh", tmp_path / "gone", sys.executable], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (
        3, "error: cannot look for the bank below the current directory: No such file or directory\n"
    )
