"""Where the blocks of a flattened [idx, n, x1, y1, ...] vector lie; private to pykora.

The blocks are found by the same scanner as ``pykora.binary``'s decoders.
"""

import numpy as np
from numpy.typing import ArrayLike, NDArray

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
