"""The modules at the interpreter's edges: threads ended at exit, Python code that changes what a step holds,
fork, sub-interpreters, repeated module execution, signals, memory limits and imports that fail. Whatever can
end a process runs in a subprocess of its own."""

import gc
import json
import re
import sys
import textwrap
import time

import pytest

from reliability_support import SANITIZED, Generic, realistic_record, run_python
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

REPEATS = 2 if SANITIZED else 5

BANK = {"items": [{"id": i, "description": f"t{i}", "questions": [{"id": j, "text": f"q{j}", "position": -j}
                                                               for j in range(3)]} for i in range(20)]}

# Prepended to the subprocess scripts: a bank on disk and the writers and services that force each path.
PRELUDE = """
import gc, json, os, sys, tempfile, threading, time
sys.path.insert(0, {tests!r})
from reliability_support import realistic_record
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

class Text:
    def __str__(self):
        return "generic"

class Stepped(RundownWriter):
    def _render_blocks(self, blocks):
        return super()._render_blocks(blocks)

class Raising:
    def __str__(self):
        raise ValueError("no text")

# A text that is itself a report, `depth` reports deep: deep enough for the calls to look at the stack.
class Nested:
    def __init__(self, depth):
        self.depth = depth
    def __str__(self):
        if self.depth == 0:
            return "leaf"
        return RundownWriter().format_data({{"answers": [{{"summaryText": Nested(self.depth - 1)}}]}})

class SteppedPool(PromptPoolService):
    def _parse_question(self, item):
        return super()._parse_question(item)

BANK_DIR = tempfile.mkdtemp()
os.makedirs(os.path.join(BANK_DIR, "tavik-amazon-rufus", "data"))
with open(os.path.join(BANK_DIR, "tavik-amazon-rufus", "data", "question_templates.json"), "w") as f:
    json.dump({bank!r}, f)
RECORD = realistic_record(8)
TEXT_RECORD = dict(RECORD, answers=RECORD["answers"] + [{{"summaryText": Text()}}])
RAISING_RECORD = dict(RECORD, answers=RECORD["answers"] + [{{"summaryText": Raising()}}])
WORK = {{
    "native": lambda: RundownWriter().format_data(RECORD),
    "str": lambda: RundownWriter().format_data(TEXT_RECORD),
    "deep": lambda: RundownWriter().format_data({{"answers": [{{"summaryText": Nested(40)}}]}}),
    "override": lambda: Stepped().format_data(RECORD),
    "bank": lambda: PromptPoolService(BANK_DIR).load_templates(),
    "bank override": lambda: SteppedPool(BANK_DIR).load_templates(),
}}
"""


def run_script(body: str, timeout: float = 120):
    import os
    prelude = PRELUDE.format(tests=os.path.dirname(__file__), bank=BANK)
    return run_python(prelude + textwrap.dedent(body), timeout=timeout)


def assert_clean(result, stdout=None):
    assert (result.returncode, result.stderr) == (0, ""), result
    if stdout is not None:
        assert result.stdout == stdout


# --- Threads ended at exit ---------------------------------------------------------------------------------

@pytest.mark.parametrize("work", ["native", "str", "deep", "override", "bank", "bank override"])
@pytest.mark.parametrize("failing", [False, True], ids=["returning", "raising"])
def test_daemon_threads_inside_a_call_when_the_main_thread_ends(work, failing):
    # The main thread ends while daemon threads are inside the call; CPython ends them with pthread_exit
    # once it finalizes. With `failing`, each round also has a report fail at its last section.
    script = f"""
    work = WORK[{work!r}]
    if {failing}:
        def work(work=work):
            try:
                Stepped().format_data(RAISING_RECORD)
            except ValueError:
                return work()
    def loop():
        while True:
            work()
    for _ in range(4):
        threading.Thread(target=loop, daemon=True).start()
    time.sleep(0.1)
    """
    for _ in range(REPEATS):
        assert_clean(run_script(script))


# --- Steps that change what their callers hold ---------------------------------------------------------------

def _clear(container):
    container.clear()


def _extend(container):
    if isinstance(container, list):
        container.extend([None, "x | y", ["a", "b"], {"type": "heading", "text": "h"}])
    else:
        container.update({"type": "table_row", "kind": "table", "text": "a | b", "cells": ["c"], "rows": [[1]]})


