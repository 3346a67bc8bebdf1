"""pykora._layout against the decoders: the same blocks, where the decoders find them."""

import warnings

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

from pykora._layout import block_layout
from pykora.binary import _split_vector_blocks
from tests.support.compare import bits, outcome
from tests.support.strategies import (
    AFFORDABLE_ROWS,
    EXAMPLES,
    LAYOUTS,
    flat_vectors,
    laid_out,
    padding_rows,
)


def assert_layout_matches_decoders(vec):
    got, got_error = outcome(block_layout, vec)
    blocks, error = outcome(_split_vector_blocks, vec)
    if error is not None or got_error is not None:
        assert (type(got_error), str(got_error)) == (type(error), str(error))
        return
    values = np.asarray(vec, dtype=np.float64).ravel()
    starts, idx, declared, present = got
    assert [a.dtype for a in got] == [np.int64, np.float64, np.int64, np.int64]
    assert len(starts) == len(blocks)
    assert np.array_equal(bits(idx), bits(np.array([i for i, _ in blocks], dtype=np.float64)))
    assert declared.tolist() == [pairs.shape[0] for _, pairs in blocks]
    # Each block starts where the one before it ends; its pairs are the values after its
    # header, as far as the vector goes, and NaN beyond.
    assert starts.tolist() == np.cumsum([0, *(2 + 2 * declared)])[: len(starts)].tolist()
    for start, n_present, (_, pairs) in zip(starts, present, blocks, strict=True):
        held = min(pairs.size, values.size - start - 2)
        assert n_present == held // 2
        assert np.array_equal(
            bits(pairs.ravel()[:held]), bits(values[start + 2 : start + 2 + held])
        )
        assert np.isnan(pairs.ravel()[held:]).all()


@settings(max_examples=EXAMPLES, deadline=None)
@given(flat_vectors(), st.sampled_from(LAYOUTS))
def test_layout_agrees_with_the_decoders(values, layout):
    assume(padding_rows(values) <= AFFORDABLE_ROWS)
    assert_layout_matches_decoders(laid_out(values, layout))


@pytest.mark.parametrize(
    "count, declared",
    [(1e9, 10**9), (2.0**62 - 1024, 2**62 - 1024), (2.0**62, 2**62), (1e300, 2**62)],
)
def test_counts_beyond_the_vector_are_declared_without_padding(count, declared):
    starts, idx, got, present = block_layout(np.array([7, count, 0.5, 2, 0.25]))
    assert (starts.tolist(), idx.tolist(), got.tolist()) == ([0], [7.0], [declared])
    assert present.tolist() == [1]


@pytest.mark.parametrize(
    "vec",
    [np.array([1, 2, 0.5, 3], dtype=dtype) for dtype in (object, np.longdouble, complex)]
    + [np.array(["1", "1", "0.5", "3"]), np.array([b"1", b"1", b"0.5", b"3"])]
    + [np.array([1, 1, 2 + 3j, 0.5]), np.array(["1", "x"]), np.array([1, None], dtype=object)]
    + [np.float64(7.0), 7.0, [[1.0, 2.0], [0.5, 3.0]]],
    ids=["object", "longdouble", "complex", "str", "bytes", "imaginary", "not-a-number", "None"]
    + ["0-d", "scalar", "2-d"],
)
def test_every_array_the_decoders_convert_is_converted_alike(vec):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", np.exceptions.ComplexWarning)  # both discard the same
        assert_layout_matches_decoders(vec)
