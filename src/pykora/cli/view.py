"""The third stage: the shape of a view, which rows and columns it shows, as counts.

A view never holds numbers. It says which blocks are shown (a selection, or
every block), which rows and which columns (ranges, with ``None`` for every
gap a summarised table draws as "..."), where each column's numbers come
from, and how many rows of it the file holds; every row below those is NaN
padding, which the cells are told as a count and never given as an array.

Where a column's numbers come from is its source: ``2 * k`` for block k's x
values and ``2 * k + 1`` for its y values. The dense matrix of
``kora_interpret_vector`` has, with two or more blocks, 1 + 2 * blocks
columns: column 0 holds block 0's x values and columns 1 + 2k and 2 + 2k
block k's y and x values, so the sources of a two-block matrix are
[0, 1, 0, 3, 2]. A single block is its own (x, y) pairs, [0, 1], and a file
without blocks has no column at all. This module is the one place that
knows this numbering.

A selection of blocks shows them exactly as the whole view does: the same
block numbers and labels, and of the matrix, the columns of the selected
blocks (column 0, block 0's x, with block 0), with the matrix's rows.
"""

from __future__ import annotations

import dataclasses
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, NamedTuple, overload

from pykora.cli import cells
from pykora.cli.layout import Layout

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: What a view shows along one axis: ranges of rows (or columns), ``None`` for each gap.
Shown = list[range | None]


@dataclass(frozen=True)
class Limits:
    """What a table may show before it is summarised (``None``: no limit), its cells'
    significant digits, and the width of the terminal it must fit, if any."""

    rows: int | None = None
    columns: int | None = None
    precision: int = cells.DEFAULT_PRECISION
    width: int | None = None


EVERYTHING = Limits()


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


def gap_positions(items: Shown) -> list[int]:
    """Where the gaps of ``items`` stand among the rows or columns shown: before which."""
    found, at = [], 0
    for span in items:
        if span is None:
            found.append(at)
        else:
            at += len(span)
    return found


@dataclass(frozen=True)
class RawView:
    """The values as one column, numbered from 0."""

    n_rows: int
    rows: Shown
    columns: Shown  # of the one column


def raw_view(n_values: int, limits: Limits) -> RawView:
    return RawView(n_values, shown(n_values, limits.rows), shown(1, limits.columns))


def n_columns(n_blocks: int) -> int:
    return 0 if n_blocks == 0 else 2 if n_blocks == 1 else 1 + 2 * n_blocks


def column_sources(span: range, n_blocks: int) -> IntArray:
    """The sources of the matrix's columns ``span``."""
    import numpy as np

    return sources_of(np.arange(span.start, span.stop, dtype=np.int64), n_blocks)


def sources_of(columns: IntArray, n_blocks: int) -> IntArray:
    """The sources of the matrix's columns ``columns``."""
    if n_blocks < 2:
        return columns.copy()
    # Column 0 and the even columns 2 + 2k are x values, of block 0 and block k.
    sources: IntArray = columns - 2 * ((columns > 0) & (columns % 2 == 0))
    return sources


def columns_of(blocks: IntArray, n_blocks: int) -> IntArray:
    """The matrix's columns that the blocks ``blocks`` (ascending) fill, ascending."""
    import numpy as np

    if n_blocks == 1:
        return np.arange(2 * blocks.size, dtype=np.int64)
    pairs = np.stack([1 + 2 * blocks, 2 + 2 * blocks], axis=1).ravel()
    return np.concatenate([np.zeros(int(blocks[:1].size and blocks[0] == 0), np.int64), pairs])


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
        import numpy as np

        if isinstance(index, slice):
            columns = np.arange(*index.indices(self.n_columns), dtype=np.int64)
            return cells.column_names(self.n_blocks, columns)
        if not -self.n_columns <= index < self.n_columns:
            raise IndexError(index)
        (name,) = cells.column_names(self.n_blocks, np.array([index % self.n_columns]))
        return name

    def aligned(self, columns: range, widths: IntArray) -> str:
        """The names of ``columns``, each right-aligned in its width, two spaces apart."""
        import numpy as np

        positions = np.arange(columns.start, columns.stop, dtype=np.int64)
        return cells.aligned_column_names(self.n_blocks, positions, widths)


class ChosenNames(Sequence[str]):
    """The names of some of the matrix's columns, the selected blocks'."""

    def __init__(self, names: ColumnNames, columns: IntArray) -> None:
        self.names, self.columns = names, columns

    def __len__(self) -> int:
        return int(self.columns.size)

    @overload
    def __getitem__(self, index: int) -> str: ...

    @overload
    def __getitem__(self, index: slice) -> list[str]: ...

    def __getitem__(self, index: int | slice) -> str | list[str]:
        if isinstance(index, slice):
            return cells.column_names(self.names.n_blocks, self.columns[index])
        return self.names[int(self.columns[index])]

    def aligned(self, columns: range, widths: IntArray) -> str:
        """The names of ``columns``, each right-aligned in its width, two spaces apart."""
        positions = self.columns[columns.start : columns.stop]
        return cells.aligned_column_names(self.names.n_blocks, positions, widths)


