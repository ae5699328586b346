"""Command-line front for running the services by hand.

``report FILE`` renders a run result record (JSON, ``-`` for standard input) as the terminal report;
``templates [--skills-dir DIR]`` checks and lists the default question bank. Every failure is one line on
standard error, and the exit status says which kind of failure it was (see ``STATUSES``).
"""

from __future__ import annotations

import argparse
import io
import json
import os
import sys
from pathlib import Path
from typing import Any, NoReturn, Sequence

from tavik.amazon_rufus import __version__

FAILED, USAGE, UNUSABLE, NOT_READY, INTERRUPTED = 1, 2, 3, 4, 130

STATUSES = "exit status:\n" + "\n".join(
    f"  {status:>3}  {what}"
    for status, what in [
        (0, "done"),
        (FAILED, "the output could not be written, or an unexpected fault"),
        (USAGE, "usage error: unknown command or option, missing argument"),
        (UNUSABLE, "input not usable: a record that cannot be read, is not UTF-8 JSON or is no object;\n"
                   "       a bank file that cannot be read or that the bank reader cannot take apart"),
        (NOT_READY, "bank not ready: the bank reader's own message (no bank file, not JSON,\n"
                    "       no items list, no question)"),
        (INTERRUPTED, "interrupted"),
    ]
)


class _Failure(Exception):
    """A failure of the command: its one-line message and the exit status."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


def _json_kind(value: Any) -> str:
    """What a decoded JSON value is, in JSON's words."""
    if value is None or isinstance(value, bool):
        return json.dumps(value)
    if isinstance(value, str):
        return "a string"
    if isinstance(value, (int, float)):
        return "a number"
    return "an array" if isinstance(value, list) else "an object"


def _json_value(value: Any) -> str:
    """A decoded scalar named with its JSON text (long strings cut), anything else by its kind."""
    if isinstance(value, str):
        text = json.dumps(value, ensure_ascii=False)
        return "the string " + (text if len(text) <= 40 else text[:38] + '…"')
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return f"the number {json.dumps(value)}"
    return _json_kind(value)


