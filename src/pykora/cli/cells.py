"""The fourth stage: the numbers a view shows, formatted, a chunk at a time.

This module is the command line's one door to ``pykora._text``, which
formats numbers natively, without the interpreter lock, into chunks of about
a megabyte. Every function here takes what a view is made of: the file's
``values``, its ``Layout``, and either a selection of blocks (ascending block
numbers; ``None`` for every block) or the sources of some matrix columns
(``2 * k`` for block k's x, ``2 * k + 1`` for its y; ``None`` for the whole
matrix). A cell below what the file holds of its block is NaN, worked out
from the layout's counts as the cell is formatted, so the padding of a block
that declares 2**62 pairs costs nothing until it is written, and then one
chunk at a time.

Numbers are written in two ways. Tables, for people, show ``precision``
significant digits (6 unless asked otherwise). CSV and JSON, for programs,
show every digit: the shortest text that reads back as the same float64,
Python's ``repr``. Non-finite values are ``NaN``, ``inf`` and ``-inf``; in
JSON the strings "NaN", "inf" and "-inf", so that the output stays strict
JSON and Python's ``float()`` reads all three back.
"""

from __future__ import annotations

import functools
from collections.abc import Iterator
from typing import TYPE_CHECKING

from pykora.cli.layout import Layout

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: Cells of a table looked at a time, which bounds the memory a table's rows take.
CHUNK = 1 << 16
#: Significant digits of a table's cells unless --precision says otherwise.
DEFAULT_PRECISION = 6


def chunks(span: range, size: int) -> Iterator[tuple[int, int]]:
    """``span`` cut into (start, stop) pieces of at most ``size``."""
    for start in range(span.start, span.stop, size):
        yield start, min(start + size, span.stop)


@functools.cache
def indent(level: int) -> str:
    """What a JSON line at nesting ``level`` starts with."""
    return "  " * level


# Tables ----------------------------------------------------------------------------------


def gather(values: FloatArray, layout: Layout, sources: IntArray, r0: int, r1: int) -> FloatArray:
    """Rows ``r0 .. r1 - 1`` of the columns ``sources``, NaN wherever the file holds none."""
    from pykora import _text

    return _text.column_values(values, layout.arrays, sources, range(r0, r1))


def column_names(n_blocks: int, columns: IntArray) -> list[str]:
    """The names of the matrix's columns ``columns``: x, then y0, x0, y1, x1, ..."""
    from pykora import _text

    return _text.column_names(n_blocks, columns)


def aligned_column_names(n_blocks: int, columns: IntArray, widths: IntArray) -> str:
    """The names of the matrix's columns ``columns``, each right-aligned in its width of
    ``widths``, two spaces apart."""
    from pykora import _text

    return _text.aligned_column_names(n_blocks, columns, widths)


def block_names(blocks: IntArray, idx: FloatArray) -> str:
    """The blocks ``blocks``, whose idx are ``idx``, as a matrix table's legend names
    them: "k (idx i)", joined by ", "."""
    from pykora import _text

    return _text.block_names(blocks, idx)


def pair_sources(k: int) -> IntArray:
    """The sources of block ``k``'s x and y."""
    import numpy as np

    return np.array([2 * k, 2 * k + 1], dtype=np.int64)


def table_widths(
    values: FloatArray, layout: Layout | None, sources: IntArray | None, rows: range, precision: int
) -> IntArray:
    """The widest text of each column's cells in ``rows``: of the raw stream ``values``
    (``layout`` None), or of the matrix's columns ``sources`` (every column when None)."""
    from pykora import _text

    arrays = None if layout is None else layout.arrays
    return _text.table_widths(values, arrays, sources, rows, precision)


class Table:
    """The cells of a table at ``precision`` significant digits: a raw stream's values
    (``layout`` None), or the matrix's columns ``sources`` (every column when None)."""

    def __init__(
        self,
        values: FloatArray,
        layout: Layout | None,
        sources: IntArray | None,
        precision: int,
    ) -> None:
        self.values, self.layout, self.sources = values, layout, sources
        self.precision = precision

    def widths(self, rows: range) -> IntArray:
        """The widest text of each column's cells in ``rows``."""
        return table_widths(self.values, self.layout, self.sources, rows, self.precision)

    def lines(
        self, rows: range, widths: IntArray, label_width: int, gaps: list[int]
    ) -> Iterator[str]:
        """The lines of ``rows``: the row's number right-aligned in ``label_width``, then each
        cell right-aligned in its column's width, two spaces apart, and "..." columns before
        the columns ``gaps``."""
        from pykora import _text

        arrays = None if self.layout is None else self.layout.arrays
        return _text.table_rows(
            self.values, arrays, self.sources, rows, self.precision, widths, label_width, gaps
        )


def marginals_table(
    values: FloatArray, layout: Layout, blocks: IntArray | None, precision: int
) -> Iterator[str]:
    """The whole table of each of ``blocks`` (every block when None): a blank line, the line
    that names the block and says its rows, then its header and every row of its pairs,
    its columns as wide as its own cells."""
    from pykora import _text

    return _text.marginals_table(values, layout.arrays, blocks, precision)


# CSV -------------------------------------------------------------------------------------


def raw_csv(values: FloatArray, prefix: str | None = None) -> Iterator[str]:
    """Lines ``index,value``, each after ``prefix``."""
    from pykora import _text

    return _text.raw_csv(values, prefix)


def matrix_csv(values: FloatArray, layout: Layout, sources: IntArray | None) -> Iterator[str]:
    """A line for each of the matrix's rows, of the cells of the columns ``sources``."""
    from pykora import _text

    return _text.matrix_csv(values, layout.arrays, sources)


def marginals_csv(
    values: FloatArray, layout: Layout, blocks: IntArray | None, prefix: str | None = None
) -> Iterator[str]:
    """Lines ``block,idx,x,y`` of every pair of ``blocks``, each after ``prefix``; a block
    without pairs has none."""
    from pykora import _text

    return _text.marginals_csv(values, layout.arrays, blocks, prefix)


# JSON ------------------------------------------------------------------------------------


def raw_json(values: FloatArray) -> Iterator[str]:
    """The array of the values, on one line whatever its length."""
    from pykora import _text

    yield "["
    yield from _text.raw_json(values)
    yield "]"


def matrix_json(
    values: FloatArray, layout: Layout, sources: IntArray | None, level: int
) -> Iterator[str]:
    """The array of the matrix's rows of the columns ``sources``, one row a line, as the
    value of a key at nesting ``level``."""
    from pykora import _text

    yield "[\n" + indent(level + 1)
    yield from _text.matrix_json(values, layout.arrays, sources, level)
    yield "\n" + indent(level) + "]"


def marginals_json(
    values: FloatArray, layout: Layout, blocks: IntArray | None, level: int
) -> Iterator[str]:
    """The array of ``{"block", "idx", "pairs"}`` objects of ``blocks``: one a line, or
    spread over lines of their own when the block has pairs, one pair a line."""
    from pykora import _text

    yield "[\n" + indent(level + 1)
    yield from _text.marginals_json(values, layout.arrays, blocks, level)
    yield "\n" + indent(level) + "]"
