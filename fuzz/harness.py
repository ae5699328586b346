"""Coverage-guided differential fuzzing of the report writer under libFuzzer (atheris), with the extension built
by clang with AddressSanitizer, UBSan and coverage counters (fuzz/run.sh builds and runs it).

Each input is decoded into a run result record and a few loose texts and line lists (fuzz/records.py). The
record goes to three writers that must give the same report, or raise the same exception type:
  native     RundownWriter, whose report the C++ code computes as a whole when nothing is replaced;
  generic    a subclass that overrides one step with the same behaviour, which sends every report down the
             generic path, each step called through the instance;
  reference  bench/reference_writer.py, the writer transcribed into plain Python.
The texts of the first answers, the loose texts and the line lists also go through the text methods one by one
(line normalisation, the text walk and its conversion, assembly and rendering, the blank-line clean-up, and
the line parsers), on the module as it is, on the module with its `re` replaced (which sends the pattern
parsers down their generic bodies), and on the reference. The link lists and structured blocks of those
answers go through the link and assembly methods likewise.

A difference raises Divergence after the input is saved as fuzz/failures/divergence-<sha1>; a sanitizer
report aborts. libFuzzer then writes the input as a crash file too. `fuzz/run.sh show FILE` (which runs
`harness.py --show FILE` in the sanitizer's environment) prints what an input decodes to and the three reports."""

from __future__ import annotations

import contextlib
import hashlib
import os
import re
import sys
import types

import atheris

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))

# The reference is not instrumented: the module's own coverage steers the fuzzer, and Python's would cost
# about a third of the executions.
from reference_writer import ReferenceWriter  # noqa: E402

import records  # noqa: E402
from tavik.amazon_rufus.services import rundown_writer  # noqa: E402
from tavik.amazon_rufus.services.rundown_writer import RundownWriter  # noqa: E402

MAX_ANSWERS = 3  # answers whose parts go through the methods one by one (the report has them all)
MAX_LINES = 32  # lines of one loose text given to the line parsers one by one
MAX_METHOD_TEXT = 4096  # longer answer texts (grown by repeats) go through the report only


class Generic(RundownWriter):
    """Changes nothing; overriding one step sends every report down the generic path."""

    def _question_at(self, questions, index):
        return super()._question_at(questions, index)


NATIVE = RundownWriter()
GENERIC = Generic()
REFERENCE = ReferenceWriter()
PLAIN_RE = types.SimpleNamespace(match=re.match)  # not the module's own `re`: the parsers go generic


class Divergence(AssertionError):
    pass


@contextlib.contextmanager
def generic_re():
    original = rundown_writer.re
    rundown_writer.re = PLAIN_RE
    try:
        yield
    finally:
        rundown_writer.re = original


def heading_levels_as_int(blocks):
    """A known difference, invisible in the report: for a heading level of True the reference's display block
    keeps True (Python's max(True, 1) is True) where the module writes 1. Compared as ints."""
    if not isinstance(blocks, list):
        return blocks
    return [dict(b, level=int(b["level"])) if isinstance(b, dict) and type(b.get("level")) is bool else b
            for b in blocks]


CANONICAL = {
    "_build_structured_answer_blocks": heading_levels_as_int,
}


def outcome(name: str, call) -> tuple[tuple[str, str], object]:
    """The outcome of `call()` for comparison: its result as a repr (which shows types and the order of dict
    keys) or the type of its exception; and the result itself (None when it raised)."""
    try:
        result = call()
    except Exception as error:  # every exception is an outcome to compare
        return ("raises", type(error).__name__), None
    return ("returns", repr(CANONICAL.get(name, lambda r: r)(result))), result


def same(what: str, outcomes: dict[str, tuple[str, str]], shown) -> None:
    if len(set(outcomes.values())) > 1:
        lines = [f"Divergence in {what}", f"input: {shown!r}"]
        lines += [f"  {path:>9}: {kind} {value}" for path, (kind, value) in outcomes.items()]
        raise Divergence("\n".join(lines))


# The methods that reach a pattern parser: their bodies differ with the module's own `re` and with another.
USE_RE = {"_parse_markdown_heading", "_parse_markdown_list_item", "_is_markdown_delimiter_row",
          "_parse_markdown_table", "_build_text_fallback_blocks"}


def check_method(name: str, *args, **kwargs) -> object:
    """Calls the method on the module, again with a replaced `re` when that changes its body, and on the
    reference; returns the reference's result (None when it raised)."""
    outcomes = {"native": outcome(name, lambda: getattr(NATIVE, name)(*args, **kwargs))[0]}
    if name in USE_RE:
        with generic_re():
            outcomes["generic"] = outcome(name, lambda: getattr(NATIVE, name)(*args, **kwargs))[0]
    outcomes["reference"], result = outcome(name, lambda: getattr(REFERENCE, name)(*args, **kwargs))
    same(name, outcomes, args)
    return result


