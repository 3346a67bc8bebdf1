"""Hypothesis strategies for flattened vectors and option scripts."""

import os
import warnings
from contextlib import contextmanager

import numpy as np
from hypothesis import strategies as st

from tests.support.options_scripts import GET, KEYS, SET, VALUES, op

COUNTS = st.one_of(
    st.integers(-3, 8),
    st.floats(-4, 9),
    st.sampled_from([0.5, 1.5, 2.5, -0.5, -0.0, 1e300, -1e300, 2.0**40, 2.0**62, -(2.0**62)]),
    st.sampled_from([float("nan"), float("inf"), float("-inf")]),
)
VALUES_F8 = st.floats(width=64, allow_nan=True, allow_infinity=True)
# PYKORA_EXAMPLES raises the number of examples for a longer hand-run search.
EXAMPLES = int(os.environ.get("PYKORA_EXAMPLES", "250"))
LAYOUTS = ["list", "tuple", "array", "2d", "strided", "swapped", "float32", "int", "readonly"]


@st.composite
def flat_vectors(draw):
    values = []
    for _ in range(draw(st.integers(0, 5))):
        values += [draw(VALUES_F8), draw(COUNTS), *draw(st.lists(VALUES_F8, max_size=12))]
    return values + draw(st.lists(VALUES_F8, max_size=1))  # maybe a single leftover value


def laid_out(values, layout):
    arr = np.array(values, dtype=np.float64)
    if layout == "list":
        return values
    if layout == "tuple":
        return tuple(values)
    if layout == "2d" and arr.size % 2 == 0:
        return arr.reshape(-1, 2)
    if layout == "strided":
        spaced = np.zeros(2 * arr.size)
        spaced[::2] = arr
        return spaced[::2]
    if layout == "swapped":
        return arr.astype(">f8")
    if layout == "float32":
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            return arr.astype(np.float32)
    if layout == "int" and np.isfinite(arr).all() and (np.abs(arr) < 2**53).all():
        return arr.astype(np.int64)
    if layout == "readonly":
        arr.flags.writeable = False
    return arr


def padding_rows(values):
    """Rows of NaN padding that decoding `values` asks for (0 when none)."""
    i = 0
    while i + 1 < len(values):
        n = values[i + 1]
        if not np.isfinite(n) or round(n) <= 0:
            i += 2
            continue
        needed = 2 * round(n)
        if len(values) - (i + 2) < needed:
            return round(n)
        i += 2 + needed
    return 0


# A random value read as a count may ask for gigabytes of NaN padding, which
# both implementations would allocate and fill: enough to exhaust the
# machine. Counts whose padding fails to allocate at once stay in.
AFFORDABLE_ROWS, UNALLOCATABLE_ROWS = 1 << 20, 1 << 36


def _values_of(key):
    return st.sampled_from(VALUES.get(key, [True, False, 0, "no", None]))


KEY = st.sampled_from(KEYS)
OPERATIONS = st.one_of(
    KEY.flatmap(lambda key: _values_of(key).map(lambda value: op(SET, key, value))),
    st.lists(KEY, min_size=1, max_size=3, unique=True).flatmap(
        lambda keys: st.tuples(*map(_values_of, keys)).map(
            lambda values: op(SET, **dict(zip(keys, values, strict=True)))
        )
    ),
    KEY.map(lambda key: op(GET, key)),
    st.lists(KEY, max_size=3).map(lambda keys: op(GET, keys)),
    st.just(op(GET)),
    st.just(op("kora_enabled_Braidwell_features")),
)


@contextmanager
def empty_store(mod):
    saved = dict(mod._KORA_OPTIONS)
    mod._KORA_OPTIONS.clear()
    try:
        yield
    finally:
        mod._KORA_OPTIONS.clear()
        mod._KORA_OPTIONS.update(saved)
