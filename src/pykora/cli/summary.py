"""Which rows, columns and blocks a summarised table shows, the way NumPy prints big arrays.

What a table shows along each axis is a list of ranges of rows (or columns)
with ``None`` for every gap between them, drawn as "...".
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from typing import TYPE_CHECKING

from pykora.cli.numbers import plural

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

Shown = list[range | None]


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


def chunks(span: range, size: int) -> Iterator[tuple[int, int]]:
    """``span`` cut into (start, stop) pieces of at most ``size``."""
    for start in range(span.start, span.stop, size):
        yield start, min(start + size, span.stop)


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


def marginal_spans(
    counts: npt.NDArray[np.int64], limit: int | None
) -> dict[int, list[range]] | None:
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
