"""The three views, and the options, as strict JSON, written as they are formatted.

One writer serves every document. A container goes on one line when none of
its items is a non-empty container, and otherwise puts each item on a line
of its own, indented by two spaces a level. Besides plain values, dicts and
lists, a document may hold lazy arrays, so that a file of millions of values
is never held as text:

* ``Flat``: an array on one line whatever its length, its items' texts made
  a chunk at a time;
* ``Rows``: the rows of a grid of numbers, one row a line;
* ``Records``: objects that share their keys, made as they are written, one
  a line.
"""

from __future__ import annotations

import functools
import math
from collections.abc import Callable, Iterable, Iterator
from json.encoder import encode_basestring_ascii
from typing import TYPE_CHECKING, Any, Protocol

from pykora.cli.blocks import Blocks
from pykora.cli.files import Source
from pykora.cli.matrix import ColumnNames, DenseColumns, n_columns
from pykora.cli.numbers import json_cells, json_list, json_scalar
from pykora.cli.output import Writer
from pykora.cli.summary import chunks

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

#: Values formatted at a time, and characters gathered before they are written.
CHUNK = 1 << 16
Render = Callable[[Writer], None]


class Flat:
    """An array of ``size`` plain values; ``texts(i0, i1)`` is items i0..i1-1, ", "-joined."""

    def __init__(self, size: int, texts: Callable[[int, int], str]) -> None:
        self.size, self.texts = size, texts


class Grid(Protocol):
    """A 2-D array of floats, or what slices like one."""

    @property
    def shape(self) -> tuple[int, ...]: ...

    @property
    def size(self) -> int: ...

    def __getitem__(self, key: tuple[slice, slice], /) -> FloatArray: ...


class Rows:
    """The rows of a grid of numbers, one row a line."""

    __slots__ = ("grid",)

    def __init__(self, grid: Grid) -> None:
        self.grid = grid


class Records:
    """An array of objects that share their ``keys``, each given as the tuple of its values:
    the JSON texts of plain values, then a last value that may be a container. Made as
    they are written, the first at once, to know whether there is any."""

    def __init__(self, keys: tuple[str, ...], records: Iterable[tuple[Any, ...]]) -> None:
        self.keys = keys
        self._records: Iterator[tuple[Any, ...]] = iter(records)
        self.first = next(self._records, None)

    def __iter__(self) -> Iterator[tuple[Any, ...]]:
        if self.first is not None:
            yield self.first
            yield from self._records


_LAZY = (Flat, Rows, Records)


def _filled(value: Any) -> bool:
    """Whether ``value`` is a container with something in it."""
    kind = type(value)
    if kind is Rows:  # first: every block of a file is one
        return bool(value.grid.size)
    if kind is dict or kind is list:
        return bool(value)
    if kind is Flat:
        return bool(value.size)
    if kind is Records:
        return value.first is not None
    return False


def _scalar(value: Any) -> str:
    kind = type(value)
    if kind is int:
        return repr(value)
    if kind is float:
        return repr(value) if math.isfinite(value) else json_scalar(value)
    if kind is str:
        return encode_basestring_ascii(value)
    return "null" if value is None else "true" if value else "false"


@functools.cache
def _key(key: str) -> str:
    return encode_basestring_ascii(key) + ": "


@functools.cache
def _pad(level: int) -> str:
    return "  " * level


def _one_line(value: Any) -> str:
    """A value none of whose items is a non-empty container."""
    kind = type(value)
    if kind in _LAZY:
        return "[]"  # lazy arrays are on one line only when empty
    if kind is dict:
        return "{" + ", ".join([_key(k) + _one_line(v) for k, v in value.items()]) + "}"
    if kind is list:
        return "[" + ", ".join(map(_one_line, value)) + "]"
    return _scalar(value)


class _Text:
    """What is written, gathered into pieces of about ``CHUNK`` characters."""

    def __init__(self, out: Writer) -> None:
        self.out = out
        self.parts: list[str] = []
        self.size = 0

    def add(self, text: str) -> None:
        self.parts.append(text)
        self.size += len(text)
        if self.size > CHUNK:
            self.flush()

    def flush(self) -> None:
        self.out.write("".join(self.parts))
        self.parts.clear()
        self.size = 0


def write_json(out: Writer, document: Any) -> None:
    """``document``, already made serialisable by ``json_value``, and a line break."""
    text = _Text(out)
    _write(text, document, 0)
    text.add("\n")
    text.flush()


