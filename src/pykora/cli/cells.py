"""The fourth stage: the numbers a view shows, formatted, a chunk at a time.

Every function here takes what a view is made of: the file's ``values``,
its ``Layout``, and either a selection of blocks (ascending block numbers)
or the sources of some matrix columns (``2 * k`` for block k's x, ``2 * k + 1``
for its y) with a range of rows; JSON writers also take the nesting level of
the array they write. A cell below what the file holds of its block is NaN,
worked out from the layout's counts as the cell is formatted, so the padding
of a block that declares 2**62 pairs costs nothing until it is written, and
then one chunk at a time.

Numbers are written in two ways. Tables, for people, show six significant
digits. CSV and JSON, for programs, show every digit: the shortest text
that reads back as the same float64, Python's ``repr``. Non-finite values
are ``NaN``, ``inf`` and ``-inf``; in JSON the strings "NaN", "inf" and
"-inf", so that the output stays strict JSON and Python's ``float()`` reads
all three back.

Numbers are formatted many at a time (``repr`` of a list, ``str.format``
mapped over one), which costs several times less than a call per value:
seconds over millions of cells.
"""

from __future__ import annotations

import functools
import itertools
import operator
from collections.abc import Iterator
from typing import TYPE_CHECKING

from pykora.cli.layout import Layout

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: Cells formatted at a time, which bounds the memory formatting takes.
CHUNK = 1 << 16


def chunks(span: range, size: int) -> Iterator[tuple[int, int]]:
    """``span`` cut into (start, stop) pieces of at most ``size``."""
    for start in range(span.start, span.stop, size):
        yield start, min(start + size, span.stop)


@functools.cache
def indent(level: int) -> str:
    """What a JSON line at nesting ``level`` starts with."""
    return "  " * level


# The numbers -----------------------------------------------------------------------------


def gather(values: FloatArray, layout: Layout, sources: IntArray, r0: int, r1: int) -> FloatArray:
    """Rows ``r0 .. r1 - 1`` of the columns ``sources``, NaN wherever the file holds none."""
    import numpy as np

    first, held = layout.columns(sources)
    rows = np.arange(r0, r1, dtype=np.int64)[:, None]
    if sources.size and r1 <= int(held.min()):  # all held: no padding among them
        whole: FloatArray = values[first + 2 * rows]
        return whole
    out = np.full((r1 - r0, sources.size), np.nan)
    inside = rows < held
    out[inside] = values[(first + 2 * rows)[inside]]
    return out


def _held_pairs(
    values: FloatArray, layout: Layout, blocks: IntArray
) -> tuple[FloatArray, IntArray]:
    """The (x, y) pairs of whole ``blocks``, one after another, and how many each has."""
    import numpy as np

    counts = layout.declared[blocks]
    total = int(counts.sum())
    offsets = np.arange(total, dtype=np.int64) - np.repeat(np.cumsum(counts) - counts, counts)
    x_at = np.repeat(layout.starts[blocks] + 2, counts) + 2 * offsets
    pairs = np.empty((total, 2))
    pairs[:, 0] = values[x_at]
    pairs[:, 1] = values[x_at + 1]
    return pairs, counts


def groups(layout: Layout, blocks: IntArray) -> Iterator[tuple[IntArray, bool]]:
    """``blocks`` in groups of about ``CHUNK`` values each: (the group, whether it is one
    block to be written a chunk of rows at a time). A block is written alone when it has
    more pairs than a group holds, or when it is the last block cut short, whose padding
    is written as it is formatted. Only the blocks of one group are looked at at a time."""
    import numpy as np

    n, most = int(blocks.size), CHUNK // 2  # pairs in a group, and blocks
    cut = layout.padding is not None and n and int(blocks[-1]) == layout.n_blocks - 1
    k = 0
    while k < n:
        window = blocks[k : k + most]
        counts = layout.declared[window]
        alone = np.flatnonzero(counts > most)
        first_alone = int(alone[0]) if alone.size else len(window)
        if cut and k + len(window) == n:
            first_alone = min(first_alone, len(window) - 1)
        if first_alone == 0:
            yield window[:1], True
            k += 1
            continue
        ends = np.cumsum(counts[:first_alone])
        stop = max(int(np.searchsorted(ends, most, "right")), 1)
        yield window[:stop], False
        k += stop


def pair_sources(k: int) -> IntArray:
    """The sources of block ``k``'s x and y."""
    import numpy as np

    return np.array([2 * k, 2 * k + 1], dtype=np.int64)


# Tables: six significant digits ----------------------------------------------------------


def short_texts(numbers: FloatArray) -> list[str]:
    """Six significant digits of each number, row after row."""
    return ["NaN" if s == "nan" else s for s in map("{:.6g}".format, numbers.ravel().tolist())]


def raw_cells(values: FloatArray, r0: int, r1: int) -> list[str]:
    """The texts of values ``r0 .. r1 - 1``."""
    return short_texts(values[r0:r1])


