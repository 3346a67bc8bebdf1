"""Hostile input: every row ends in the reference's own exception or result, never a crash."""

import os
import pathlib
import threading
import warnings

import numpy as np
import pytest
import reference_binary
import reference_options
from binary_compare import assert_same_outcome, outcome, same_as_reference

import pykora.binary
import pykora.options


class Boom(Exception):
    pass


def raiser(*_args, **_kwargs):
    raise Boom("hostile")


def hostile(**methods):
    return type("Hostile", (), {name: raiser for name in methods})()


@pytest.mark.parametrize("count", [float("nan"), float("inf"), -float("inf"), 1e300, 2.0**62,
                                   -(2.0**62), 2.0**40])  # fmt: skip
@pytest.mark.parametrize("name", ["_split_vector_blocks", "kora_interpret_vector",
                                  "kora_interpret_vector_list"])  # fmt: skip
def test_hostile_counts(name, count):
    same_as_reference(pykora.binary, reference_binary, name, [1.0, 1.0, 2.0, 3.0, 4.0, count, 5.0])


class SequenceWithBadLen:
    def __getitem__(self, i):
        return 1.0

    def __len__(self):
        raise Boom("len")


@pytest.mark.parametrize("vec", [hostile(__array__=1), SequenceWithBadLen(), ["a", "b"],
                                 [[1.0, 2.0], [3.0]], object()])  # fmt: skip
@pytest.mark.parametrize("name", ["_split_vector_blocks", "kora_interpret_vector"])
def test_hostile_vectors(name, vec):
    same_as_reference(pykora.binary, reference_binary, name, vec)


def _file(tmp_path, size):
    path = tmp_path / "f.dat"
    path.write_bytes(bytes(range(256)) * (size // 256) + bytes(size % 256))
    return path


@pytest.mark.parametrize(
    "make",
    [
        lambda tmp: _file(tmp, 1),
        lambda tmp: _file(tmp, 7),
        lambda tmp: _file(tmp, 2**20 + 3),
        lambda tmp: tmp,
        lambda tmp: (tmp / "link").symlink_to(tmp / "gone") or tmp / "link",
        lambda tmp: hostile(__fspath__=1),
        lambda tmp: "/proc/self/mem",  # opens, then the read fails with EIO
        lambda tmp: str(tmp / "nul\0byte"),
    ],
    ids=["1 byte", "7 bytes", "2**20+3 bytes", "directory", "dangling", "fspath", "eio", "nul"],
)
def test_hostile_files(tmp_path, make):
    path = make(tmp_path)
    assert_same_outcome(
        "kora_read_binary_file",
        outcome(pykora.binary.kora_read_binary_file, path),
        outcome(reference_binary.kora_read_binary_file, path),
    )


@pytest.mark.parametrize("change", ["vanish", "shrink", "grow"])
def test_file_changing_after_the_existence_test(tmp_path, monkeypatch, change):
    path = tmp_path / "f.dat"
    real_exists = pathlib.Path.exists

    def exists(self):
        found = real_exists(self)
        path.write_bytes(np.arange(8.0).tobytes())
        if change == "vanish":
            path.unlink()
        elif change == "shrink":
            path.write_bytes(np.arange(2.0).tobytes())
        else:
            with path.open("ab") as f:
                f.write(np.arange(100.0).tobytes())
        return found

    monkeypatch.setattr(pathlib.Path, "exists", exists)
    for module in (pykora.binary, reference_binary):
        path.write_bytes(np.arange(8.0).tobytes())
        results = outcome(module.kora_read_binary_file, path)
        if module is pykora.binary:
            native = results
    assert_same_outcome("kora_read_binary_file", native, results)


def test_pipe_larger_than_its_reported_size(tmp_path):
    """A FIFO reports no size: everything written before the writer closes is read."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    payload = np.random.default_rng(1).random(50_000)
    writer = threading.Thread(target=lambda: fifo.write_bytes(payload.astype("<f8").tobytes()))
    writer.start()
    got = pykora.binary.kora_read_binary_file(fifo)
    writer.join()
    assert got.tobytes() == payload.tobytes()


class HashlessText(str):
    __hash__ = raiser


@pytest.mark.parametrize("call", [
    ("kora_get_option", ([[]],)), ("kora_get_option", ([hostile(__hash__=1)],)),
    ("kora_get_option", ([hostile(__str__=1, __hash__=object.__hash__)],)),
    ("kora_get_option", (HashlessText("keep"),)), ("kora_get_option", (hostile(__iter__=1),)),
    ("_set_one", (type("Text", (str,), {})("keep"), 1)), ("kora_set_option", ([], 1)),
    ("kora_set_option", (HashlessText("keep"), 1)),
])  # fmt: skip
def test_hostile_option_keys(call):
    name, args = call
    results = []
    for module in (pykora.options, reference_options):
        saved = dict(module._KORA_OPTIONS)
        results.append((outcome(getattr(module, name), *args), dict(module._KORA_OPTIONS)))
        module._KORA_OPTIONS.clear()
        module._KORA_OPTIONS.update(saved)
    (native, native_store), (plain, plain_store) = results
    assert (type(native[1]), str(native[1])) == (type(plain[1]), str(plain[1]))
    assert native[0] == plain[0] and native_store == plain_store


@pytest.mark.parametrize("value", ["/no/such/lib.so", "unknown-lib"])
def test_warnings_turned_into_errors(value):
    results = []
    for module in (pykora.options, reference_options):
        saved = dict(module._KORA_OPTIONS)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            got = outcome(module.kora_set_option, "malloc.lib", value)
        results.append((type(got[1]), str(got[1]), dict(module._KORA_OPTIONS)))
        module._KORA_OPTIONS.clear()
        module._KORA_OPTIONS.update(saved)
    assert results[0] == results[1]
    assert results[0][0] is UserWarning and results[0][2]["malloc.lib"] == value
