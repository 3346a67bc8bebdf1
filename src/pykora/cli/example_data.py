"""Synthetic result files to try the commands on."""

from __future__ import annotations

import math

#: Standard normal quantiles at the probabilities 0.025, 0.25, 0.5, 0.75, 0.975.
_PROBABILITIES = (0.025, 0.25, 0.5, 0.75, 0.975)
_Z = (-1.959964, -0.6744898, 0.0, 0.6744898, 1.959964)


def _density(mean: float, sd: float, lo: float, hi: float, n: int) -> list[float]:
    """``n`` (x, y) pairs of a normal density, laid flat."""
    pairs: list[float] = []
    for i in range(n):
        x = lo + (hi - lo) * i / (n - 1)
        y = math.exp(-0.5 * ((x - mean) / sd) ** 2) / (sd * math.sqrt(2 * math.pi))
        pairs += [x, round(y, 6)]
    return pairs


def example_vectors() -> dict[str, list[float]]:
    """Synthetic result files by name: a raw stream, quantiles and marginals."""
    stream = [0.0, 0.5, 1.0, 1.5, 2.0, 2.5, math.nan, 3.5]

    quantiles: list[float] = []
    for idx, (mean, sd) in enumerate([(0.0, 1.0), (1.5, 0.5), (-1.0, 2.0)], start=1):
        quantiles += [idx, len(_PROBABILITIES)]
        for p, z in zip(_PROBABILITIES, _Z, strict=True):
            quantiles += [p, round(mean + sd * z, 4)]

    marginals = [1.0, 9.0, *_density(0.0, 1.0, -3.0, 3.0, 9)]
    marginals += [2.0, 0.0]  # a block without pairs
    marginals += [3.0, 5.0, *_density(1.5, 0.5, 0.5, 2.5, 5)]
    return {"stream.dat": stream, "quantiles.dat": quantiles, "marginals.dat": marginals}
