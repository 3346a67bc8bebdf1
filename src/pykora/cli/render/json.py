"""The three views, and the options, as strict JSON, written as they are formatted.

One writer serves every document. A container goes on one line when none of
its items is a non-empty container, and otherwise puts each item on a line
of its own, indented by two spaces a level. Besides plain values, dicts and
lists, a document may hold lazy arrays, so that a file of millions of values
is never held as text:

* ``Numbers``: numbers, on one line whatever their count;
* ``Rows``: rows of numbers, one row a line;
* ``Items``: containers made as they are written, one a line.
"""

from __future__ import annotations

import json
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, Any

from pykora.cli.blocks import Blocks
from pykora.cli.files import Source
from pykora.cli.matrix import ColumnNames, DenseColumns, n_columns
from pykora.cli.numbers import json_cells, json_value
from pykora.cli.output import Writer
from pykora.cli.summary import chunks

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

#: Numbers formatted at a time.
CHUNK = 1 << 16
Render = Callable[[Writer], None]
#: texts(r0, r1, c0, c1): the JSON texts of rows r0..r1-1 in columns c0..c1-1, row-major.
Texts = Callable[[int, int, int, int], list[str]]


class Numbers:
    """An array of numbers, formatted ``CHUNK`` at a time."""

    def __init__(self, size: int, texts: Callable[[int, int], list[str]]) -> None:
        self.size, self.texts = size, texts


class Rows:
    """An array of ``n_rows`` arrays of ``n_columns`` numbers each."""

    def __init__(self, n_rows: int, n_columns: int, texts: Texts) -> None:
        self.n_rows, self.n_columns, self.texts = n_rows, n_columns, texts


class Items:
    """An array of containers, made one at a time; the first is made at once, to know
    whether there is any."""

    def __init__(self, items: Iterable[Any]) -> None:
        self._items: Iterator[Any] = iter(items)
        self.first = next(self._items, self)

    def __iter__(self) -> Iterator[Any]:
        if self.first is not self:
            yield self.first
            yield from self._items


def _filled(value: Any) -> bool:
    """Whether ``value`` is a container with something in it."""
    if isinstance(value, dict | list):
        return bool(value)
    if isinstance(value, Numbers):
        return value.size > 0
    if isinstance(value, Rows):
        return value.n_rows > 0
    if isinstance(value, Items):
        return value.first is not value
    return False


def _spread(value: Any) -> bool:
    """Whether ``value``'s items go on lines of their own."""
    if isinstance(value, Rows):
        return value.n_rows > 0 and value.n_columns > 0
    if isinstance(value, Items):
        return _filled(value)
    if isinstance(value, dict):
        return any(map(_filled, value.values()))
    return isinstance(value, list) and any(map(_filled, value))


def _one_line(value: Any) -> str:
    """A value none of whose items is a non-empty container."""
    if isinstance(value, dict):
        return "{" + ", ".join(f"{json.dumps(k)}: {_one_line(v)}" for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(map(_one_line, value)) + "]"
    if isinstance(value, Numbers | Rows | Items):
        return "[]"  # lazy arrays are on one line only when empty
    return json.dumps(value, allow_nan=False)


def write_json(out: Writer, value: Any, level: int = 0) -> None:
    """``value``, already made serialisable by ``json_value``, at indentation ``level``."""
    if isinstance(value, Numbers):
        out.write("[")
        for r0, r1 in chunks(range(value.size), CHUNK):
            out.write((", " if r0 else "") + ", ".join(value.texts(r0, r1)))
        out.write("]")
        return
    if not _spread(value):
        out.write(_one_line(value))
        return
    pad, end = "  " * (level + 1), "\n" + "  " * level
    if isinstance(value, Rows):
        _write_rows(out, value, pad, end)
        return
    out.write("{\n" if isinstance(value, dict) else "[\n")
    for i, item in enumerate(value.items() if isinstance(value, dict) else value):
        out.write(",\n" + pad if i else pad)
        if isinstance(value, dict):
            out.write(f"{json.dumps(item[0])}: ")
            item = item[1]
        write_json(out, item, level + 1)
    out.write(end + ("}" if isinstance(value, dict) else "]"))


def _write_rows(out: Writer, rows: Rows, pad: str, end: str) -> None:
    n = rows.n_columns
    out.write("[\n")
    if n > CHUNK:  # rows of millions of numbers: a chunk of each row at a time
        for r in range(rows.n_rows):
            out.write(",\n" + pad + "[" if r else pad + "[")
            for c0, c1 in chunks(range(n), CHUNK):
                out.write((", " if c0 else "") + ", ".join(rows.texts(r, r + 1, c0, c1)))
            out.write("]")
    else:
        for r0, r1 in chunks(range(rows.n_rows), CHUNK // n):
            flat = rows.texts(r0, r1, 0, n)
            lines = (pad + "[" + ", ".join(flat[i : i + n]) + "]" for i in range(0, len(flat), n))
            out.write((",\n" if r0 else "") + ",\n".join(lines))
    out.write(end + "]")


def _document(out: Writer, document: dict[str, object]) -> None:
    write_json(out, document)
    out.write("\n")


def raw(source: Source) -> Render:
    values = source.values
    numbers = Numbers(int(values.size), lambda r0, r1: json_cells(values[r0:r1].tolist()))
    document = {"file": source.name, "as": "raw", "values": numbers}
    return lambda out: _document(out, document)


def matrix(blocks: Blocks) -> Render:
    dense = DenseColumns(blocks, [range(n_columns(blocks.n_blocks))])
    blocks.warn_padding()
    names = ColumnNames(blocks.n_blocks)
    columns = Numbers(len(names), lambda c0, c1: [f'"{name}"' for name in names[c0:c1]])

    def texts(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return json_cells(dense.cells(r0, r1, c0, c1).ravel().tolist())

    document = {"file": blocks.name, "as": "matrix", "blocks": blocks.n_blocks}
    document |= {"columns": columns, "rows": Rows(dense.n_rows, dense.n_columns, texts)}
    return lambda out: _document(out, document)


def marginals(blocks: Blocks) -> Render:
    def block(k: int, pairs: FloatArray) -> dict[str, object]:
        def texts(r0: int, r1: int, c0: int, c1: int) -> list[str]:
            return json_cells(pairs[r0:r1].ravel().tolist())

        rows = Rows(pairs.shape[0], 2, texts)
        return {"block": k, "idx": json_value(float(blocks.idx[k])), "pairs": rows}

    items = Items(block(k, pairs) for k, pairs in blocks.every_pairs())
    document = {"file": blocks.name, "as": "marginals", "blocks": items}
    return lambda out: _document(out, document)
