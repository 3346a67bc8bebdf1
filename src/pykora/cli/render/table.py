"""The three views as tables for people: a summary line, then cells of six significant
digits (or ``--precision``).

Several files are shown one after another, each under a ``==> FILE <==``
header, as ``head`` writes them.
"""

from __future__ import annotations

from pykora.cli import cells
from pykora.cli.numbers import block_label, plural
from pykora.cli.output import Writer
from pykora.cli.render.grid import write_grid
from pykora.cli.view import FileView, MarginalsView, MatrixView, RawView, count_shown
from pykora.cli.view import n_columns as n_columns_of


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


def selected(count: int | None, what: str) -> str:
    """What a selection of blocks holds, in a summary line; nothing without one."""
    return "" if count is None else f"; {plural(count, 'block')} selected ({what})"


def raw(out: Writer, shown: FileView, view: RawView) -> None:
    n = view.n_rows
    out.write(
        f"{shown.name}: {plural(n, 'value')}, raw float64 stream of {plural(n, 'row')}"
        f"{left_out(n - count_shown(view.rows), 1 - count_shown(view.columns))}\n"
    )
    table = cells.Table(shown.values, None, None, shown.precision)
    write_grid(out, "index", ["value"], table, view.rows, view.columns, n)


def block_legend(out: Writer, shown: FileView, view: MatrixView) -> None:
    """The line that names the idx of each block whose columns a matrix table shows,
    with "..." where blocks are left out; a chunk of blocks at a time."""
    assert shown.layout is not None
    idx = shown.layout.idx
    out.write("blocks: ")
    between = ""
    for run in view.legend():
        if run is None:
            out.write(between + "...")
        else:
            for k0, k1 in cells.chunks(range(int(run.size)), cells.CHUNK):
                blocks = run[k0:k1]
                out.write(between + cells.block_names(blocks, idx[blocks]))
                between = ", "
        between = ", "
    out.write("\n")


def matrix(out: Writer, shown: FileView, view: MatrixView) -> None:
    n_rows, n_columns = view.n_rows, view.n_columns
    chosen = None if view.selected is None else int(view.selected.size)
    out.write(
        f"{shown.name}: {plural(shown.values.size, 'value')}, "
        f"{plural(view.n_blocks, 'block')}, dense matrix of {plural(n_rows, 'row')} x "
        f"{plural(n_columns_of(view.n_blocks), 'column')}"
        f"{selected(chosen, plural(n_columns, 'column'))}"
        f"{left_out(n_rows - count_shown(view.rows), n_columns - count_shown(view.columns))}\n"
    )
    if n_columns:
        block_legend(out, shown, view)
    table = cells.Table(shown.values, shown.layout, view.every_source, shown.precision)
    write_grid(out, "row", view.names, table, view.rows, view.columns, view.filled)


def marginals(out: Writer, shown: FileView, view: MarginalsView) -> None:
    values, layout = shown.values, shown.layout
    assert layout is not None
    columns_left = 2 - count_shown(view.columns) if view.n_rows else 0
    blocks_left = view.n_chosen - view.blocks_shown
    out.write(
        f"{shown.name}: {plural(values.size, 'value')}, {plural(view.n_blocks, 'block')}, "
        f"{plural(view.whole_rows, 'row')} of (x, y) pairs"
        f"{selected(view.selected, plural(view.n_rows, 'row'))}"
        f"{left_out(view.n_rows - view.rows_shown, columns_left, blocks_left)}\n"
    )
    if view.summarised is None and view.columns == [range(2)]:
        # Every row of every block, formatted natively a chunk at a time: a file may
        # hold millions of blocks.
        for text in cells.marginals_table(values, layout, view.chosen, shown.precision):
            out.write(text)
        return
    shown_columns = [c for span in view.columns if span is not None for c in span]
    for block in view.each_block(layout):
        if block.gap_before:
            out.write("\n...\n")
        out.write(f"\n{block_label(block.block, block.idx)}: {plural(block.n_rows, 'row')}\n")
        if block.n_rows:
            sources = cells.pair_sources(block.block)[shown_columns]
            table = cells.Table(values, layout, sources, shown.precision)
            write_grid(out, "row", ["x", "y"], table, block.rows, view.columns, block.filled)


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
