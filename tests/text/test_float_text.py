"""Floats written exactly as Python writes them, checked against repr() and format() over a
million fresh random bit patterns on every run."""

import os

import numpy as np
import pytest

from pykora._text import cells
from tests.support.float_patterns import float_patterns
from tests.support.reference_text import mismatches, python_texts

SIZE = 1_000_000


@pytest.fixture
def patterns():
    """A million float64 values from a seed of this run, named in any failure."""
    seed = int(os.environ.get("PYKORA_SEED", int.from_bytes(os.urandom(8), "little")))
    return seed, float_patterns(np.random.default_rng(seed), SIZE)


def test_shortest_text_is_repr(patterns):
    seed, values = patterns
    got, want = cells(values), python_texts(values)
    assert got == want, (seed, mismatches(values, got, want))


def test_rounded_text_is_format_g(patterns):
    seed, values = patterns
    for precision, part in enumerate(np.array_split(values, 17), start=1):
        got = cells(part, precision)
        want = python_texts(part, precision)
        assert got == want, (seed, precision, mismatches(part, got, want))
