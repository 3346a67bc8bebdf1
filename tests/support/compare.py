"""Checks that a native result is indistinguishable from the reference result."""

import array

import numpy as np

VECTOR_FUNCTIONS = ("_split_vector_blocks", "kora_interpret_vector", "kora_interpret_vector_list")


def outcome(func, *args, **kwargs):
    """(result, None) or (None, exception) of one call."""
    try:
        return func(*args, **kwargs), None
    except Exception as exc:
        return None, exc


def bits(values):
    """The raw bit patterns of an array or scalar, so that NaN payloads compare too."""
    raw = np.ascontiguousarray(values)
    raw = raw.view(f"u{raw.dtype.itemsize}")
    return raw if np.ndim(values) else raw[0]


def assert_same_array(got, want, got_source=None, want_source=None):
    assert type(got) is type(want)
    assert (got.dtype, got.dtype.str, got.shape) == (want.dtype, want.dtype.str, want.shape)
    np.testing.assert_array_equal(bits(got), bits(want))
    for flag in ("writeable", "c_contiguous", "owndata", "aligned"):
        assert getattr(got.flags, flag) == getattr(want.flags, flag), flag
    if isinstance(want_source, np.ndarray | array.array):
        assert np.shares_memory(got, got_source) == np.shares_memory(want, want_source)


def assert_same_outcome(name, got, want, got_source=None, want_source=None):
    """Compare two outcome() pairs of the function called `name`."""
    (got_value, got_error), (want_value, want_error) = got, want
    if want_error is not None or got_error is not None:
        assert (type(got_error), str(got_error)) == (type(want_error), str(want_error))
    elif want_value is None:
        assert got_value is None
    elif isinstance(want_value, np.ndarray):
        assert_same_array(got_value, want_value, got_source, want_source)
    else:
        assert type(got_value) is list and len(got_value) == len(want_value)
        for got_item, want_item in zip(got_value, want_value, strict=True):
            if name == "_split_vector_blocks":
                assert type(got_item) is tuple and len(got_item) == 2
                assert type(got_item[0]) is np.float64
                assert bits(got_item[0]) == bits(want_item[0])
                got_item, want_item = got_item[1], want_item[1]
            assert_same_array(got_item, want_item, got_source, want_source)


def same_as_reference(native, reference, name, *args):
    """Call `name` in both modules with the same arguments and compare the outcomes."""
    got = outcome(getattr(native, name), *args)
    assert_same_outcome(name, got, outcome(getattr(reference, name), *args))
    return got


def transient_bytes(func, *args):
    """Traced memory that one call of `func` allocates and frees again (beyond
    what its result keeps), after a first call has filled any cache."""
    import tracemalloc

    import pytest

    if tracemalloc.is_tracing():
        pytest.skip("tracemalloc is already tracing")
    func(*args)
    tracemalloc.start()
    try:
        result = func(*args)
        kept, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    del result
    return peak - kept


def run_child(code, timeout=60):
    """Run `code` in a new interpreter, from the checkout's top so that it can
    import tests.support; a crash or a hang fails the test, not the run."""
    import subprocess
    import sys
    import textwrap
    from pathlib import Path

    try:
        done = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True,
            text=True,
            timeout=timeout,
            cwd=Path(__file__).resolve().parents[2],
        )
    except subprocess.TimeoutExpired as exc:
        raise AssertionError(f"child process hung for {timeout} s: {exc.stdout!r}") from None
    assert done.returncode == 0, f"child exited with {done.returncode}: {done.stderr}"
    return done.stdout