def _replace(container):
    if isinstance(container, list):
        container[:] = [{"kind": "list_item", "type": "list", "items": ["i"]}, ["r", "s", "t"], 7]
    else:
        container.clear()
        container.update({"type": "list", "items": [1, 2], "header": ["h"], "text": 3})


MUTATIONS = {"clear": _clear, "extend": _extend, "replace": _replace}
WRITER_STEPS = [name for name in vars(RundownWriter) if name.startswith("_") and not name.startswith("__")]
POOL_STEPS = ["_resolve_question_templates_path", "_not_ready", "_parse_template", "_parse_question"]
HOST_ERRORS = (TypeError, AttributeError, IndexError, KeyError, ValueError)


def meddling(base, step, mutate, untouched):
    """A subclass of `base` whose `step`, in its first calls, changes every list and dict that holds one of
    its arguments (the caller's pending rows, lines, blocks and items) or is one, except the objects in
    `untouched`: once before its own work and once after. Each container is changed once, so that a list
    being walked does not grow without end."""
    changed = set(untouched)
    calls = []

    def reach_and_change(args):
        for arg in args:
            for obj in [arg, *gc.get_referrers(arg)]:
                if type(obj) in (list, dict) and id(obj) not in changed:
                    changed.add(id(obj))
                    mutate(obj)

    def override(self, *args, **kwargs):
        calls.append(1)
        if len(calls) <= 3:
            reach_and_change(args)
        result = getattr(super(cls, self), step)(*args, **kwargs)
        if len(calls) <= 3:
            reach_and_change(args)
        return result

    cls = type("Meddling", (base,), {step: override})
    return cls


def untouched_objects(*keep):
    """Every collector-tracked object of the moment but those inside `keep`: the test's and pytest's own."""
    inside = set()
    stack = list(keep)
    while stack:
        obj = stack.pop()
        if id(obj) not in inside and isinstance(obj, (list, dict)):
            inside.add(id(obj))
            stack.extend(obj.values() if isinstance(obj, dict) else obj)
    return {id(o) for o in gc.get_objects()} - inside


@pytest.mark.parametrize("mutation", MUTATIONS)
@pytest.mark.parametrize("step", WRITER_STEPS)
def test_a_writer_step_that_changes_what_its_callers_hold(step, mutation):
    record = realistic_record(3)
    writer = meddling(RundownWriter, step, MUTATIONS[mutation], untouched_objects(record))()
    try:
        assert isinstance(writer.format_data(record), str)
    except HOST_ERRORS:
        pass


@pytest.mark.parametrize("mutation", MUTATIONS)
@pytest.mark.parametrize("step", POOL_STEPS)
def test_a_bank_step_that_changes_what_its_callers_hold(step, mutation, tmp_path):
    path = tmp_path / "tavik-amazon-rufus" / "data" / "question_templates.json"
    path.parent.mkdir(parents=True)
    path.write_text(json.dumps(BANK))
    service = meddling(PromptPoolService, step, MUTATIONS[mutation], untouched_objects())(str(tmp_path))
    try:
        assert isinstance(service.load_templates(), list)
    except Exception as error:  # the bank's own error class too
        assert isinstance(error, HOST_ERRORS) or type(error).__name__ == "PromptPoolNotReadyError"


TABLE = [{"type": "table_row", "cells": ["a", "b"]}, {"type": "table_row", "cells": ["c"]},
         {"type": "table_row", "cells": ["d", "e", "f"]}, {"type": "table_row", "cells": ["g"]}]


class RowsEmptiedWhileSquared(RundownWriter):
    # Empties the pending rows (the list that holds the header) while the body rows are squared: the rows
    # being squared are those pending when the squaring began.
    def _normalize_row_cells(self, row, width):
        for holder in gc.get_referrers(row):
            if type(holder) is list and holder and holder[0] == ["a", "b"]:
                holder.clear()
        return super()._normalize_row_cells(row, width)


class RowsExtendedWhileSquared(RundownWriter):
    def _normalize_row_cells(self, row, width):
        for holder in gc.get_referrers(row):
            if type(holder) is list and holder and holder[0] == ["a", "b"]:
                holder.extend([["x"]] * 100)
        return super()._normalize_row_cells(row, width)


