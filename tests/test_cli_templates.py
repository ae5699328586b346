"""`python -m tavik.amazon_rufus templates`: the bank listed in order, or the not-ready message and status 1."""

import subprocess
import sys
from pathlib import Path

import pytest

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


@pytest.mark.parametrize("args", [(), ("--skills-dir", ""), ("--skills-dir", "missing")])
def test_missing_bank_prints_the_message_and_exits_1(tmp_path, args):
    done = run(*args, cwd=tmp_path)
    assert done.returncode == 1 and done.stdout == ""
    assert done.stderr.rstrip("\n").endswith(MISSING)
    assert "Traceback" not in done.stderr


def test_bank_below_the_current_directory_is_found(tmp_path):
    bank = tmp_path / ".agents" / "skills" / "tavik-amazon-rufus" / "data" / "question_templates.json"
    bank.parent.mkdir(parents=True)
    bank.write_text('{"items": [{"id": 9, "description": "空", "questions": []}]}', encoding="utf-8")
    done = run(cwd=tmp_path)
    assert done.returncode == 1 and "题库为空" in done.stderr and "Traceback" not in done.stderr
