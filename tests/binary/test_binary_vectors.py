"""The flattened-vector decoders of pykora.binary against the NumPy reference."""

import array

import numpy as np
import pytest

from tests.support.compare import VECTOR_FUNCTIONS, assert_same_outcome, bits, outcome

NAN = np.nan
# Two complete blocks, then a count of 3 with only 3 values left: NaN-completed.
MIXED = [1, 2, 0.1, 10, 0.5, 20, 2, 1, 3, 4, 5, 3, 1, 2, 6]
MIXED_BYTES = np.array(MIXED).tobytes()


def many_blocks():
    rng = np.random.default_rng(7)
    parts = []
    for k, n in enumerate(rng.integers(-1, 6, size=300)):
        parts += [k, n, *rng.normal(size=2 * max(n, 0))]
    return np.array(parts + [300, 9, 1.0, 2.0, 3.0])


# Each case builds a fresh input, so that the native and the reference call
# get objects of their own and memory sharing can be compared.
VECTORS = {
    "empty": lambda: [],
    "single-value": lambda: [3.0],
    "zero-count": lambda: [7, 0],
    "two-empty-blocks": lambda: [7, 0, 8, 0],
    "one-block": lambda: [1, 2, 0.1, 10, 0.5, 20],
    "one-then-two-pairs": lambda: [1, 1, 0.5, 3, 2, 2, 0.1, 1, 0.9, 2],
    "three-blocks": lambda: [0, 1, 1, 10, 0, 4, 2, 20, 3, 30, 4, 40, 5, 50, 0, 2, 6, 60, 7, 70],
    "truncated": lambda: [1, 3, 0.1, 1, 0.5],
    "negative-count": lambda: [7, -3, 1, 2],
    "count-2.5": lambda: [1, 2.5, 1, 2, 3, 4, 9],
    "count-3.5": lambda: [1, 3.5, *range(8)],
    "count-0.4": lambda: [1, 0.4, 2, 1, 5, 6],
    "count-minus-zero": lambda: [1, -0.0, 2, 1, 5, 6],
    "count-below-half": lambda: [1, 0.49999999999999994, 2, 1, 5, 6],
    "huge-negative-count": lambda: [1, -1e300, 2, 1, 5, 6],
    "leftover-value": lambda: [1, 1, 5, 6, 4],
    "trailing-empty-block": lambda: [1, 1, 5, 6, 9, 0],
    "empty-first-block": lambda: [0, 0, 1, 2, 1, 2, 3, 4],
    "nan-idx": lambda: [NAN, 1, 5, 6],
    "infinite-values": lambda: [np.inf, 1, -np.inf, NAN, 3, 0],
    "nested-list": lambda: [[1, 1], [0.5, 3]],
    "int-list": lambda: [1, 1, 2, 3],
    "tuple": lambda: tuple(MIXED),
    "none": lambda: None,
    "float64": lambda: np.array(MIXED),
    "float32": lambda: np.array(MIXED, dtype=np.float32),
    "big-endian": lambda: np.array(MIXED, dtype=">f8"),
    "strided": lambda: np.repeat(MIXED, 2)[::2],
    "offset-view": lambda: np.array([9.0, *MIXED])[1:],
    "2d": lambda: np.array(MIXED[:12]).reshape(3, 4),
    "fortran": lambda: np.asfortranarray(np.reshape(MIXED[:12], (3, 4))),
    "0d": lambda: np.array(5.0),
    "read-only": lambda: np.frombuffer(MIXED_BYTES),
    "unaligned": lambda: np.frombuffer(bytearray(b"\0" + MIXED_BYTES), offset=1),
    "buffer": lambda: array.array("d", MIXED),
    "many-blocks": many_blocks,
}


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
@pytest.mark.parametrize("make", VECTORS.values(), ids=VECTORS.keys())
def test_decoders_match_reference(binary, oracle, name, make):
    got_input, want_input = make(), make()
    got = outcome(getattr(binary, name), got_input)
    want = outcome(getattr(oracle, name), want_input)
    assert_same_outcome(name, got, want, got_input, want_input)


NAN_COUNT = (ValueError, "cannot convert float NaN to integer")
INF_COUNT = (OverflowError, "cannot convert float infinity to integer")
ERRORS = {
    "nan": ([1, NAN, 2, 3], *NAN_COUNT),
    "late-nan": ([1, 1, 2, 3, 4, NAN, 5], *NAN_COUNT),
    "inf": ([1, np.inf], *INF_COUNT),
    "minus-inf": ([1, -np.inf, 2], *INF_COUNT),
    "count-1e300": ([1, 1e300, 1, 2], ValueError, None),
    "count-2**62": ([1, 2.0**62, 1, 2], ValueError, None),
    "count-2**70": ([1, 2.0**70], ValueError, None),
    # NumPy's message names the padding's shape: the count must be 2**52 + 1
    # exactly, as round() gives, not 2**52 + 2 as floor(x + 0.5) would.
    "count-2**52+1": ([1, 1, 5, 6, 2, 2.0**52 + 1], MemoryError, None),
    "text": ("abc", ValueError, "could not convert string to float: 'abc'"),
    "text-list": (["1", "x"], ValueError, None),
    "ragged": ([[1, 2], [3]], ValueError, None),
    "object": ([object()], TypeError, None),
}


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
@pytest.mark.parametrize(("vec", "error", "message"), ERRORS.values(), ids=ERRORS.keys())
def test_errors_match_reference(binary, oracle, name, vec, error, message):
    got = outcome(getattr(binary, name), vec)
    assert isinstance(got[1], error)
    assert message is None or str(got[1]) == message
    assert_same_outcome(name, got, outcome(getattr(oracle, name), vec))