class LinesEmptiedAtAHeading(RundownWriter):
    def _parse_markdown_heading(self, line):
        for holder in gc.get_referrers(line):
            if type(holder) is list and "# H" in holder:
                holder.clear()
        return super()._parse_markdown_heading(line)


@pytest.mark.parametrize("writer_class, answer, same_as", [
    (RowsEmptiedWhileSquared, {"blocks": TABLE}, {"blocks": TABLE}),
    (RowsExtendedWhileSquared, {"blocks": TABLE}, {"blocks": TABLE}),
    (LinesEmptiedAtAHeading, {"text": "# H\nplain\n- item"}, {"text": "# H"}),
], ids=["rows emptied", "rows extended", "lines emptied"])
def test_a_step_that_changes_what_its_caller_reads_next(writer_class, answer, same_as):
    assert writer_class().format_data({"answers": [answer]}) == RundownWriter().format_data({"answers": [same_as]})


# --- Fork -----------------------------------------------------------------------------------------------------

FORK_CHILD = """
def child():
    ok = all(WORK[w]() == WORK[w]() for w in ("native", "str", "override")) and len(WORK["bank"]()) == 20
    os._exit(0 if ok else 3)

def fork_and_wait():
    pid = os.fork()
    if pid == 0:
        child()
    return os.waitpid(pid, 0)[1]
"""


@pytest.mark.parametrize("where", [
    """
    class Forking(RundownWriter):
        def _format_section(self, *args):
            if not statuses:
                statuses.append(fork_and_wait())
            return super()._format_section(*args)
    expected = WORK["native"]()
    assert Forking().format_data(RECORD) == expected
    """,
    """
    forked = []
    def forking(phase, info):
        if phase == "start" and not forked:
            forked.append(1)  # before the fork: the child's collections do not fork again
            statuses.append(fork_and_wait())
    gc.callbacks.append(forking)
    gc.set_threshold(50)
    while not forked:
        WORK["str"]()
    gc.callbacks.remove(forking)
    """,
    """
    stop = []
    def busy():
        while not stop:
            WORK["str"]()
    runner = threading.Thread(target=busy)
    runner.start()
    forker = threading.Thread(target=lambda: statuses.append(fork_and_wait()))
    forker.start()
    forker.join()
    stop.append(1)
    runner.join()
    """,
], ids=["inside a step", "inside gc.callbacks during a report", "from a non-main thread"])
def test_fork_at_an_awkward_point(where):
    result = run_script(FORK_CHILD + "statuses = []\n" + textwrap.dedent(where) + "print(statuses)\n")
    if sys.version_info >= (3, 12) and "threading.Thread" in where:
        # From 3.12 on, the interpreter itself warns once when a process that runs other threads forks (3.13 shows
        # the line of the fork under the warning).
        result.stderr, warned = re.subn(r"\A<string>:\d+: DeprecationWarning: This process \(pid=\d+\) is "
                                        r"multi-threaded, use of fork\(\) may lead to deadlocks in the child\.\n(  .*\n)?",
                                        "", result.stderr)
        assert warned == 1, result.stderr
    assert_clean(result)
    statuses = json.loads(result.stdout)
    assert statuses and set(statuses) == {0}


# --- Sub-interpreters and repeated execution -----------------------------------------------------------------

def test_sub_interpreters_created_used_and_destroyed_alternating_with_the_main_one():
    # Sub-interpreters that share the main one's GIL, the only kind 3.11 has. 3.12 makes isolated ones unless
    # told otherwise, and 3.13 renamed the module, took a configuration's name, and returns a failure rather
    # than raising it.
    result = run_script("""
    if sys.version_info >= (3, 13):
        import _interpreters as interpreters
        create = lambda: interpreters.create("legacy")
    else:
        import _xxsubinterpreters as interpreters
        create = (lambda: interpreters.create(isolated=False)) if sys.version_info >= (3, 12) else interpreters.create
    code = '''
    import sys
    sys.path.insert(0, {tests!r})
    from reliability_support import realistic_record
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter
    from tavik.amazon_rufus.services.prompt_pool import PromptPoolService
    assert RundownWriter().format_data(realistic_record(8)) == expected
    assert len(PromptPoolService(bank_dir).load_templates()) == 20
    '''.format(tests=sys.path[0])
    expected = WORK["native"]()
    for _ in range({rounds}):
        interp = create()
        failure = interpreters.run_string(interp, code, shared={"expected": expected, "bank_dir": BANK_DIR})
        assert failure is None, failure
        interpreters.destroy(interp)
        assert WORK["native"]() == expected == WORK["override"]()
        assert len(WORK["bank"]()) == 20
    print("done")
    """.replace("{rounds}", str(5 if SANITIZED else 25)))
    assert_clean(result, "done\n")


