"""The three views as tables for people: a summary line, then six-digit cells.

Several files are shown one after another, each under a ``==> FILE <==``
header, as ``head`` writes them.
"""

from __future__ import annotations

import functools

from pykora.cli import cells
from pykora.cli.layout import Layout
from pykora.cli.numbers import block_label, idx_text, plural
from pykora.cli.output import Writer
from pykora.cli.render.grid import Cells, write_grid
from pykora.cli.view import FileView, MarginalsView, MatrixView, RawView, count_shown


def left_out(rows: int = 0, columns: int = 0, blocks: int = 0) -> str:
    """The end of a summary line: what a summarised table leaves out, or nothing."""
    parts = [
        plural(count, word)
        for count, word in ((rows, "row"), (columns, "column"), (blocks, "block"))
        if count
    ]
    if not parts:
        return ""
    what = parts[0] if len(parts) == 1 else ", ".join(parts[:-1]) + " and " + parts[-1]
    return f"; {what} left out (--all prints them)"


def raw(out: Writer, shown: FileView, view: RawView) -> None:
    values, n = shown.values, view.n_rows

    def texts(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return cells.raw_cells(values, r0, r1)

    out.write(
        f"{shown.name}: {plural(n, 'value')}, raw float64 stream of {plural(n, 'row')}"
        f"{left_out(n - count_shown(view.rows), 1 - count_shown(view.columns))}\n"
    )
    write_grid(out, "index", ["value"], texts, view.rows, view.columns, n)


def block_legend(layout: Layout, view: MatrixView) -> str:
    """The line that names the idx of each block whose columns a matrix table shows,
    with "..." where blocks are left out."""
    parts: list[str] = []
    last = -1
    for ks in view.blocks_shown:
        for k in ks:
            if k > last + 1:
                parts.append("...")
            if k > last:
                parts.append(f"{k} (idx {idx_text(layout.idx[k])})")
                last = k
    if last < view.n_blocks - 1:
        parts.append("...")
    return "blocks: " + ", ".join(parts)


def matrix(out: Writer, shown: FileView, view: MatrixView) -> None:
    values, layout = shown.values, shown.layout
    assert layout is not None
    spans = [span for span in view.columns if span is not None]

    def texts(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        span, sources = next(
            (s, src) for s, src in zip(spans, view.sources, strict=True) if c0 in s
        )
        part = sources[c0 - span.start : c1 - span.start]
        return cells.matrix_cells(values, layout, part, r0, r1)

    n_rows, n_columns = view.n_rows, len(view.names)
    out.write(
        f"{shown.name}: {plural(shown.values.size, 'value')}, "
        f"{plural(view.n_blocks, 'block')}, dense matrix of {plural(n_rows, 'row')} x "
        f"{plural(n_columns, 'column')}"
        f"{left_out(n_rows - count_shown(view.rows), n_columns - count_shown(view.columns))}\n"
    )
    if view.n_blocks:
        out.write(block_legend(layout, view) + "\n")
    write_grid(out, "row", view.names, texts, view.rows, view.columns, view.filled)


def _pick(flat: list[str], r0: int, r1: int, c0: int, c1: int) -> list[str]:
    """Rows ``r0 .. r1 - 1`` of columns ``c0 .. c1 - 1`` of (x, y) texts, row after row."""
    rows = flat[2 * r0 : 2 * r1]
    return rows if (c0, c1) == (0, 2) else rows[c0::2]


def marginals(out: Writer, shown: FileView, view: MarginalsView) -> None:
    values, layout = shown.values, shown.layout
    assert layout is not None
    columns_left = 2 - count_shown(view.columns) if view.n_rows else 0
    blocks_left = view.n_blocks - int(view.blocks.size)
    out.write(
        f"{shown.name}: {plural(values.size, 'value')}, {plural(view.n_blocks, 'block')}, "
        f"{plural(view.n_rows, 'row')} of (x, y) pairs"
        f"{left_out(view.n_rows - view.rows_shown, columns_left, blocks_left)}\n"
    )

    def each_block(k: int, texts: Cells, gap_before: bool = False) -> None:
        block = view.block(layout, k, gap_before)
        if block.gap_before:
            out.write("\n...\n")
        out.write(f"\n{layout.label(k)}: {plural(block.n_rows, 'row')}\n")
        if block.n_rows:
            write_grid(out, "row", ["x", "y"], texts, block.rows, view.columns, block.filled)

    def of_block(k: int) -> Cells:
        sources = cells.pair_sources(k)
        return lambda r0, r1, c0, c1: cells.matrix_cells(values, layout, sources[c0:c1], r0, r1)

    if view.summarised is not None:  # a few blocks, a few rows of each
        previous = -1
        for k in view.blocks.tolist():
            each_block(k, of_block(k), gap_before=previous >= 0 and k != previous + 1)
            previous = k
        return
    # Every row of every block: the cells of whole blocks are formatted a group at a time,
    # and each block shows all its rows. Millions of blocks make this the hot loop.
    for group, alone in cells.groups(layout, view.blocks):
        if alone:
            each_block(int(group[0]), of_block(int(group[0])))
            continue
        flat = cells.pair_cells(values, layout, group)
        idx, counts = layout.idx[group].tolist(), layout.declared[group].tolist()
        at = 0
        for k, i, count in zip(group.tolist(), idx, counts, strict=True):
            out.write(f"\n{block_label(k, i)}: {plural(count, 'row')}\n")
            if count:
                texts = functools.partial(_pick, flat[at : at + 2 * count])
                write_grid(out, "row", ["x", "y"], texts, [range(count)], view.columns, count)
                at += 2 * count


def write(out: Writer, shown: FileView) -> None:
    """One file's table."""
    view = shown.view
    if isinstance(view, RawView):
        raw(out, shown, view)
    elif isinstance(view, MatrixView):
        matrix(out, shown, view)
    else:
        marginals(out, shown, view)


class TableDocument:
    """Tables of one file after another, each under a header when there are several."""

    def __init__(self, out: Writer, view: str, several: bool) -> None:
        del view  # each file's table says what it shows
        self.out, self.several, self.shown = out, several, 0

    def add(self, shown: FileView) -> None:
        if self.several:
            self.out.write(("\n" if self.shown else "") + f"==> {shown.name} <==\n")
        write(self.out, shown)
        self.shown += 1

    def close(self) -> None:
        pass
