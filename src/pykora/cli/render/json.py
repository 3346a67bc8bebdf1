"""The three views, and the options, as strict JSON, written as they are formatted.

One writer serves every document. A container goes on one line when none of
its items is a non-empty container, and otherwise puts each item on a line
of its own, indented by two spaces a level. Besides plain values, dicts and
lists, a document may hold ``Lazy`` arrays, whose text the cells make as it
is written, so that a file of millions of values is never held as text.

Several files make one object, keyed by each file's name as given, whose
values are exactly the documents the files give alone.
"""

from __future__ import annotations

import functools
import math
from collections.abc import Callable, Iterable
from json.encoder import encode_basestring_ascii
from typing import Any

from pykora.cli import cells
from pykora.cli.cells import CHUNK, chunks, indent
from pykora.cli.numbers import json_scalar
from pykora.cli.output import Writer
from pykora.cli.view import FileView, MarginalsView, MatrixView, RawView


class Lazy:
    """An array made as it is written: ``text(level)`` gives its text, a chunk at a time, for
    the nesting level it is written at; ``filled`` says whether it holds anything."""

    __slots__ = ("filled", "text")

    def __init__(self, filled: bool, text: Callable[[int], Iterable[str]]) -> None:
        self.filled, self.text = filled, text


def _filled(value: Any) -> bool:
    """Whether ``value`` is a container with something in it."""
    kind = type(value)
    if kind is Lazy:
        return bool(value.filled)
    if kind is dict or kind is list:
        return bool(value)
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


def _one_line(value: Any) -> str:
    """A value none of whose items is a non-empty container."""
    kind = type(value)
    if kind is Lazy:
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
    if kind is Lazy and value.filled:
        for chunk in value.text(level):
            text.add(chunk)
    elif kind is dict and any(map(_filled, value.values())):
        pad, sep = indent(level + 1), "{\n"
        for key, item in value.items():
            if _filled(item):
                text.add(sep + pad + _key(key))
                _write(text, item, level + 1)
            else:
                text.add(sep + pad + _key(key) + _one_line(item))
            sep = ",\n"
        text.add("\n" + indent(level) + "}")
    elif kind is list and any(map(_filled, value)):
        pad, sep = indent(level + 1), "[\n"
        for item in value:
            text.add(sep + pad)
            _write(text, item, level + 1)
            sep = ",\n"
        text.add("\n" + indent(level) + "]")
    else:
        text.add(_one_line(value))


def _names(view: MatrixView) -> Lazy:
    """The matrix's column names: letters and digits only, nothing to escape."""
    names = view.names

    def text(level: int) -> Iterable[str]:
        yield "["
        for i0, i1 in chunks(range(len(names)), CHUNK):
            yield (", " if i0 else "") + ", ".join([f'"{n}"' for n in names[i0:i1]])
        yield "]"

    return Lazy(len(names) > 0, text)


def document(shown: FileView) -> dict[str, Any]:
    """The document of one file."""
    values, layout, view = shown.values, shown.layout, shown.view
    if isinstance(view, RawView):
        numbers = Lazy(view.n_rows > 0, lambda level: cells.raw_json(values))
        return {"file": shown.name, "as": "raw", "values": numbers}
    assert layout is not None
    if isinstance(view, MatrixView):
        sources = view.every_source
        rows = Lazy(
            view.n_rows > 0 and view.n_columns > 0,
            lambda level: cells.matrix_json(values, layout, sources, level),
        )
        return {
            "file": shown.name,
            "as": "matrix",
            "blocks": view.n_blocks,
            "columns": _names(view),
            "rows": rows,
        }
    assert isinstance(view, MarginalsView)
    chosen = view.chosen
    every = Lazy(
        view.n_chosen > 0, lambda level: cells.marginals_json(values, layout, chosen, level)
    )
    return {"file": shown.name, "as": "marginals", "blocks": every}


class JsonDocument:
    """One file's document, or one object holding the document of each file by its name."""

    def __init__(self, out: Writer, view: str, several: bool) -> None:
        del view  # each document says what it shows
        self.out, self.several, self.shown = out, several, 0

    def add(self, shown: FileView) -> None:
        if not self.several:
            write_json(self.out, document(shown))
            return
        text = _Text(self.out)
        text.add(("{\n" if not self.shown else ",\n") + indent(1) + _key(shown.arg))
        _write(text, document(shown), 1)
        text.flush()
        self.shown += 1

    def close(self) -> None:
        if self.shown:
            self.out.write("\n}\n")
