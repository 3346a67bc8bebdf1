"""Where a file's [idx, n, x1, y1, ...] blocks lie, and decoding only the blocks wanted.

The layout comes from ``pykora._layout``, which runs the decoders' own
scanner. Blocks are self-delimiting, so a run of whole blocks cut out of the
vector decodes exactly as it does in place: the command line hands the
public decoders just the slices that hold the blocks it shows.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
from typing import TYPE_CHECKING, TypeVar

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, CliError, warn
from pykora.cli.files import Source
from pykora.cli.numbers import count_text, idx_text, plural

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]
    IntArray = npt.NDArray[np.int64]

_T = TypeVar("_T")

#: Values decoded at a time when every block is written, which bounds the
#: memory the decoded pairs take whatever the file's size.
GROUP_VALUES = 1 << 16


@dataclass(frozen=True)
class Blocks:
    """A file's blocks: one entry per block in each array, as ``block_layout`` returns them."""

    source: Source
    starts: IntArray  # position of each block's idx
    idx: FloatArray
    declared: IntArray  # pairs each block decodes to
    present: IntArray  # pairs of each block the file holds

    @property
    def name(self) -> str:
        return self.source.name

    @property
    def values(self) -> FloatArray:
        return self.source.values

    @property
    def n_blocks(self) -> int:
        return int(self.starts.size)

    @property
    def padded(self) -> bool:
        """Whether the last block declares more pairs than the file holds."""
        return bool(self.n_blocks and self.present[-1] < self.declared[-1])

    def label(self, k: int) -> str:
        return f"block {k} (idx {idx_text(self.idx[k])})"

    def _part(self, k0: int, k1: int) -> FloatArray:
        """The values of blocks ``k0 .. k1 - 1``; the last block runs to the end of the file."""
        stop = int(self.starts[k1]) if k1 < self.n_blocks else self.values.size
        return self.values[int(self.starts[k0]) : stop]

    def _decoded(self, decode: Callable[[FloatArray], _T], k0: int, k1: int) -> _T:
        try:
            return decode(self._part(k0, k1))
        except (MemoryError, ValueError):
            # The counts were read already, so only the size of what they ask for can fail.
            raise CliError(
                f"{self.name}: not enough memory to decode its blocks", EXIT_FAILURE
            ) from None

    def pairs(self, k0: int, k1: int) -> list[FloatArray]:
        """The (n, 2) pairs of blocks ``k0 .. k1 - 1``, from ``kora_interpret_vector_list``."""
        from pykora.binary import kora_interpret_vector_list

        if k0 >= k1:
            return []
        decoded = self._decoded(kora_interpret_vector_list, k0, k1)
        return decoded or []  # None only for a slice without blocks

    def dense(self, k0: int, k1: int) -> FloatArray:
        """``kora_interpret_vector`` of blocks ``k0 .. k1 - 1``."""
        from pykora.binary import kora_interpret_vector

        matrix = self._decoded(kora_interpret_vector, k0, k1)
        assert matrix is not None  # only for None does it return None
        return matrix

    def warn_padding(self) -> None:
        """Say so when the last block is padded with NaN.

        A block whose count runs past the end of the file decodes to that
        many rows all the same, nearly all NaN; a count of 1e7 in a 32-byte
        file means ten million rows, which deserves a word before they are
        printed. Said only once what is shown has been decoded, so that a
        failure stays a single error line.
        """
        if not self.padded:
            return
        k = self.n_blocks - 1
        start = int(self.starts[k])
        declared = max(round(float(self.values[start + 1])), 0)  # exact, beyond 2**62 too
        size = int(self.values.size)
        warn(
            f"{self.name}: {self.label(k)} declares {count_text(declared)} pairs, but the file "
            f"holds {plural(size, 'value')}, {size - start - 2} of them for this block's "
            "pairs; the rest is NaN padding"
        )

    def every_pairs(self) -> Iterator[tuple[range, list[FloatArray]]]:
        """Every block's pairs in order, in groups of blocks of about ``GROUP_VALUES`` values
        each, decoded one group at a time as they are asked for: (the blocks, their pairs).

        A padded last block is decoded before this returns: it is the only
        block that can be too big to decode, and failing before anything is
        written beats failing after the rest of the file.
        """
        import numpy as np

        n = self.n_blocks
        last = self.pairs(n - 1, n) if self.padded else []
        self.warn_padding()

        def groups() -> Iterator[tuple[range, list[FloatArray]]]:
            k = 0
            while k < n:
                end = int(np.searchsorted(self.starts, self.starts[k] + GROUP_VALUES, "right"))
                end = max(end, k + 1)
                if end < n:
                    yield range(k, end), self.pairs(k, end)
                else:
                    yield range(k, n), self.pairs(k, n - 1 if last else n) + last
                k = end

        return groups()


def find_blocks(source: Source) -> Blocks:
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
    return Blocks(source, starts, idx, declared, present)


def runs(ks: Iterable[int]) -> list[tuple[int, int]]:
    """Ascending block numbers as (first, stop) runs of consecutive blocks."""
    found: list[tuple[int, int]] = []
    for k in ks:
        if found and found[-1][1] == k:
            found[-1] = (found[-1][0], k + 1)
        else:
            found.append((k, k + 1))
    return found
