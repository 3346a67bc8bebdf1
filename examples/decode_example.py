"""Write a few synthetic engine result files and decode them with pykora.binary."""

import sys
import tempfile
from pathlib import Path

import numpy as np

from pykora.binary import (
    kora_interpret_vector,
    kora_interpret_vector_list,
    kora_read_binary_file,
)


def main() -> int:
    # Two quantile blocks: block 1.0 with three (p, q) pairs, block 2.0 with two.
    quantiles = [1, 3, 0.025, -1.96, 0.5, 0.0, 0.975, 1.96, 2, 2, 0.1, 0.3, 0.9, 0.7]
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "quantiles.dat"
        np.asarray(quantiles, dtype="<f8").tofile(path)
        values = kora_read_binary_file(path)
        print(f"read {path.name}: {values.size} float64 values")
        np.set_printoptions(precision=3, suppress=True)
        print("dense matrix (x of block 0, then y/x per block):")
        print(kora_interpret_vector(values))
        print("marginals:")
        for k, pairs in enumerate(kora_interpret_vector_list(values)):
            print(f"  block {k}: {pairs.shape[0]} pairs")
            print("   ", str(pairs).replace("\n", "\n    "))
        print("missing file:", kora_read_binary_file(Path(tmp) / "missing.dat"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