@pytest.mark.parametrize("name", ["rundown_writer", "prompt_pool"])
def test_the_module_executed_many_times(name):
    result = run_script(f"""
    import importlib.util, weakref
    import tavik.amazon_rufus.services.{name} as original
    refs = []
    spec = original.__spec__
    created = [spec.loader.create_module(spec) for _ in range(20)]  # made but never executed
    del created
    for i in range({10 if SANITIZED else 100}):
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        spec.loader.exec_module(module)  # a second execution of the same module does nothing
        if {name!r} == "rundown_writer":
            assert module.RundownWriter().format_data(RECORD) == WORK["native"]()
            assert module.RundownWriter().format_data(TEXT_RECORD) == WORK["str"]()
        else:
            assert len(module.PromptPoolService(BANK_DIR).load_templates()) == 20
        instance = (getattr(module, "RundownWriter", None) or module.PromptPoolService)()
        module.cycle = [module, instance]  # collected with the module through the state's traverse and clear
        refs.append(weakref.ref(module))
        del module, instance
        if i % 10 == 0:
            gc.collect()
    gc.collect()
    print(sum(ref() is not None for ref in refs))
    """)
    assert_clean(result, "0\n")  # every copy collected


# --- SIGINT and memory -------------------------------------------------------------------------------------

@pytest.mark.parametrize("work", ["native", "str", "override", "bank override"])
def test_sigint_during_long_calls(work):
    import os
    import signal
    import subprocess
    import sys
    script = PRELUDE.format(tests=os.path.dirname(__file__), bank=BANK) + textwrap.dedent(f"""
    RECORD = realistic_record({300 if SANITIZED else 3000})
    TEXT_RECORD = dict(RECORD, answers=RECORD["answers"] + [{{"summaryText": Text()}}])
    with open(os.path.join(BANK_DIR, "tavik-amazon-rufus", "data", "question_templates.json"), "w") as f:
        json.dump({{"items": [{{"questions": [{{"id": 1}}] * 50}}] * {200 if SANITIZED else 2000}}}, f)
    # The interpreter leaves SIGINT alone when it starts with SIGINT ignored, as a runner started in the
    # background by a shell has it, and this process inherits that: the handler is installed here.
    import signal
    signal.signal(signal.SIGINT, signal.default_int_handler)
    print("started", flush=True)
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            WORK[{work!r}]()
        print("never interrupted")
    except KeyboardInterrupt:
        print("interrupted")
    assert WORK["native"]() == WORK["override"]() and len(WORK["bank"]()) == {200 if SANITIZED else 2000}
    """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "started\n"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=120)
    assert (child.returncode, out, err) == (0, "interrupted\n", "")


@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve far more address space than any limit here")
@pytest.mark.parametrize("work", ["native", "override"])
def test_a_report_too_big_for_the_address_space_raises_memory_error(work):
    result = run_script(f"""
    import resource
    writer = RundownWriter() if {work!r} == "native" else Stepped()
    big = {{"answers": [{{"text": ("word | cell | " * 20 + "\\n") * 200_000}}] * 4}}
    small = WORK["native"]()
    with open("/proc/self/statm") as statm:
        used = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    resource.setrlimit(resource.RLIMIT_AS, (used + (200 << 20), resource.RLIM_INFINITY))
    try:
        writer.format_data(big)
    except MemoryError:
        print("MemoryError")
    del big
    assert WORK["native"]() == WORK["override"]() == small and len(WORK["bank"]()) == 20
    """)
    assert_clean(result, "MemoryError\n")


# --- Imports that fail ----------------------------------------------------------------------------------------

IMPORTERS = {
    "rundown_writer": "import re\nfrom typing import Any\n",
    "prompt_pool": ("import json\nfrom pathlib import Path\n"
                    "from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError\n"
                    "from tavik.amazon_rufus.domain.models import Question, QuestionTemplate\n"),
}