def check_report(record: dict) -> None:
    same("format_data", {
        path: outcome("format_data", lambda: writer.format_data(record))[0]
        for path, writer in (("native", NATIVE), ("generic", GENERIC), ("reference", REFERENCE))
    }, record)


def check_line(line: str) -> None:
    check_method("_parse_markdown_heading", line)
    check_method("_parse_markdown_list_item", line)
    cells = check_method("_parse_pipe_row", line)
    if cells is not None:
        check_method("_is_markdown_delimiter_row", cells)
    if "|" in line:
        check_method("_is_markdown_delimiter_row", line.split("|"))  # cells as they come, unstripped


def check_lines(lines: list[str]) -> None:
    for index, line in enumerate(lines[:MAX_LINES]):
        check_line(line)
        if REFERENCE._parse_pipe_row(line) is not None:
            check_method("_parse_markdown_table", lines, index)


def check_text(text: str, each_line: bool) -> None:
    """The text methods on one text; the line parsers one line at a time only when asked, since the text walk
    already calls them on every line (through the instance, so with either `re`)."""
    lines = check_method("_normalize_text_lines", text)
    if each_line:
        check_lines(lines or [])
    check_line(text)  # the whole text as one line: line ends inside a line
    check_method("_collapse_blank_lines", text)
    fallback = check_method("_build_text_fallback_blocks", text)
    if fallback is not None:
        structured = check_method("_to_structured_blocks", fallback)
        if structured is not None:
            check_blocks(structured)


def check_blocks(blocks: list) -> None:
    display = check_method("_build_structured_answer_blocks", blocks)
    if display is not None:
        check_method("_render_blocks", display)


def check_answer(answer: dict) -> None:
    text = answer.get("text")
    if isinstance(text, str) and len(text) <= MAX_METHOD_TEXT:
        check_text(text, each_line=False)
    blocks = answer.get("blocks")
    if isinstance(blocks, list):
        check_blocks(blocks)
        for block in blocks:
            if isinstance(block, dict) and block.get("type") == "table_row" and isinstance(block.get("text"), str):
                check_method("_parse_pipe_row", block["text"])
    for key in ("productLinks", "recommendedAsins"):
        for include_source in (False, True):
            check_method("_format_link_items", answer.get(key), include_source=include_source)


def save(data: bytes) -> str:
    """Keeps a diverging input before libFuzzer's own exit path runs, which also writes it as crash-*."""
    folder = os.environ.get("FUZZ_FAILURES", os.path.join(os.path.dirname(os.path.abspath(__file__)), "failures"))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "divergence-" + hashlib.sha1(data).hexdigest())
    with open(path, "wb") as f:
        f.write(data)
    return path


# FUZZ_KEEP_GOING=1: a divergence is saved and printed, and the run goes on (up to KEEP_GOING_SAVES of them).
KEEP_GOING = os.environ.get("FUZZ_KEEP_GOING") == "1"
KEEP_GOING_SAVES = 100
kept = 0


def test_one_input(data: bytes) -> None:
    global kept
    try:
        check_input(data)
    except Divergence as divergence:
        if not KEEP_GOING:
            raise Divergence(f"{divergence}\nsaved as {save(data)}") from None
        kept += 1
        where = save(data) if kept <= KEEP_GOING_SAVES else "(not saved: too many)"
        lines = [line[:2000] for line in str(divergence).splitlines()]
        print("\n".join([*lines, f"saved as {where}"]), file=sys.stderr, flush=True)


def check_input(data: bytes) -> None:
    program = records.decode(data)
    record = program.result()
    check_report(record)
    answers = record.get("answers")
    for answer in answers[:MAX_ANSWERS] if isinstance(answers, list) else []:
        if isinstance(answer, dict):
            check_answer(answer)
    for text in program.texts:
        check_text(text, each_line=True)
    for lines in program.line_lists:
        check_lines(lines)


def show(path: str) -> None:
    with open(path, "rb") as f:
        program = records.decode(f.read())
    record = program.result()
    print("record:", repr(record))
    print("texts:", repr(program.texts))
    print("line lists:", repr(program.line_lists))
    for name, writer in (("native", NATIVE), ("generic", GENERIC), ("reference", REFERENCE)):
        print(f"--- {name}:", outcome("format_data", lambda: writer.format_data(record))[0])


def main() -> None:
    if len(sys.argv) == 3 and sys.argv[1] == "--show":
        show(sys.argv[2])
        return
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
