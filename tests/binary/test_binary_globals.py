"""pykora.binary looks its globals up at every call: rebinding one takes effect at once."""

import builtins
import math
import pathlib
import traceback
import warnings

import numpy as np
import pytest

from tests.support import reference_binary
from tests.support.compare import (
    VECTOR_FUNCTIONS,
    assert_same_outcome,
    outcome,
    same_as_reference,
    transient_bytes,
)
from tests.support.dependencies import Recorder, dependencies, direct_dependencies

# Two complete blocks, an empty one and a truncated last block.
VEC = [1, 2, 0.1, 10, 0.5, 20, 2, 1, 3, 4, 3, 0, 5, 3, 1, 2, 6]
SMALL_VECTORS = [[], [7, 0], [7, 0, 8, 0], [1, 2, 0.1, 10, 0.5, 20], VEC, [1, np.nan, 2]]


@pytest.fixture
def rebind(binary, oracle, monkeypatch):
    """Bind `name` to a fresh make() in both modules for the duration of the test."""

    def bind(name, make):
        for module in (binary, oracle):
            monkeypatch.setattr(module, name, make(), raising=False)

    return bind


class RecordingNumpy:
    """Forwards to numpy and remembers which attributes were asked for."""

    def __init__(self):
        self.asked = []

    def __getattr__(self, name):
        self.asked.append(name)
        return getattr(np, name)


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
def test_rebound_np_is_used(binary, oracle, rebind, name):
    rebind("np", RecordingNumpy)
    for vec in SMALL_VECTORS:
        same_as_reference(binary, oracle, name, vec)
        assert binary.np.asked == oracle.np.asked
    assert {"asarray", "full", "concatenate"} <= set(binary.np.asked)


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS[1:])
def test_decoders_call_the_current_splitter(binary, monkeypatch, name):
    seen, split = [], binary._split_vector_blocks
    monkeypatch.setattr(binary, "_split_vector_blocks", lambda vec: seen.append(vec) or split(vec))
    assert getattr(binary, name)(None) is None and seen == []
    getattr(binary, name)(VEC)
    assert len(seen) == 1 and seen[0] is VEC


def pairs(rows, dtype=np.float64, order="C"):
    return np.asarray(np.arange(rows * 2.0).reshape(rows, 2), dtype=dtype, order=order)


# What a replacement splitter hands back, and the decoders must arrange as it is.
FAKE_BLOCKS = {
    "float32": lambda: [(1.0, pairs(2, np.float32)), (2.0, pairs(3))],
    "fortran-single": lambda: [(1.0, pairs(3, order="F"))],
    "lists": lambda: [[1.0, pairs(2)], [2.0, pairs(3)]],
    "nothing": lambda: (),
    "zero-width": lambda: [(1.0, np.zeros((3, 0))), (2.0, pairs(2))],
    "three-items": lambda: [(1.0, pairs(2), 0), (2.0, pairs(3), 0)],
    "not-iterable": lambda: [5, 6],
    "iterator": lambda: iter([(1.0, pairs(2))]),
    "wide": lambda: [(1.0, pairs(2).T), (2.0, pairs(2))],
    "hollow": lambda: Hollow([(1.0, pairs(2)), (2.0, pairs(3))]),
    "stop-iteration": lambda: [(0.0, pairs(3)), (1.0, RowsRaise(StopIteration)), (2.0, pairs(2))],
    "tuple-own-iter": lambda: [OwnIter((1.0, pairs(2))), OwnIter((2.0, pairs(3)))],
}


class OwnIter(tuple):
    """A block whose unpacking, which iterates, gives other pairs than indexing."""

    def __iter__(self):
        return iter((self[0], self[1] + 100))


