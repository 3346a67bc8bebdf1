"""Right-aligned columns under a header line, written in bounded memory however big.

A grid is a label column holding each row's number, then data columns. The
cells of each range of rows and columns shown are formatted a chunk at a
time, twice: once to find the column widths and once to write them. Rows of
NaN padding, which may number 2**62, are known to be "NaN" from their count
and are not formatted to find the widths.
"""

from __future__ import annotations

import itertools
from collections.abc import Callable, Iterable, Sequence

from pykora.cli.cells import CHUNK, chunks
from pykora.cli.output import Writer
from pykora.cli.view import Shown, count_shown

#: cells(r0, r1, c0, c1): the texts of rows r0..r1-1 in columns c0..c1-1, row after row
#: in one flat list, so that a column is a slice of it.
Cells = Callable[[int, int, int, int], list[str]]


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


def _widened(widths: list[int], flat: list[str]) -> list[int]:
    """``widths`` of some columns, widened to fit their row-major cells ``flat``."""
    n = len(widths)
    if len(flat) == n:  # a single row
        return list(map(max, widths, map(len, flat)))
    return [max(w, *map(len, flat[j::n])) for j, w in enumerate(widths)]


def write_grid(
    out: Writer,
    label: str,
    headers: Sequence[str],
    cells: Cells,
    rows: Shown,
    columns: Shown,
    filled: int,
) -> None:
    """Write a right-aligned table, exactly as ``write_table`` would for the cells it shows;
    every cell of a row at or beyond ``filled`` is NaN."""
    if len(rows) <= 1 and len(columns) == 1:
        span, item = rows[0] if rows else range(0), columns[0]
        if span is not None and item is not None and len(span) * len(item) <= CHUNK:
            # Small and whole, as most marginals' blocks are: format once.
            flat, n = cells(span.start, span.stop, item.start, item.stop) if span else [], len(item)
            table = ([str(r), *flat[i * n : i * n + n]] for i, r in enumerate(span))
            write_table(out, [label, *headers[item.start : item.stop]], table)
            return
    row_gap = None in rows
    ranges = [span for span in rows if span is not None]
    label_width = max(len(label), 3 if row_gap else 0, *(len(str(r[-1])) for r in ranges))
    any_nan = any(span.stop > filled for span in ranges)
    ranges = [range(span.start, min(span.stop, filled)) for span in ranges]
    n_shown = count_shown(columns)
    per_chunk = max(1, CHUNK // max(1, n_shown))  # rows formatted at a time
    wide = per_chunk == 1  # a row is written a chunk of columns at a time

    widths: list[list[int]] = []  # per item of ``columns``; empty for a gap
    for item in columns:
        if item is None:
            widths.append([])
            continue
        least = 3 if row_gap or any_nan else 0  # as wide as "..." and "NaN"
        found = [max(len(name), least) for c0, c1 in chunks(item, CHUNK) for name in headers[c0:c1]]
        for span in ranges:
            for r0, r1 in chunks(span, per_chunk):
                for c0, c1 in chunks(item, CHUNK if wide else len(item)):
                    a, b = c0 - item.start, c1 - item.start
                    found[a:b] = _widened(found[a:b], cells(r0, r1, c0, c1))
        widths.append(found)

    def line(first: str, texts: Callable[[int, int], Sequence[str]]) -> None:
        """One line, written a chunk of columns at a time (a row may hold millions)."""
        out.write(first.rjust(label_width))
        for item, item_widths in zip(columns, widths, strict=True):
            if item is None:
                out.write("  ...")
                continue
            for c0, c1 in chunks(item, CHUNK):
                a, b = c0 - item.start, c1 - item.start
                out.write("  " + "  ".join(map(str.rjust, texts(c0, c1), item_widths[a:b])))
        out.write("\n")

    def row_cells(r: int) -> Callable[[int, int], Sequence[str]]:
        return lambda c0, c1: cells(r, r + 1, c0, c1)

    line(label, lambda c0, c1: headers[c0:c1])
    for item in rows:
        if item is None:
            line("...", lambda c0, c1: ["..."] * (c1 - c0))
        elif wide:
            for r in item:
                line(str(r), row_cells(r))
        else:  # a chunk of rows at a time, padded a column at a time
            for r0, r1 in chunks(item, per_chunk):
                padded: list[Iterable[str]] = [[f"{r:>{label_width}}" for r in range(r0, r1)]]
                for column, column_widths in zip(columns, widths, strict=True):
                    if column is None:
                        padded.append(itertools.repeat("...", r1 - r0))
                        continue
                    flat, n = cells(r0, r1, column.start, column.stop), len(column)
                    padded += (
                        map(str.rjust, flat[j::n], itertools.repeat(w))
                        for j, w in enumerate(column_widths)
                    )
                out.write("\n".join(map("  ".join, zip(*padded, strict=True))) + "\n")