def _decode(data: bytes, name: str) -> Any:
    """The JSON value of ``data``, read as strict UTF-8; any problem is a failure that names ``name``."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise _Failure(
            f"{name} is not UTF-8: byte 0x{data[error.start]:02x} at offset {error.start} ({error.reason})",
            UNUSABLE,
        ) from None
    if not text.strip(" \t\r\n"):
        raise _Failure(f"{name} is empty", UNUSABLE)
    if text.startswith("\ufeff"):
        raise _Failure(f"{name} begins with a byte order mark, which JSON text must not have", UNUSABLE)
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise _Failure(
            f"{name} is not JSON: {error.msg} at line {error.lineno}, column {error.colno}", UNUSABLE
        ) from None
    except RecursionError:
        raise _Failure(f"{name} nests arrays and objects too deeply to be read", UNUSABLE) from None
    except ValueError:
        # The one other error of the decoder: an integer longer than the interpreter converts.
        raise _Failure(
            f"{name} holds an integer of more than {sys.get_int_max_str_digits()} digits", UNUSABLE
        ) from None


def _read_json(path: str | Path, name: str) -> Any:
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        raise _Failure(f"cannot read {name}: {error.strerror or error}", UNUSABLE) from None
    return _decode(data, name)


def _read_record(source: str) -> dict[str, Any]:
    if source == "-":
        name = "standard input"
        if sys.stdin is None:
            raise _Failure("standard input is closed", UNUSABLE)
        try:
            record = _decode(sys.stdin.buffer.read(), name)
        except OSError as error:
            raise _Failure(f"cannot read {name}: {error.strerror or error}", UNUSABLE) from None
    else:
        name = source
        record = _read_json(source, name)
    if not isinstance(record, dict):
        raise _Failure(f"{name}: the top level is {_json_kind(record)}, not an object", UNUSABLE)
    return record


def _report(args: argparse.Namespace) -> str:
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter

    report = RundownWriter().format_data(_read_record(args.file))
    return report + "\n" if report else ""


def _integer_problem(entry: dict[str, Any], keys: tuple[str, ...]) -> str | None:
    for key in keys:
        if key in entry:
            try:
                int(entry[key])
            except (TypeError, ValueError, OverflowError):
                return f'"{key}" is {_json_value(entry[key])}, not an integer'
    return None


def _bank_problem(payload: Any) -> str | None:
    """The first value of a decoded bank that the reader refuses, found in the order the reader reads them.

    Only the bank reader decides what a bank holds; this names the place of a value it could not take.
    """
    if not isinstance(payload, dict):
        return f"the top level is {_json_kind(payload)}, not an object"
    items = payload.get("items")
    for number, item in enumerate(items if isinstance(items, list) else [], 1):
        if not isinstance(item, dict):
            return f"item {number} is {_json_kind(item)}, not an object"
        questions = item.get("questions", [])
        if not isinstance(questions, (list, dict, str)):
            return f'item {number}: "questions" is {_json_kind(questions)}, not an array'
        for place, entry in enumerate(questions, 1):
            if isinstance(entry, dict) and (problem := _integer_problem(entry, ("id", "position"))):
                return f"item {number}, question {place}: {problem}"
        if problem := _integer_problem(item, ("id", "preferred_version_index")):
            return f"item {number}: {problem}"
    return None


def _templates(args: argparse.Namespace) -> str:
    from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError
    from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

    service = PromptPoolService(args.skills_dir)
    try:
        path = service._resolve_question_templates_path()
    except OSError as error:
        where = "cannot look for the bank below the current directory"
        raise _Failure(f"{where}: {error.strerror or error}", UNUSABLE) from None
    try:
        templates = service.load_templates()
    except PromptPoolNotReadyError as error:
        raise _Failure(str(error), NOT_READY) from None
    except Exception as error:
        # Read the file again to say what is wrong with it in the words of JSON, not of the reader's code.
        problem = _bank_problem(_read_json(path, str(path)))
        raise _Failure(f"{path}: {problem or f'cannot be used as a question bank ({error})'}", UNUSABLE) from None
    lines = []
    for template in templates:
        lines.append(f"[{template.id}] {template.description}\n")
        lines.extend(f"  {question.position}. {question.text}\n" for question in template.questions)
    return "".join(lines)


def _write(text: str) -> None:
    """Writes all of ``text`` to standard output, or raises.

    A text stream's write of a long text is cut short without an error when the reader goes away in the
    middle of it, so the encoded text is handed to the byte stream until it has taken all or fails.
    """
    out = sys.stdout
    if out is None:
        raise _Failure("standard output is closed", FAILED)
    if not isinstance(out, io.TextIOWrapper):
        out.write(text)
        out.flush()
        return
    out.flush()
    data = memoryview(text.encode(out.encoding, out.errors or "strict"))
    while data:
        data = data[out.buffer.write(data) :]
    out.buffer.flush()


def _discard_output() -> None:
    """Sends what standard output still buffers to nowhere, so that the flush at exit cannot fail again."""
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


def _escape_unencodable() -> None:
    """Lets standard output show what its encoding cannot as backslash escapes, rather than fail on it."""
    if isinstance(sys.stdout, io.TextIOWrapper) and sys.stdout.errors in ("strict", "surrogateescape"):
        sys.stdout.reconfigure(errors="backslashreplace")


class _Parser(argparse.ArgumentParser):
    """Says a usage error in one line, as every other failure is said."""

    def error(self, message: str) -> NoReturn:
        self.exit(USAGE, f"error: {message}; see {self.prog} --help\n")


def _parser(prog: str | None) -> argparse.ArgumentParser:
    layout: dict[str, Any] = {"epilog": STATUSES, "formatter_class": argparse.RawDescriptionHelpFormatter}
    parser = _Parser(prog=prog, description=__doc__.splitlines()[0], **layout)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True)
    report = commands.add_parser("report", help="render a run result record as the terminal report", **layout)
    report.add_argument("file", help="the run result record as JSON; - reads standard input")
    report.set_defaults(run=_report)
    templates = commands.add_parser("templates", help="load the default question bank and list it", **layout)
    templates.add_argument("--skills-dir", default=None, help="the skills directory (default: ./.agents/skills)")
    templates.set_defaults(run=_templates)
    return parser


def main(argv: Sequence[str] | None = None, prog: str | None = None) -> int:
    """Runs one command; ``prog`` names the program in usage lines (by default the script's file name)."""
    args = _parser(prog).parse_args(argv)
    _escape_unencodable()
    try:
        _write(args.run(args))
    except _Failure as failure:
        print(f"error: {failure}", file=sys.stderr)
        return failure.status
    except BrokenPipeError:
        # The reader went away (``| head``): nothing to tell it.
        _discard_output()
        return FAILED
    except OSError as error:
        _discard_output()
        print(f"error: cannot write to standard output: {error.strerror or error}", file=sys.stderr)
        return FAILED
    except KeyboardInterrupt:
        print("error: interrupted", file=sys.stderr)
        return INTERRUPTED
    except Exception as error:  # a fault of the program itself: still one line, naming what was raised
        print(f"error: unexpected {type(error).__name__}: {' '.join(str(error).splitlines())}", file=sys.stderr)
        return FAILED
    return 0