def matrix_cells(
    values: FloatArray, layout: Layout, sources: IntArray, r0: int, r1: int
) -> list[str]:
    """The texts of rows ``r0 .. r1 - 1`` of the columns ``sources``, row after row."""
    return short_texts(gather(values, layout, sources, r0, r1))


def pair_cells(values: FloatArray, layout: Layout, blocks: IntArray) -> list[str]:
    """The texts of every pair of whole ``blocks``: x and y of each, block after block."""
    return short_texts(_held_pairs(values, layout, blocks)[0])


# Every digit ---------------------------------------------------------------------------


def _nan_named(reprs: str) -> str:
    """Values' ``repr`` texts with NaN written ``NaN``."""
    return reprs.replace("nan", "NaN") if "n" in reprs else reprs  # only nan and inf have an n


def exact_list(numbers: FloatArray) -> str:
    """``repr(numbers.tolist())`` with NaN written ``NaN``: every value's shortest round-trip
    text in Python's list syntax, made in one pass of C rather than one call per value."""
    return _nan_named(repr(numbers.tolist()))


def exact_fields(numbers: FloatArray) -> str:
    """The shortest round-trip texts of a 1-D array's values, comma-separated."""
    return exact_list(numbers)[1:-1].replace(", ", ",")


def exact_texts(numbers: FloatArray) -> list[str]:
    """The shortest round-trip texts of a 1-D array's values."""
    return exact_list(numbers)[1:-1].split(", ") if numbers.size else []


def json_list(numbers: FloatArray) -> str:
    """``exact_list`` with the non-finite values as JSON strings."""
    text = repr(numbers.tolist())
    if "n" not in text:  # neither nan nor inf
        return text
    text = text.replace("nan", '"NaN"')
    if "inf" in text:
        text = text.replace("inf", '"inf"').replace('-"inf"', '"-inf"')
    return text


def json_texts(numbers: FloatArray) -> list[str]:
    """The JSON texts of a 1-D array's values."""
    return json_list(numbers)[1:-1].split(", ") if numbers.size else []


# CSV -------------------------------------------------------------------------------------


def raw_csv(values: FloatArray, r0: int, r1: int) -> Iterator[str]:
    """Lines ``index,value`` of values ``r0 .. r1 - 1``."""
    for c0, c1 in chunks(range(r0, r1), CHUNK):
        texts = exact_texts(values[c0:c1])
        # A list, not a generator: join() makes one of it anyway.
        yield "".join([f"{i},{t}\n" for i, t in zip(range(c0, c1), texts, strict=True)])


def _lines(rows: FloatArray) -> str:
    """One line of comma-separated numbers for each row of a 2-D array."""
    if not rows.size:
        return ""
    return exact_list(rows)[2:-2].replace(", ", ",").replace("],[", "\n") + "\n"


