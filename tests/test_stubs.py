"""The .pyi stubs match the compiled modules, as mypy's stubtest sees them, and carry the modules' docstrings."""

import ast
import importlib
import importlib.util
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
    """The docstrings of a module's stub: of the module (under ""), its classes ("C") and their methods ("C.m")."""
    tree = ast.parse(Path(module.__file__).with_name(module.__name__.rpartition(".")[2] + ".pyi").read_text("utf-8"))
    found = {"": ast.get_docstring(tree)}
    for cls in (node for node in tree.body if isinstance(node, ast.ClassDef)):
        found[cls.name] = ast.get_docstring(cls)
        found.update({f"{cls.name}.{f.name}": ast.get_docstring(f) for f in cls.body if isinstance(f, ast.FunctionDef)})
    return found


@pytest.mark.parametrize("name", ["rundown_writer", "prompt_pool"])
def test_stub_carries_the_modules_own_docstrings(name):
    module = importlib.import_module(f"tavik.amazon_rufus.services.{name}")
    in_stub = stub_docstrings(module)
    at_runtime = {"": module.__doc__}
    for key in in_stub.keys() - {""}:
        cls, _, method = key.partition(".")
        at_runtime[key] = vars(getattr(module, cls))[method].__doc__ if method else getattr(module, cls).__doc__
    assert in_stub == at_runtime
    cls = next(value for value in vars(module).values() if getattr(value, "__module__", None) == module.__name__)
    documented = {f"{cls.__name__}.{key}" for key, value in vars(cls).items() if callable(value) and value.__doc__}
    assert documented <= in_stub.keys()
