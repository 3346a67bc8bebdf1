"""Files the command line's tests share: what `example` writes and two generated files of
about 300,000 values each."""

import numpy as np
import pytest

from pykora.cli import main


def generated_blocks(rng, n_blocks):
    """[idx, n, x1, y1, ...] blocks with counts that round half to even or are <= 0, and
    idx of eight significant digits, which six-digit formatting would change."""
    counts = rng.choice([-1.3, 0.0, 0.5, 1.0, 1.5, 2.5, 3.0], n_blocks)
    lengths = 2 + 2 * np.rint(counts).clip(0).astype(np.int64)
    starts = np.concatenate([[0], np.cumsum(lengths)[:-1]])
    vec = rng.standard_normal(int(lengths.sum()) + 1)  # the last value is left over
    vec[starts], vec[starts + 1] = 1_000_000.5 + np.arange(n_blocks), counts
    return vec


def long_blocks(rng, sizes):
    """Blocks of many (x, y) pairs each, as marginal densities are."""
    parts = [
        [k + 1, n, *np.column_stack([np.linspace(-4, 4, n), rng.random(n)]).ravel()]
        for k, n in enumerate(sizes)
    ]
    return np.concatenate([np.asarray(part, dtype=float) for part in parts])


@pytest.fixture(scope="session")
def demo(tmp_path_factory):
    """The files `example` writes, and next to them many-blocks.dat and long-blocks.dat."""
    target = tmp_path_factory.mktemp("cli") / "new" / "demo"
    assert main(["example", str(target)]) == 0
    rng = np.random.default_rng(10)
    generated_blocks(rng, 100_000).astype("<f8").tofile(target / "many-blocks.dat")
    sizes = [20_000, 1, 0, 50_000, 7_000, 2, 30_000, 57_000]
    long_blocks(rng, sizes).astype("<f8").tofile(target / "long-blocks.dat")
    return target