class Hollow(list):
    """Truthy, with a length, but iterating to nothing."""

    def __iter__(self):
        return iter(())

    def __len__(self):
        return 2


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS[1:])
@pytest.mark.parametrize("make", FAKE_BLOCKS.values(), ids=FAKE_BLOCKS.keys())
def test_decoders_arrange_whatever_the_splitter_returns(binary, oracle, rebind, name, make):
    rebind("_split_vector_blocks", lambda: lambda vec: make())
    _, error = same_as_reference(binary, oracle, name, VEC)
    # An error while a block is unpacked is the decoder's own statement's:
    # the traceback shows no frame of the code that unpacks it.
    frames = traceback.extract_tb(error.__traceback__) if error else []
    assert "<pykora>" not in {frame.filename for frame in frames}


@pytest.mark.parametrize("name", ["kora_read_binary_file", *VECTOR_FUNCTIONS[1:]])
def test_native_routes_build_nothing_on_the_side(binary, tmp_path, name):
    """With nothing rebound, the file is read straight into the array and the
    blocks are laid out without Python objects of their own: a guard that
    wrongly fails shows as the module-level route's megabytes."""
    vec = np.tile([1.0, 1.0, 0.5, 2.0], 20_000)
    path = tmp_path / "f.dat"
    vec.tofile(path)
    arg = path if name == "kora_read_binary_file" else vec
    assert transient_bytes(getattr(binary, name), arg) < 64 * 1024


def test_rebound_path_class_is_used(binary, oracle, rebind, write_file):
    served = np.array([2.5, -0.0, np.inf])

    class ServedPath(type(pathlib.Path())):
        def read_bytes(self):
            return served.tobytes()

    rebind("Path", lambda: ServedPath)
    path = write_file(np.float64(1.0).tobytes())
    got, _ = same_as_reference(binary, oracle, "kora_read_binary_file", path)
    assert got.tobytes() == served.tobytes()