# How each needed module is spoiled before the load: `None` in sys.modules, a module whose execution
# raises, a module lacking every name (with a file, and without one).
FAULTS = """
import importlib.abc, importlib.machinery, types
for key in [k for k in sys.modules if k == TARGET or k.startswith(TARGET + ".")]:
    del sys.modules[key]
if FAULT == "missing":
    sys.modules[TARGET] = None
elif FAULT == "broken":
    class Broken(importlib.abc.MetaPathFinder, importlib.abc.Loader):
        def find_spec(self, name, path, target=None):
            return importlib.machinery.ModuleSpec(name, self) if name == TARGET else None
        def exec_module(self, module):
            raise RuntimeError("broken " + module.__name__)
    sys.meta_path.insert(0, Broken())
else:
    sys.modules[TARGET] = types.ModuleType(TARGET)
    if FAULT == "lacking names":
        sys.modules[TARGET].__file__ = "/nowhere/" + TARGET + ".py"
"""

LOAD = """
import builtins, json, sys
import tavik.amazon_rufus.services
sys.path.insert(0, {where!r})
TARGET, FAULT = {target!r}, {fault!r}
{faults}
calls = []
real_import = builtins.__import__
def logging_import(name, globals=None, locals=None, fromlist=(), level=0):
    if name in {needed!r}:
        calls.append([name, list(fromlist or ())])
    return real_import(name, globals, locals, fromlist, level)
builtins.__import__ = logging_import
try:
    import {module} as loaded
    outcome = sorted(k for k in vars(loaded) if not k.startswith("__"))
except BaseException as error:
    outcome = [type(error).__name__, str(error), getattr(error, "name", None), getattr(error, "path", None)]
builtins.__import__ = real_import
print(json.dumps([outcome, calls]))
"""


@pytest.mark.parametrize("module, target", [
    ("rundown_writer", "re"), ("rundown_writer", "typing"),
    ("prompt_pool", "json"), ("prompt_pool", "pathlib"),
    ("prompt_pool", "tavik.amazon_rufus.domain.exceptions"), ("prompt_pool", "tavik.amazon_rufus.domain.models"),
])
@pytest.mark.parametrize("fault", ["missing", "broken", "lacking names", "lacking names and file"])
def test_a_needed_module_missing_broken_or_lacking_a_name(module, target, fault, tmp_path):
    (tmp_path / f"mirror_{module}.py").write_text(IMPORTERS[module])

    def load(name):
        needed = [line.split()[1] for line in IMPORTERS[module].splitlines()]
        result = run_python(LOAD.format(where=str(tmp_path), target=target, fault=fault, faults=FAULTS, module=name,
                                        needed=needed))
        assert (result.returncode, result.stderr) == (0, ""), result
        return json.loads(result.stdout)

    native_outcome, native_calls = load(f"tavik.amazon_rufus.services.{module}")
    mirror_outcome, mirror_calls = load(f"mirror_{module}")
    assert native_calls == mirror_calls
    if isinstance(mirror_outcome[1], str) and "cannot import name" in mirror_outcome[1]:
        assert native_outcome == mirror_outcome
    elif mirror_outcome and mirror_outcome[0].endswith("Error"):
        assert native_outcome == mirror_outcome
    else:  # loaded: the native namespace holds the mirror's names and its class
        assert set(mirror_outcome) < set(native_outcome)


@pytest.mark.parametrize("fake", [
    'types.ModuleType("re")',
    'type("NotAModule", (), {})()',
], ids=["module", "object"])
def test_an_re_without_match_at_load_and_a_match_bound_later(fake):
    result = run_script(f"""
    import re, types, typing
    fake = {fake}
    sys.modules["re"] = fake
    for key in [k for k in sys.modules if k.startswith("tavik.amazon_rufus.services.rundown_writer")]:
        del sys.modules[key]
    import importlib
    module = importlib.import_module("tavik.amazon_rufus.services.rundown_writer")
    assert module.re is fake
    fake.match = re.match
    writer = module.RundownWriter()
    print(writer.format_data(RECORD) == WORK["native"]() == Stepped().format_data(RECORD),
          writer._parse_markdown_heading("## h") == {{"kind": "heading", "level": 2, "text": "h"}})
    """)
    assert_clean(result, "True True\n")


