"""The command line as a program: the name it gives itself, its version, its statuses and its usage errors."""

import importlib.metadata
import subprocess
import sys
from pathlib import Path

import pytest

import tavik.amazon_rufus

SCRIPT = Path(sys.executable).with_name("tavik-rufus")
MODULE = [sys.executable, "-m", "tavik.amazon_rufus"]


def run(command, *args):
    return subprocess.run([*command, *args], capture_output=True, text=True, encoding="utf-8")


needs_script = pytest.mark.skipif(not SCRIPT.exists(), reason="the console script is not installed next to Python")


@pytest.mark.parametrize(
    "command, name",
    [
        pytest.param([str(SCRIPT)], "tavik-rufus", marks=needs_script, id="script"),
        pytest.param(MODULE, "python -m tavik.amazon_rufus", id="module"),
    ],
)
def test_help_names_the_program_as_started_and_lists_the_statuses(command, name):
    done = run(command, "--help")
    assert done.returncode == 0 and done.stdout.startswith(f"usage: {name} ")
    statuses = done.stdout.split("exit status:\n")[1]
    assert [line.split()[0] for line in statuses.splitlines() if line[2:3].isdigit()] == ["0", "1", "2", "3", "4"]
    assert run(command, "report", "--help").stdout.startswith(f"usage: {name} report ")


@pytest.mark.parametrize("command", [pytest.param([str(SCRIPT)], marks=needs_script, id="script"), MODULE])
def test_version_is_the_distributions(command):
    done = run(command, "--version")
    version = importlib.metadata.version("tavik-amazon-rufus-services")
    assert tavik.amazon_rufus.__version__ == version
    assert (done.returncode, done.stdout.split()[-1], done.stderr) == (0, version, "")


@pytest.mark.parametrize(
    "args, words",
    [
        ((), "the following arguments are required: command; see python -m tavik.amazon_rufus --help"),
        (("list",), "invalid choice: 'list'"),
        (("report",), "the following arguments are required: file; see python -m tavik.amazon_rufus report --help"),
        (("report", "a.json", "b.json"), "unrecognized arguments: b.json"),
        (("templates", "--skills-dir"), "argument --skills-dir: expected one argument"),
    ],
)
def test_usage_error_is_one_line_with_status_2(args, words):
    done = run(MODULE, *args)
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.startswith("error: ") and done.stderr.count("\n") == 1 and words in done.stderr
