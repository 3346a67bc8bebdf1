"""Decoding of the kora engine's binary results: float64 stream files and flattened vectors."""

import os

import numpy as np
import numpy.typing as npt

_F8_LE: str
"""NumPy type code of the files' values, an 8-byte little-endian float: "<f8"."""

def kora_read_binary_file(path: str | os.PathLike[str]) -> npt.NDArray[np.float64] | None:
    """Read a ``*.dat`` file, a headerless little-endian float64 stream.

    ``None`` when no file exists at ``path``; ``ValueError`` when its size is
    not a multiple of 8.
    """

def _split_vector_blocks(vec: npt.ArrayLike) -> list[tuple[np.float64, npt.NDArray[np.float64]]]:
    """Split a flattened ``[idx, n, x1, y1, ...]`` vector into (idx, (n, 2) pairs) blocks."""

def kora_interpret_vector(vec: npt.ArrayLike | None) -> npt.NDArray[np.float64] | None:
    """Decode a flattened vector into one NaN-padded dense matrix.

    Column 0 holds the first block's x-values, then a y-column and an
    x-column per block. A single block comes back as its own (n, 2) pairs.
    """

def kora_interpret_vector_list(vec: npt.ArrayLike | None) -> list[npt.NDArray[np.float64]] | None:
    """Decode a flattened vector of marginals into one (n, 2) array of (x, y) pairs per block.

    ``None`` for ``None`` and for a vector without blocks.
    """