def test_documented_examples(binary):
    out = binary.kora_interpret_vector([1, 1, 0.5, 3, 2, 2, 0.1, 1, 0.9, 2])
    np.testing.assert_array_equal(out, [[0.5, 3, 0.5, 1, 0.1], [NAN, NAN, NAN, 2, 0.9]])
    out = binary.kora_interpret_vector(VECTORS["three-blocks"]())
    assert out.shape == (4, 7)
    np.testing.assert_array_equal(
        out[:, [0, 5, 6]].T, [[1] + [NAN] * 3, [60, 70] + [NAN] * 2, [6, 7] + [NAN] * 2]
    )
    got = binary.kora_interpret_vector_list([0, 3, 1, 2, 3, 4, 5, 6, 1, 0, 2, 2, 7, 8, 9])
    assert [a.shape for a in got] == [(3, 2), (0, 2), (2, 2)]
    np.testing.assert_array_equal(got[2], [[7, 8], [9, NAN]])
    assert binary.kora_interpret_vector([5.0]).shape == (0, 0)
    assert binary.kora_interpret_vector_list([5.0]) is None


@pytest.mark.parametrize("as_list", [False, True], ids=["array", "list"])
def test_nan_payloads_survive(binary, as_list):
    # Signalling NaN, quiet NaN with payload, -0.0, smallest subnormal, NaN.
    p = [0x7FF0000000000001, 0xFFF8000000000123, 1 << 63, 0x1, 0x7FF4000000000BAD]
    two, three = np.array([2.0, 3.0]).view(np.uint64)
    vec = np.array([p[0], two, p[1], p[2], p[3], p[4], p[4], three, p[0], p[1]], dtype=np.uint64)
    vec = vec.view(np.float64).tolist() if as_list else vec.view(np.float64)
    nan = int(bits(np.float64(NAN)))

    blocks = binary._split_vector_blocks(vec)
    assert [bits(idx) for idx, _ in blocks] == [p[0], p[4]]
    assert bits(blocks[0][1]).ravel().tolist() == [p[1], p[2], p[3], p[4]]
    assert bits(blocks[1][1]).ravel().tolist() == [p[0], p[1], *[nan] * 4]
    pieces = binary.kora_interpret_vector_list(vec)
    assert [bits(a).tolist() for a in pieces] == [bits(b).tolist() for _, b in blocks]
    dense = bits(binary.kora_interpret_vector(vec))
    assert dense.tolist() == [
        [p[1], p[2], p[1], p[1], p[0]],
        [p[3], p[4], p[3], nan, nan],
        [nan] * 5,
    ]


@pytest.mark.parametrize("shape", [(10,), (2, 5)])
def test_complete_blocks_write_through_to_the_input(binary, shape):
    vec = np.array([1, 1, 5, 6, 2, 0, 3, 2, 7, 8], dtype=np.float64).reshape(shape)
    before = vec.copy()
    (_, full), (_, empty), (_, padded) = binary._split_vector_blocks(vec)
    assert empty.shape == (0, 2) and not np.shares_memory(empty, vec)
    padded[:] = -1
    np.testing.assert_array_equal(vec, before)
    full[0, 1] = 99
    assert vec.ravel()[3] == 99


def test_decoder_results_are_independent(binary):
    vec = np.array([1, 2, 1, 2, 3, 4, 2, 1, 5, 6], dtype=np.float64)
    before = vec.copy()
    pieces = binary.kora_interpret_vector_list(vec)
    results = [binary.kora_interpret_vector(vec), binary.kora_interpret_vector(vec[:6]), *pieces]
    for k, result in enumerate(results):
        result[...] = -k
    np.testing.assert_array_equal(vec, before)
    assert all((result == -k).all() for k, result in enumerate(results))


def test_read_only_input_gives_read_only_views(binary):
    vec = np.frombuffer(np.array([1, 1, 5, 6, 2, 3, 7.0]).tobytes())
    (_, full), (_, padded) = binary._split_vector_blocks(vec)
    assert not full.flags.writeable and padded.flags.writeable
    assert binary.kora_interpret_vector(vec).flags.writeable
    assert all(a.flags.writeable for a in binary.kora_interpret_vector_list(vec))


def test_blocks_of_an_annotated_float64_array_are_plain_float64(binary, oracle):
    vec = np.array([1, 1, 5, 6, 2, 2, 7], dtype=np.dtype(np.float64, metadata={"unit": "m"}))
    assert oracle._split_vector_blocks(vec.copy())[0][1].dtype.metadata is None
    assert [p.dtype.metadata for _, p in binary._split_vector_blocks(vec)] == [None, None]
