"""Right-aligned columns under a header line, written in bounded memory however big.

A grid is a label column holding each row's number, then data columns. Its
cells come from a ``cells.Table``, which finds the columns' widths and writes
the rows, both natively and a chunk at a time; here are the header line and
the "..." lines and columns of a summarised table. Rows of NaN padding, which
may number 2**62, are known to be "NaN" from their count and are not
formatted to find the widths.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Sequence
from typing import TYPE_CHECKING

from pykora.cli.cells import CHUNK, Table, chunks
from pykora.cli.output import Writer
from pykora.cli.view import ChosenNames, ColumnNames, Shown, gap_positions

if TYPE_CHECKING:
    from pykora.cli.source import IntArray


def write_table(
    out: Writer, headers: Sequence[str], rows: Iterable[Sequence[str]], *, left: bool = False
) -> None:
    """Columns under a header line, right-aligned (numbers) or ``left``-aligned (text)."""
    rows = list(rows)
    widths = [len(h) for h in headers]
    for row in rows:
        widths = [max(w, len(cell)) for w, cell in zip(widths, row, strict=True)]
    for line in [list(headers), *rows]:
        cells = (
            cell.ljust(w) if left else cell.rjust(w) for cell, w in zip(line, widths, strict=True)
        )
        out.write("  ".join(cells).rstrip() + "\n")


def _runs(columns: Shown) -> Iterable[range]:
    """The columns shown, a chunk at a time (a row may hold millions), in order."""
    for item in columns:
        if item is not None:
            for c0, c1 in chunks(item, CHUNK):
                yield range(c0, c1)


def _widths(headers: Sequence[str], columns: Shown, least: int) -> IntArray:
    """How wide the columns shown are at least: their names, and ``least``."""
    import numpy as np

    found = [
        np.fromiter(map(len, names), np.int64, len(names))
        for names in (headers[run.start : run.stop] for run in _runs(columns))
    ]
    widths = np.concatenate(found) if found else np.zeros(0, np.int64)
    return np.maximum(widths, least)


#: The cells of a run of columns, each right-aligned in its width, two spaces apart.
Aligned = Callable[[range, "IntArray"], str]


def _aligned_names(headers: Sequence[str]) -> Aligned:
    """The header's names of a run of columns, aligned; the matrix's natively."""
    if isinstance(headers, (ColumnNames, ChosenNames)):
        return headers.aligned
    return lambda run, widths: "  ".join(
        map(str.rjust, headers[run.start : run.stop], widths.tolist())
    )


def _aligned_dots(run: range, widths: IntArray) -> str:
    return "  ".join(["...".rjust(width) for width in widths.tolist()])


def _line(out: Writer, first: str, columns: Shown, aligned: Aligned, widths: IntArray) -> None:
    """One line: ``first``, then the cells ``aligned`` makes of the columns shown, and a
    "..." column where ``columns`` leaves some out; written a chunk of columns at a time."""
    out.write(first)
    at = 0
    for item in columns:
        if item is None:
            out.write("  ...")
            continue
        for run in _runs([item]):
            out.write("  " + aligned(run, widths[at : at + len(run)]))
            at += len(run)
    out.write("\n")


def write_grid(
    out: Writer,
    label: str,
    headers: Sequence[str],
    table: Table,
    rows: Shown,
    columns: Shown,
    filled: int,
) -> None:
    """A right-aligned table of the cells of ``table``, which are those of the columns
    ``columns`` shows of ``headers``; every cell of a row at or beyond ``filled`` is NaN."""
    import numpy as np

    row_gap = None in rows
    spans = [span for span in rows if span is not None]
    label_width = max(len(label), 3 if row_gap else 0, *(len(str(span[-1])) for span in spans))
    any_nan = any(span.stop > filled for span in spans)
    widths = _widths(headers, columns, 3 if row_gap or any_nan else 0)
    for span in spans:
        held = range(span.start, min(span.stop, filled))
        if held and widths.size:
            widths = np.maximum(widths, table.widths(held))
    gaps = gap_positions(columns)
    _line(out, label.rjust(label_width), columns, _aligned_names(headers), widths)
    for item in rows:
        if item is None:
            _line(out, "...".rjust(label_width), columns, _aligned_dots, widths)
            continue
        for text in table.lines(item, widths, label_width, gaps):
            out.write(text)
