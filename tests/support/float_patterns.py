"""Random float64 bit patterns that cover every place where Python's text of a float changes
shape, for the exactness checks of pykora._text (tests/text and tools/exactness_run.py)."""

import numpy as np

SIGN = np.uint64(1 << 63)
MANTISSA = np.uint64((1 << 52) - 1)
LARGEST = np.uint64(0x7FEF_FFFF_FFFF_FFFF)
SMALLEST_NORMAL = np.uint64(0x0010_0000_0000_0000)
# 1e-323 to 1e308, the powers of ten a float64 can come near.
POWERS_OF_TEN = np.array([float(f"1e{e}") for e in range(-323, 309)]).view(np.uint64)
# Exponent fields of 2**-17 (below 1e-5) up to 2**57 (above 1e17): the fixed notation of repr
# and of the tables, and both switches to the exponent form.
FIXED_EXPONENTS = (1023 - 17, 1023 + 57)
# 2**52 up to 2**70: integers, every one from 2**53 on.
INTEGER_EXPONENTS = (1023 + 52, 1023 + 70)


def _near(rng, bases, size, reach):
    """Patterns within ``reach`` steps of random ``bases``, the nearest the likeliest (the
    bases themselves among them), kept finite and non-negative."""
    base = rng.choice(bases, size).astype(np.int64)
    steps = rng.integers(-reach, reach + 1, size) >> rng.integers(0, reach.bit_length(), size)
    return np.clip(base + steps, 0, int(LARGEST)).astype(np.uint64)


def _short_decimals(rng, size):
    """Values typed with few digits, 0.004432 or 2.5e-07: the shortest text is short."""
    digits = rng.integers(1, 10 ** rng.integers(1, 8, size), dtype=np.int64)
    exponents = rng.integers(-30, 31, size)
    text = np.char.add(np.char.add(digits.astype(str), "e"), exponents.astype(str))
    return text.astype(np.float64).view(np.uint64)


def float_patterns(rng, size):
    """``size`` float64 values in seven equal shares: any bit pattern (with a thirty-second
    of NaN payloads and infinities), subnormals and zeros, the fixed range, powers of ten and their
    neighbours, integers from 2**52 on, the neighbours of 2**53, of the largest finite value
    and of the smallest normal one, and short decimals; signs at random throughout."""
    share = -(-size // 7)
    mantissas = rng.integers(0, 1 << 52, share * 3, dtype=np.uint64)

    def exponent_range(bounds):
        return rng.integers(bounds[0], bounds[1] + 1, share, dtype=np.uint64) << np.uint64(52)

    non_finite = mantissas[: share // 32] >> rng.integers(0, 53, share // 32, dtype=np.uint64)
    parts = [
        rng.integers(0, 1 << 64, share - share // 32, dtype=np.uint64),
        non_finite | np.uint64(0x7FF << 52),  # NaN payloads, and the infinities
        mantissas[:share] >> rng.integers(0, 53, share, dtype=np.uint64),  # zeros too
        exponent_range(FIXED_EXPONENTS) | mantissas[share : 2 * share],
        _near(rng, POWERS_OF_TEN, share, 64),
        exponent_range(INTEGER_EXPONENTS) | mantissas[2 * share :],
        _near(rng, np.array([0x4340_0000_0000_0000, LARGEST, SMALLEST_NORMAL]), share, 1 << 12),
        _short_decimals(rng, share),
    ]
    patterns = np.concatenate(parts)[:size]
    patterns |= rng.integers(0, 2, size, dtype=np.uint64) << np.uint64(63)
    rng.shuffle(patterns)
    return patterns.view(np.float64)
