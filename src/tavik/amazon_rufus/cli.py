"""Command-line front for running the services by hand.

``python -m tavik.amazon_rufus report FILE`` renders a run result record (JSON, ``-`` for standard input)
as the terminal report; ``python -m tavik.amazon_rufus templates [--skills-dir DIR]`` checks and lists the
default question bank.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import Sequence


class _BadRecord(Exception):
    """The record file cannot be read, is not JSON, or is not a JSON object."""


def _read_record(source: str) -> dict:
    try:
        if source == "-":
            text = sys.stdin.read()
        else:
            with open(source, encoding="utf-8") as handle:
                text = handle.read()
    except (OSError, UnicodeDecodeError) as error:
        raise _BadRecord(f"cannot read {source}: {error}") from error
    try:
        record = json.loads(text)
    except json.JSONDecodeError as error:
        raise _BadRecord(f"{source} is not JSON: {error}") from error
    if not isinstance(record, dict):
        raise _BadRecord(f"{source}: the top level must be a JSON object, not {type(record).__name__}")
    return record


def _fail(message: str, status: int) -> int:
    print(f"error: {message}", file=sys.stderr)
    return status


def _report(args: argparse.Namespace) -> int:
    from tavik.amazon_rufus.services.rundown_writer import RundownWriter

    try:
        record = _read_record(args.file)
    except _BadRecord as error:
        return _fail(str(error), 2)
    report = RundownWriter().format_data(record)
    sys.stdout.write(report + "\n" if report else "")
    return 0


def _templates(args: argparse.Namespace) -> int:
    from tavik.amazon_rufus.domain.exceptions import PromptPoolNotReadyError
    from tavik.amazon_rufus.services.prompt_pool import PromptPoolService

    try:
        templates = PromptPoolService(args.skills_dir).load_templates()
    except PromptPoolNotReadyError as error:
        return _fail(str(error), 1)
    for template in templates:
        print(f"[{template.id}] {template.description}")
        for question in template.questions:
            print(f"  {question.position}. {question.text}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m tavik.amazon_rufus", description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    report = commands.add_parser("report", help="render a run result record as the terminal report")
    report.add_argument("file", help="the run result record as JSON; - reads standard input")
    report.set_defaults(run=_report)
    templates = commands.add_parser("templates", help="load the default question bank and list it")
    templates.add_argument("--skills-dir", default=None, help="the skills directory (default: ./.agents/skills)")
    templates.set_defaults(run=_templates)
    args = parser.parse_args(argv)
    return args.run(args)
