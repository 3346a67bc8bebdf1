"""The second stage: where a file's [idx, n, x1, y1, ...] blocks lie, and which are shown.

The layout comes from ``pykora._layout``, which runs the decoders' own
scanner, so the command line and the decoders cannot disagree about where a
block starts or how many pairs it declares. Nothing is decoded here: the
later stages read each cell they show straight from the values, and write
the NaN padding of a block cut short as counts, never as an array, so that a
32-byte file declaring 2**62 pairs costs no more than its 32 bytes.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError
from pykora.cli.numbers import block_label, count_text, plural
from pykora.cli.source import Source

if TYPE_CHECKING:
    from pykora.cli.source import FloatArray, IntArray

#: The most pairs a block may declare to be shown: the layout's own bound, and
#: far beyond what any file holds (2**62 pairs are 2**66 bytes). Row numbers
#: and counts stay within int64 below it.
MAX_DECLARED = 1 << 62
#: Columns looked at a time, which bounds the arrays made to look at a matrix's millions.
_COLUMNS_AT_A_TIME = 1 << 16


@dataclass(frozen=True)
class Padding:
    """A last block that declares more pairs than the file holds: the decoders complete it
    with NaN, and every view shows it so."""

    label: str
    declared: int
    n_values: int
    held: int  # values of the file after the block's idx and count

    def note(self, name: str) -> str:
        """What the command says about it, once per file."""
        return (
            f"{name}: {self.label} declares {count_text(self.declared)} pairs, but the file "
            f"holds {plural(self.n_values, 'value')}, {self.held} of them for this block's "
            "pairs; the rest is NaN padding"
        )


@dataclass(frozen=True)
class Layout:
    """A file's blocks: one entry per block in each array, as ``block_layout`` returns them."""

    n_values: int
    starts: IntArray  # position of each block's idx
    idx: FloatArray
    declared: IntArray  # pairs each block decodes to
    present: IntArray  # pairs of each block whose x and y the file holds

    @property
    def n_blocks(self) -> int:
        return int(self.starts.size)

    @property
    def arrays(self) -> tuple[IntArray, FloatArray, IntArray, IntArray]:
        """As ``block_layout`` returns it."""
        return self.starts, self.idx, self.declared, self.present

    def label(self, k: int) -> str:
        return block_label(k, float(self.idx[k]))

    def held(self, k: int, axis: int) -> int:
        """The rows of block ``k`` whose x (axis 0) or y (axis 1) the file holds; NaN below."""
        first = int(self.starts[k]) + 2 + axis
        return min(int(self.declared[k]), max(self.n_values - first + 1, 0) // 2)

    def columns(self, sources: IntArray) -> tuple[IntArray, IntArray]:
        """Where the columns ``sources`` lie: the position of each one's row 0 (its value
        r is 2 r further on), and the rows of it the file holds, NaN below."""
        import numpy as np

        blocks = sources >> 1
        first = self.starts[blocks] + 2 + (sources & 1)
        held = np.minimum(self.declared[blocks], np.maximum(self.n_values - first + 1, 0) // 2)
        return first, held

    def rows_held(self, sources: IntArray) -> int:
        """The most rows any of the columns ``sources`` holds: every row from there on is
        NaN in each of them."""
        most = 0
        for c0 in range(0, int(sources.size), _COLUMNS_AT_A_TIME):
            held = self.columns(sources[c0 : c0 + _COLUMNS_AT_A_TIME])[1]
            most = max(most, int(held.max()))
        return most

    @property
    def padding(self) -> Padding | None:
        """The last block, when the file holds fewer pairs than it declares."""
        k = self.n_blocks - 1
        if k < 0 or self.present[k] == self.declared[k]:
            return None
        start = int(self.starts[k])
        return Padding(
            self.label(k), int(self.declared[k]), self.n_values, self.n_values - start - 2
        )


def find_layout(source: Source) -> Layout:
    """The layout of ``source``'s blocks, or a ``CliError`` for a count that cannot be read."""
    from pykora._layout import block_layout

    try:
        starts, idx, declared, present = block_layout(source.values)
    except (ValueError, OverflowError) as exc:
        raise CliError(
            f"{source.name}: not a vector of [idx, n, x1, y1, ...] blocks: {exc}", EXIT_INVALID
        ) from None
    except MemoryError:
        raise CliError(
            f"{source.name}: not enough memory to find its blocks", EXIT_FAILURE
        ) from None
    layout = Layout(int(source.values.size), starts, idx, declared, present)
    if layout.n_blocks and declared[-1] == MAX_DECLARED:
        # The layout stops counting at the bound; the count itself says by how much.
        count = round(float(source.values[int(starts[-1]) + 1]))
        if count > MAX_DECLARED:
            raise CliError(
                f"{source.name}: {layout.label(layout.n_blocks - 1)} declares "
                f"{count_text(count)} pairs; no view shows more than 2**62",
                EXIT_INVALID,
            )
    return layout


def every_block(layout: Layout) -> IntArray:
    """All the blocks, in order: those a view shows when none are picked out."""
    import numpy as np

    return np.arange(layout.n_blocks, dtype=np.int64)
