"""Which blocks a command shows: ``--blocks SEL`` and ``--idx LIST``, parsed, then found in a
file's layout.

``--blocks`` takes block positions and Python-style slices, comma-separated
(``7``, ``0:10``, ``-1``, ``::1000``, ``3,8,100:110``); ``--idx`` takes idx
values, compared as float64 (``--idx 2`` is the block whose idx is 2.0). A
selection is parsed once, when the command line is, so that its grammar is a
usage error; it is resolved against each file's layout, where a position
out of range or an idx the file lacks is an error that names it. A slice
takes what it spans of the blocks there are, as in Python.

Whatever was asked, a selection resolves to block numbers in ascending
order, each once: the blocks are shown as the whole view shows them, in
their order in the file. Only the layout is looked at, never a block's
values.

For a command: ``add_arguments(parser)`` adds both options;
``chosen(args)`` is the selection asked for, or ``None``; and
``blocks(selection, layout, name)`` the block numbers of a file.
"""

from __future__ import annotations

import argparse
from dataclasses import dataclass
from typing import TYPE_CHECKING

from pykora.cli.errors import EXIT_INVALID, CliError
from pykora.cli.numbers import idx_text, plural

if TYPE_CHECKING:
    from pykora.cli.layout import Layout
    from pykora.cli.parser import Parser
    from pykora.cli.source import IntArray


@dataclass(frozen=True)
class Positions:
    """``--blocks``: positions (ints, negative from the end) and slices."""

    items: tuple[int | slice, ...]

    def resolve(self, layout: Layout, name: str) -> IntArray:
        import numpy as np

        n = layout.n_blocks
        parts = []
        for item in self.items:
            if isinstance(item, slice):
                span = range(n)[item]
                parts.append(np.arange(span.start, span.stop, span.step, dtype=np.int64))
            elif -n <= item < n:
                parts.append(np.array([item % n], dtype=np.int64))
            else:
                where = f"from {-n} to {n - 1}" if n else "none"
                raise CliError(
                    f"{name}: --blocks {item}: no such block; it has {plural(n, 'block')}, "
                    f"positions {where}",
                    EXIT_INVALID,
                )
        return np.unique(np.concatenate(parts))


@dataclass(frozen=True)
class IdxValues:
    """``--idx``: idx values, as given and as float64."""

    texts: tuple[str, ...]
    values: tuple[float, ...]

    def resolve(self, layout: Layout, name: str) -> IntArray:
        import numpy as np

        wanted = np.array(self.values, dtype=np.float64)
        found = np.isin(wanted, layout.idx)
        if not found.all():
            text, value = next(
                (t, v) for t, v, f in zip(self.texts, self.values, found, strict=True) if not f
            )
            raise CliError(
                f"{name}: --idx {text}: no block has idx {idx_text(value)}", EXIT_INVALID
            )
        return np.flatnonzero(np.isin(layout.idx, wanted)).astype(np.int64)


Selection = Positions | IdxValues


def _items(text: str) -> list[str]:
    items = [item.strip() for item in text.split(",")]
    if not all(items):
        raise argparse.ArgumentTypeError(f"{text!r}: an empty item between commas")
    return items


def _integer(text: str, whole: str) -> int | None:
    if not text:
        return None
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"{whole!r}: {text!r} is not an integer; positions and slices such as "
            "7, -1, 0:10 or ::1000, comma-separated"
        ) from None


def parse_blocks(text: str) -> Positions:
    """An argparse type: the positions and slices of ``--blocks``."""
    items: list[int | slice] = []
    for item in _items(text):
        parts = item.split(":")
        if len(parts) == 1:
            position = _integer(parts[0], text)
            assert position is not None  # not empty: checked by _items
            items.append(position)
            continue
        if len(parts) > 3:
            raise argparse.ArgumentTypeError(f"{text!r}: {item!r} is no slice")
        start, stop, step = (_integer(part, text) for part in [*parts, ""][:3])
        if step == 0:
            raise argparse.ArgumentTypeError(f"{text!r}: {item!r} has a step of zero")
        items.append(slice(start, stop, step))
    return Positions(tuple(items))


def parse_idx(text: str) -> IdxValues:
    """An argparse type: the idx values of ``--idx``."""
    texts = _items(text)
    values = []
    for item in texts:
        try:
            values.append(float(item))
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r}: {item!r} is not a number") from None
    return IdxValues(tuple(texts), tuple(values))


def add_arguments(parser: Parser) -> None:
    """``--blocks`` and ``--idx``, of which a command takes one at most."""
    group = parser.add_mutually_exclusive_group()
    group.add_argument(
        "--blocks",
        type=parse_blocks,
        metavar="SEL",
        help="only these blocks: positions and Python-style slices, comma-separated "
        "(7, -1, 0:10, ::1000, 3,8,100:110); shown as the whole view shows them",
    )
    group.add_argument(
        "--idx",
        type=parse_idx,
        metavar="LIST",
        help="only the blocks whose idx is one of these comma-separated numbers "
        "(compared as float64)",
    )


def chosen(args: argparse.Namespace) -> Selection | None:
    """The selection the command line asks for, or ``None`` for every block."""
    selection: Selection | None = args.blocks if args.blocks is not None else args.idx
    return selection


def refused_by_raw_view(args: argparse.Namespace) -> str | None:
    """The usage error of a selection asked of the raw view, which has no blocks."""
    if args.view != "raw" or chosen(args) is None:
        return None
    option = "--blocks" if args.blocks is not None else "--idx"
    return f"{option} picks blocks, which the raw view has not: add --as matrix or marginals"


def blocks(selection: Selection | None, layout: Layout, name: str) -> IntArray | None:
    """The numbers of the blocks of ``layout`` that ``selection`` picks, ascending, each
    once; ``None`` for every block. A ``CliError`` names what the file does not have."""
    return None if selection is None else selection.resolve(layout, name)