def matrix_csv(
    values: FloatArray, layout: Layout, sources: IntArray, r0: int, r1: int
) -> Iterator[str]:
    """Lines of rows ``r0 .. r1 - 1`` of the columns ``sources``; a row of more than
    ``CHUNK`` columns comes in pieces."""
    n = int(sources.size)
    if not n:
        return
    end = max(r0, min(r1, layout.rows_held(sources)))  # NaN from here on
    if n > CHUNK:  # millions of blocks: rows of millions of columns, a chunk at a time
        for r in range(r0, end):
            for c0, c1 in chunks(range(n), CHUNK):
                fields = exact_fields(gather(values, layout, sources[c0:c1], r, r + 1)[0])
                yield ("," if c0 else "") + fields
            yield "\n"
        for _ in range(end, r1):
            for c0, c1 in chunks(range(n), CHUNK):
                yield ("," if c0 else "") + ",".join(["NaN"] * (c1 - c0))
            yield "\n"
        return
    for c0, c1 in chunks(range(r0, end), CHUNK // n):
        yield _lines(gather(values, layout, sources, c0, c1))
    nan_line = ",".join(["NaN"] * n) + "\n"
    for c0, c1 in chunks(range(end, r1), max(CHUNK // n, 1)):
        yield nan_line * (c1 - c0)


def marginals_csv(values: FloatArray, layout: Layout, blocks: IntArray) -> Iterator[str]:
    """Lines ``block,idx,x,y`` of every pair of ``blocks``; a block without pairs has none."""
    for group, alone in groups(layout, blocks):
        heads = [
            f"{k},{i}," for k, i in zip(group.tolist(), exact_texts(layout.idx[group]), strict=True)
        ]
        if alone:
            k, head = int(group[0]), heads[0]
            held, declared = layout.held(k, 0), int(layout.declared[k])
            for c0, c1 in chunks(range(held), CHUNK // 2):
                lines = _lines(gather(values, layout, pair_sources(k), c0, c1))
                yield head + lines[:-1].replace("\n", "\n" + head) + "\n"
            line = head + "NaN,NaN\n"
            for c0, c1 in chunks(range(held, declared), CHUNK // 2):
                yield line * (c1 - c0)
            continue
        pairs, counts = _held_pairs(values, layout, group)
        if not pairs.size:
            continue
        rows = exact_list(pairs)[2:-2].split("], [")  # "x, y" of each pair
        starts = itertools.chain.from_iterable(map(itertools.repeat, heads, counts.tolist()))
        yield "\n".join(map(operator.add, starts, rows)).replace(", ", ",") + "\n"


# JSON ------------------------------------------------------------------------------------


def raw_json(values: FloatArray, r0: int, r1: int, level: int) -> Iterator[str]:
    """The array of values ``r0 .. r1 - 1``, on one line whatever its length."""
    del level  # an array of numbers has no lines to indent
    yield "["
    for c0, c1 in chunks(range(r0, r1), CHUNK):
        yield (", " if c0 > r0 else "") + json_list(values[c0:c1])[1:-1]
    yield "]"


def matrix_json(
    values: FloatArray, layout: Layout, sources: IntArray, r0: int, r1: int, level: int
) -> Iterator[str]:
    """The array of rows ``r0 .. r1 - 1`` of the columns ``sources``, one row a line."""
    n = int(sources.size)
    if not n or r0 >= r1:
        yield "[]"
        return
    pad, between = indent(level + 1), ",\n" + indent(level + 1)
    end = max(r0, min(r1, layout.rows_held(sources)))  # NaN from here on
    yield "[\n"
    if n > CHUNK:  # rows of millions of numbers: a chunk of each row at a time
        for r in range(r0, r1):
            yield (between if r > r0 else pad) + "["
            for c0, c1 in chunks(range(n), CHUNK):
                if r < end:
                    text = json_list(gather(values, layout, sources[c0:c1], r, r + 1))[2:-2]
                else:
                    text = ", ".join(['"NaN"'] * (c1 - c0))
                yield (", " if c0 else "") + text
            yield "]"
    else:
        row_break = "],\n" + pad + "["
        for c0, c1 in chunks(range(r0, end), CHUNK // n):
            inner = json_list(gather(values, layout, sources, c0, c1))[1:-1]
            yield (between if c0 > r0 else pad) + inner.replace("], [", row_break)
        nan_row = "[" + ", ".join(['"NaN"'] * n) + "]"
        for c0, c1 in chunks(range(end, r1), max(CHUNK // n, 1)):
            yield (between if c0 > r0 else pad) + between.join(itertools.repeat(nan_row, c1 - c0))
    yield "\n" + indent(level) + "]"


def marginals_json(
    values: FloatArray, layout: Layout, blocks: IntArray, level: int
) -> Iterator[str]:
    """The array of ``{"block", "idx", "pairs"}`` objects of ``blocks``: one a line, or
    spread over lines of their own when the block has pairs, one pair a line."""
    if not blocks.size:
        yield "[]"
        return
    outer, inner, row = indent(level + 1), indent(level + 2), indent(level + 3)
    row_break = "],\n" + row + "["
    close = "]\n" + inner + "]\n" + outer + "}"
    sep = "[\n"
    for group, alone in groups(layout, blocks):
        idx = json_texts(layout.idx[group])
        if alone:
            k = int(group[0])
            yield (
                f'{sep}{outer}{{\n{inner}"block": {k},\n{inner}"idx": {idx[0]},\n'
                f'{inner}"pairs": [\n{row}['
            )
            held, declared = layout.held(k, 0), int(layout.declared[k])
            for c0, c1 in chunks(range(held), CHUNK // 2):
                text = json_list(gather(values, layout, pair_sources(k), c0, c1))[2:-2]
                yield (row_break if c0 else "") + text.replace("], [", row_break)
            nan_rows = itertools.repeat('"NaN", "NaN"')
            for c0, c1 in chunks(range(held, declared), CHUNK // 2):
                yield (row_break if c0 else "") + row_break.join(
                    itertools.islice(nan_rows, c1 - c0)
                )
            yield close
            sep = ",\n"
            continue
        pairs, counts = _held_pairs(values, layout, group)
        rows = json_list(pairs)[2:-2].split("], [") if pairs.size else []
        parts = []
        at = 0
        for k, i, count in zip(group.tolist(), idx, counts.tolist(), strict=True):
            if not count:
                parts.append(f'{sep}{outer}{{"block": {k}, "idx": {i}, "pairs": []}}')
            else:
                parts.append(
                    f'{sep}{outer}{{\n{inner}"block": {k},\n{inner}"idx": {i},\n'
                    f'{inner}"pairs": [\n{row}[' + row_break.join(rows[at : at + count]) + close
                )
                at += count
            sep = ",\n"
        yield "".join(parts)
    yield "\n" + indent(level) + "]"
