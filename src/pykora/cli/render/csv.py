"""The three views as CSV, with every digit, written as they are formatted.

A raw stream is ``index,value``; a matrix has its column names as header and
one line per row; marginals are one table ``block,idx,x,y`` in which blocks
without pairs have no rows. Several files make one table, under one header
whose first column, ``file``, holds the name of the file each line comes
from, as it was given. A matrix's columns differ from file to file, so its
CSV takes one file only.

Header lines and file names go through the standard ``csv`` module, which
quotes what needs quoting. Lines of numbers come from ``cells``, formatted
natively: a number's text never holds a comma, a quote or a line break, so
``csv`` would write them unchanged. The same holds for a matrix's column
names (a letter and digits), of which a file of millions of blocks has
millions. With several files, each line starts with its file's field, which
the native writer copies ahead of every line.
"""

from __future__ import annotations

import csv
import io
from collections.abc import Iterable, Sequence

from pykora.cli import cells
from pykora.cli.cells import CHUNK, chunks
from pykora.cli.output import Writer
from pykora.cli.view import FileView, MarginalsView, MatrixView, RawView

HEADERS = {"raw": ["index", "value"], "marginals": ["block", "idx", "x", "y"]}


def header(out: Writer, names: Sequence[str]) -> None:
    """The line of column names."""
    csv.writer(out, lineterminator="\n").writerow(names)


def field(text: str) -> str:
    """``text`` as one CSV field, quoted if it needs to be."""
    line = io.StringIO()
    csv.writer(line, lineterminator="").writerow([text])
    return line.getvalue()


def matrix_header(out: Writer, names: Sequence[str]) -> None:
    """The line of a matrix's column names, a chunk of names at a time."""
    for c0, c1 in chunks(range(len(names)), CHUNK):
        out.write(("," if c0 else "") + ",".join(names[c0:c1]))
    out.write("\n")


def lines(shown: FileView, prefix: str | None) -> Iterable[str]:
    """The lines below the header, a chunk at a time, each after ``prefix``."""
    values, layout, view = shown.values, shown.layout, shown.view
    if isinstance(view, RawView):
        return cells.raw_csv(values, prefix)
    assert layout is not None
    if isinstance(view, MatrixView):  # one file only: no prefix
        return cells.matrix_csv(values, layout, view.every_source)
    assert isinstance(view, MarginalsView)
    return cells.marginals_csv(values, layout, view.chosen, prefix)


class CsvDocument:
    """One table of the lines of every file shown."""

    def __init__(self, out: Writer, view: str, several: bool) -> None:
        self.out, self.view, self.several, self.shown = out, view, several, 0

    def add(self, shown: FileView) -> None:
        if isinstance(shown.view, MatrixView):  # one file only: refused before it is read
            matrix_header(self.out, shown.view.names)
        elif not self.shown:
            header(self.out, ["file"] * self.several + HEADERS[self.view])
        self.shown += 1
        # With several files, each line starts with the name of the file it comes from.
        for chunk in lines(shown, field(shown.arg) + "," if self.several else None):
            self.out.write(chunk)

    def close(self) -> None:
        pass
