"""Command-line front for running the services by hand.

``report FILE`` renders a run result record (JSON, ``-`` for standard input) as the terminal report;
``templates [--skills-dir DIR]`` checks and lists the default question bank. Every failure is one line on
standard error, and the exit status says which kind of failure it was (see ``STATUSES``).

The texts of a report and of a bank come from outside (a web service, a bank file), so what is written to the
terminal shows their control characters instead of letting the terminal obey them (see ``_shown``); ``--raw``
writes them as they are.
"""

from __future__ import annotations

import argparse
import io
import json
import os
import re
import sys
from pathlib import Path
from typing import Any, NoReturn, Sequence

from tavik.amazon_rufus import __version__

FAILED, USAGE, UNUSABLE, NOT_READY, INTERRUPTED = 1, 2, 3, 4, 130

STATUSES = "exit status:\n" + "\n".join(
    f"  {status:>3}  {what}"
    for status, what in [
        (0, "done"),
        (FAILED, "the output could not be written, memory ran out, or an unexpected fault"),
        (USAGE, "usage error: unknown command or option, missing argument"),
        (UNUSABLE, "input not usable: a record that cannot be read, is not UTF-8 JSON or is no object;\n"
                   "       a bank file that cannot be read or that the bank reader cannot take apart;\n"
                   "       a --skills-dir whose ~ names no known home directory"),
        (NOT_READY, "bank not ready: the bank reader's own message (no bank file, not JSON,\n"
                    "       no items list, no question), then the bank file it looked for"),
        (INTERRUPTED, "interrupted"),
    ]
)


CONTROLS = (
    "Control characters in the texts (every C0 control but tab and line feed, DEL, and the C1\n"
    "controls U+0080 to U+009F) are written as escapes such as \\x1b, \\x0d or \\x9b, so that the\n"
    "terminal shows them instead of obeying them; --raw writes them as they are."
)

# What a terminal may act on instead of showing: the C0 controls but tab and line feed, DEL, and the C1
# controls (U+009B alone starts a control sequence on many terminals, as ESC [ does).
_CONTROL = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")
# A line on standard error must stay one line: there a line feed is shown too.
_CONTROL_IN_LINE = re.compile("[\x00-\x08\x0a-\x1f\x7f-\x9f]")


def _escape(match: re.Match[str]) -> str:
    # The form standard output's backslashreplace gives a character below U+0100 that it cannot encode.
    return f"\\x{ord(match[0]):02x}"


def _shown(text: str, controls: re.Pattern[str] = _CONTROL) -> str:
    """``text`` with every control character written as a visible escape (``\\x1b``); nothing is dropped."""
    return controls.sub(_escape, text)


def _reason(error: BaseException) -> str:
    """What an exception says went wrong; its type's name when it says nothing."""
    return getattr(error, "strerror", None) or " ".join(str(error).splitlines()).strip() or type(error).__name__


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
        raise _Failure(f"cannot read {name}: {_reason(error)}", UNUSABLE) from None
    return _decode(data, name)


def _read_record(source: str) -> dict[str, Any]:
    if source == "-":
        name = "standard input"
        if sys.stdin is None:
            raise _Failure("standard input is closed", UNUSABLE)
        try:
            record = _decode(sys.stdin.buffer.read(), name)
        except OSError as error:
            raise _Failure(f"cannot read {name}: {_reason(error)}", UNUSABLE) from None
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


def _not_ready(error: Exception, path: Path) -> str:
    """The bank reader's message and where it looked (only its message for a file that is not JSON names it)."""
    cause = error.__cause__
    if isinstance(cause, json.JSONDecodeError):  # the message names the file already
        if not cause.doc.strip(" \t\r\n"):
            return f"{error} (the file is empty)"
        if cause.doc.startswith("\ufeff"):
            return f"{error} (it begins with a byte order mark)"
        return f"{error} ({cause.msg} at line {cause.lineno}, column {cause.colno})"
    if isinstance(cause, FileNotFoundError):
        return f"{error}; looked for {path}"
    return f"{error}; in {path}"


