"""The three views as CSV, with every digit, written by the standard ``csv`` module as they
are formatted.

A raw stream is ``index,value``; a matrix has its column names as header and
one line per row; marginals are one table ``block,idx,x,y`` in which blocks
without pairs have no rows.
"""

from __future__ import annotations

import csv
import functools
from collections.abc import Callable, Sequence

from pykora.cli.blocks import Blocks
from pykora.cli.files import Source
from pykora.cli.matrix import ColumnNames, DenseColumns, n_columns
from pykora.cli.numbers import exact_cells, exact_text
from pykora.cli.output import Writer
from pykora.cli.summary import chunks

#: Cells formatted at a time.
CHUNK = 1 << 16
Render = Callable[[Writer], None]


def raw(source: Source) -> Render:
    values = source.values

    def write(out: Writer) -> None:
        lines = csv.writer(out, lineterminator="\n")
        lines.writerow(["index", "value"])
        for r0, r1 in chunks(range(values.size), CHUNK):
            lines.writerows(zip(range(r0, r1), exact_cells(values[r0:r1].tolist()), strict=True))

    return write


def _write_wide(out: Writer, n: int, cells: Callable[[int, int], Sequence[str]]) -> None:
    """One line of ``n`` fields, too many to hold as texts at once: a chunk at a time."""
    fields = csv.writer(out, lineterminator="")
    for c0, c1 in chunks(range(n), CHUNK):
        if c0:
            out.write(",")
        fields.writerow(cells(c0, c1))
    out.write("\n")


def matrix(blocks: Blocks) -> Render:
    dense = DenseColumns(blocks, [range(n_columns(blocks.n_blocks))])
    blocks.warn_padding()
    names = ColumnNames(blocks.n_blocks)
    n_rows, n = dense.n_rows, dense.n_columns

    def texts(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return exact_cells(dense.cells(r0, r1, c0, c1).ravel().tolist())

    def write(out: Writer) -> None:
        if n > CHUNK:  # millions of blocks: rows of millions of columns
            _write_wide(out, n, lambda c0, c1: names[c0:c1])
            for r in range(n_rows):
                _write_wide(out, n, functools.partial(texts, r, r + 1))
            return
        lines = csv.writer(out, lineterminator="\n")
        lines.writerow(names[0:n])
        for r0, r1 in chunks(range(n_rows), CHUNK // max(n, 1)):
            flat = texts(r0, r1, 0, n)
            lines.writerows(flat[i : i + n] for i in range(0, len(flat), n))

    return write


def marginals(blocks: Blocks) -> Render:
    every = blocks.every_pairs()

    def write(out: Writer) -> None:
        lines = csv.writer(out, lineterminator="\n")
        lines.writerow(["block", "idx", "x", "y"])
        for k, pairs in every:
            idx = exact_text(blocks.idx[k])
            for r0, r1 in chunks(range(pairs.shape[0]), CHUNK // 2):
                flat = exact_cells(pairs[r0:r1].ravel().tolist())
                lines.writerows((k, idx, x, y) for x, y in zip(flat[0::2], flat[1::2], strict=True))

    return write
