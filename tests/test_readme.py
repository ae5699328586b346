"""The README stays true: its sample is what the command prints, its Python example runs, and it stays short."""

import json
import os
import re
import subprocess
import sys
from pathlib import Path

from tavik.amazon_rufus.services.rundown_writer import RundownWriter

ROOT = Path(__file__).resolve().parents[1]
README = (ROOT / "README.md").read_text(encoding="utf-8")
UTF8 = {**os.environ, "PYTHONIOENCODING": "utf-8"}


def block(language, fence="```"):
    """The first fenced block of ``language`` in the README (the sample's fence is longer: it holds a fence)."""
    found = re.search(rf"^{fence}{language}\n(.*?)\n{fence}$", README, re.S | re.M)
    assert found, f"no {fence}{language} block in the README"
    return found[1]


def test_sample_is_the_commands_output():
    command = [sys.executable, "-m", "tavik.amazon_rufus", "report", "examples/run_result.json"]
    done = subprocess.run(command, cwd=ROOT, capture_output=True, encoding="utf-8", env=UTF8)
    assert (done.returncode, done.stderr) == (0, "")
    assert block("text", "````") + "\n" == done.stdout


def test_python_example_prints_the_report_and_the_bank():
    done = subprocess.run(
        [sys.executable, "-c", block("python")], cwd=ROOT, capture_output=True, encoding="utf-8", env=UTF8
    )
    assert (done.returncode, done.stderr) == (0, "")
    record = json.loads((ROOT / "examples" / "run_result.json").read_text(encoding="utf-8"))
    report, _, bank = done.stdout.partition(RundownWriter().format_data(record) + "\n")
    assert report == "" and bank.startswith("101 选品调研：户外露营帐篷 ['双层防雨帐篷和单层帐篷有什么区别？'")


def test_readme_is_short():
    assert len(README.encode("utf-8")) <= 15_000