# --- Memory running out at a thread's first throw -----------------------------------------------------------

# Nothing of the modules throws before the limit; then the address space is filled (Python objects of every
# size, then the C allocator's chunks of every size class) but for `slack` of the smallest chunks, and the call
# runs in the main thread or in one started before or after the import.
FIRST_THROW = """
import ctypes, functools, os, resource, sys, threading
libc = ctypes.CDLL(None)
libc.malloc.restype, libc.malloc.argtypes = ctypes.c_void_p, [ctypes.c_size_t]
libc.free.argtypes = [ctypes.c_void_p]
HELD = (ctypes.c_void_p * 4_000_000)()
SIZES = [1 << k for k in range(24, 12, -1)] + list(range(4096, 0, -8))
go, outcome = threading.Event(), []

def first_throw():
    ballast, size, n = [], 1 << 24, 0
    while size >= 8:
        try:
            while True:
                ballast.append(bytearray(size))
        except MemoryError:
            size //= 2
    for size in SIZES:
        while n < len(HELD) and (p := libc.malloc(size)):
            HELD[n], n = p, n + 1
    for i in range(n - {slack}, n):
        libc.free(HELD[i])
    try:
        call()
        outcome.append("returned")
    except MemoryError:
        outcome.append("MemoryError")
    for i in range(n - {slack}):
        libc.free(HELD[i])
    del ballast[:]
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))

thread = threading.Thread(target=lambda: (go.wait(), first_throw()))
if {thread!r} == "started before the import":
    thread.start()
sys.path.insert(0, {tests!r})
from reliability_support import realistic_record
from tavik.amazon_rufus.services.rundown_writer import RundownWriter
from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

class Stepped(RundownWriter):
    def _render_blocks(self, blocks):
        return super()._render_blocks(blocks)

class SteppedPool(PromptPoolService):
    def _parse_question(self, item):
        return super()._parse_question(item)

if {work!r} == "report":
    record = realistic_record(4)
    call = functools.partial(Stepped().format_data, record)
    check = lambda: Stepped().format_data(record) == RundownWriter().format_data(record)
else:
    bank_dir = os.path.join({tests!r}, "..", "examples", "skills")
    call = SteppedPool(bank_dir).load_templates
    check = lambda: SteppedPool(bank_dir).load_templates() == PromptPoolService(bank_dir).load_templates()
if {thread!r} == "started after the import":
    thread.start()
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
resource.setrlimit(resource.RLIMIT_AS, (used + (16 << 20), resource.RLIM_INFINITY))
if {thread!r} == "main":
    first_throw()
else:
    go.set()
    thread.join()
print(outcome, check())
"""


@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve far more address space than any limit here")
@pytest.mark.parametrize("slack", [0, 16, 256, 4096], ids=lambda n: f"{n} chunks left")
@pytest.mark.parametrize("thread", ["main", "started after the import", "started before the import"])
@pytest.mark.parametrize("work", ["report", "bank"])
def test_memory_running_out_at_a_thread_s_first_throw_raises_memory_error(work, thread, slack):
    # The C++ runtime must find its per-thread exception data in place when the call fails.
    import os
    result = run_python(FIRST_THROW.format(thread=thread, work=work, slack=slack, tests=os.path.dirname(__file__)))
    assert_clean(result, "['MemoryError'] True\n")


# --- Deep re-entry -----------------------------------------------------------------------------------------

RE_ENTRY = """
import resource, sys, threading
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

class Again:
    def __str__(self):
        return writer.format_data({{"answers": [{{"summaryText": Again()}}]}})

class ReEntering(RundownWriter):
    def _format_answer_body(self, index, answer):
        return [self.format_data({{"answers": [answer]}})]

writer = ReEntering() if {route!r} == "a step" else RundownWriter()
record = {{"answers": [{{"text": "x"}}]}} if {route!r} == "a step" else {{"answers": [{{"summaryText": Again()}}]}}
outcome = []

def run():
    try:
        writer.format_data(record)
        outcome.append("returned")
    except RecursionError:
        outcome.append("RecursionError")

sys.setrecursionlimit({limit})
if {stack_kib}:
    threading.stack_size({stack_kib} * 1024)
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
else:
    run()
print(outcome[0], RundownWriter().format_data({{"answers": [{{"summaryText": "s"}}]}}).endswith("s"))
"""


