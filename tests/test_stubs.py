"""The .pyi stubs match the compiled modules, as mypy's stubtest sees them."""

import importlib.util
import subprocess
import sys

import pytest


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
@pytest.mark.parametrize("module", ["tavik.amazon_rufus.services.rundown_writer", "tavik.amazon_rufus.services.prompt_pool"])
def test_stub_matches_module(module):
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", module], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
