"""Exit statuses, the failures that end in them, and the lines written to stderr."""

from __future__ import annotations

import signal
import sys
from collections.abc import Callable
from types import FrameType
from typing import Any

# Interrupted (Ctrl-C): defined where it is needed before anything else is imported.
from pykora.cli import EXIT_INTERRUPTED as EXIT_INTERRUPTED

EXIT_OK = 0
#: A file is missing or cannot be read, the output cannot be written, memory ran out.
EXIT_FAILURE = 1
#: A malformed file or a usage error.
EXIT_INVALID = 2
#: A package the command needs is missing or cannot be imported.
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


class Interrupts:
    """While in effect, Ctrl-C raises ``KeyboardInterrupt`` as ever, and is remembered.

    Code the command line does not own can turn the ``KeyboardInterrupt`` into
    another error (an extension module being imported, such as NumPy's, reports
    a failed import) or swallow it (where the interpreter cannot raise, in a
    callback, it reports an "exception ignored" instead). Whatever a run ends
    with, an interrupt seen on the way makes it end as interrupted, and the
    interpreter's report of one it swallowed is not printed.
    """

    def __init__(self) -> None:
        self.seen = False
        self._previous: Callable[[int, FrameType | None], Any] | int | None = None
        self._installed = False
        self._unraisable = sys.unraisablehook

    def _on_interrupt(self, signum: int, frame: FrameType | None) -> None:
        self.seen = True
        raise KeyboardInterrupt

    def _on_unraisable(self, unraisable: Any) -> None:
        if not isinstance(unraisable.exc_value, KeyboardInterrupt):
            self._unraisable(unraisable)

    def __enter__(self) -> Interrupts:
        # Started with SIGINT ignored, as a shell script's `cmd &` is, the command stays
        # deaf to it, as every Unix tool does.
        if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
            return self
        try:
            self._previous = signal.signal(signal.SIGINT, self._on_interrupt)
            self._installed = True
        except ValueError:  # not the main thread, to which Python delivers signals anyway
            return self
        sys.unraisablehook = self._on_unraisable
        return self

    def __exit__(self, *exc: object) -> None:
        if self._installed:
            # None: a handler set outside Python, which cannot be set back; the default is.
            previous = signal.SIG_DFL if self._previous is None else self._previous
            signal.signal(signal.SIGINT, previous)
            sys.unraisablehook = self._unraisable


def one_line(exc: BaseException) -> str:
    """What went wrong, as one line: the last line of the message, or the exception's name.

    Messages of some libraries run over several lines (matplotlib's mathtext
    errors quote the text with a caret under it), and end with the reason.
    """
    lines = [line.strip() for line in str(exc).splitlines() if line.strip()]
    return lines[-1] if lines else type(exc).__name__


def import_failure(exc: ImportError) -> str:
    """Why an import failed, as one line: the first cause, which NumPy wraps in advice."""
    while isinstance(exc.__cause__, ImportError):
        exc = exc.__cause__
    return one_line(exc)


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
