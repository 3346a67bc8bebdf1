"""The command line's grammar: the top-level parser, the commands' parsers, and the
converters that check an option's value as it is parsed.

Each command module states its own arguments (``commands/``); this module
puts them together. Every parser refuses abbreviated options (``--max-row``
is no ``--max-rows``), reports a usage error with the usage of the command
it concerns, and prints ``--help`` and ``--version`` through the same
checked output as everything else, rather than argparse's own printing,
which drops write errors.
"""

from __future__ import annotations

import argparse
import re
from collections.abc import Callable, Sequence
from typing import Any, NoReturn, Protocol

from pykora import __version__
from pykora.cli.errors import PROG, UsageError
from pykora.cli.output import Output


class TextRequested(Exception):
    """``--help`` or ``--version``: print this text and stop with success."""

    def __init__(self, text: str) -> None:
        super().__init__(text)
        self.text = text


class _PrintAction(argparse.Action):
    def __init__(self, option_strings: Sequence[str], text: str | None = None, **kw: Any) -> None:
        kw.update(dest=argparse.SUPPRESS, default=argparse.SUPPRESS, nargs=0)
        super().__init__(option_strings, **kw)
        self.text = text

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> NoReturn:
        raise TextRequested(parser.format_help() if self.text is None else self.text)


class Parser(argparse.ArgumentParser):
    def __init__(self, **kw: Any) -> None:
        super().__init__(allow_abbrev=False, add_help=False, **kw)
        # Any word that starts with a minus and a digit is a value, as Python 3.14's argparse
        # has it, so that `--blocks -1,5` and `--idx -2.5,3` parse on 3.11 to 3.13 too (they
        # took only plain numbers); no option of this command line starts with a digit.
        self._negative_number_matcher = re.compile(r"-\.?\d")
        self.add_argument("-h", "--help", action=_PrintAction, help="show this help and exit")

    def error(self, message: str) -> NoReturn:
        raise UsageError(message, self.format_usage())


class Command(Protocol):
    """What a command module holds."""

    NAME: str
    HELP: str
    DESCRIPTION: str

    def add_arguments(self, parser: Parser) -> None:
        """Its arguments, each converted and checked as it is parsed."""

    def check(self, args: argparse.Namespace) -> str | None:
        """What is wrong with arguments that are each right alone, or ``None``."""

    def run(self, args: argparse.Namespace, out: Output) -> int:
        """Do it; return the exit status."""


def integer(low: int, high: int | None = None) -> Callable[[str], int]:
    """An argparse type: an integer from ``low`` to ``high`` (no bound when ``None``)."""

    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid int value: {text!r}") from None
        if value < low or (high is not None and value > high):
            bounds = f"from {low} to {high}" if high is not None else f"at least {low}"
            raise argparse.ArgumentTypeError(f"{value} is out of range: it must be {bounds}")
        return value

    return convert


def name(text: str) -> str:
    """An argparse type: a file or directory name, which is never empty."""
    if not text:
        raise argparse.ArgumentTypeError("an empty name names no file")
    return text


def build_parser(
    commands: Sequence[Command] | None = None,
) -> tuple[Parser, dict[str, Parser]]:
    """The top-level parser, and each command's parser by name (of every command by
    default: the documentation is generated from it)."""
    if commands is None:
        from pykora.cli.commands import COMMANDS

        commands = COMMANDS
    parser = Parser(
        prog=PROG, description="Inspect kora engine result files and pykora's global options."
    )
    version = f"{PROG} {__version__}\n"
    parser.add_argument("--version", action=_PrintAction, text=version, help="show the version")
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    found = {}
    for command in commands:
        sub = subparsers.add_parser(
            command.NAME, help=command.HELP, description=command.DESCRIPTION
        )
        command.add_arguments(sub)
        found[command.NAME] = sub
    return parser, found


def parse(
    argv: Sequence[str] | None, commands: Sequence[Command]
) -> tuple[Command, argparse.Namespace]:
    """The command and its arguments, or a ``UsageError`` with the usage of the command."""
    parser, parsers = build_parser(commands)
    args, extra = parser.parse_known_args(argv)
    command = next(c for c in commands if c.NAME == args.command)
    usage = parsers[args.command].format_usage()
    if extra:
        raise UsageError(f"unrecognized arguments: {' '.join(extra)}", usage)
    problem = command.check(args)
    if problem is not None:
        raise UsageError(problem, usage)
    return command, args
