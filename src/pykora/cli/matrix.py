"""The columns of ``kora_interpret_vector``'s dense matrix: their names, their blocks, and
their cells, decoded only for the columns wanted.

With two or more blocks the matrix has 1 + 2 * blocks columns: column 0
holds block 0's x values, and columns 1 + 2k and 2 + 2k hold block k's y and
x values. A single block comes back as its own (x, y) pairs, and a file
without blocks as no column at all. This module is the one place that knows
this numbering.
"""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, overload

from pykora.cli.blocks import Blocks

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]


def n_columns(n_blocks: int) -> int:
    return 0 if n_blocks == 0 else 2 if n_blocks == 1 else 1 + 2 * n_blocks


def block_of(column: int, n_blocks: int) -> int:
    """The block whose values fill ``column``."""
    return 0 if n_blocks == 1 or column == 0 else (column - 1) // 2


def series_columns(k: int, n_blocks: int) -> tuple[int, int]:
    """Block ``k``'s (x, y) columns."""
    return (0, 1) if n_blocks == 1 else (2 + 2 * k, 1 + 2 * k)


def _in_run(column: int, k0: int, k1: int, n_blocks: int) -> int:
    """Where ``column`` lies in ``kora_interpret_vector`` of blocks ``k0 .. k1 - 1`` alone."""
    if k1 - k0 > 1:
        return column - 2 * k0 if column else 0
    # A single block decodes to its own (x, y) pairs.
    if n_blocks == 1 or column == 0:
        return column
    return 1 if column % 2 else 0


class ColumnNames(Sequence[str]):
    """The matrix's column names, made when asked for: a file of millions of blocks has
    millions of names, so they are not kept."""

    def __init__(self, n_blocks: int) -> None:
        self.n_blocks = n_blocks
        self.n_columns = n_columns(n_blocks)

    def __len__(self) -> int:
        return self.n_columns

    @overload
    def __getitem__(self, index: int) -> str: ...

    @overload
    def __getitem__(self, index: slice) -> list[str]: ...

    def __getitem__(self, index: int | slice) -> str | list[str]:
        if isinstance(index, slice):
            start, stop, step = index.indices(self.n_columns)
            if self.n_blocks == 1 or step != 1 or start >= stop:
                return [self[c] for c in range(start, stop, step)]
            # Columns 1 + 2k and 2 + 2k are block k's: named a block at a time, which is
            # what a header of millions of columns costs.
            first, last = (max(start, 1) - 1) // 2, (stop - 2) // 2
            names = [f"{axis}{k}" for k in range(first, last + 1) for axis in "yx"]
            skip = max(start, 1) - (1 + 2 * first)
            return ["x"] * (start == 0) + names[skip : skip + stop - max(start, 1)]
        if not -self.n_columns <= index < self.n_columns:
            raise IndexError(index)
        c = index % self.n_columns
        if self.n_blocks == 1:
            return "xy"[c]
        return "x" if c == 0 else f"{'y' if c % 2 else 'x'}{(c - 1) // 2}"


def blocks_named(columns: Iterable[range], n_blocks: int) -> list[range]:
    """The runs of blocks whose values fill ``columns``."""
    return [
        range(block_of(span.start, n_blocks), block_of(span.stop - 1, n_blocks) + 1)
        for span in columns
        if span
    ]


class DenseColumns:
    """Some columns of a file's dense matrix, as ``kora_interpret_vector`` returns them.

    Each run of blocks that fills the columns asked for is decoded once, when
    this is made, so that a failure comes before anything is written. Rows
    below a run's longest block are NaN, as in the whole matrix.
    """

    def __init__(self, blocks: Blocks, columns: Iterable[range]) -> None:
        self.n_blocks = blocks.n_blocks
        self.n_columns = n_columns(self.n_blocks)
        self.n_rows = int(blocks.declared.max()) if self.n_blocks else 0
        merged: list[range] = []
        for span in sorted((s for s in columns if s), key=lambda s: s.start):
            if merged and span.start <= merged[-1].stop:
                merged[-1] = range(merged[-1].start, max(merged[-1].stop, span.stop))
            else:
                merged.append(span)
        self._runs: list[tuple[range, int, int, FloatArray]] = []
        for span, ks in zip(merged, blocks_named(merged, self.n_blocks), strict=True):
            self._runs.append((span, ks.start, ks.stop, blocks.dense(ks.start, ks.stop)))

    def cells(self, r0: int, r1: int, c0: int, c1: int) -> FloatArray:
        """Rows ``r0 .. r1 - 1`` of columns ``c0 .. c1 - 1``, all of which were asked for."""
        import numpy as np

        if len(self._runs) == 1:
            span, k0, k1, matrix = self._runs[0]
            whole = k0 == 0 and (k1 > 1 or self.n_blocks == 1)
            if whole and matrix.shape[0] >= r1:  # the whole matrix: no copy
                return matrix[r0:r1, c0:c1]
        out = np.full((r1 - r0, c1 - c0), np.nan)
        for span, k0, k1, matrix in self._runs:
            a, b = max(c0, span.start), min(c1, span.stop)
            if a >= b or r0 >= matrix.shape[0]:
                continue
            where = [_in_run(c, k0, k1, self.n_blocks) for c in range(a, b)]
            out[: matrix.shape[0] - r0, a - c0 : b - c0] = matrix[r0:r1, where]
        return out

    @property
    def shape(self) -> tuple[int, int]:
        return self.n_rows, self.n_columns

    @property
    def size(self) -> int:
        return self.n_rows * self.n_columns

    def __getitem__(self, key: tuple[slice, slice]) -> FloatArray:
        """``cells`` as a 2-D array slices, steps aside."""
        rows, columns = key
        r0, r1, _ = rows.indices(self.n_rows)
        c0, c1, _ = columns.indices(self.n_columns)
        return self.cells(r0, r1, c0, c1)

    def column(self, c: int) -> FloatArray:
        """Column ``c`` whole, NaN below its run's longest block as below the matrix's."""
        return self.cells(0, self.n_rows, c, c + 1)[:, 0]
