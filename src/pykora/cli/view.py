"""The third stage: the shape of a view, which rows and columns it shows, as counts.

A view never holds numbers. It says which rows and which columns are shown
(ranges, with ``None`` for every gap a summarised table draws as "..."),
where each column's numbers come from, and how many rows of it the file
holds; every row below those is NaN padding, which the cells are told as a
count and never given as an array.

Where a column's numbers come from is its source: ``2 * k`` for block k's x
values and ``2 * k + 1`` for its y values. The dense matrix of
``kora_interpret_vector`` has, with two or more blocks, 1 + 2 * blocks
columns: column 0 holds block 0's x values and columns 1 + 2k and 2 + 2k
block k's y and x values, so the sources of a two-block matrix are
[0, 1, 0, 3, 2]. A single block is its own (x, y) pairs, [0, 1], and a file
without blocks has no column at all. This module is the one place that
knows this numbering.
"""

from __future__ import annotations

import dataclasses
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, NamedTuple, overload

from pykora.cli.layout import Layout, every_block

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: What a view shows along one axis: ranges of rows (or columns), ``None`` for each gap.
Shown = list[range | None]
#: The rows and columns a table shows before it is summarised; ``None``: no limit.
Limits = tuple[int | None, int | None]
EVERYTHING: Limits = (None, None)


def shown(n: int, limit: int | None) -> Shown:
    """What a table shows of ``n`` rows or columns: all, or the first and last of ``limit``."""
    if limit is None or n <= limit:
        return [range(n)] if n else []
    head, tail = (limit + 1) // 2, limit // 2
    return with_gaps([range(head), range(n - tail, n)], n)


def with_gaps(spans: Iterable[range], n: int) -> Shown:
    """``spans`` (ascending, disjoint) of 0..n-1 with ``None`` wherever something is left out."""
    items: Shown = []
    end = 0
    for span in spans:
        if not span:
            continue
        if span.start > end:
            items.append(None)
        items.append(span)
        end = span.stop
    if end < n:
        items.append(None)
    return items


def count_shown(items: Shown) -> int:
    return sum(len(span) for span in items if span is not None)


@dataclass(frozen=True)
class RawView:
    """The values as one column, numbered from 0."""

    n_rows: int
    rows: Shown
    columns: Shown  # of the one column


def raw_view(n_values: int, limits: Limits) -> RawView:
    return RawView(n_values, shown(n_values, limits[0]), shown(1, limits[1]))


def n_columns(n_blocks: int) -> int:
    return 0 if n_blocks == 0 else 2 if n_blocks == 1 else 1 + 2 * n_blocks


def column_sources(span: range, n_blocks: int) -> IntArray:
    """The sources of the matrix's columns ``span``."""
    import numpy as np

    sources = np.arange(span.start, span.stop, dtype=np.int64)
    if n_blocks > 1:
        # Column 1 + 2k is block k's y, source 2k + 1; column 2 + 2k its x, source 2k.
        first_x = max(span.start, 2)
        first_x += first_x % 2
        sources[first_x - span.start :: 2] -= 2
    return sources


def block_of(column: int, n_blocks: int) -> int:
    """The block whose values fill ``column``."""
    return 0 if n_blocks == 1 or column == 0 else (column - 1) // 2


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


@dataclass(frozen=True)
class MatrixView:
    """Some rows and columns of the dense matrix."""

    n_blocks: int
    n_rows: int  # the matrix's: the most pairs any block declares
    rows: Shown
    columns: Shown  # of the matrix's columns
    sources: list[IntArray]  # of each range of ``columns``, in order
    filled: int  # rows of the columns shown that hold anything but NaN

    @property
    def names(self) -> ColumnNames:
        return ColumnNames(self.n_blocks)

    @property
    def every_source(self) -> IntArray:
        """The sources of all the columns shown, in order."""
        import numpy as np

        if len(self.sources) == 1:
            return self.sources[0]
        return np.concatenate(self.sources) if self.sources else np.zeros(0, dtype=np.int64)

    @property
    def blocks_shown(self) -> list[range]:
        """The runs of blocks whose values fill the columns shown."""
        return [
            range(block_of(span.start, self.n_blocks), block_of(span.stop - 1, self.n_blocks) + 1)
            for span in self.columns
            if span
        ]


