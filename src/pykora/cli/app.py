"""The entry point: runs one command and turns every way it can end into an exit status.

Whatever fails ends in exactly one ``pykora: error:`` line on stderr (a usage
error after the usage of the command it concerns) and the status that
names the kind of failure; a reader that hangs up, as ``| head`` does, ends
quietly.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable, Sequence

from pykora.cli.commands import example, options, plot, show
from pykora.cli.errors import (
    EXIT_FAILURE,
    EXIT_OK,
    CliError,
    OutputError,
    UsageError,
    error,
    say,
)
from pykora.cli.output import Output, discard_stdout
from pykora.cli.parser import TextRequested, parse

COMMANDS: dict[str, Callable[[argparse.Namespace, Output], int]] = {
    "show": show.run,
    "plot": plot.run,
    "options": options.run,
    "example": example.run,
}


def _run(argv: Sequence[str] | None) -> int:
    try:
        args = parse(argv)
    except TextRequested as done:
        out = Output(sys.stdout)
        out.write(done.text)
        out.flush()
        return EXIT_OK
    out = Output(sys.stdout)  # refused before the command does anything when stdout is closed
    status = COMMANDS[args.command](args, out)
    out.flush()
    return status


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); return the exit status."""
    try:
        return _run(argv)
    except UsageError as exc:
        say(exc.usage.rstrip("\n"))
        error(str(exc))
        return exc.code
    except CliError as exc:
        error(str(exc))
        return exc.code
    except OutputError as exc:
        discard_stdout()
        error(f"standard output: cannot write: {exc}")
        return EXIT_FAILURE
    except BrokenPipeError:  # the reader went away, as with `| head`
        discard_stdout()
        return EXIT_FAILURE
    except MemoryError:  # whatever ran out, one line rather than a traceback
        error("not enough memory")
        return EXIT_FAILURE
    except KeyboardInterrupt:
        return 130
