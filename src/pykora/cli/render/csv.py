"""The three views as CSV, with every digit, written as they are formatted.

A raw stream is ``index,value``; a matrix has its column names as header and
one line per row; marginals are one table ``block,idx,x,y`` in which blocks
without pairs have no rows.

Header lines go through the standard ``csv`` module, which quotes what needs
quoting. Lines of numbers are joined directly: a number's text never holds a
comma, a quote or a line break, so ``csv`` would write them unchanged, and
it costs twice as much a line, seconds over a file of millions of rows. The
same holds for a matrix's column names (a letter and digits), of which a
file of millions of blocks has millions.
"""

from __future__ import annotations

import csv
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING

from pykora.cli.blocks import Blocks
from pykora.cli.files import Source
from pykora.cli.matrix import ColumnNames, DenseColumns, n_columns
from pykora.cli.numbers import exact_cells, exact_fields, exact_list
from pykora.cli.output import Writer
from pykora.cli.summary import chunks

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

#: Cells formatted at a time.
CHUNK = 1 << 16
Render = Callable[[Writer], None]


def header(out: Writer, names: Sequence[str]) -> None:
    """The line of column names."""
    csv.writer(out, lineterminator="\n").writerow(names)


def matrix_header(out: Writer, names: ColumnNames) -> None:
    """The line of a matrix's column names, a chunk of names at a time."""
    for c0, c1 in chunks(range(len(names)), CHUNK):
        out.write(("," if c0 else "") + ",".join(names[c0:c1]))
    out.write("\n")


def number_lines(rows: FloatArray, prefix: str = "") -> str:
    """One line of comma-separated numbers for each row of a 2-D array, each after ``prefix``."""
    if not rows.size:
        return ""
    inner = exact_list(rows)[2:-2].replace(", ", ",")  # "a,b],[c,d"
    return prefix + inner.replace("],[", "\n" + prefix) + "\n"


def raw(source: Source) -> Render:
    values = source.values

    def write(out: Writer) -> None:
        header(out, ["index", "value"])
        for r0, r1 in chunks(range(values.size), CHUNK):
            texts = exact_cells(values[r0:r1])
            # A list, not a generator: join() makes one of it anyway.
            lines = [f"{i},{t}\n" for i, t in zip(range(r0, r1), texts, strict=False)]
            out.write("".join(lines))

    return write


def matrix(blocks: Blocks) -> Render:
    dense = DenseColumns(blocks, [range(n_columns(blocks.n_blocks))])
    blocks.warn_padding()
    names = ColumnNames(blocks.n_blocks)
    n_rows, n = dense.n_rows, dense.n_columns

    def write(out: Writer) -> None:
        matrix_header(out, names)
        if n > CHUNK:  # millions of blocks: rows of millions of columns, a chunk at a time
            for r in range(n_rows):
                for c0, c1 in chunks(range(n), CHUNK):
                    fields = exact_fields(dense.cells(r, r + 1, c0, c1)[0])
                    out.write(("," if c0 else "") + fields)
                out.write("\n")
            return
        for r0, r1 in chunks(range(n_rows), CHUNK // max(n, 1)):
            out.write(number_lines(dense.cells(r0, r1, 0, n)))

    return write


def marginals(blocks: Blocks) -> Render:
    every = blocks.every_pairs()

    def write(out: Writer) -> None:
        header(out, ["block", "idx", "x", "y"])
        for ks, group in every:
            idx = exact_cells(blocks.idx[ks.start : ks.stop])
            for k, idx_text, pairs in zip(ks, idx, group, strict=True):
                prefix = f"{k},{idx_text},"
                for r0, r1 in chunks(range(pairs.shape[0]), CHUNK // 2):
                    out.write(number_lines(pairs[r0:r1], prefix))

    return write
