"""Straightforward NumPy-in-Python decoders with the contracts of pykora.binary.

The native module must be indistinguishable from this code; the tests use it
as an oracle and bench/ as the baseline to beat. Names are looked up as
module globals at every call, as in the native module.
"""

from pathlib import Path
from typing import List, Optional, Sequence, Tuple

import numpy as np

_F8_LE = "<f8"


def kora_read_binary_file(path: "str | Path") -> "Optional[np.ndarray]":
    p = Path(path)
    if not p.exists():
        return None
    data = p.read_bytes()
    if not data:
        return np.empty((0,), dtype=np.float64)
    return np.frombuffer(data, dtype=_F8_LE).copy()


def _split_vector_blocks(vec: "Sequence[float]") -> "List[Tuple[float, np.ndarray]]":
    arr = np.asarray(vec, dtype=np.float64).ravel()
    blocks = []
    i = 0
    count = arr.size
    while i + 1 < count:
        idx = arr[i]
        n = int(round(arr[i + 1]))
        i = i + 2
        if n <= 0:
            blocks.append((idx, np.zeros((0, 2), dtype=np.float64)))
            continue
        needed = 2 * n
        chunk = arr[i : i + needed]
        if chunk.size < needed:
            padding = np.full((needed - chunk.size,), np.nan, dtype=np.float64)
            chunk = np.concatenate([chunk, padding])
            i = count
        else:
            i = i + needed
        blocks.append((idx, chunk.reshape(n, 2)))
    return blocks


def kora_interpret_vector(vec: "Optional[Sequence[float]]") -> "Optional[np.ndarray]":
    if vec is None:
        return None
    blocks = _split_vector_blocks(vec)
    if not blocks:
        return np.empty((0, 0), dtype=np.float64)
    if len(blocks) == 1:
        return blocks[0][1].copy()
    max_rows = max(block[1].shape[0] for block in blocks)
    n_blocks = len(blocks)
    if max_rows == 0:
        return np.zeros((0, 1 + 2 * n_blocks), dtype=np.float64)
    out = np.full((max_rows, 1 + 2 * n_blocks), np.nan, dtype=np.float64)
    first_pairs = blocks[0][1]
    if first_pairs.size != 0:
        out[: first_pairs.shape[0], 0] = first_pairs[:, 0]
    for k, (idx, pairs) in enumerate(blocks):
        if pairs.size == 0:
            continue
        rows = pairs.shape[0]
        out[:rows, 1 + 2 * k] = pairs[:, 1]
        out[:rows, 1 + 2 * k + 1] = pairs[:, 0]
    return out


def kora_interpret_vector_list(vec: "Optional[Sequence[float]]") -> "Optional[List[np.ndarray]]":
    if vec is None:
        return None
    blocks = _split_vector_blocks(vec)
    if not blocks:
        return None
    out = []
    for idx, pairs in blocks:
        out.append(pairs.copy())
    return out
