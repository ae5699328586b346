"""The built modules: one exported symbol each, and the names their namespaces hold after import."""

import importlib
import shutil
import subprocess

import pytest

MODULES = {
    "tavik.amazon_rufus.services.rundown_writer": "PyInit_rundown_writer",
    "tavik.amazon_rufus.services.prompt_pool": "PyInit_prompt_pool",
}


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.parametrize("name, entry", MODULES.items())
def test_shared_library_exports_only_its_init_function(name, entry):
    path = importlib.import_module(name).__file__
    out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True, text=True).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert symbols == [entry]


def test_rundown_writer_namespace(module):
    import re
    import typing

    public = {k: v for k, v in vars(module).items() if not k.startswith("__")}
    assert public == {"re": re, "Any": typing.Any, "RundownWriter": module.RundownWriter}
