"""One line of progress on stderr for work that runs long, erased when the work is done.

A command that writes a big file's CSV or draws thousands of series may run
for seconds without a word. When stderr is a terminal, a ``Progress`` shows
one line there once the work has run about a second, redraws it a few times
a second, and erases it at the end, so that what the terminal shows
afterwards is as if it had never been there. When stderr is not a terminal
(a log, a pipe), or stdout is one and the output itself is on the screen, it
shows nothing.

A command reports as it goes (``update``) and clears the line before it says
anything else on stderr (``clear``, also on leaving a ``with`` block);
``Written`` reports what is written to an output, and ``Ticking`` redraws the line
from a second thread while work that reports nothing runs.
"""

from __future__ import annotations

import os
import sys
import threading
import time
from collections.abc import Callable
from typing import TextIO

from pykora.cli.output import Writer

#: Seconds of work before the line appears: shorter work passes without one.
DELAY = 1.0
#: Seconds between two drawings of the line.
INTERVAL = 0.2


def _is_terminal(stream: TextIO | None) -> bool:
    try:
        return stream is not None and stream.isatty()
    except (OSError, ValueError):  # closed
        return False


class Progress:
    """The progress line of work that started at ``start`` (``time.monotonic()``; now by
    default), drawn on ``stream`` (stderr by default)."""

    def __init__(self, stream: TextIO | None = None, start: float | None = None) -> None:
        self.stream = sys.stderr if stream is None else stream
        self.on = _is_terminal(self.stream) and not (stream is None and _is_terminal(sys.stdout))
        self.start = time.monotonic() if start is None else start
        self._due = self.start + DELAY
        self._drawn = 0  # characters of the line now on the terminal

    def update(self, text: str | Callable[[], str]) -> None:
        """Show ``text`` (or what it returns, made only when it is shown) as the line, if
        the work has run long enough and the line was not drawn just before."""
        if not self.on:
            return
        now = time.monotonic()
        if now < self._due:
            return
        self._due = now + INTERVAL
        line = text() if callable(text) else text
        line = line[: max(self._width() - 1, 0)]  # a line that wraps cannot be erased
        self._write("\r" + line + " " * (self._drawn - len(line)))
        self._drawn = len(line)

    def elapsed(self) -> float:
        return time.monotonic() - self.start

    def clear(self) -> None:
        """Erase the line, if one is drawn."""
        if self._drawn:
            self._write("\r" + " " * self._drawn + "\r")
            self._drawn = 0

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, *exc: object) -> None:
        self.clear()

    def _width(self) -> int:
        try:
            return os.get_terminal_size(self.stream.fileno()).columns or 80
        except (OSError, ValueError, AttributeError):
            return 80

    def _write(self, text: str) -> None:
        try:
            self.stream.write(text)
            self.stream.flush()
        except (OSError, ValueError):  # stderr is gone: nowhere to show progress
            self.on = False
            self._drawn = 0


class Ticking:
    """While in effect, a second thread redraws ``progress`` with ``text`` a few times a
    second: for work that cannot report as it goes, as matplotlib drawing an image. The
    line is erased on leaving, after the thread has stopped."""

    def __init__(self, progress: Progress, text: Callable[[], str]) -> None:
        self.progress = progress
        self.text = text
        self._stop = threading.Event()
        self._thread: threading.Thread | None = None

    def _tick(self) -> None:
        while True:
            self.progress.update(self.text)
            if self._stop.wait(max(INTERVAL, 0.01)):
                return

    def __enter__(self) -> Ticking:
        if self.progress.on:
            self._thread = threading.Thread(target=self._tick, name="progress", daemon=True)
            self._thread.start()
        return self

    def __exit__(self, *exc: object) -> None:
        if self._thread is not None:
            self._stop.set()
            self._thread.join()
        self.progress.clear()


def size_text(count: int) -> str:
    """A count of bytes as people read it: 512 bytes, 3.4 MB, 1.2 GB."""
    if count < 1000:
        return f"{count} bytes"
    for unit, scale in (("kB", 1e3), ("MB", 1e6), ("GB", 1e9)):
        if count < scale * 1000 or unit == "GB":
            return f"{count / scale:.1f} {unit}"
    raise AssertionError("unreachable")


class Written:
    """A writer onto ``out`` that reports, as the progress of ``what`` (set as work moves
    on), how much has been written."""

    def __init__(self, out: Writer, progress: Progress) -> None:
        self.out = out
        self.progress = progress
        self.what = ""
        self.count = 0

    def _line(self) -> str:
        return (
            f"pykora: {self.what}: {size_text(self.count)} written "
            f"in {self.progress.elapsed():.0f} s"
        )

    def write(self, text: str, /) -> None:
        self.out.write(text)
        self.count += len(text)
        self.progress.update(self._line)