@dataclass(frozen=True)
class MatrixView:
    """Some rows and columns of the dense matrix.

    Its columns are counted among those it may show: the matrix's, or with a
    selection of blocks, those the selected blocks fill (``chosen``)."""

    n_blocks: int
    n_rows: int  # the matrix's: the most pairs any block declares
    chosen: IntArray | None  # the matrix's columns of the selected blocks; None: every column
    selected: IntArray | None  # the blocks selected, ascending; None: no selection
    rows: Shown
    columns: Shown  # of the columns it may show
    sources: list[IntArray]  # of each range of ``columns``, in order; none when whole
    filled: int  # rows of the columns shown that hold anything but NaN

    @property
    def n_columns(self) -> int:
        """The columns it may show."""
        return n_columns(self.n_blocks) if self.chosen is None else int(self.chosen.size)

    @property
    def names(self) -> Sequence[str]:
        """The names of the columns it may show."""
        every = ColumnNames(self.n_blocks)
        return every if self.chosen is None else ChosenNames(every, self.chosen)

    def column_numbers(self, span: range) -> IntArray:
        """The matrix's columns at positions ``span`` of those it may show."""
        import numpy as np

        if self.chosen is None:
            return np.arange(span.start, span.stop, dtype=np.int64)
        return self.chosen[span.start : span.stop]

    @property
    def whole(self) -> bool:
        """Whether it shows every column of the matrix."""
        return self.chosen is None and self.columns == shown(self.n_columns, None)

    @property
    def every_source(self) -> IntArray | None:
        """The sources of all the columns shown, in order; ``None`` for the whole matrix's."""
        import numpy as np

        if self.whole:
            return None
        if len(self.sources) == 1:
            return self.sources[0]
        return np.concatenate(self.sources) if self.sources else np.zeros(0, dtype=np.int64)

    def legend(self) -> list[IntArray | None]:
        """The blocks whose values fill the columns shown, ascending, in runs, with
        ``None`` wherever blocks it may show are left out."""
        import numpy as np

        chosen = self.selected
        found: list[IntArray | None] = []
        last = -1  # the position, among the blocks it may show, of the last one named
        for span in self.columns:
            if span is None:
                continue
            blocks = blocks_of(self.column_numbers(span), self.n_blocks)
            blocks = blocks[np.r_[True, blocks[1:] != blocks[:-1]]]  # each once: ascending
            positions = blocks if chosen is None else np.searchsorted(chosen, blocks)
            new = positions > last
            if not new.any():
                continue
            blocks, positions = blocks[new], positions[new]
            if positions[0] > last + 1:
                found.append(None)
            found.append(blocks)
            last = int(positions[-1])
        every = self.n_blocks if chosen is None else int(chosen.size)
        if last < every - 1:
            found.append(None)
        return found


def blocks_of(columns: IntArray, n_blocks: int) -> IntArray:
    """The blocks whose values fill the matrix's columns ``columns``."""
    import numpy as np

    if n_blocks == 1:
        return np.zeros_like(columns)
    return np.maximum(columns - 1, 0) // 2


def matrix_view(
    values: FloatArray, layout: Layout, blocks: IntArray | None, limits: Limits
) -> MatrixView:
    """The view of the columns of ``blocks`` (ascending), or of every column when ``None``;
    fitted to ``limits.width`` when given, which takes the widths of the cells shown."""
    n = layout.n_blocks
    chosen = None if blocks is None else columns_of(blocks, n)
    n_rows = int(layout.declared.max()) if n else 0
    view = MatrixView(n, n_rows, chosen, blocks, shown(n_rows, limits.rows), [], [], 0)
    view = with_columns(view, layout, shown(view.n_columns, limits.columns))
    if limits.width is not None:
        view = fit_width(view, values, layout, limits)
    return view


def with_columns(view: MatrixView, layout: Layout, columns: Shown) -> MatrixView:
    """``view`` showing ``columns``, with their sources and the rows they hold."""
    import numpy as np

    view = dataclasses.replace(view, columns=columns, sources=[])
    if not view.whole:  # the whole matrix's are known without an array of millions
        sources = [sources_of(view.column_numbers(span), view.n_blocks) for span in columns if span]
        view = dataclasses.replace(view, sources=sources)
    every = view.every_source
    if every is not None:
        filled = layout.rows_held(every) if every.size else 0
    elif view.n_blocks:  # every block's x: the most rows of any column
        x_held = (layout.n_values - layout.starts - 1) // 2
        filled = int(np.minimum(layout.declared, x_held).max())
    else:
        filled = 0
    return dataclasses.replace(view, filled=filled)


