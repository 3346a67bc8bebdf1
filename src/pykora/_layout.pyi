"""Where the blocks of a flattened [idx, n, x1, y1, ...] vector lie, and what they hold;
private to pykora.

The blocks are found by the same scanner as ``pykora.binary``'s decoders.
"""

from typing import TypedDict

import numpy as np
from numpy.typing import ArrayLike, NDArray

class BlockSummary(TypedDict):
    complete: bool
    end: int
    blocks: int
    empty_blocks: int
    last_start: int | None
    pairs: int
    padded_pairs: int
    least_pairs: int
    most_pairs: int
    x: tuple[float, float] | None
    y: tuple[float, float] | None
    idx_integral: bool
    idx_increasing: bool
    nan_values: int
    inf_values: int

def block_layout(
    vec: ArrayLike,
) -> tuple[NDArray[np.int64], NDArray[np.float64], NDArray[np.int64], NDArray[np.int64]]:
    """``(starts, idx, declared, present)``, one entry per block of ``vec`` in each array.

    ``starts``: the position of each block's idx; ``idx``: each block's idx,
    bit for bit; ``declared``: the pairs each block declares (its count
    rounded half to even, 0 for a count <= 0, at most 2**62); ``present``:
    the pairs whose x and y are both in the vector, fewer than declared only
    for a last block cut short. A NaN count raises ``ValueError``, an
    infinite one ``OverflowError``, with the decoders' messages.
    """

def block_summary(vec: ArrayLike) -> BlockSummary:
    """What ``vec``'s blocks hold, counted in one scan without decoding anything.

    ``complete``: whether every count could be read (if not, the scan stopped
    at the block starting at ``end``, and the block figures cover the blocks
    before it); ``end``: the position after the last block; ``last_start``:
    that of the last block's idx; ``pairs``: those whose x and y are both in
    the vector, ``padded_pairs``: those declared beyond them; ``least_pairs``
    and ``most_pairs``: per block, as ``block_layout`` declares them; ``x``
    and ``y``: (least, most) of the finite values present, or None;
    ``nan_values`` and ``inf_values``: over every value.
    """
