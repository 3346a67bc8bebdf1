"""The three views as tables for people: a summary line, then six-digit cells.

Each function decodes what its table shows and then returns the function
that writes it, so that every failure comes before the first line.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING

from pykora.cli.blocks import Blocks, runs
from pykora.cli.files import Source
from pykora.cli.matrix import ColumnNames, DenseColumns, blocks_named, n_columns
from pykora.cli.numbers import idx_text, plural, short_cells
from pykora.cli.output import Writer
from pykora.cli.render.grid import Cells, write_grid
from pykora.cli.summary import Shown, count_shown, left_out, marginal_spans, shown, with_gaps

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

#: The rows and columns a table shows before it is summarised; ``None``: no limit.
Limits = tuple[int | None, int | None]
Render = Callable[[Writer], None]


def array_cells(array_2d: FloatArray) -> Cells:
    """The six-digit cells of a 2-D array."""

    def cells(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return short_cells(array_2d[r0:r1, c0:c1].ravel().tolist())

    return cells


def raw(source: Source, limits: Limits) -> Render:
    values, n = source.values, int(source.values.size)
    rows, columns = shown(n, limits[0]), shown(1, limits[1])

    def cells(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return short_cells(values[r0:r1].tolist())

    def write(out: Writer) -> None:
        out.write(
            f"{source.name}: {plural(n, 'value')}, raw float64 stream of {plural(n, 'row')}"
            f"{left_out(n - count_shown(rows), 1 - count_shown(columns))}\n"
        )
        write_grid(out, "index", ["value"], cells, rows, columns)

    return write


def block_legend(blocks: Blocks, columns: Shown) -> str:
    """The line that names the idx of each block whose columns a matrix table shows,
    with "..." where blocks are left out."""
    parts: list[str] = []
    last = -1
    for ks in blocks_named([span for span in columns if span is not None], blocks.n_blocks):
        for k in ks:
            if k > last + 1:
                parts.append("...")
            if k > last:
                parts.append(f"{k} (idx {idx_text(blocks.idx[k])})")
                last = k
    if last < blocks.n_blocks - 1:
        parts.append("...")
    return "blocks: " + ", ".join(parts)


def matrix(blocks: Blocks, limits: Limits) -> Render:
    columns = shown(n_columns(blocks.n_blocks), limits[1])
    dense = DenseColumns(blocks, [span for span in columns if span is not None])
    blocks.warn_padding()
    n_rows, n_cols = dense.n_rows, dense.n_columns
    rows = shown(n_rows, limits[0])

    def cells(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return short_cells(dense.cells(r0, r1, c0, c1).ravel().tolist())

    def write(out: Writer) -> None:
        out.write(
            f"{blocks.name}: {plural(blocks.values.size, 'value')}, "
            f"{plural(blocks.n_blocks, 'block')}, dense matrix of {plural(n_rows, 'row')} x "
            f"{plural(n_cols, 'column')}"
            f"{left_out(n_rows - count_shown(rows), n_cols - count_shown(columns))}\n"
        )
        if blocks.n_blocks:
            out.write(block_legend(blocks, columns) + "\n")
        write_grid(out, "row", ColumnNames(blocks.n_blocks), cells, rows, columns)

    return write


def _write_block(out: Writer, label: str, pairs: FloatArray, rows: Shown, columns: Shown) -> None:
    out.write(f"\n{label}: {plural(pairs.shape[0], 'row')}\n")
    if pairs.size:
        write_grid(out, "row", ["x", "y"], array_cells(pairs), rows, columns)


def marginals(blocks: Blocks, limits: Limits) -> Render:
    columns = shown(2, limits[1])
    n_rows = int(blocks.declared.sum())
    summary = (
        f"{blocks.name}: {plural(blocks.values.size, 'value')}, "
        f"{plural(blocks.n_blocks, 'block')}, {plural(n_rows, 'row')} of (x, y) pairs"
    )
    columns_left = 2 - count_shown(columns) if n_rows else 0
    spans = marginal_spans(blocks.declared, limits[0])
    if spans is None:
        every = blocks.every_pairs()

        def write_all(out: Writer) -> None:
            out.write(f"{summary}{left_out(columns=columns_left)}\n")
            for ks, group in every:
                for k, pairs in zip(ks, group, strict=True):
                    _write_block(out, blocks.label(k), pairs, shown(len(pairs), None), columns)

        return write_all

    # The blocks shown form a run from the first block and one to the last.
    ks = sorted(spans)
    decoded: dict[int, FloatArray] = {}
    for k0, k1 in runs(ks):
        decoded.update(zip(range(k0, k1), blocks.pairs(k0, k1), strict=True))
    blocks.warn_padding()
    rows_shown = sum(len(span) for parts in spans.values() for span in parts)
    missing = left_out(n_rows - rows_shown, columns_left, blocks.n_blocks - len(ks))

    def write_summarised(out: Writer) -> None:
        out.write(f"{summary}{missing}\n")
        for i, k in enumerate(ks):
            if i and k != ks[i - 1] + 1:
                out.write("\n...\n")
            pairs = decoded[k]
            rows = with_gaps(spans[k], pairs.shape[0])
            _write_block(out, blocks.label(k), pairs, rows, columns)

    return write_summarised