def _service(skills_dir: str | None) -> Any:
    from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

    try:
        return PromptPoolService(skills_dir)
    except RuntimeError:
        # The one error of the constructor's tilde expansion: ~user names no user, or ~ has no home.
        if not skills_dir or not skills_dir.startswith("~"):
            raise
        user = Path(skills_dir).parts[0]
        whose = f"user {user[1:]}" if len(user) > 1 else "the current user"
        raise _Failure(
            f"cannot expand {user} in --skills-dir {skills_dir}: no home directory is known for {whose}", UNUSABLE
        ) from None


def _templates(args: argparse.Namespace) -> str:
    from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError

    service = _service(args.skills_dir)
    try:
        path = service._resolve_question_templates_path()
    except OSError as error:
        where = "cannot look for the bank below the current directory"
        raise _Failure(f"{where}: {_reason(error)}", UNUSABLE) from None
    try:
        templates = service.load_templates()
    except PromptPoolNotReadyError as error:
        raise _Failure(_not_ready(error, path), NOT_READY) from None
    except MemoryError:
        raise
    except Exception as error:
        # Read the file again to say what is wrong with it in the words of JSON, not of the reader's code.
        problem = _bank_problem(_read_json(path, str(path)))
        reason = f"cannot be used as a question bank ({type(error).__name__}: {_reason(error)})"
        raise _Failure(f"{path}: {problem or reason}", UNUSABLE) from None
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
        self.exit(USAGE, f"error: {_shown(message, _CONTROL_IN_LINE)}; see {self.prog} --help\n")


def _parser(prog: str | None) -> argparse.ArgumentParser:
    layout: dict[str, Any] = {"epilog": STATUSES, "formatter_class": argparse.RawDescriptionHelpFormatter}
    raw: dict[str, Any] = {"action": "store_true", "help": "write control characters as they are, not escaped"}
    parser = _Parser(prog=prog, description=__doc__.splitlines()[0] + "\n\n" + CONTROLS, **layout)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True)
    what = "render a run result record as the terminal report"
    report = commands.add_parser("report", help=what, description=f"{what.capitalize()}.\n\n{CONTROLS}", **layout)
    report.add_argument("file", help="the run result record as JSON; - reads standard input")
    report.add_argument("--raw", **raw)
    report.set_defaults(run=_report)
    what = "load the default question bank and list it"
    description = f"{what.capitalize()}.\n\n{CONTROLS}"
    templates = commands.add_parser("templates", help=what, description=description, **layout)
    templates.add_argument(
        "--skills-dir", default=None,
        help="the folder that holds tavik-amazon-rufus/data/question_templates.json (default: ./.agents/skills)",
    )
    templates.add_argument("--raw", **raw)
    templates.set_defaults(run=_templates)
    return parser


def main(argv: Sequence[str] | None = None, prog: str | None = None) -> int:
    """Runs one command; ``prog`` names the program in usage lines (by default the script's file name)."""
    args = _parser(prog).parse_args(argv)
    _escape_unencodable()
    try:
        text = args.run(args)
        _write(text if args.raw else _shown(text))
    except _Failure as failure:
        _say(str(failure))
        return failure.status
    except BrokenPipeError:
        # The reader went away (``| head``): nothing to tell it.
        _discard_output()
        return FAILED
    except OSError as error:
        _discard_output()
        _say(f"cannot write to standard output: {_reason(error)}")
        return FAILED
    except KeyboardInterrupt:
        _say("interrupted")
        return INTERRUPTED
    except MemoryError:
        _say("out of memory")
        return FAILED
    except Exception as error:  # a fault of the program itself: still one line, naming what was raised
        message = " ".join(str(error).splitlines()).strip()
        _say(f"unexpected {type(error).__name__}" + (f": {message}" if message else ""))
        return FAILED
    return 0


def _say(message: str) -> None:
    """Writes a failure as one line on standard error; the message may hold a path or a text of the input."""
    print(f"error: {_shown(message, _CONTROL_IN_LINE)}", file=sys.stderr)
