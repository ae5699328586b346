"""The .pyi stubs match the compiled modules, as mypy's stubtest sees them, and carry the modules' docstrings."""

import ast
import importlib
import importlib.util
import inspect
import subprocess
import sys
from pathlib import Path

import pytest


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
@pytest.mark.parametrize("module", ["tavik.amazon_rufus.services.rundown_writer", "tavik.amazon_rufus.services.prompt_pool"])
def test_stub_matches_module(module):
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", module], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


def stub_docstrings(module):
    """The docstrings of a module's stub by dotted name below the module: "" for the module, "C", "C.m"."""
    path = Path(module.__file__).with_name(module.__name__.rpartition(".")[2] + ".pyi")
    tree = ast.parse(path.read_text(encoding="utf-8"))
    found = {"": ast.get_docstring(tree)}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            found[node.name] = ast.get_docstring(node)
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    found[f"{node.name}.{member.name}"] = ast.get_docstring(member)
    return found


def runtime_docstrings(module, names):
    found = {}
    for name in names:
        target = module
        for part in filter(None, name.split(".")):
            target = vars(target)[part]
        found[name] = inspect.getdoc(target) if target.__doc__ is not None else None
    return found


@pytest.mark.parametrize("name", ["rundown_writer", "prompt_pool"])
def test_stub_carries_the_modules_own_docstrings(name):
    module = importlib.import_module(f"tavik.amazon_rufus.services.{name}")
    in_stub = stub_docstrings(module)
    cls = next(value for value in vars(module).values() if inspect.isclass(value) and value.__module__ == module.__name__)
    methods = {f"{cls.__name__}.{key}" for key, value in vars(cls).items() if callable(value) and value.__doc__}
    assert methods <= in_stub.keys()
    assert in_stub == runtime_docstrings(module, in_stub)
