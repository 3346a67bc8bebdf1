"""Floats written exactly as Python writes them, checked against repr() and format() over a
million fresh random bit patterns on every run."""

import os

import numpy as np
import pytest

from pykora._text import cells, table_widths
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


def test_table_widths_are_the_lengths_of_the_texts(patterns):
    """A table's widths are measured mostly without writing its cells: they must be exactly
    the lengths of the texts, at every precision."""
    seed, values = patterns
    for precision, part in enumerate(np.array_split(values, 17), start=1):
        part = part[: part.size // 2 * 2]
        # Blocks of one pair each: the columns of sources 0, 1, 2, ... are the values in turn.
        n_blocks = part.size // 2
        vec = np.empty(4 * n_blocks)
        vec[0::4], vec[1::4], vec[2::4], vec[3::4] = 0, 1, part[0::2], part[1::2]
        starts = np.arange(0, vec.size, 4, dtype=np.int64)
        ones = np.ones(n_blocks, dtype=np.int64)
        layout = (starts, np.zeros(n_blocks), ones, ones)
        sources = np.arange(part.size, dtype=np.int64)
        got = table_widths(vec, layout, sources, range(1), precision)
        want = np.fromiter(map(len, python_texts(part, precision)), np.int64, part.size)
        wrong = np.flatnonzero(got != want)[:5]
        assert not wrong.size, (seed, precision, mismatches(part[wrong], got[wrong], want[wrong]))
