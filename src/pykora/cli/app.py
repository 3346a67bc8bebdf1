"""The entry point: runs one command and turns every way it can end into an exit status.

Whatever fails ends in exactly one ``pykora: error:`` line on stderr (a usage
error after the usage of the command it concerns) and the status that
names the kind of failure; a reader that hangs up, as ``| head`` does, ends
the run quietly and with success, as it ends ``cat``'s run under a shell
that ignores SIGPIPE; a Ctrl-C ends it quietly, whatever it interrupts. Warnings of the
libraries the commands use (NumPy's about overflow, matplotlib's) are not
the user's business and never reach stderr: what the command line has to
say it says in its own lines.
"""

from __future__ import annotations

import os
import sys
import warnings
from collections.abc import Sequence

from pykora.cli.commands import COMMANDS
from pykora.cli.errors import (
    EXIT_FAILURE,
    EXIT_INTERRUPTED,
    EXIT_OK,
    EXIT_UNAVAILABLE,
    CliError,
    Interrupts,
    OutputError,
    UsageError,
    error,
    import_failure,
    say,
)
from pykora.cli.output import Output, discard_stdout
from pykora.cli.parser import TextRequested, parse


def _hold_standard_descriptors() -> None:
    """Put the null device on descriptors 1 and 2 if the process started with them closed.

    A file the command opens would otherwise take their place, and whatever
    writes to stdout or stderr at the level of descriptors, below Python,
    would write into it.
    """
    for fd in (1, 2):
        try:
            os.fstat(fd)
        except OSError:
            try:
                held = os.open(os.devnull, os.O_RDWR)
            except OSError:
                return
            if held != fd:  # a lower one is closed too, and held by its own turn
                os.dup2(held, fd)
                os.close(held)


def _run(argv: Sequence[str] | None) -> int:
    try:
        command, args = parse(argv, COMMANDS)
    except TextRequested as done:
        out = Output(sys.stdout)
        try:
            out.write(done.text)
            out.flush()
        finally:
            out.close()
        return EXIT_OK
    out = Output(sys.stdout)  # refused before the command does anything when stdout is closed
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            status = command.run(args, out)
        out.flush()
    finally:
        out.close()
    return status


def _report(exc: Exception) -> int:
    """Say what ended the run, in one line; return the exit status."""
    if isinstance(exc, UsageError):
        say(exc.usage.rstrip("\n"))
        error(str(exc))
        return exc.code
    if isinstance(exc, CliError):
        error(str(exc))
        return exc.code
    if isinstance(exc, OutputError):
        discard_stdout()
        error(f"standard output: cannot write: {exc}")
        return EXIT_FAILURE
    if isinstance(exc, BrokenPipeError):  # the reader went away, as with `| head`: its choice
        discard_stdout()
        return EXIT_OK
    if isinstance(exc, MemoryError):  # whatever ran out, one line rather than a traceback
        error("not enough memory")
        return EXIT_FAILURE
    if isinstance(exc, ImportError):  # NumPy or an extension module built against another
        error(f"cannot import {exc.name or 'a module'}: {import_failure(exc)}")
        return EXIT_UNAVAILABLE
    raise exc


def run(argv: Sequence[str] | None, interrupts: Interrupts) -> int:
    """Run the command line with ``argv``; return the exit status."""
    _hold_standard_descriptors()
    try:
        return _run(argv)
    except KeyboardInterrupt:
        discard_stdout()
        return EXIT_INTERRUPTED
    except Exception as exc:
        if interrupts.seen:  # a Ctrl-C that a library turned into an error of its own
            discard_stdout()
            return EXIT_INTERRUPTED
        return _report(exc)