def _main_stack_of_8_mib():
    import resource
    resource.setrlimit(resource.RLIMIT_STACK, (8 << 20, resource.getrlimit(resource.RLIMIT_STACK)[1]))


# The sanitizers' frames are several times larger: their threads get four times the stack.
STACK_SCALE = 4 if SANITIZED else 1


@pytest.mark.parametrize("route", ["a value's __str__", "a step"])
@pytest.mark.parametrize("stack_kib, limit", [
    (128, 1000), (384, 1000), (512, 1200), (0, 18_000), (0, 100_000),
], ids=["thread of 128 KiB", "thread of 384 KiB", "thread of 512 KiB at 1200", "main thread at 18000",
        "main thread at 100000"])
def test_re_entry_at_any_depth_the_limit_allows_ends_in_recursion_error(stack_kib, limit, route):
    import subprocess
    import sys
    script = RE_ENTRY.format(route=route, limit=limit, stack_kib=stack_kib * STACK_SCALE)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                            preexec_fn=_main_stack_of_8_mib)
    assert (result.returncode, result.stdout, result.stderr) == (0, "RecursionError True\n", "")


# --- Signals during long generic reports -------------------------------------------------------------------

ROW = "| " + " | ".join(["cell"] * 10) + " |"

# Reports on the generic path whose long stretches are loops of the generic code: over the lines of a text,
# the items of a list, the rows of a table, the lines of a report.
LONG_WORK = {
    "blank lines": "writer.format_data({'answers': [{'text': 'x\\n' + '\\n' * 8_000_000 + 'y'}]})",
    "list items": "writer.format_data({'answers': [{'text': '- item\\n' * 1_000_000}]})",
    "table": f"writer.format_data({{'answers': [{{'text': '\\n'.join([{ROW!r}, {ROW.replace('cell', '---')!r}] "
             f"+ [{ROW!r}] * 300_000)}}]}})",
    "blank lines of a report": "writer._collapse_blank_lines('x\\n' + ' \\n' * 20_000_000 + 'y')",
}

INTERRUPTED = """
import signal, time
from tavik.amazon_rufus.services.rundown_writer import RundownWriter

# The replaced step runs first: the rest of the report runs no Python code at all, where the interpreter
# would run the handlers itself.
class Stepped(RundownWriter):
    def _extract_questions(self, data):
        return super()._extract_questions(data)

class Alarm(Exception):
    pass

def alarm(signum, frame):
    raise Alarm

signal.signal(signal.SIGALRM, alarm)
signal.signal(signal.SIGINT, signal.default_int_handler)  # even where the parent ignores SIGINT
writer = Stepped()
if {alarm}:
    print("started", time.monotonic() + {after}, flush=True)
    signal.setitimer(signal.ITIMER_REAL, {after})
else:
    print("started", flush=True)
try:
    {work}
    print("finished before the signal")
except (Alarm, KeyboardInterrupt):
    print(time.monotonic())
"""


@pytest.mark.parametrize("signal_name", ["SIGALRM", "SIGINT"])
@pytest.mark.parametrize("work", LONG_WORK)
def test_a_signal_during_a_long_generic_report_raises_promptly(work, signal_name):
    # Each report takes seconds; the handler's exception must arrive well within a quarter of a second of the
    # signal. SIGINT comes from this process (a thread of the child would wait for the interpreter's lock).
    import signal
    import subprocess
    import sys
    script = INTERRUPTED.format(after=0.5, alarm=signal_name == "SIGALRM", work=LONG_WORK[work])
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    started = child.stdout.readline().split()
    assert started[0] == "started"
    if signal_name == "SIGINT":
        time.sleep(0.5)
        sent = time.monotonic()  # the same clock for every process of the machine
        child.send_signal(signal.SIGINT)
    else:
        sent = float(started[1])
    out, err = child.communicate(timeout=300)
    assert (child.returncode, err) == (0, "")
    assert out != "finished before the signal\n"
    assert float(out) - sent < (1.0 if SANITIZED else 0.25)


# --- The native report: signals during long reports, handlers that change the record, shared dicts ---------