def test_rebound_byte_order_is_used(binary, oracle, rebind, write_file):
    values = np.array([1.5, -2.0, np.nan, 1e-310])
    rebind("_F8_LE", lambda: ">f8")
    path = write_file(values.astype(">f8").tobytes())
    got, _ = same_as_reference(binary, oracle, "kora_read_binary_file", path)
    assert got.dtype.str == ">f8"
    np.testing.assert_array_equal(got, values)


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
def test_patched_numpy_function_is_seen(binary, oracle, monkeypatch, name):
    calls, full, native_calls = [], np.full, []
    monkeypatch.setattr(np, "full", lambda *args, **kw: calls.append(args) or full(*args, **kw))
    for vec in SMALL_VECTORS:
        del calls[:]
        got = outcome(getattr(binary, name), vec)
        native_calls += calls
        assert_same_outcome(name, got, outcome(getattr(oracle, name), vec))
        assert calls[: len(calls) // 2] == calls[len(calls) // 2 :]
    assert ((3,), np.nan) in native_calls


@pytest.mark.parametrize("where", ["module", "builtins"])
def test_rebound_round_is_used(binary, oracle, rebind, monkeypatch, where):
    if where == "module":
        rebind("round", lambda: math.ceil)
    else:
        monkeypatch.setattr(builtins, "round", math.ceil)
    for name in VECTOR_FUNCTIONS:
        same_as_reference(binary, oracle, name, [1, 1.2, 5, 6, 7, 8, 2, 0.4, 9, 10])
    assert len(binary._split_vector_blocks([1, 0.4, 5, 6])[0][1]) == 1


class RowsRaise:
    """Pairs whose row count raises `error`; with `error` None, asking for it
    asks the row-count iterator for its next value instead."""

    size = 0
    current = None  # the iterator the rebound max is consuming

    def __init__(self, error):
        self.error = error

    @property
    def shape(self):
        if self.error is None:
            return (next(RowsRaise.current),)
        raise self.error


# What a replacement splitter hands back when max() is rebound too.
MAX_BLOCKS = {
    # max() never asks for a value: no shape is read, not even the bad one.
    "never-asked": lambda: [(1.0, np.zeros((0, 2))), (2.0,)],
    "plain": lambda: [(1.0, pairs(2)), (2.0, pairs(3))],
    "stop-iteration": lambda: [(0.0, pairs(3)), (1.0, RowsRaise(StopIteration)), (2.0, pairs(2))],
    "value-error": lambda: [(0.0, pairs(3)), (1.0, RowsRaise(ValueError("x"))), (2.0, pairs(2))],
    "re-entrant": lambda: [(0.0, pairs(3)), (1.0, RowsRaise(None)), (2.0, pairs(2))],
}


@pytest.mark.parametrize("make", MAX_BLOCKS.values(), ids=MAX_BLOCKS.keys())
def test_rebound_max_gets_a_generator(binary, oracle, rebind, make):
    seen = []

    def make_max():
        def first_only(values):
            RowsRaise.current = values
            seen.append((type(values), values.__qualname__, values.__name__))
            got = [next(values, "end")]
            while got[-1] != "end":  # after an error, a generator is finished
                try:
                    got.append(next(values, "end"))
                except Exception as exc:
                    got.append(repr(exc))
            seen.append(got)
            return 3

        return first_only

    rebind("max", make_max)
    rebind("_split_vector_blocks", lambda: lambda vec: make())
    same_as_reference(binary, oracle, "kora_interpret_vector", [0])
    assert seen[: len(seen) // 2] == seen[len(seen) // 2 :]
    assert seen[0][:2] == (type(x for x in ()), "kora_interpret_vector.<locals>.<genexpr>")


class CountingInt(int):
    """An int whose additions are logged, as a rebound `int` makes them. Its
    products stay CountingInts, so that block positions become ones too."""

    log = []

    def __add__(self, other):
        CountingInt.log.append(("add", int(self), int(other)))
        return CountingInt(int(self) + int(other))

    def __mul__(self, other):
        return CountingInt(int(self) * int(other))

    __radd__, __rmul__ = __add__, __mul__


@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
def test_rebound_int_sees_every_addition(binary, oracle, rebind, name):
    rebind("int", lambda: CountingInt)
    logs = []
    for module in (binary, oracle):
        CountingInt.log = []
        outcome(getattr(module, name), VEC)
        logs.append(CountingInt.log)
    assert logs[0] == logs[1] and logs[0]


SNAN = np.array([0x7FF0000000000001], "<u8").view("<f8")[0]


@pytest.mark.parametrize("mode", ["default", "errstate-raise", "warnings-error", "quiet-nan"])
@pytest.mark.parametrize("name", VECTOR_FUNCTIONS)
def test_signalling_nan_count_is_rounded_by_numpy(binary, oracle, name, mode):
    count = np.nan if mode == "quiet-nan" else SNAN
    results = []
    for module in (binary, oracle):
        with (
            warnings.catch_warnings(record=True) as caught,
            np.errstate(invalid="raise" if mode == "errstate-raise" else "warn"),
        ):
            warnings.simplefilter("error" if mode == "warnings-error" else "always")
            got = outcome(getattr(module, name), np.array([1.0, 2.0, 5, 6, 7, 8, 3.0, count]))
        results.append((got, [(w.category, str(w.message)) for w in caught]))
    (native, native_warnings), (plain, plain_warnings) = results
    assert_same_outcome(name, native, plain)
    assert native_warnings == plain_warnings
    assert (native_warnings != []) == (mode == "default")


# Every name the module-level code of a function looks up, rebound to a
# stand-in that records its use or changes the result: the native function
# must see each rebinding as its plain-Python twin does. A native route whose
# guard forgets a name it depends on fails here.

# Attributes of arrays and lists: their types' own, which nobody can rebind.
MODULE = reference_binary
INTRINSIC = {(".append",), (".ravel",), (".reshape",), (".size",), (".shape",), (".copy",)}
NAN_WITH_PAYLOAD = np.array([0x7FF8000000000123], "<u8").view("<f8")[0]


def in_modules(name, make):
    def apply(recorder, monkeypatch, modules, where):
        if where == "builtins":
            monkeypatch.setattr(builtins, name, make(recorder, None))
            return
        for module in modules:
            monkeypatch.setattr(module, name, make(recorder, module), raising=False)

    return apply


def on(owner, attribute, make):
    def apply(recorder, monkeypatch, modules, where):
        monkeypatch.setattr(owner, attribute, make(recorder, getattr(owner, attribute)))

    return apply


def recorded_builtin(name):
    return in_modules(name, lambda rec, module: rec.wrap(name, getattr(builtins, name)))


def recorded_numpy(name):
    return on(np, name, lambda rec, original: rec.wrap(name, original))


def recording_path(recorder, module):
    class RecordingPath(type(pathlib.Path())):
        def exists(self, *args, **kwargs):
            recorder.log.append("exists")
            return super().exists(*args, **kwargs)

        def read_bytes(self):
            recorder.log.append("read_bytes")
            return super().read_bytes()

    return RecordingPath


class RecordedNumpy:
    def __init__(self, recorder):
        self.recorder = recorder

    def __getattr__(self, name):
        self.recorder.log.append(name)
        return getattr(np, name)


REBINDINGS = {
    ("np",): in_modules("np", lambda rec, module: RecordedNumpy(rec)),
    **{("np", name): recorded_numpy(name) for name in
       ("asarray", "concatenate", "full", "zeros", "empty", "frombuffer")},
    ("np", "float64"): on(np, "float64", lambda rec, original: np.float32),
    ("np", "nan"): on(np, "nan", lambda rec, original: NAN_WITH_PAYLOAD),
    **{(name,): recorded_builtin(name) for name in ("round", "int", "max", "len", "enumerate")},
    ("_split_vector_blocks",): in_modules(
        "_split_vector_blocks", lambda rec, module: rec.wrap("split", module._split_vector_blocks)
    ),
    ("Path",): in_modules("Path", recording_path),
    ("_F8_LE",): in_modules("_F8_LE", lambda rec, module: ">f8"),
    (".exists",): on(pathlib.Path, "exists", lambda rec, original: rec.wrap("exists", original)),
    (".read_bytes",): on(
        pathlib.Path, "read_bytes", lambda rec, original: rec.wrap("read_bytes", original)
    ),
}  # fmt: skip

FUNCTIONS = (*VECTOR_FUNCTIONS, "kora_read_binary_file")
DEPENDENCIES = [
    pytest.param(name, dependency, where, id=f"{name}-{'.'.join(dependency)}-{where}")
    for name in FUNCTIONS
    for dependency in sorted(dependencies(reference_binary, name) - INTRINSIC)
    # Rebinding a builtin for the whole process is safe for round alone: the
    # test machinery itself calls int, len, max and enumerate.
    for where in (["module", "builtins"] if dependency == ("round",) else ["module"])
]


@pytest.mark.parametrize("name, dependency, where", DEPENDENCIES)
def test_every_name_looked_up_is_seen(binary, oracle, monkeypatch, write_file, name, dependency,
                                      where):  # fmt: skip
    if name == "kora_read_binary_file":
        values = np.array([1.5, -2.0, np.nan], "<f8").tobytes()
        inputs = [write_file(values), write_file(b""), write_file(b"\0" * 12), "missing.dat"]
    else:
        inputs = SMALL_VECTORS + [np.array(VEC, dtype=float)]
    unrebound = [outcome(getattr(oracle, name), arg) for arg in inputs]
    recorder = Recorder()
    REBINDINGS[dependency](recorder, monkeypatch, (binary, oracle), where)
    seen = False
    for arg, before in zip(inputs, unrebound, strict=True):
        logs, outcomes = [], []
        for module in (binary, oracle):
            recorder.log = []
            outcomes.append(outcome(getattr(module, name), arg))
            logs.append(recorder.log)
        assert_same_outcome(name, *outcomes)
        assert logs[0] == logs[1], arg
        seen = seen or bool(logs[1]) or not same_outcome(name, outcomes[1], before)
    # A name that only a called function looks up may go unused by these calls.
    direct = dependency in direct_dependencies(MODULE, name)
    assert seen or not direct, "the rebinding changed nothing the test can observe"


def same_outcome(name, got, want):
    try:
        assert_same_outcome(name, got, want)
    except AssertionError:
        return False
    return True
