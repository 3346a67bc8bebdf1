"""Exit statuses, the failures that end in them, and the lines written to stderr."""

from __future__ import annotations

import sys

EXIT_OK = 0
#: A file is missing or cannot be read, the output cannot be written, memory ran out.
EXIT_FAILURE = 1
#: A malformed file or a usage error.
EXIT_INVALID = 2
#: An optional dependency is missing.
EXIT_UNAVAILABLE = 3

PROG = "pykora"


class CliError(Exception):
    """A failure reported to the user as one line, with the exit status to end with."""

    def __init__(self, message: str, code: int) -> None:
        super().__init__(message)
        self.code = code


class UsageError(CliError):
    """A command line that does not parse; reported after the usage of the command it names."""

    def __init__(self, message: str, usage: str) -> None:
        super().__init__(message, EXIT_INVALID)
        self.usage = usage


class OutputError(Exception):
    """Standard output cannot be written; the reason is the message."""


def say(line: str) -> None:
    """One line on stderr; dropped when stderr itself is gone, as there is nowhere to say it."""
    stream = sys.stderr
    if stream is None:
        return
    try:
        stream.write(line + "\n")
        stream.flush()
    except (OSError, ValueError):
        pass


def error(message: str) -> None:
    say(f"{PROG}: error: {message}")


def warn(message: str) -> None:
    """About a file that is shown all the same."""
    say(f"{PROG}: warning: {message}")


def note(message: str) -> None:
    """About what a command left out or found nothing of."""
    say(f"{PROG}: note: {message}")
