"""Random sequences of calls of every function of both modules, with globals
rebound between calls and during them, compared with the plain-Python references."""

import math
import os
import shutil
import tempfile
import warnings

import numpy as np
from hypothesis import HealthCheck, assume, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, rule

import pykora.binary
import pykora.options
from tests.support import reference_binary, reference_options
from tests.support.compare import VECTOR_FUNCTIONS, assert_same_outcome, outcome, same_as_reference
from tests.support.options_scripts import replay
from tests.support.strategies import (
    AFFORDABLE_ROWS,
    EXAMPLES,
    LAYOUTS,
    OPERATIONS,
    UNALLOCATABLE_ROWS,
    flat_vectors,
    laid_out,
    padding_rows,
)

BINARY_PAIR = (pykora.binary, reference_binary)
OPTIONS_PAIR = (pykora.options, reference_options)
STEPS = {"count": 0}


class ProxyNumpy:
    """NumPy behind another object: no native route may take it for NumPy."""

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
