"""The command line's CSV and JSON text and its tables' cells, formatted natively; private to
pykora.

Floats are written as Python writes them: ``repr(v)`` in CSV and JSON,
``format(v, f".{p}g")`` in tables; NaN, inf and -inf as ``NaN``, ``inf`` and
``-inf``, in JSON as strings. The writers yield str chunks of about
``CHUNK_BYTES`` characters, read at each call; with ``THREADS`` at 2 (read at
each call too) the text is formatted a few chunks ahead on a second thread. ``layout`` is
``pykora._layout.block_layout(values)``; a column source is ``2 * k`` for
block k's x values and ``2 * k + 1`` for its y values. A layout that does not
fit ``values`` raises ``ValueError``, a selection out of range ``IndexError``.
"""

from collections.abc import Iterator

import numpy as np
from numpy.typing import ArrayLike, NDArray

Layout = tuple[NDArray[np.int64], NDArray[np.float64], NDArray[np.int64], NDArray[np.int64]]

CHUNK_BYTES: int
THREADS: int

def raw_csv(values: ArrayLike, prefix: str | None = None) -> Iterator[str]:
    """The lines ``i,v`` of a raw stream, each after ``prefix``, each ending in a line break."""

def raw_json(values: ArrayLike) -> Iterator[str]:
    """The values' JSON texts joined by ", ": what goes between the brackets of their array."""

def marginals_csv(
    values: ArrayLike,
    layout: Layout,
    blocks: ArrayLike | None = None,
    prefix: str | None = None,
) -> Iterator[str]:
    """The lines ``k,idx,x,y`` of the blocks ``blocks`` (every block when None), every row
    of each up to its declared count, each after ``prefix``."""

def marginals_json(
    values: ArrayLike,
    layout: Layout,
    blocks: ArrayLike | None = None,
    level: int | None = None,
) -> Iterator[str]:
    """The records ``{"block": k, "idx": ..., "pairs": [...]}`` of the blocks ``blocks``,
    from the first ``{`` to the last ``}``, laid out as items of an array at nesting
    ``level`` (1 when None: the "blocks" of a file's document)."""

def matrix_csv(
    values: ArrayLike, layout: Layout, columns: ArrayLike | None = None
) -> Iterator[str]:
    """The dense matrix's rows as CSV lines, the cells of column sources ``columns`` (the
    whole matrix when None) of each."""

def matrix_json(
    values: ArrayLike,
    layout: Layout,
    columns: ArrayLike | None = None,
    level: int | None = None,
) -> Iterator[str]:
    """The dense matrix's rows as JSON arrays, from the first ``[`` to the last ``]``, laid
    out as items of an array at nesting ``level`` (1 when None: a document's "rows")."""

def column_values(
    values: ArrayLike, layout: Layout, columns: ArrayLike | None, rows: range
) -> NDArray[np.float64]:
    """The dense matrix's cells in ``rows`` of column sources ``columns``, NaN below a
    block's declared count and beyond the values: shape (len(rows), len(columns))."""

def cells(values: ArrayLike, precision: int | None = None) -> list[str]:
    """Each value's text: ``repr(v)``, or ``format(v, f".{precision}g")`` for 1 to 17."""

def table_widths(
    values: ArrayLike,
    layout: Layout | None,
    columns: ArrayLike | None,
    rows: range,
    precision: int | None = None,
) -> NDArray[np.int64]:
    """The widest cell text of each column in ``rows`` (step 1), at ``precision`` significant
    digits (6 when None): of the raw stream ``values`` when ``layout`` is None, else of the
    matrix's column sources ``columns``."""

def table_rows(
    values: ArrayLike,
    layout: Layout | None,
    columns: ArrayLike | None,
    rows: range,
    precision: int | None,
    widths: ArrayLike,
    label_width: int,
    gaps: ArrayLike | None = None,
) -> Iterator[str]:
    """The lines of ``rows`` of the same table: the row number right-aligned in
    ``label_width``, then each cell right-aligned in its width, two spaces before each, with
    a "..." column before each column of ``gaps``."""

def marginals_table(
    values: ArrayLike,
    layout: Layout,
    blocks: ArrayLike | None = None,
    precision: int | None = None,
) -> Iterator[str]:
    """Each block's line ``block k (idx i): n rows`` after a blank line, then, for a block
    with pairs, its table ``row x y`` with columns as wide as its own cells."""

def column_names(n_blocks: int, columns: ArrayLike) -> list[str]:
    """The names of the columns ``columns`` (positions) of the dense matrix of ``n_blocks``
    blocks, as a list: ``x`` and ``y`` for a single block; else ``x`` for column 0, then
    ``y<k>`` and ``x<k>`` for block k's columns 2k + 1 and 2k + 2."""

def aligned_column_names(n_blocks: int, columns: ArrayLike, widths: ArrayLike) -> str:
    """The names of the columns ``columns`` of the dense matrix of ``n_blocks`` blocks, each
    right-aligned in its width of ``widths``, joined by two spaces: a matrix table's
    header but for its row label."""

def block_names(blocks: ArrayLike, idx: ArrayLike) -> str:
    """The blocks ``blocks`` named as a matrix table's legend names them, ``k (idx i)``,
    joined by ``", "``: ``idx`` holds each block's idx, written exactly: an integral idx
    below 1e16 in magnitude as its integer ("-0" for -0.0), any other as ``repr`` writes
    it, NaN, inf and -inf as ``NaN``, ``inf`` and ``-inf``."""