def _write(text: _Text, value: Any, level: int) -> None:
    kind = type(value)
    if kind is Flat:
        text.add("[")
        for i0, i1 in chunks(range(value.size), CHUNK):
            text.add((", " if i0 else "") + value.texts(i0, i1))
        text.add("]")
    elif kind is Rows and value.grid.size:
        _write_rows(text, value, _pad(level + 1), "\n" + _pad(level))
    elif kind is dict and any(map(_filled, value.values())):
        pad, sep = _pad(level + 1), "{\n"
        for key, item in value.items():
            if _filled(item):
                text.add(sep + pad + _key(key))
                _write(text, item, level + 1)
            else:
                text.add(sep + pad + _key(key) + _one_line(item))
            sep = ",\n"
        text.add("\n" + _pad(level) + "}")
    elif kind is Records and value.first is not None:
        _write_records(text, value, level)
    elif kind is list and any(map(_filled, value)):
        pad, sep = _pad(level + 1), "[\n"
        for item in value:
            text.add(sep + pad)
            _write(text, item, level + 1)
            sep = ",\n"
        text.add("\n" + _pad(level) + "]")
    else:
        text.add(_one_line(value))


def _write_records(text: _Text, records: Records, level: int) -> None:
    """One object a line, or spread over lines of their own when its last value is a
    non-empty container."""
    outer, inner = _pad(level + 1), _pad(level + 2)
    keys = [_key(k).replace("%", "%%") for k in records.keys]
    # The objects' texts up to their last value, with %s for each plain value.
    one_line = outer + "{" + ", ".join(k + "%s" for k in keys)
    spread = outer + "{\n" + ",\n".join(inner + k + "%s" for k in keys)
    one_line, spread = one_line[:-2], spread[:-2]  # the last value is written on its own
    sep = "[\n"
    for record in records:
        last, values = record[-1], record[:-1]
        if _filled(last):
            text.add(sep + spread % values)
            _write(text, last, level + 2)
            text.add("\n" + outer + "}")
        else:
            text.add(sep + one_line % values + _one_line(last) + "}")
        sep = ",\n"
    text.add("\n" + _pad(level) + "]")


def _write_rows(text: _Text, rows: Rows, pad: str, end: str) -> None:
    n_rows, n = rows.grid.shape
    text.add("[\n")
    if n > CHUNK:  # rows of millions of numbers: a chunk of each row at a time
        for r in range(n_rows):
            text.add(",\n" + pad + "[" if r else pad + "[")
            for c0, c1 in chunks(range(n), CHUNK):
                text.add((", " if c0 else "") + json_list(rows.grid[r : r + 1, c0:c1])[2:-2])
            text.add("]")
    else:
        step, between = CHUNK // n, "],\n" + pad + "["
        for r0 in range(0, n_rows, step):
            inner = json_list(rows.grid[r0 : r0 + step, 0:n])[1:-1]
            text.add((",\n" if r0 else "") + pad + inner.replace("], [", between))
    text.add(end + "]")


def raw(source: Source) -> Render:
    values = source.values
    numbers = Flat(int(values.size), lambda i0, i1: json_list(values[i0:i1])[1:-1])
    document = {"file": source.name, "as": "raw", "values": numbers}
    return lambda out: write_json(out, document)


def matrix(blocks: Blocks) -> Render:
    dense = DenseColumns(blocks, [range(n_columns(blocks.n_blocks))])
    blocks.warn_padding()
    names = ColumnNames(blocks.n_blocks)
    document = {
        "file": blocks.name,
        "as": "matrix",
        "blocks": blocks.n_blocks,
        # Letters and digits only: nothing to escape.
        "columns": Flat(len(names), lambda i0, i1: ", ".join(f'"{n}"' for n in names[i0:i1])),
        "rows": Rows(dense),
    }
    return lambda out: write_json(out, document)


def marginals(blocks: Blocks) -> Render:
    def records(
        groups: Iterable[tuple[range, list[FloatArray]]],
    ) -> Iterator[tuple[str, str, Rows]]:
        for ks, group in groups:
            idx = json_cells(blocks.idx[ks.start : ks.stop])
            yield from zip(map(str, ks), idx, map(Rows, group), strict=True)

    every = Records(("block", "idx", "pairs"), records(blocks.every_pairs()))
    document = {"file": blocks.name, "as": "marginals", "blocks": every}
    return lambda out: write_json(out, document)
