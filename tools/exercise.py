"""Calls every public and private function of the native modules on its
success and error paths. Shared by the leak check and the valgrind run.

Each case is (name, callable, inputs): the callable runs one call and
swallows the exception the case expects; `inputs` are the objects whose
reference counts must not change.
"""

import os
import tempfile
import warnings
from contextlib import contextmanager

import numpy as np

import pykora._layout as layout
import pykora._text as text
import pykora.binary as binary
import pykora.options as options

_TMP = tempfile.mkdtemp(prefix="pykora-exercise-")
os.chmod(_TMP, 0o755)  # so that the unprivileged case can look inside
STREAM = os.path.join(_TMP, "stream.dat")
RAGGED = os.path.join(_TMP, "ragged.dat")
MISSING = os.path.join(_TMP, "missing.dat")
UNREADABLE = os.path.join(_TMP, "unreadable.dat")
# The file system says 4096 bytes; the file holds fewer, and not a multiple of 8.
SHORT = "/sys/kernel/mm/transparent_hugepage/enabled"
np.arange(64, dtype="<f8").tofile(STREAM)
with open(RAGGED, "wb") as f:
    f.write(b"\0" * 12)
with open(UNREADABLE, "wb") as f:
    f.write(b"\0" * 8)
os.chmod(UNREADABLE, 0)

VECTOR = np.array([1, 2, 0.1, 10, 0.5, 20, 2, 3, 1, 2, 3], dtype=np.float64)
VECTOR_LIST = [1, 1, 0.5, 3, 2, 0, 3, 2, 0.1, 1, 0.9, 2]
NAN_COUNT = [1.0, float("nan"), 2.0]
INF_COUNT = [1.0, float("inf"), 2.0]
# Blocks across several of the layout's scanning windows, the last one cut short.
LONG_VECTOR = np.concatenate([np.tile(VECTOR[:6], 30_000), [7, 1e9, 0.5]])
STORED_VALUE = object()
# Blocks as a rebound splitter may hand them back: lists, which the decoders
# unpack through the interpreter rather than as tuples.
LIST_BLOCKS = [[1.0, np.arange(4.0).reshape(2, 2)], [2.0, np.arange(6.0).reshape(3, 2)]]


# The layout of VECTOR for the text writers: blocks of 2 pairs and of 3, the last cut short.
TEXT_LAYOUT = layout.block_layout(VECTOR)


def expect(error, function, *args, **kwargs):
    def run():
        try:
            function(*args, **kwargs)
        except error:
            return
        raise AssertionError(f"{function.__name__} did not raise {error.__name__}")

    return run


def once(function, *args, **kwargs):
    return lambda: function(*args, **kwargs)


@contextmanager
def _unprivileged():
    """As the user nobody while running as root, so that permissions apply."""
    if os.geteuid() != 0:
        yield
        return
    os.seteuid(65534)
    try:
        yield
    finally:
        os.seteuid(0)


def _denied():
    with _unprivileged():
        expect(PermissionError, binary.kora_read_binary_file, UNREADABLE)()


def _set_quietly():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        options.kora_set_option(**{"malloc.lib": "unknown-lib"})
        options.kora_set_option("malloc.lib", "mi")


class _ProxyNumpy:
    """NumPy behind another object: sends the decoders along their module-level route."""

    def __getattr__(self, name):
        return getattr(np, name)


_PROXY = _ProxyNumpy()
SNAN_COUNT = np.array([1.0, 0x7FF0000000000001], "<u8").view("<f8")
SNAN_COUNT[0] = 1.0


def module_level(function, vec, **rebound):
    """One call of `function` with module globals rebound (np by default)."""
    rebound = rebound or {"np": _PROXY}

    def run():
        saved = {name: binary.__dict__.get(name) for name in rebound}
        binary.__dict__.update(rebound)
        try:
            function(vec)
        finally:
            for name, value in saved.items():
                if value is None:
                    del binary.__dict__[name]
                else:
                    binary.__dict__[name] = value

    return run


class _FloatCpuOs:
    """`os` with a CPU count that is not an int, as a rebound os.cpu_count may give."""

    path = os.path

    @staticmethod
    def cpu_count():
        return 8.0


def _with_float_cpu_count(function):
    def run():
        options.os = _FloatCpuOs
        try:
            function()
        finally:
            options.os = os

    return run


def _quiet(run):
    def quiet():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                run()
            except ValueError:
                pass

    return quiet