def matrix_view(layout: Layout, limits: Limits) -> MatrixView:
    n = layout.n_blocks
    columns = shown(n_columns(n), limits[1])
    sources = [column_sources(span, n) for span in columns if span is not None]
    n_rows = int(layout.declared.max()) if n else 0
    view = MatrixView(n, n_rows, shown(n_rows, limits[0]), columns, sources, 0)
    return dataclasses.replace(view, filled=layout.rows_held(view.every_source))


class BlockView(NamedTuple):
    """One block of a marginals view: the rows of its (x, y) pairs that are shown. A tuple,
    not a data class: a table of every block makes millions."""

    block: int
    n_rows: int  # the pairs it declares
    rows: Shown
    filled: int  # rows holding anything but NaN
    gap_before: bool  # blocks are left out between this one and the one before


@dataclass(frozen=True)
class MarginalsView:
    """One (x, y) table per block; a summarised table shows some rows of some blocks."""

    n_blocks: int
    n_rows: int  # of all blocks together
    blocks: IntArray  # the blocks shown, ascending
    columns: Shown  # of the two, x and y
    summarised: dict[int, list[range]] | None  # the rows shown of each block; None: all

    def block(self, layout: Layout, k: int, gap_before: bool = False) -> BlockView:
        n_rows = int(layout.declared[k])
        if self.summarised is None:
            rows: Shown = [range(n_rows)] if n_rows else []
        else:
            rows = with_gaps(self.summarised[k], n_rows)
        held = layout.held(k, 0) if k == self.n_blocks - 1 else n_rows
        return BlockView(k, n_rows, rows, held, gap_before)

    @property
    def rows_shown(self) -> int:
        if self.summarised is None:
            return self.n_rows
        return sum(len(span) for spans in self.summarised.values() for span in spans)


def marginal_spans(counts: IntArray, limit: int | None) -> dict[int, list[range]] | None:
    """The rows of each block that a summarised marginals table shows; ``None`` to show all.

    The blocks' rows are summarised as if they were one table, an empty block
    counting as one row for the line that names it: the first and last
    ``limit`` of them are shown, which bounds the lines printed however many
    blocks a file holds. Only the blocks at both ends are looked at.
    """
    import numpy as np

    n = int(counts.size)
    lines = int(counts.sum()) + n - int(np.count_nonzero(counts))
    if limit is None or lines <= limit:
        return None
    spans: dict[int, list[range]] = {}
    budget, k = (limit + 1) // 2, 0
    while budget > 0:
        count = int(counts[k])
        take = min(budget, max(count, 1))
        spans[k] = [range(take)] if count else []
        budget, k = budget - take, k + 1
    budget, k = limit // 2, n - 1
    while budget > 0:
        count = int(counts[k])
        take = min(budget, max(count, 1))
        spans.setdefault(k, []).extend([range(count - take, count)] if count else [])
        budget, k = budget - take, k - 1
    return spans


def marginals_view(layout: Layout, blocks: IntArray | None, limits: Limits) -> MarginalsView:
    """The view of ``blocks`` (ascending), or of every block when ``None``."""
    import numpy as np

    counts = layout.declared if blocks is None else layout.declared[blocks]
    n_rows = int(counts.sum())
    spans = marginal_spans(counts, limits[0])
    if spans is None:
        shown_blocks = every_block(layout) if blocks is None else blocks
    else:
        # Positions among the blocks picked out, as the spans count them, to block numbers.
        if blocks is not None:
            spans = {int(blocks[i]): rows for i, rows in spans.items()}
        shown_blocks = np.array(sorted(spans), dtype=np.int64)
    return MarginalsView(layout.n_blocks, n_rows, shown_blocks, shown(2, limits[1]), spans)


@dataclass(frozen=True)
class FileView:
    """What a command shows of one file: its names, its values, their layout and the view."""

    arg: str  # as given on the command line
    name: str  # as errors and headers give it
    values: FloatArray
    layout: Layout | None  # None for the raw view, which has no blocks
    view: RawView | MatrixView | MarginalsView
