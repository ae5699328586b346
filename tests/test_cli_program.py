"""The command line as a program: the name it gives itself, its version, its statuses and its usage errors."""

import importlib.metadata
import re
import subprocess
import sys
from pathlib import Path

import pytest

import tavik.amazon_rufus

SCRIPT = Path(sys.executable).with_name("tavik-rufus")
STARTS = [
    pytest.param([str(SCRIPT)], "tavik-rufus", id="script", marks=pytest.mark.skipif(
        not SCRIPT.exists(), reason="the console script is not installed next to Python")),
    pytest.param([sys.executable, "-m", "tavik.amazon_rufus"], "python -m tavik.amazon_rufus", id="module"),
]


def run(command, *args):
    return subprocess.run([*command, *args], capture_output=True, text=True, encoding="utf-8")


@pytest.mark.parametrize("command, name", STARTS)
def test_help_and_version_name_the_program_as_started(command, name):
    done = run(command, "--help")
    assert done.returncode == 0 and done.stdout.startswith(f"usage: {name} ")
    assert re.findall(r"^ +(\d+)  ", done.stdout.split("exit status:\n")[1], re.M) == ["0", "1", "2", "3", "4", "130"]
    assert run(command, "report", "--help").stdout.startswith(f"usage: {name} report ")
    version = importlib.metadata.version("tavik-amazon-rufus-services")
    assert tavik.amazon_rufus.__version__ == version
    assert run(command, "--version").stdout == f"{name} {version}\n"


@pytest.mark.parametrize("command, name", STARTS)
@pytest.mark.parametrize(
    "args, words",
    [
        ((), "the following arguments are required: command; see {name} --help"),
        (("list",), "invalid choice: 'list'"),
        (("report",), "the following arguments are required: file; see {name} report --help"),
    ],
)
def test_usage_error_is_one_line_with_status_2(command, name, args, words):
    done = run(command, *args)
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.startswith("error: ") and done.stderr.count("\n") == 1 and words.format(name=name) in done.stderr