def fit_width(view: MatrixView, values: FloatArray, layout: Layout, limits: Limits) -> MatrixView:
    """``view`` with as many of the columns it shows as fit in ``limits.width`` characters,
    the others left out as ``--max-cols`` leaves them out; one column at least.

    A table's line is its row numbers, then two spaces and each column, each
    as wide as its name and its widest cell, and a "..." column where
    columns are left out. Of N columns, N // 2 + N % 2 come from the start
    and N // 2 from the end, so the widths of the columns shown now tell the
    width of the table for every N below.
    """
    n_shown, width = count_shown(view.columns), limits.width
    if n_shown <= 1 or width is None:
        return view
    rows = [span for span in view.rows if span is not None]
    row_gap = None in view.rows
    nan_rows = any(span.stop > view.filled for span in rows)
    names = view.names
    widths = [
        max(len(name), 3 if row_gap or nan_rows else 0)
        for span in view.columns
        if span is not None
        for name in names[span.start : span.stop]
    ]
    every = view.every_source
    if every is None:
        every = sources_of(view.column_numbers(range(view.n_columns)), view.n_blocks)
    for span in rows:
        held = range(span.start, min(span.stop, view.filled))
        if held:
            found = cells.table_widths(values, layout, every, held, limits.precision)
            widths = [max(w, f) for w, f in zip(widths, found.tolist(), strict=True)]
    label = max(3, 3 if row_gap else 0, *(len(str(span[-1])) for span in rows))
    gap = None in view.columns
    for n in range(n_shown, 0, -1):
        if n < n_shown:
            widths, gap = widths[: (n + 1) // 2] + widths[len(widths) - n // 2 :], True
        if label + sum(2 + w for w in widths) + 5 * gap <= width:
            break
    if n == n_shown:
        return view
    return with_columns(view, layout, shown(view.n_columns, n))


class BlockView(NamedTuple):
    """One block of a summarised marginals table: the rows of its (x, y) pairs that are
    shown. A tuple, not a data class: a table may show millions."""

    block: int
    idx: float
    n_rows: int  # the pairs it declares
    rows: Shown
    filled: int  # rows holding anything but NaN
    gap_before: bool  # blocks are left out between this one and the one before


@dataclass(frozen=True)
class MarginalsView:
    """One (x, y) table per block; a summarised table shows some rows of some blocks."""

    n_blocks: int
    n_rows: int  # of the blocks it may show, together
    whole_rows: int  # of every block of the file, together
    chosen: IntArray | None  # the blocks it may show, ascending; None: every block
    columns: Shown  # of the two, x and y
    summarised: list[BlockView] | None  # the blocks and rows shown; None: all of them

    @property
    def selected(self) -> int | None:
        return None if self.chosen is None else int(self.chosen.size)

    @property
    def n_chosen(self) -> int:
        return self.n_blocks if self.chosen is None else int(self.chosen.size)

    @property
    def rows_shown(self) -> int:
        if self.summarised is None:
            return self.n_rows
        return sum(count_shown(block.rows) for block in self.summarised)

    @property
    def blocks_shown(self) -> int:
        return self.n_chosen if self.summarised is None else len(self.summarised)

    def each_block(self, layout: Layout) -> Iterator[BlockView]:
        """The blocks shown, in order, with the rows shown of each."""
        if self.summarised is not None:
            yield from self.summarised
            return
        chosen = range(self.n_blocks) if self.chosen is None else self.chosen.tolist()
        for k in chosen:
            yield block_view(layout, k, int(layout.declared[k]), None, False)


def block_view(
    layout: Layout, k: int, n_rows: int, spans: list[range] | None, gap: bool
) -> BlockView:
    """Block ``k`` of ``n_rows`` rows, showing ``spans`` of them (all when ``None``)."""
    rows = with_gaps([range(n_rows)] if spans is None else spans, n_rows)
    held = layout.held(k, 0) if k == layout.n_blocks - 1 else n_rows
    return BlockView(k, float(layout.idx[k]), n_rows, rows, held, gap)


def marginal_spans(counts: IntArray, limit: int | None) -> dict[int, list[range]] | None:
    """The rows of each block that a summarised marginals table shows, by the block's
    position in ``counts``; ``None`` to show all.

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
    counts = layout.declared if blocks is None else layout.declared[blocks]
    spans = marginal_spans(counts, limits.rows)
    summarised = None
    if spans is not None:  # blocks left out between two shown are counted by position
        summarised, previous = [], -1
        for i in sorted(spans):
            k = i if blocks is None else int(blocks[i])
            gap = previous >= 0 and i != previous + 1
            summarised.append(block_view(layout, k, int(counts[i]), spans[i], gap))
            previous = i
    whole = int(layout.declared.sum())
    return MarginalsView(
        layout.n_blocks, int(counts.sum()), whole, blocks, shown(2, limits.columns), summarised
    )


@dataclass(frozen=True)
class FileView:
    """What a command shows of one file: its names, its values, their layout and the view,
    and the significant digits of a table's cells."""

    arg: str  # as given on the command line
    name: str  # as errors and headers give it
    values: FloatArray
    layout: Layout | None  # None for the raw view, which has no blocks
    view: RawView | MatrixView | MarginalsView
    precision: int = cells.DEFAULT_PRECISION
