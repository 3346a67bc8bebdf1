"""Random inputs through both native modules, compared with the plain Python references."""

import math
import os
import shutil
import tempfile
import warnings
from contextlib import contextmanager

import numpy as np
import reference_binary
import reference_options
from binary_compare import VECTOR_FUNCTIONS, assert_same_outcome, outcome, same_as_reference
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, rule
from test_options_differential import GET, KEYS, SET, VALUES, op, replay

import pykora.binary
import pykora.options

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


@settings(max_examples=EXAMPLES, deadline=None)
@given(flat_vectors(), st.sampled_from(LAYOUTS), st.sampled_from(VECTOR_FUNCTIONS))
def test_decoders_match_reference(values, layout, name):
    rows = padding_rows(values)
    assume(rows <= AFFORDABLE_ROWS or rows >= UNALLOCATABLE_ROWS)
    vec = laid_out(values, layout)
    same_as_reference(pykora.binary, reference_binary, name, vec)


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


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(OPERATIONS, max_size=25))
def test_option_sequences_match_reference(script):
    with empty_store(pykora.options), empty_store(reference_options):
        native, plain = replay(pykora.options, script), replay(reference_options, script)
    assert native == plain


# ---------------------------------------------------------------------------
# Random sequences of calls of every function of both modules, with globals
# rebound between calls and during them (from a vector's __array__), each
# step compared with the plain-Python references. Under tools/sanitize.sh this
# is also the sanitizer's fuzz run of the bindings.

BINARY_PAIR = (pykora.binary, reference_binary)
OPTIONS_PAIR = (pykora.options, reference_options)
STEPS = {"count": 0}


class ProxyNumpy:
    """NumPy behind another object: no fast route may take it for NumPy."""

    def __getattr__(self, name):
        return getattr(np, name)


class Positions(int):
    """What a rebound `int` returns: an int subclass with its own arithmetic."""

    def __add__(self, other):
        return Positions(int(self) + int(other))

    def __mul__(self, other):
        return Positions(int(self) * int(other))

    __radd__, __rmul__ = __add__, __mul__


def _wrapped(name):
    """A rebinding to a plain wrapper of each module's own function `name`."""

    def make(module):
        inner = getattr(module, name)
        return lambda *args, **kwargs: inner(*args, **kwargs)

    return make


REBINDINGS = {
    pykora.binary: {
        "np": [lambda m: ProxyNumpy()],
        "round": [lambda m: math.ceil, lambda m: lambda x: round(float(x))],
        "int": [lambda m: Positions],
        "max": [lambda m: lambda it: max(list(it))],
        "len": [lambda m: lambda s: len(list(s))],
        "enumerate": [lambda m: lambda s: list(enumerate(s))],
        "_split_vector_blocks": [_wrapped("_split_vector_blocks")],
        "_F8_LE": [lambda m: ">f8"],
    },
    pykora.options: {
        "kora_get_option_default": [_wrapped("kora_get_option_default")],
        "_cpu_default_string": [lambda m: lambda: "3:1"],
        "kora_call_builtin": [lambda m: lambda: "other-kora"],
        "kora_remote_script": [lambda m: lambda: "/remote.sh"],
        "_set_one": [_wrapped("_set_one")],
        "_post_set_checks": [lambda m: lambda: None],
        "kora_get_option": [_wrapped("kora_get_option")],
    },
}
PARTNER = {pykora.binary: reference_binary, pykora.options: reference_options}
# What each of the four modules binds before any rebinding (None: nothing).
ORIGINALS = {
    m: {name: m.__dict__.get(name) for name in REBINDINGS[native]}
    for native in REBINDINGS
    for m in (native, PARTNER[native])
}


def _set_global(module, name, value):
    if value is None:
        module.__dict__.pop(name, None)
    else:
        setattr(module, name, value)


class RebindingVector:
    """A vector whose conversion rebinds a global of the module being called."""

    def __init__(self, values, module, name, make):
        self.values, self.module, self.name, self.make = values, module, name, make

    def __array__(self, dtype=None, copy=None):
        setattr(self.module, self.name, self.make(self.module))
        return np.array(self.values, dtype=np.float64)


class CallSequences(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.saved_stores = [dict(m._KORA_OPTIONS) for m in OPTIONS_PAIR]
        for m in OPTIONS_PAIR:
            m._KORA_OPTIONS.clear()
        self.tmp = tempfile.mkdtemp(prefix="pykora-sequences-")

    def _rebind(self, native, name, make):
        for m in (native, PARTNER[native]):
            _set_global(m, name, make(m))

    @rule(data=st.data())
    def rebind(self, data):
        native = data.draw(st.sampled_from(list(REBINDINGS)))
        name = data.draw(st.sampled_from(sorted(REBINDINGS[native])))
        self._rebind(native, name, data.draw(st.sampled_from(REBINDINGS[native][name])))

    @rule(data=st.data())
    def restore(self, data):
        native = data.draw(st.sampled_from(list(REBINDINGS)))
        name = data.draw(st.sampled_from(sorted(REBINDINGS[native])))
        for m in (native, PARTNER[native]):
            _set_global(m, name, ORIGINALS[m][name])

    @rule(
        values=flat_vectors(),
        layout=st.sampled_from(LAYOUTS),
        name=st.sampled_from(VECTOR_FUNCTIONS),
    )
    def decode(self, values, layout, name):
        rows = padding_rows(values)
        assume(rows <= AFFORDABLE_ROWS or rows >= UNALLOCATABLE_ROWS)
        STEPS["count"] += 1
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            same_as_reference(*BINARY_PAIR, name, laid_out(values, layout))

    @rule(values=flat_vectors(), name=st.sampled_from(VECTOR_FUNCTIONS), data=st.data())
    def decode_while_rebinding(self, values, name, data):
        rows = padding_rows(values)
        assume(rows <= AFFORDABLE_ROWS or rows >= UNALLOCATABLE_ROWS)
        target = data.draw(st.sampled_from(sorted(REBINDINGS[pykora.binary])))
        make = data.draw(st.sampled_from(REBINDINGS[pykora.binary][target]))
        STEPS["count"] += 1
        results = []
        for m in BINARY_PAIR:
            before = m.__dict__.get(target)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                results.append(outcome(getattr(m, name), RebindingVector(values, m, target, make)))
            _set_global(m, target, before)
        assert_same_outcome(name, *results)

    @rule(payload=st.binary(max_size=64))
    def read(self, payload):
        path = os.path.join(self.tmp, "values.dat")
        with open(path, "wb") as f:
            f.write(payload)
        STEPS["count"] += 1
        same_as_reference(*BINARY_PAIR, "kora_read_binary_file", path)

    @rule(script=st.lists(OPERATIONS, min_size=1, max_size=3))
    def options(self, script):
        STEPS["count"] += 1
        native, plain = (replay(m, script) for m in OPTIONS_PAIR)
        assert native == plain

    def teardown(self):
        for native in REBINDINGS:
            for m in (native, PARTNER[native]):
                for name in REBINDINGS[native]:
                    _set_global(m, name, ORIGINALS[m][name])
        for m, saved in zip(OPTIONS_PAIR, self.saved_stores, strict=True):
            m._KORA_OPTIONS.clear()
            m._KORA_OPTIONS.update(saved)
        shutil.rmtree(self.tmp, ignore_errors=True)


CallSequences.TestCase.settings = settings(
    max_examples=max(EXAMPLES // 5, 20),
    stateful_step_count=20,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)
test_call_sequences_match_reference = CallSequences.TestCase