@contextmanager
def _small_chunks():
    """Chunks of a few bytes, so that a writer fills and hands out many."""
    saved, text.CHUNK_BYTES = text.CHUNK_BYTES, 7
    try:
        yield
    finally:
        text.CHUNK_BYTES = saved


def drained(writer, *args, threads=2):
    """A writer's chunks, all of them; on two threads (the default), its text is cut into
    parts of a few bytes that a second thread formats ahead."""

    def run():
        saved, text.THREADS = text.THREADS, threads
        try:
            with _small_chunks():
                chunks = writer(*args)
        finally:
            text.THREADS = saved
        for _ in chunks:
            pass

    return run


def _dropped_while_written():
    """A writer left after its first chunk: its arrays, state and buffer go with it."""
    with _small_chunks():
        chunks = text.marginals_json(VECTOR, TEXT_LAYOUT)
    next(chunks)


def _changed_while_written():
    starts = TEXT_LAYOUT[0].copy()
    with _small_chunks():
        chunks = text.marginals_csv(VECTOR, (starts, *TEXT_LAYOUT[1:]))
    next(chunks)
    starts[:] = 99
    expect(ValueError, list, chunks)()


CASES = [
    ("split module-level", module_level(binary._split_vector_blocks, VECTOR), [VECTOR]),
    ("dense module-level", module_level(binary.kora_interpret_vector, VECTOR), [VECTOR]),
    ("marginals module-lvl", module_level(binary.kora_interpret_vector_list, VECTOR), [VECTOR]),
    ("dense rebound max", module_level(binary.kora_interpret_vector, VECTOR, max=max), [VECTOR]),
    *(
        (
            name,
            module_level(decoder, VECTOR, _split_vector_blocks=lambda vec: LIST_BLOCKS),
            [LIST_BLOCKS[0][1], LIST_BLOCKS[1][1]],
        )
        for name, decoder in [
            ("dense list blocks", binary.kora_interpret_vector),
            ("marginals list blocks", binary.kora_interpret_vector_list),
        ]
    ),
    ("split snan", _quiet(once(binary._split_vector_blocks, SNAN_COUNT)), [SNAN_COUNT]),
    ("signature", once(getattr, binary.kora_interpret_vector, "__signature__"), []),
    ("read", once(binary.kora_read_binary_file, STREAM), [STREAM]),
    ("read missing", once(binary.kora_read_binary_file, MISSING), [MISSING]),
    ("read ragged", expect(ValueError, binary.kora_read_binary_file, RAGGED), [RAGGED]),
    ("read directory", expect(OSError, binary.kora_read_binary_file, _TMP), [_TMP]),
    ("read denied", _denied, [UNREADABLE]),
    *(
        [("read short", expect(ValueError, binary.kora_read_binary_file, SHORT), [SHORT])]
        if os.path.exists(SHORT)
        else []
    ),
    ("split array", once(binary._split_vector_blocks, VECTOR), [VECTOR]),
    ("split list", once(binary._split_vector_blocks, VECTOR_LIST), [VECTOR_LIST]),
    ("split nan", expect(ValueError, binary._split_vector_blocks, NAN_COUNT), [NAN_COUNT]),
    ("dense", once(binary.kora_interpret_vector, VECTOR), [VECTOR]),
    ("dense list", once(binary.kora_interpret_vector, VECTOR_LIST), [VECTOR_LIST]),
    ("dense nan", expect(ValueError, binary.kora_interpret_vector, NAN_COUNT), [NAN_COUNT]),
    ("marginals", once(binary.kora_interpret_vector_list, VECTOR), [VECTOR]),
    ("marginals nan", expect(ValueError, binary.kora_interpret_vector_list, NAN_COUNT), []),
    ("bad arguments", expect(TypeError, binary.kora_interpret_vector, VECTOR, x=1), [VECTOR]),
    ("two arguments", expect(TypeError, binary._split_vector_blocks, VECTOR, VECTOR), [VECTOR]),
    ("layout", once(layout.block_layout, VECTOR), [VECTOR]),
    ("layout list", once(layout.block_layout, VECTOR_LIST), [VECTOR_LIST]),
    ("layout windows", once(layout.block_layout, LONG_VECTOR), [LONG_VECTOR]),
    ("layout nan", expect(ValueError, layout.block_layout, NAN_COUNT), [NAN_COUNT]),
    ("layout inf", expect(OverflowError, layout.block_layout, INF_COUNT), [INF_COUNT]),
    ("layout unconvertible", expect(ValueError, layout.block_layout, ["x"]), []),
    ("summary", once(layout.block_summary, VECTOR), [VECTOR]),
    ("summary list", once(layout.block_summary, VECTOR_LIST), [VECTOR_LIST]),
    ("text raw csv", drained(text.raw_csv, VECTOR, "\u00e9,"), [VECTOR]),
    ("text raw json", drained(text.raw_json, VECTOR_LIST), [VECTOR_LIST]),
    ("text marginals csv", drained(text.marginals_csv, VECTOR, TEXT_LAYOUT, [1, 0]), [VECTOR]),
    ("text marginals json", drained(text.marginals_json, VECTOR, TEXT_LAYOUT, None, 2), [VECTOR]),
    ("text matrix csv", drained(text.matrix_csv, VECTOR, TEXT_LAYOUT), [VECTOR]),
    ("text matrix json", drained(text.matrix_json, VECTOR, TEXT_LAYOUT, [3, 0]), [VECTOR]),
    ("text in turn", drained(text.marginals_csv, VECTOR, TEXT_LAYOUT, threads=1), [VECTOR]),
    ("text table widths", once(text.table_widths, VECTOR, TEXT_LAYOUT, None, range(4), 3), []),
    ("text raw widths", once(text.table_widths, VECTOR, None, None, range(9)), [VECTOR]),
    (
        "text table rows",
        drained(text.table_rows, VECTOR, TEXT_LAYOUT, [0, 3], range(3), 6, [4, 9], 5, [1, 2]),
        [VECTOR],
    ),
    ("text marginals table", drained(text.marginals_table, VECTOR, TEXT_LAYOUT, None, 4), []),
    ("text block names", once(text.block_names, [0, 3], VECTOR[:2]), [VECTOR]),
    ("text column names", once(text.column_names, 3, [0, 5, 6]), []),
    ("text aligned names", once(text.aligned_column_names, 3, [0, 5], [4, 2]), []),
    (
        "text bad names",
        expect(ValueError, text.aligned_column_names, 2, [0, 5], [1, 1]),
        [],
    ),
    (
        "text bad widths",
        expect(ValueError, text.table_rows, VECTOR, None, None, range(2), 6, [1, 2], 3),
        [VECTOR],
    ),
    ("text dropped", _dropped_while_written, []),
    ("text changed", _changed_while_written, []),
    ("text bad block", expect(IndexError, text.marginals_csv, VECTOR, TEXT_LAYOUT, [5]), []),
    ("text bad layout", expect(ValueError, text.matrix_json, VECTOR[:3], TEXT_LAYOUT), []),
    ("text bad prefix", expect(TypeError, text.raw_csv, VECTOR, 5), [VECTOR]),
    ("text bad level", expect(ValueError, text.matrix_json, VECTOR, TEXT_LAYOUT, None, -1), []),
    ("text cells", once(text.cells, VECTOR, 6), [VECTOR]),
    ("text cells repr", once(text.cells, VECTOR_LIST), [VECTOR_LIST]),
    ("text column values", once(text.column_values, VECTOR, TEXT_LAYOUT, None, range(3)), []),
    (
        "text negative row",
        expect(IndexError, text.column_values, VECTOR, TEXT_LAYOUT, [0], range(-1, 0)),
        [VECTOR],
    ),
    ("defaults", once(options.kora_get_option_default), []),
    ("cpu default", once(options._cpu_default_string), []),
    ("cpu default float", _with_float_cpu_count(options._cpu_default_string), []),
    ("get one", once(options.kora_get_option, "keep"), []),
    ("get list", once(options.kora_get_option, ["keep", "debug", "kora.call"]), []),
    ("get all", once(options.kora_get_option), []),
    ("get unknown", expect(KeyError, options.kora_get_option, ["keep", "nope"]), []),
    ("braidwell", once(options.kora_enabled_Braidwell_features), []),
    ("set", once(options.kora_set_option, "kora.arg", STORED_VALUE), [STORED_VALUE]),
    ("set keywords", once(options.kora_set_option, keep=True, verbose=False), []),
    ("set unknown", expect(KeyError, options.kora_set_option, keep=True, nope=1), []),
    ("set bad form", expect(TypeError, options.kora_set_option, "keep"), []),
    ("set one wrong type", expect(TypeError, options._set_one, 5, STORED_VALUE), [STORED_VALUE]),
    ("set bad mode", expect(ValueError, options.kora_set_option, "kora.mode", "fast"), []),
    ("set mode back", once(options.kora_set_option, "kora.mode", "compact"), []),
    ("set with warning", _set_quietly, []),
    ("checks", once(options._post_set_checks), []),
]