SCALE = 10 if SANITIZED else 1
LONG_RECORDS = {
    "many answers": f'{{"answers": [{{"text": "x", "summaryText": "s"}}] * {600_000 // SCALE}}}',
    "long paragraph": f'{{"answers": [{{"text": ("word " * 10 + "\\n") * {2_000_000 // SCALE}}}]}}',
    "long table": f'{{"answers": [{{"text": "| a | b |\\n| --- | --- |\\n" + "| 1 | 2 |\\n" * {10_000_000 // SCALE}}}]}}',
    "wide rows": f'{{"answers": [{{"blocks": [{{"type": "table_row", "cells": ["a"] * {5_000_000 // SCALE}}}] * 2}}]}}',
}


@pytest.mark.parametrize("record", LONG_RECORDS.values(), ids=LONG_RECORDS.keys())
def test_a_signal_handler_s_exception_ends_a_long_native_report_promptly(record):
    result = run_script(f"""
    import signal
    class Alarm(Exception):
        pass
    def alarm(*args):
        raise Alarm
    signal.signal(signal.SIGALRM, alarm)
    record = {record}
    writer = RundownWriter()
    start = time.perf_counter()
    writer.format_data(record)
    full = time.perf_counter() - start
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    start = time.perf_counter()
    try:
        writer.format_data(record)
        print("never interrupted")
    except Alarm:
        print(json.dumps({{"full": full, "delay": time.perf_counter() - start - 0.05}}))
    """, timeout=300)
    assert result.returncode == 0, result
    if "never interrupted" in result.stdout:
        pytest.fail("the report ended before the alarm: " + result.stdout)
    times = json.loads(result.stdout)
    if not SANITIZED:  # the whole report takes far longer than the delay allowed
        assert times["full"] > 0.2 and times["delay"] < 0.1, times  # 50 ms and room for a loaded machine


def test_a_signal_handler_that_changes_the_record_during_native_reports():
    # The handler runs at the report's checks for signals, between reading and writing or within either: what
    # the report keeps of the record stays alive, and what it reads again fits what it read before or sends the
    # report to the generic path.
    result = run_script(f"""
    import random, signal
    random.seed(7)
    def make():
        cells = [f"c{{i}}" for i in range({300_000 // SCALE})]
        answer = {{"text": "| a | b |\\n| --- | --- |\\n" + "| 1 | 2 |\\n" * {50_000 // SCALE}
                          + ("word " * 10 + "\\n") * {200_000 // SCALE},
                  "summaryText": "summary", "productLinks": [{{"asin": "B1", "title": "t" * 50}}] * 1000,
                  "blocks": [{{"type": "table_row", "cells": cells}}, {{"type": "table_row", "cells": list(cells)}},
                             {{"type": "paragraph", "text": "p" * 100}}]}}
        return {{"answers": [answer, dict(answer, blocks=None), {{"text": "x"}}] * 3, "questions": ["q" * 30] * 9}}
    def change(*args):
        for answer in record["answers"]:
            answer["text"] = "changed"
            answer["summaryText"] = 5
            blocks = answer.get("blocks")
            if isinstance(blocks, list) and blocks:
                blocks[0]["cells"][:] = [1.5, None, "🧥" * 3] * 7
                blocks.clear()
            if random.random() < 0.3:
                answer.clear()
        del record["answers"][2:]
        record["questions"].clear()
    signal.signal(signal.SIGALRM, change)
    for _ in range({20 // min(SCALE, 4)}):
        record = make()
        signal.setitimer(signal.ITIMER_REAL, random.uniform(0.001, 0.05))
        report = RundownWriter().format_data(record)
        signal.setitimer(signal.ITIMER_REAL, 0)
        assert isinstance(report, str)
    print("ok")
    """, timeout=300)
    assert_clean(result, "ok\n")


def test_shared_dicts_of_many_keys_are_read_in_time_linear_in_the_record():
    shared = {"text": "x", **{f"k{i}": i for i in range(100_000)}}
    record = {"answers": [shared] * 2000}
    start = time.perf_counter()
    native = RundownWriter().format_data(record)
    elapsed = time.perf_counter() - start
    assert native == Generic().format_data(record)
    assert elapsed < 0.5, elapsed  # walking every key of every answer takes seconds
