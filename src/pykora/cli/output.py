"""Standard output as the commands write to it: a write that fails says so once.

``sys.stdout`` raises ``OSError`` from wherever its buffer happens to be
flushed, and is ``None`` when the process started with it closed. Both would
end in a traceback; here each becomes an ``OutputError`` that the entry point
reports in one line. A closed pipe stays a ``BrokenPipeError``: the reader
went away, as with ``| head``, which is no error of ours to report.

A file name that is not valid in the locale's encoding reaches Python as
text with stand-ins for its bytes; it is written as those bytes, as ``ls``
and ``head`` write names, rather than failing to encode.
"""

from __future__ import annotations

import io
import os
import sys
from typing import Protocol, TextIO

from pykora.cli.errors import OutputError


class Writer(Protocol):
    def write(self, text: str, /) -> object: ...


class Output:
    """A ``Writer`` onto a text stream, here always ``sys.stdout``; ``close()`` gives the
    stream back as it was."""

    def __init__(self, stream: TextIO | None) -> None:
        if stream is None:
            raise OutputError("it is closed")
        self.stream = stream
        self._errors = getattr(stream, "errors", None)
        if self._errors == "strict" and isinstance(stream, io.TextIOWrapper):
            stream.reconfigure(errors="surrogateescape")

    def write(self, text: str, /) -> None:
        try:
            self.stream.write(text)
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise OutputError(exc.strerror or str(exc)) from None
        except UnicodeEncodeError as exc:  # an encoding other than the file names'
            raise OutputError(str(exc)) from None

    def is_terminal(self) -> bool:
        try:
            return self.stream.isatty()
        except (OSError, ValueError):  # closed
            return False

    def close(self) -> None:
        if self._errors == "strict" and isinstance(self.stream, io.TextIOWrapper):
            try:
                self.stream.reconfigure(errors="strict")
            except (OSError, ValueError):  # it flushes first; what failed was said already
                pass

    def flush(self) -> None:
        try:
            self.stream.flush()
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise OutputError(exc.strerror or str(exc)) from None


def discard_stdout() -> None:
    """Point stdout's descriptor at /dev/null.

    What is still buffered is flushed once more when the interpreter exits,
    and would fail again there, with a message of the interpreter's own.
    """
    if sys.stdout is None:
        return
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass
