"""The command line of pykora, run as ``python -m pykora``.

Commands:

* ``show FILE`` prints an engine result file as the raw float64 stream, as the
  dense matrix of ``kora_interpret_vector`` or as the marginals of
  ``kora_interpret_vector_list``, in table, CSV or JSON form;
* ``plot FILE -o OUT`` draws the marginals (or the dense matrix's series) with
  matplotlib, an optional dependency (``pip install "pykora[plot]"``);
* ``options`` prints the effective global options next to their defaults;
* ``example DIR`` writes synthetic result files to try the other commands on.

Result files run to millions of values, so nothing here holds a whole file's
worth of text: tables are summarised by default (the first and last rows and
columns around a ``...``, as NumPy prints big arrays), CSV and JSON are
written a chunk of cells at a time, and ``plot`` draws a bounded number of
series. The numbers shown always come from the library's decoders; the
command line only scans the blocks' headers to know where each block lies,
so that it can decode just the blocks it prints.

NumPy and the extension modules are imported inside the commands, so
importing this module stays cheap.

Exit status: 0 on success, 1 when a file is missing or cannot be read or
written or memory runs out, 2 for a malformed file or a usage error, 3 when
an optional dependency is missing. Errors are reported as one line on stderr
that starts with ``pykora: error:``; warnings about a file that can still be
shown start with ``pykora: warning:``.

Non-finite numbers are written as ``NaN``, ``inf`` and ``-inf`` in every
output format; in JSON they are the strings "NaN", "inf" and "-inf", so the
output stays valid JSON (Python's ``float()`` reads all three back).
"""

from __future__ import annotations

import argparse
import io
import itertools
import json
import math
import os
import stat
import sys
from array import array
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any, TextIO, TypeVar, overload

from pykora import __version__

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]
    IntArray = npt.NDArray[np.int64]

EXIT_OK = 0
EXIT_NOT_FOUND = 1
EXIT_INVALID = 2
EXIT_UNAVAILABLE = 3

VIEWS = ("raw", "matrix", "marginals")
FORMATS = ("table", "csv", "json")
PLOT_EXTRA_HINT = 'pip install "pykora[plot]"'

#: Rows of a table beyond which ``show`` prints only the first and last ones.
DEFAULT_MAX_ROWS = 20
#: Data columns beyond which ``show`` summarises a table. Nine keep a matrix
#: table within about 100 characters and show whole blocks at both ends: the
#: x column, the (y, x) pairs of the first two blocks and of the last two.
DEFAULT_MAX_COLS = 9
#: Lines ``plot`` draws at most; a legend of more is unreadable anyway.
DEFAULT_MAX_SERIES = 20
#: Resolutions ``plot`` accepts. Below 10 the font renderer fails; at 1200 the
#: 7 x 4.5 inch figure is already a 180 MB bitmap while it is drawn.
DPI_RANGE = (10, 1200)

#: Cells formatted at a time when whole files are written, which bounds the
#: memory that formatting takes whatever the file's size.
_CHUNK = 1 << 16
#: Points in a plot above which lines are drawn without markers and the legend
#: is not placed by searching for the emptiest corner: both cost seconds per
#: million points and show nothing more at that density.
_MARKER_LIMIT = 10_000

_T = TypeVar("_T")


class CliError(Exception):
    """A failure reported to the user as one line, with the exit status to end with."""

    def __init__(self, message: str, code: int) -> None:
        super().__init__(message)
        self.code = code


def warn(message: str) -> None:
    """One line on stderr about a file that is shown all the same."""
    print(f"pykora: warning: {message}", file=sys.stderr)


# --------------------------------------------------------------------------
# Number formatting


def _nonfinite_text(value: float) -> str | None:
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return None


def exact_text(value: float) -> str:
    """Shortest text that reads back as the same float64 (CSV cells)."""
    value = float(value)
    return _nonfinite_text(value) or repr(value)


def short_text(value: float) -> str:
    """Six significant digits, for tables meant to be read by people."""
    value = float(value)
    return _nonfinite_text(value) or f"{value:.6g}"


# The same texts for many values at once: the per-value functions above cost
# several times more, which adds up to seconds over millions of cells. Both
# formats spell infinities as wanted already and only NaN needs renaming.
_JSON_NONFINITE = {"nan": '"NaN"', "inf": '"inf"', "-inf": '"-inf"'}


def short_cells(values: list[float]) -> list[str]:
    return ["NaN" if s == "nan" else s for s in map("{:.6g}".format, values)]


def exact_cells(values: list[float]) -> list[str]:
    return ["NaN" if s == "nan" else s for s in map(repr, values)]


def json_cells(values: list[float]) -> list[str]:
    """JSON texts of floats, as ``json_text(json_value(v))`` writes them."""
    return [_JSON_NONFINITE.get(s, s) for s in map(repr, values)]


def json_value(value: Any) -> Any:
    """``value`` made serialisable with ``allow_nan=False``.

    Non-finite floats become the strings "NaN", "inf" and "-inf"; containers
    are converted item by item; objects JSON has no type for become their
    ``repr`` (an option may hold any Python object).
    """
    if value is None or isinstance(value, bool | int | str):
        return value
    if isinstance(value, float):
        return _nonfinite_text(value) or value
    if isinstance(value, dict):
        return {str(k): json_value(v) for k, v in value.items()}
    if isinstance(value, list | tuple):
        return [json_value(v) for v in value]
    tolist = getattr(value, "tolist", None)  # NumPy scalars and arrays
    if callable(tolist):
        return json_value(tolist())
    return repr(value)


def json_text(document: Any, level: int = 0) -> str:
    """Indented JSON of a ``json_value`` result; containers of plain values stay on one line."""
    children = document.values() if isinstance(document, dict) else document
    if not isinstance(document, dict | list) or not any(
        isinstance(v, dict | list) and v for v in children
    ):
        return json.dumps(document, allow_nan=False)
    pad = "  " * (level + 1)
    if isinstance(document, dict):
        items = [f"{pad}{json.dumps(k)}: {json_text(v, level + 1)}" for k, v in document.items()]
        brackets = "{}"
    else:
        items = [pad + json_text(v, level + 1) for v in document]
        brackets = "[]"
    return brackets[0] + "\n" + ",\n".join(items) + "\n" + "  " * level + brackets[1]


def _write_json(document: Any, out: TextIO) -> None:
    out.write(json_text(json_value(document)) + "\n")


def _json_field(key: str, value: Any) -> str:
    """One ``"key": value`` line of a document's top level, as ``json_text`` indents it."""
    return f"  {json.dumps(key)}: {json_text(json_value(value), 1)}"


def _write_table(
    headers: Sequence[str], rows: Iterable[Sequence[str]], out: TextIO, *, left: bool = False
) -> None:
    """Columns under a header line, right-aligned (numbers) or ``left``-aligned (text)."""
    rows = list(rows)
    widths = [len(h) for h in headers]
    for row in rows:
        widths = [max(w, len(cell)) for w, cell in zip(widths, row, strict=True)]
    for line in [list(headers), *rows]:
        cells = (
            cell.ljust(w) if left else cell.rjust(w) for cell, w in zip(line, widths, strict=True)
        )
        out.write("  ".join(cells).rstrip() + "\n")


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


# --------------------------------------------------------------------------
# Tables of numbers, whole or summarised
#
# A table is a label column holding each row's number, then data columns.
# What it shows along each axis is a list of ranges of rows (or columns) and
# ``None`` for every gap between them, drawn as "...". The cells of a range
# are formatted a chunk at a time, twice: once to find the column widths and
# once to write them, so a table of any size is written in bounded memory.

#: cells(r0, r1, c0, c1): the texts of rows r0..r1-1 in columns c0..c1-1, row after
#: row in one flat list, so that a column is a slice of it.
Cells = Callable[[int, int, int, int], list[str]]
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


def _chunks(span: range, size: int) -> Iterator[tuple[int, int]]:
    for start in range(span.start, span.stop, size):
        yield start, min(start + size, span.stop)


def _widened(widths: list[int], flat: list[str]) -> list[int]:
    """``widths`` of some columns, widened to fit their row-major cells ``flat``."""
    n = len(widths)
    if len(flat) == n:  # a single row
        return list(map(max, widths, map(len, flat)))
    return [max(w, *map(len, flat[j::n])) for j, w in enumerate(widths)]


def write_grid(
    out: TextIO, label: str, headers: Sequence[str], cells: Cells, rows: Shown, columns: Shown
) -> None:
    """Write a right-aligned table, exactly as ``_write_table`` would for the cells it shows."""
    if len(rows) <= 1 and len(columns) == 1:
        span, item = rows[0] if rows else range(0), columns[0]
        if span is not None and item is not None and len(span) * len(item) <= _CHUNK:
            # Small and whole, as most marginals' blocks are: format once.
            flat, n = cells(span.start, span.stop, item.start, item.stop) if span else [], len(item)
            table = ([str(r), *flat[i * n : i * n + n]] for i, r in enumerate(span))
            _write_table([label, *headers[item.start : item.stop]], table, out)
            return
    row_gap = None in rows
    ranges = [span for span in rows if span is not None]
    label_width = max(len(label), 3 if row_gap else 0, *(len(str(r[-1])) for r in ranges))
    n_shown = count_shown(columns)
    per_chunk = max(1, _CHUNK // max(1, n_shown))  # rows formatted at a time
    wide = per_chunk == 1  # a row is written a chunk of columns at a time

    widths: list[list[int]] = []  # per item of ``columns``; empty for a gap
    for item in columns:
        if item is None:
            widths.append([])
            continue
        least = 3 if row_gap else 0
        found = [
            max(len(name), least) for c0, c1 in _chunks(item, _CHUNK) for name in headers[c0:c1]
        ]
        for span in ranges:
            for r0, r1 in _chunks(span, per_chunk):
                for c0, c1 in _chunks(item, _CHUNK if wide else len(item)):
                    a, b = c0 - item.start, c1 - item.start
                    found[a:b] = _widened(found[a:b], cells(r0, r1, c0, c1))
        widths.append(found)

    def line(first: str, texts: Callable[[int, int], Sequence[str]]) -> None:
        """One line, written a chunk of columns at a time (a row may hold millions)."""
        out.write(first.rjust(label_width))
        for item, item_widths in zip(columns, widths, strict=True):
            if item is None:
                out.write("  ...")
                continue
            for c0, c1 in _chunks(item, _CHUNK):
                a, b = c0 - item.start, c1 - item.start
                out.write("  " + "  ".join(map(str.rjust, texts(c0, c1), item_widths[a:b])))
        out.write("\n")

    def row_cells(r: int) -> Callable[[int, int], Sequence[str]]:
        return lambda c0, c1: cells(r, r + 1, c0, c1)

    line(label, lambda c0, c1: headers[c0:c1])
    for item in rows:
        if item is None:
            line("...", lambda c0, c1: ["..."] * (c1 - c0))
        elif wide:
            for r in item:
                line(str(r), row_cells(r))
        else:  # a chunk of rows at a time, padded a column at a time
            for r0, r1 in _chunks(item, per_chunk):
                padded: list[Iterable[str]] = [[f"{r:>{label_width}}" for r in range(r0, r1)]]
                for column, column_widths in zip(columns, widths, strict=True):
                    if column is None:
                        padded.append(itertools.repeat("...", r1 - r0))
                        continue
                    flat, n = cells(r0, r1, column.start, column.stop), len(column)
                    padded += (
                        map(str.rjust, flat[j::n], itertools.repeat(w))
                        for j, w in enumerate(column_widths)
                    )
                out.write("\n".join(map("  ".join, zip(*padded, strict=True))) + "\n")


def array_cells(array_2d: FloatArray) -> Cells:
    """The six-digit cells of a 2-D array."""

    def cells(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return short_cells(array_2d[r0:r1, c0:c1].ravel().tolist())

    return cells


def left_out(rows: int = 0, columns: int = 0, blocks: int = 0) -> str:
    """The end of a summary line: what a summarised table leaves out, or nothing."""
    parts = [
        _plural(count, word)
        for count, word in ((rows, "row"), (columns, "column"), (blocks, "block"))
        if count
    ]
    if not parts:
        return ""
    what = parts[0] if len(parts) == 1 else ", ".join(parts[:-1]) + " and " + parts[-1]
    return f"; {what} left out (--all prints them)"


# --------------------------------------------------------------------------
# Reading and decoding result files


def _kind(mode: int) -> str:
    kinds = [
        (stat.S_ISCHR, "character device"),
        (stat.S_ISBLK, "block device"),
        (stat.S_ISFIFO, "FIFO"),
        (stat.S_ISSOCK, "socket"),
    ]
    return next((name for test, name in kinds if test(mode)), "special file")


def read_values(path: str) -> FloatArray:
    """The float64 stream of ``path``, or a ``CliError`` that says what is wrong with it.

    Only regular files are read: a device such as /dev/zero never ends and a
    FIFO blocks until someone writes to it, so both are refused up front.
    """
    from pykora.binary import kora_read_binary_file

    try:
        info = os.stat(path)
    except FileNotFoundError:
        raise CliError(f"{path}: no such file", EXIT_NOT_FOUND) from None
    except OSError as exc:
        raise CliError(f"{path}: cannot read: {exc.strerror or exc}", EXIT_NOT_FOUND) from None
    if stat.S_ISDIR(info.st_mode):
        raise CliError(f"{path}: cannot read: it is a directory", EXIT_NOT_FOUND)
    if not stat.S_ISREG(info.st_mode):
        raise CliError(
            f"{path}: not a regular file but a {_kind(info.st_mode)}; "
            "result files are read from regular files only",
            EXIT_NOT_FOUND,
        )
    try:
        values = kora_read_binary_file(path)
    except ValueError:
        size = os.path.getsize(path)
        raise CliError(
            f"{path}: not a float64 stream: its size, {_plural(size, 'byte')}, "
            "is not a multiple of 8",
            EXIT_INVALID,
        ) from None
    except OSError as exc:
        raise CliError(f"{path}: cannot read: {exc.strerror or exc}", EXIT_NOT_FOUND) from None
    except MemoryError:
        raise CliError(
            f"{path}: not enough memory to read its {_plural(info.st_size, 'byte')}",
            EXIT_NOT_FOUND,
        ) from None
    if values is None:
        raise CliError(f"{path}: no such file", EXIT_NOT_FOUND)
    return values


def _decoded(path: str, decode: Callable[[FloatArray], _T], values: FloatArray) -> _T:
    try:
        return decode(values)
    except (ValueError, OverflowError) as exc:
        raise CliError(
            f"{path}: not a vector of [idx, n, x1, y1, ...] blocks: {exc}", EXIT_INVALID
        ) from None
    except MemoryError:
        raise CliError(f"{path}: not enough memory to decode its blocks", EXIT_NOT_FOUND) from None


#: Counts rounded at a time while scanning, which bounds the scan's scratch memory.
_SCAN_CHUNK = 1 << 20
#: Blocks the scan skips at once; a power of two.
_LEAP = 64


@dataclass(frozen=True)
class BlockLayout:
    """Where the blocks of a flattened vector lie, found from their headers alone.

    Blocks are self-delimiting, so a run of whole blocks cut out of the vector
    decodes exactly as it does in place; this lets the command line hand the
    decoders only the blocks it prints.
    """

    size: int  # values in the vector
    starts: IntArray  # position of each block's idx
    counts: IntArray  # pairs each block decodes to (none for a count <= 0)
    declared: int  # pairs the last block declares, exactly (it may exceed int64)

    @property
    def n_blocks(self) -> int:
        return int(self.starts.size)

    def stop(self, k: int) -> int:
        """Where block ``k`` ends; the last block runs to the end of the vector."""
        return int(self.starts[k + 1]) if k + 1 < self.n_blocks else self.size

    def idx(self, values: FloatArray, k: int) -> float:
        return float(values[self.starts[k]])

    @property
    def padding(self) -> int | None:
        """The values left for the last block's pairs when it declares more; else ``None``."""
        if not self.n_blocks:
            return None
        available = self.size - int(self.starts[-1]) - 2
        return available if 2 * self.declared > available else None


def scan_blocks(path: str, values: FloatArray) -> BlockLayout:
    """The layout of ``values``' [idx, n, x1, y1, ...] blocks, read as the decoders read it.

    Counts round half to even; a count <= 0 gives a block without pairs; a
    single value left at the end is no block; a block that declares more
    pairs than remain ends the vector. A count that is NaN or infinite cannot
    be read, which is an error, as it is for the decoders.
    """
    import numpy as np

    size = int(values.size)
    index = np.int32 if size < 2**31 - 1 else np.int64
    # after[p]: where the next block would start if one started at p. `size`
    # stands for the end of the vector; the last value leads there too, since
    # a single value left over is no block.
    after = np.empty(size + 1, dtype=index)
    for lo in range(0, max(size - 1, 0), _SCAN_CHUNK):
        hi = min(lo + _SCAN_CHUNK, size - 1)
        reach = np.rint(values[lo + 1 : hi + 1])
        # A count that cannot be read, like one past the end, ends the vector:
        # it can only be the last block's, which is looked at on its own below.
        np.nan_to_num(reach, copy=False, nan=size, posinf=size, neginf=size)
        np.clip(reach, 0, size, out=reach)
        reach *= 2
        reach += np.arange(lo + 2, hi + 2)
        np.minimum(reach, size, out=reach)
        after[lo:hi] = reach
    after[max(size - 1, 0) :] = size

    # Following `after` from 0 one block at a time costs a Python step per
    # block, seconds for millions of blocks. Instead, follow `leap`, which
    # jumps _LEAP blocks at once, and fill in the blocks between with one
    # vectorised step per block of a leap.
    leap = after
    for _ in range(_LEAP.bit_length() - 1):
        leap = leap[leap]
    anchors = array("q")
    append, jump = anchors.append, leap.data
    p, last = 0, size - 1
    while p < last:
        append(p)
        p = jump[p]
    del leap
    chain = np.empty((len(anchors), _LEAP), dtype=index)
    chain[:, 0] = anchors
    for j in range(1, _LEAP):
        chain[:, j] = after[chain[:, j - 1]]
    del after
    starts = chain.ravel()
    starts = starts[starts < last].astype(np.int64)
    del chain
    if not starts.size:
        return BlockLayout(size, starts, starts.copy(), 0)
    pair_counts = np.empty_like(starts)
    pair_counts[:-1] = (np.diff(starts) - 2) // 2

    count = float(values[starts[-1] + 1])
    if not math.isfinite(count):
        k = int(starts.size) - 1
        raise CliError(
            f"{path}: not a vector of [idx, n, x1, y1, ...] blocks: block {k} "
            f"(idx {short_text(values[starts[-1]])}) declares {short_text(count)} pairs",
            EXIT_INVALID,
        )
    declared = max(round(count), 0)
    pair_counts[-1] = min(declared, 2**62)  # beyond that the decoders refuse anyway
    return BlockLayout(size, starts, pair_counts, declared)


def _count_text(count: int) -> str:
    """A count in digits, or in six significant digits once it has more than fifteen."""
    return str(count) if count < 10**15 else f"{count:.6g}"


def warn_padding(path: str, values: FloatArray, layout: BlockLayout) -> None:
    """Say so when the last block, just decoded, is padded with NaN.

    A block whose count runs past the end of the file decodes to that many
    rows all the same, nearly all NaN; a count of 1e7 in a 32-byte file means
    ten million rows, which deserves a word before they are printed. Said only
    once the block decoded, so that a failure stays a single error line.
    """
    available = layout.padding
    if available is not None:
        k = layout.n_blocks - 1
        warn(
            f"{path}: {block_label(k, layout.idx(values, k))} declares "
            f"{_count_text(layout.declared)} pairs, but the file holds "
            f"{_plural(layout.size, 'value')}, {available} of them for this block's pairs; "
            "the rest is NaN padding"
        )


def decode_blocks(
    path: str, values: FloatArray, layout: BlockLayout, k0: int, k1: int
) -> list[Any]:
    """The (n, 2) pairs of blocks ``k0 .. k1 - 1``, from ``kora_interpret_vector_list``."""
    from pykora.binary import kora_interpret_vector_list

    if k0 >= k1:
        return []
    part = values[int(layout.starts[k0]) : layout.stop(k1 - 1)]
    pairs = _decoded(path, kora_interpret_vector_list, part) or []
    if len(pairs) != k1 - k0:
        raise RuntimeError(
            f"{path}: the block scan found {k1 - k0} blocks, the decoder {len(pairs)}"
        )
    if k1 == layout.n_blocks:
        warn_padding(path, values, layout)
    return pairs


def block_groups(layout: BlockLayout) -> Iterable[tuple[int, int]]:
    """Runs of whole blocks of about ``_CHUNK`` values each, to decode one at a time."""
    import numpy as np

    k = 0
    while k < layout.n_blocks:
        end = int(np.searchsorted(layout.starts, layout.starts[k] + _CHUNK, side="right"))
        yield k, max(end, k + 1)
        k = max(end, k + 1)


class MatrixColumns(Sequence[str]):
    """Column names of ``kora_interpret_vector``'s result, made when asked for.

    A single block comes back as its (x, y) pairs; two or more blocks as the
    shared abscissa followed by a (y, x) column pair per block. A file of
    millions of blocks has millions of names, so they are not kept.
    """

    def __init__(self, n_columns: int) -> None:
        self.n_columns = n_columns

    def __len__(self) -> int:
        return self.n_columns

    @overload
    def __getitem__(self, index: int) -> str: ...

    @overload
    def __getitem__(self, index: slice) -> list[str]: ...

    def __getitem__(self, index: int | slice) -> str | list[str]:
        if isinstance(index, slice):
            start, stop, step = index.indices(self.n_columns)
            if self.n_columns == 2 or step != 1 or start >= stop:
                return [self[c] for c in range(start, stop, step)]
            # Columns 1 + 2k and 2 + 2k are block k's y and x.
            first, last = (start - 1) // 2, (stop - 2) // 2
            names = [f"{axis}{k}" for k in range(max(first, 0), last + 1) for axis in "yx"]
            head = ["x"] if start == 0 else names[:0]
            skip = 1 if start > 0 and start % 2 == 0 else 0  # starts at an x column
            return head + names[skip : skip + stop - max(start, 1)]
        if not -self.n_columns <= index < self.n_columns:
            raise IndexError(index)
        c = index % self.n_columns
        if self.n_columns == 2:
            return "xy"[c]
        return "x" if c == 0 else f"{'y' if c % 2 else 'x'}{(c - 1) // 2}"


def block_label(k: int, idx: float) -> str:
    return f"block {k} (idx {short_text(idx)})"


# --------------------------------------------------------------------------
# show


def _table_limits(args: argparse.Namespace) -> tuple[int | None, int | None]:
    """The rows and columns a table may show before it is summarised; ``None``: no limit."""
    if args.format != "table":
        given = [name for name in ("max_rows", "max_cols") if getattr(args, name) is not None]
        if given:
            option = "--" + given[0].replace("_", "-")
            raise CliError(
                f"{option} summarises tables; {args.format.upper()} always holds every value",
                EXIT_INVALID,
            )
        return None, None
    if args.all:
        return None, None
    limits = []
    for name, default in (("max_rows", DEFAULT_MAX_ROWS), ("max_cols", DEFAULT_MAX_COLS)):
        value = getattr(args, name)
        value = default if value is None else value
        if value < 1:
            option = "--" + name.replace("_", "-")
            raise CliError(f"{option} must be at least 1, not {value}", EXIT_INVALID)
        limits.append(value)
    return limits[0], limits[1]


def _show_raw(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    n = values.size
    if args.format == "json":
        if not n:
            _write_json({"file": args.file, "as": "raw", "values": []}, out)
            return
        out.write("{\n" + _json_field("file", args.file) + ",\n" + _json_field("as", "raw"))
        out.write(',\n  "values": [')
        for r0, r1 in _chunks(range(n), _CHUNK):
            out.write((", " if r0 else "") + ", ".join(json_cells(values[r0:r1].tolist())))
        out.write("]\n}\n")
        return
    if args.format == "csv":
        out.write("index,value\n")
        for r0, r1 in _chunks(range(n), _CHUNK):
            texts = exact_cells(values[r0:r1].tolist())
            out.write("".join(f"{i},{t}\n" for i, t in zip(range(r0, r1), texts, strict=True)))
        return
    max_rows, max_cols = _table_limits(args)
    rows, columns = shown(n, max_rows), shown(1, max_cols)
    out.write(
        f"{args.file}: {_plural(n, 'value')}, raw float64 stream of {_plural(n, 'row')}"
        f"{left_out(n - count_shown(rows), 1 - count_shown(columns))}\n"
    )

    def cells(r0: int, r1: int, c0: int, c1: int) -> list[str]:
        return short_cells(values[r0:r1].tolist())

    write_grid(out, "index", ["value"], cells, rows, columns)


def _show_matrix(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    from pykora.binary import kora_interpret_vector

    max_rows, max_cols = _table_limits(args)
    layout = scan_blocks(args.file, values)
    matrix = _decoded(args.file, kora_interpret_vector, values)
    assert matrix is not None
    warn_padding(args.file, values, layout)
    n_blocks = layout.n_blocks
    n_rows, n_columns = matrix.shape
    columns = MatrixColumns(n_columns)
    if args.format == "json":
        head = {"file": args.file, "as": "matrix", "blocks": n_blocks}
        if not n_columns:
            _write_json({**head, "columns": [], "rows": []}, out)
            return
        out.write("{\n" + "".join(_json_field(k, v) + ",\n" for k, v in head.items()))
        out.write('  "columns": [')
        for c0, c1 in _chunks(range(n_columns), _CHUNK):
            names = columns[c0:c1]  # letters and digits only: nothing to escape
            out.write((", " if c0 else "") + ", ".join(f'"{name}"' for name in names))
        if not n_rows:
            out.write('],\n  "rows": []\n}\n')
            return
        out.write('],\n  "rows": [\n')
        for r in range(n_rows):
            out.write(",\n    [" if r else "    [")
            for c0, c1 in _chunks(range(n_columns), _CHUNK):
                out.write((", " if c0 else "") + ", ".join(json_cells(matrix[r, c0:c1].tolist())))
            out.write("]")
        out.write("\n  ]\n}\n")
        return
    if args.format == "csv":
        for c0, c1 in _chunks(range(n_columns), _CHUNK):
            out.write(("," if c0 else "") + ",".join(columns[c0:c1]))
        out.write("\n")
        for r0, r1 in _chunks(range(n_rows), max(1, _CHUNK // max(1, n_columns))):
            for r in range(r0, r1):
                for c0, c1 in _chunks(range(n_columns), _CHUNK):
                    texts = exact_cells(matrix[r, c0:c1].tolist())
                    out.write(("," if c0 else "") + ",".join(texts))
                out.write("\n")
        return
    rows, shown_columns = shown(n_rows, max_rows), shown(n_columns, max_cols)
    out.write(
        f"{args.file}: {_plural(values.size, 'value')}, {_plural(n_blocks, 'block')}, "
        f"dense matrix of {_plural(n_rows, 'row')} x {_plural(n_columns, 'column')}"
        f"{left_out(n_rows - count_shown(rows), n_columns - count_shown(shown_columns))}\n"
    )
    write_grid(out, "row", columns, array_cells(matrix), rows, shown_columns)


def all_blocks(path: str, values: FloatArray, layout: BlockLayout) -> Iterator[tuple[int, Any]]:
    """Every block's (n, 2) pairs in order, decoded a run of blocks at a time.

    A padded last block is decoded first: it is the only block that can be
    too big to decode, and failing before anything is written beats failing
    after the rest of the file.
    """
    n = layout.n_blocks
    last = decode_blocks(path, values, layout, n - 1, n)[0] if layout.padding is not None else None
    for k0, k1 in block_groups(layout):
        if last is not None and k1 == n:
            group = [*decode_blocks(path, values, layout, k0, k1 - 1), last]
        else:
            group = decode_blocks(path, values, layout, k0, k1)
        yield from zip(range(k0, k1), group, strict=True)


def _pair_texts(
    pairs: FloatArray, r0: int, r1: int, texts: Callable[[list[float]], list[str]]
) -> Iterable[tuple[str, str]]:
    flat = texts(pairs[r0:r1].ravel().tolist())
    return zip(flat[0::2], flat[1::2], strict=True)


def marginal_spans(layout: BlockLayout, max_rows: int | None) -> dict[int, list[range]] | None:
    """The rows of each block a summarised marginals table shows; ``None`` to show all.

    The blocks' rows are summarised as if they were one table, an empty block
    counting as one row for the line that names it: the first and last
    ``max_rows`` of them are shown, which bounds the lines printed however
    many blocks a file holds.
    """
    entries = layout.counts.clip(min=1)
    if max_rows is None or int(entries.sum()) <= max_rows:
        return None
    spans: dict[int, list[range]] = {}
    budget, k = (max_rows + 1) // 2, 0
    while budget > 0:
        take = min(budget, int(entries[k]))
        spans[k] = [range(take)] if layout.counts[k] else []
        budget, k = budget - take, k + 1
    budget, k = max_rows // 2, layout.n_blocks - 1
    while budget > 0:
        take, count = min(budget, int(entries[k])), int(layout.counts[k])
        spans.setdefault(k, []).extend([range(count - take, count)] if count else [])
        budget, k = budget - take, k - 1
    return spans


def _write_block(
    out: TextIO, k: int, idx: float, pairs: FloatArray, rows: Shown, columns: Shown
) -> None:
    out.write(f"\n{block_label(k, idx)}: {_plural(pairs.shape[0], 'row')}\n")
    if pairs.size:
        write_grid(out, "row", ["x", "y"], array_cells(pairs), rows, columns)


def _show_marginals(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    max_rows, max_cols = _table_limits(args)
    layout = scan_blocks(args.file, values)
    n_blocks = layout.n_blocks
    if args.format == "json":
        if not n_blocks:
            _write_json({"file": args.file, "as": "marginals", "blocks": []}, out)
            return
        out.write("{\n" + _json_field("file", args.file) + ",\n")
        out.write(_json_field("as", "marginals") + ',\n  "blocks": [\n')
        for k, pairs in all_blocks(args.file, values, layout):
            idx = json_cells([layout.idx(values, k)])[0]
            out.write(",\n" if k else "")
            if not pairs.size:
                out.write(f'    {{"block": {k}, "idx": {idx}, "pairs": []}}')
                continue
            out.write(f'    {{\n      "block": {k},\n      "idx": {idx},\n      "pairs": [\n')
            for r0, r1 in _chunks(range(pairs.shape[0]), _CHUNK // 2):
                lines = (f"        [{x}, {y}]" for x, y in _pair_texts(pairs, r0, r1, json_cells))
                out.write((",\n" if r0 else "") + ",\n".join(lines))
            out.write("\n      ]\n    }")
        out.write("\n  ]\n}\n")
        return
    if args.format == "csv":
        out.write("block,idx,x,y\n")
        for k, pairs in all_blocks(args.file, values, layout):
            prefix = f"{k},{exact_text(layout.idx(values, k))},"
            for r0, r1 in _chunks(range(pairs.shape[0]), _CHUNK // 2):
                texts = _pair_texts(pairs, r0, r1, exact_cells)
                out.write("".join(f"{prefix}{x},{y}\n" for x, y in texts))
        return

    columns = shown(2, max_cols)
    n_rows = int(layout.counts.sum())
    summary = (
        f"{args.file}: {_plural(values.size, 'value')}, {_plural(n_blocks, 'block')}, "
        f"{_plural(n_rows, 'row')} of (x, y) pairs"
    )
    spans = marginal_spans(layout, max_rows)
    if spans is None:
        blocks = all_blocks(args.file, values, layout)
        first = next(blocks, None)  # a file that cannot be decoded fails before any output
        out.write(f"{summary}{left_out(columns=2 - count_shown(columns)) if n_rows else ''}\n")
        for k, pairs in itertools.chain([first] if first else [], blocks):
            _write_block(out, k, layout.idx(values, k), pairs, shown(len(pairs), None), columns)
        return

    # The shown blocks form a run from the first block and one to the last.
    ks = sorted(spans)
    split = next((i + 1 for i in range(len(ks) - 1) if ks[i + 1] != ks[i] + 1), len(ks))
    decoded: dict[int, Any] = {}
    for run in (ks[:split], ks[split:]):
        if run:
            pairs = decode_blocks(args.file, values, layout, run[0], run[-1] + 1)
            decoded.update(zip(run, pairs, strict=True))
    rows_shown = sum(len(span) for parts in spans.values() for span in parts)
    missing = left_out(
        n_rows - rows_shown, 2 - count_shown(columns) if n_rows else 0, n_blocks - len(ks)
    )
    out.write(f"{summary}{missing}\n")
    for i, k in enumerate(ks):
        if i == split:
            out.write("\n...\n")
        pairs = decoded[k]
        rows = with_gaps(spans[k], pairs.shape[0])
        _write_block(out, k, layout.idx(values, k), pairs, rows, columns)


def cmd_show(args: argparse.Namespace, out: TextIO) -> int:
    _table_limits(args)  # refuse bad limits before reading anything
    values = read_values(args.file)
    show = {"raw": _show_raw, "matrix": _show_matrix, "marginals": _show_marginals}[args.view]
    show(args, values, out)
    return EXIT_OK


# --------------------------------------------------------------------------
# plot

Series = tuple[str, "FloatArray", "FloatArray"]


def plot_series(args: argparse.Namespace, values: FloatArray) -> tuple[list[Series], int]:
    """The first ``args.max_series`` (label, x, y) lines ``plot`` draws, and how many there are.

    A block without pairs has nothing to draw and is no series; in the matrix
    view neither is a block whose y column is all NaN. Only the blocks drawn
    are decoded.
    """
    import numpy as np

    from pykora.binary import kora_interpret_vector

    limit = args.max_series
    if args.view == "raw":
        return [("values", np.arange(values.size, dtype=np.float64), values)], 1
    layout = scan_blocks(args.file, values)
    if args.view == "marginals":
        drawable = np.flatnonzero(layout.counts > 0)
        series = []
        for k in drawable[:limit].tolist():
            pairs = decode_blocks(args.file, values, layout, k, k + 1)[0]
            series.append((block_label(k, layout.idx(values, k)), pairs[:, 0], pairs[:, 1]))
        return series, int(drawable.size)
    matrix = _decoded(args.file, kora_interpret_vector, values)
    assert matrix is not None
    warn_padding(args.file, values, layout)
    if matrix.shape[1] == 2:  # a single block: its own (x, y) pairs
        label = block_label(0, layout.idx(values, 0))
        return ([(label, matrix[:, 0], matrix[:, 1])], 1) if matrix.size else ([], 0)
    # Block k's y values are column 1 + 2k and its own x values column 2 + 2k;
    # column 0 repeats only block 0's.
    drawable = np.flatnonzero(~np.isnan(matrix[:, 1::2]).all(axis=0))
    series = [
        (block_label(k, layout.idx(values, k)), matrix[:, 2 + 2 * k], matrix[:, 1 + 2 * k])
        for k in drawable[:limit].tolist()
    ]
    return series, int(drawable.size)


def image_format(output: str, formats: Iterable[str]) -> str:
    """The format that ``output``'s suffix names, or a ``CliError`` that writes nothing.

    The image goes exactly where ``-o`` says: a name without a known suffix
    would otherwise get one appended, and a directory would get a hidden
    ".png" written inside it or next to it.
    """
    known = sorted(formats)
    if output.endswith(("/", os.sep)) or os.path.isdir(output):
        raise CliError(
            f"{output}: is a directory; give the image's file name, e.g. "
            f"{os.path.join(output, 'plot.png')}",
            EXIT_INVALID,
        )
    suffix = Path(output).suffix[1:].lower()
    if suffix not in known:
        raise CliError(
            f"{output}: no known image suffix; end the name with one of "
            + ", ".join("." + name for name in known),
            EXIT_INVALID,
        )
    return suffix


def check_range(option: str, value: int, low: int, high: int | None = None) -> None:
    if value < low or (high is not None and value > high):
        bounds = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise CliError(f"{option} {value} is out of range: it must be {bounds}", EXIT_INVALID)


def cmd_plot(args: argparse.Namespace, out: TextIO) -> int:
    try:
        import matplotlib
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        raise CliError(
            f"plotting needs matplotlib, which is not installed: {PLOT_EXTRA_HINT}",
            EXIT_UNAVAILABLE,
        ) from None

    check_range("--dpi", args.dpi, *DPI_RANGE)
    check_range("--max-series", args.max_series, 1)
    figure = Figure(figsize=(7, 4.5), layout="constrained")
    canvas = FigureCanvasAgg(figure)  # the non-interactive Agg backend draws the file
    fmt = image_format(args.output, canvas.get_supported_filetypes())

    values = read_values(args.file)
    series, total = plot_series(args, values)
    if total > len(series):
        print(
            f"pykora: note: {args.file}: drawing the first {len(series)} of {total} series, "
            f"{total - len(series)} left out (--max-series sets how many are drawn)",
            file=sys.stderr,
        )
    dense = sum(x.size for _, x, _ in series) > _MARKER_LIMIT
    axes = figure.add_subplot()
    if len(series) > 10:  # the default cycle repeats its colours after ten
        palette = matplotlib.colormaps["tab20"]
        axes.set_prop_cycle(color=[palette(i) for i in range(palette.N)])
    # Long lines are drawn in chunks: Agg refuses a single path of too many vertices.
    with matplotlib.rc_context({"agg.path.chunksize": 10_000}):
        for label, x, y in series:
            axes.plot(x, y, marker=None if dense else ".", label=label)
        if len(series) > 8:  # beside the axes, where a long legend hides no data
            figure.legend(loc="outside right upper", fontsize="small")
        elif series:
            axes.legend(loc="upper right" if dense else "best")
        else:
            axes.text(0.5, 0.5, "no data", ha="center", va="center", transform=axes.transAxes)
        shown_part = f", first {len(series)} of {total} series" if total > len(series) else ""
        axes.set_title(f"{Path(args.file).name} ({args.view}{shown_part})")
        axes.set_xlabel("index" if args.view == "raw" else "x")
        axes.set_ylabel("value" if args.view == "raw" else "y")
        image = io.BytesIO()  # drawn in full before the file is touched
        try:
            figure.savefig(image, format=fmt, dpi=args.dpi)
        except (RuntimeError, ValueError, OverflowError, OSError) as exc:
            raise CliError(f"{args.output}: cannot draw the image: {exc}", EXIT_NOT_FOUND) from None
    try:
        with open(args.output, "wb") as file:
            file.write(image.getbuffer())
    except OSError as exc:
        raise CliError(
            f"{args.output}: cannot write: {exc.strerror or exc}", EXIT_NOT_FOUND
        ) from None
    out.write(f"{args.output}\n")
    return EXIT_OK


# --------------------------------------------------------------------------
# options


def option_rows() -> list[tuple[str, Any, Any, bool]]:
    """(key, effective value, default, whether set) for every option, in lookup order.

    "kora.call" and "weftgen.call" have no entry in the default table; their
    default is what the lookup computes when they are not set.
    """
    from pykora import options

    effective = options.kora_get_option()
    defaults = options.kora_get_option_default()
    defaults.setdefault("kora.call", options.kora_call_builtin())
    defaults.setdefault("weftgen.call", options.weftgen_call_builtin())
    stored = options._KORA_OPTIONS
    return [(key, value, defaults.get(key), key in stored) for key, value in effective.items()]


def cmd_options(args: argparse.Namespace, out: TextIO) -> int:
    rows = option_rows()
    if args.json:
        document = {key: {"value": v, "default": d, "set": s} for key, v, d, s in rows}
        _write_json(document, out)
    else:
        cells = ([key, repr(v), repr(d), "yes" if s else "no"] for key, v, d, s in rows)
        _write_table(["key", "value", "default", "set"], cells, out, left=True)
    return EXIT_OK


# --------------------------------------------------------------------------
# example

#: Standard normal quantiles at the probabilities 0.025, 0.25, 0.5, 0.75, 0.975.
_PROBABILITIES = (0.025, 0.25, 0.5, 0.75, 0.975)
_Z = (-1.959964, -0.6744898, 0.0, 0.6744898, 1.959964)


def example_vectors() -> dict[str, list[float]]:
    """Synthetic result files by name: a raw stream, quantiles and marginals."""
    stream = [0.0, 0.5, 1.0, 1.5, 2.0, 2.5, math.nan, 3.5]

    quantiles: list[float] = []
    for idx, (mean, sd) in enumerate([(0.0, 1.0), (1.5, 0.5), (-1.0, 2.0)], start=1):
        quantiles += [idx, len(_PROBABILITIES)]
        for p, z in zip(_PROBABILITIES, _Z, strict=True):
            quantiles += [p, round(mean + sd * z, 4)]

    def density(mean: float, sd: float, lo: float, hi: float, n: int) -> list[float]:
        pairs: list[float] = []
        for i in range(n):
            x = lo + (hi - lo) * i / (n - 1)
            y = math.exp(-0.5 * ((x - mean) / sd) ** 2) / (sd * math.sqrt(2 * math.pi))
            pairs += [x, round(y, 6)]
        return pairs

    marginals = [1.0, 9.0, *density(0.0, 1.0, -3.0, 3.0, 9)]
    marginals += [2.0, 0.0]  # a block without pairs
    marginals += [3.0, 5.0, *density(1.5, 0.5, 0.5, 2.5, 5)]
    return {"stream.dat": stream, "quantiles.dat": quantiles, "marginals.dat": marginals}


def cmd_example(args: argparse.Namespace, out: TextIO) -> int:
    import numpy as np

    target = Path(args.dir)
    try:
        target.mkdir(parents=True, exist_ok=True)
        for name, values in example_vectors().items():
            path = target / name
            np.asarray(values, dtype="<f8").tofile(path)
            out.write(f"{path}\n")
    except OSError as exc:
        where = exc.filename or target
        raise CliError(f"{where}: cannot write: {exc.strerror or exc}", EXIT_NOT_FOUND) from None
    return EXIT_OK


# --------------------------------------------------------------------------
# Parser and entry point


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="pykora",
        description="Inspect kora engine result files and pykora's global options.",
    )
    parser.add_argument("--version", action="version", version=f"pykora {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    show = commands.add_parser(
        "show",
        help="print a result file (a little-endian float64 stream)",
        description="Decode an engine result file and print it. Tables are summarised "
        "beyond --max-rows rows and --max-cols columns unless --all is given. Non-finite values "
        'are written as NaN, inf and -inf (in JSON as the strings "NaN", "inf", "-inf").',
    )
    show.add_argument("file", metavar="FILE", help="the result file")
    show.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="raw",
        help="raw: the float64 values; matrix: the dense matrix of kora_interpret_vector; "
        "marginals: one (x, y) table per block (default: %(default)s)",
    )
    show.add_argument(
        "--format",
        choices=FORMATS,
        default="table",
        help="output format (default: %(default)s); CSV and JSON always hold every value and "
        "are written as they are formatted, so memory stays flat and `| head` returns at once",
    )
    show.add_argument(
        "--max-rows",
        type=int,
        metavar="N",
        help="a table of more rows shows only the first and last N/2 around a '...' line; "
        "marginals count the rows of all blocks together, an empty block as one "
        f"(default: {DEFAULT_MAX_ROWS})",
    )
    show.add_argument(
        "--max-cols",
        type=int,
        metavar="N",
        help="a table of more data columns shows only the first and last N/2 around a '...' "
        f"column (default: {DEFAULT_MAX_COLS}: a matrix's x column and its first two and last "
        "two blocks, about 100 characters wide)",
    )
    show.add_argument("--all", action="store_true", help="print every row and column of a table")
    show.set_defaults(run=cmd_show)

    plot = commands.add_parser(
        "plot",
        help="draw a result file's blocks as lines (needs matplotlib)",
        description="Draw one line per block, labelled with its index, up to --max-series "
        f"lines. Needs matplotlib: {PLOT_EXTRA_HINT}.",
    )
    plot.add_argument("file", metavar="FILE", help="the result file")
    plot.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT",
        help="image to write, exactly this path; its suffix (.png, .svg, .pdf, ...) sets the "
        "format, and a directory or a name without a known suffix is refused",
    )
    plot.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="marginals",
        help="marginals: each block's y against its x; matrix: each block's y column against "
        "its own x column; raw: the values against their position (default: %(default)s)",
    )
    plot.add_argument(
        "--dpi",
        type=int,
        default=100,
        help=f"resolution, {DPI_RANGE[0]} to {DPI_RANGE[1]} (default: %(default)s)",
    )
    plot.add_argument(
        "--max-series",
        type=int,
        default=DEFAULT_MAX_SERIES,
        metavar="N",
        help="draw the first N series only, saying on stderr how many were left out "
        "(default: %(default)s)",
    )
    plot.set_defaults(run=cmd_plot)

    opts = commands.add_parser(
        "options",
        help="print the effective global options",
        description="Print every option's effective value, its default and whether it was set.",
    )
    opts.add_argument("--json", action="store_true", help="print JSON instead of a table")
    opts.set_defaults(run=cmd_options)

    example = commands.add_parser(
        "example",
        help="write synthetic result files into a directory",
        description="Write stream.dat (a raw stream), quantiles.dat (three blocks of "
        "(probability, quantile) pairs) and marginals.dat (densities of uneven length and "
        "an empty block) into DIR, creating it if needed, and print their paths.",
    )
    example.add_argument("dir", metavar="DIR", help="target directory")
    example.set_defaults(run=cmd_example)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); return the exit status."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version and usage errors
        return exc.code if isinstance(exc.code, int) else EXIT_INVALID if exc.code else EXIT_OK
    try:
        status: int = args.run(args, sys.stdout)
        sys.stdout.flush()
    except CliError as exc:
        print(f"{parser.prog}: error: {exc}", file=sys.stderr)
        return exc.code
    except BrokenPipeError:  # the reader went away, as with `| head`
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_NOT_FOUND
    except MemoryError:  # whatever ran out, one line rather than a traceback
        where = f"{args.file}: " if getattr(args, "file", None) else ""
        print(f"{parser.prog}: error: {where}not enough memory", file=sys.stderr)
        return EXIT_NOT_FOUND
    except KeyboardInterrupt:
        return 130
    return status
