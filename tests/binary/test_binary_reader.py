"""kora_read_binary_file: float64 stream files into arrays."""

import io
import os
import pathlib
import shutil
import signal
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from contextlib import contextmanager, suppress

import numpy as np
import pytest

from tests.support.compare import assert_same_array, outcome, same_as_reference

# Signalling NaN, NaN with payload, +-inf, -0.0, subnormals, largest finite.
ODD_VALUES = np.array(
    [0x7FF0000000000001, 0xFFF8000000000123, 0x7FF0000000000000, 0xFFF0000000000000]
    + [1 << 63, 0x1, 0x000FFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF],
    dtype="<u8",
).tobytes()


def read_both(binary, oracle, path):
    return same_as_reference(binary, oracle, "kora_read_binary_file", path)


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


@contextmanager
def unprivileged():
    """Run as the user nobody while the tests run as root, so that file
    permissions apply to the reads in between."""
    if os.geteuid() != 0:
        yield
        return
    os.setegid(65534)
    os.seteuid(65534)
    try:
        yield
    finally:
        os.seteuid(0)
        os.setegid(0)


@pytest.fixture
def open_dir():
    """A directory that every user may enter, unlike pytest's tmp_path."""
    path = tempfile.mkdtemp(prefix="pykora-reader-")
    os.chmod(path, 0o755)
    yield pathlib.Path(path)
    shutil.rmtree(path)


@pytest.mark.parametrize(
    "payload",
    [b"", np.float64(2.5).tobytes(), ODD_VALUES, np.arange(1000.0).tobytes()],
    ids=["empty", "one-value", "odd-values", "thousand"],
)
def test_reads_values_bit_for_bit(binary, oracle, write_file, payload):
    got, _ = read_both(binary, oracle, write_file(payload))
    assert got.ndim == 1 and got.dtype == np.dtype("<f8") and got.dtype.isnative
    assert got.flags.writeable and got.flags.owndata
    assert got.tobytes() == payload


def test_missing_file_gives_none(binary, tmp_path):
    (tmp_path / "dangling").symlink_to(tmp_path / "nowhere")
    for name in ("absent.dat", "dangling", "no-dir/absent.dat"):
        assert binary.kora_read_binary_file(str(tmp_path / name)) is None
        assert binary.kora_read_binary_file(tmp_path / name) is None


@pytest.mark.parametrize("size", [1, 7, 12, 15])
def test_size_not_a_multiple_of_eight_raises(binary, oracle, write_file, size):
    _, error = read_both(binary, oracle, write_file(b"\x01" * size))
    assert isinstance(error, ValueError)


def test_path_forms_agree(binary, write_file, monkeypatch):
    path = write_file(ODD_VALUES, name="forms.dat")
    monkeypatch.chdir(os.path.dirname(path))
    location = type("Location", (), {"__fspath__": lambda self: path})()
    results = [binary.kora_read_binary_file(p) for p in (path, pathlib.Path(path))]
    results += [binary.kora_read_binary_file(p) for p in ("forms.dat", location)]
    for result in results:
        assert_same_array(result, results[0])
    assert not np.shares_memory(results[0], results[1])
    results[0][:] = 0
    assert pathlib.Path(path).read_bytes() == ODD_VALUES == results[1].tobytes()


def test_reader_errors_match_reference(binary, oracle, tmp_path):
    for path in (tmp_path, str(tmp_path), 42, None, b"bytes.dat", "/proc/self/mem"):
        read_both(binary, oracle, path)
    assert isinstance(outcome(binary.kora_read_binary_file, tmp_path)[1], IsADirectoryError)


def unreadable(directory):
    path = directory / "unreadable.dat"
    path.write_bytes(b"\0" * 8)
    path.chmod(0)
    return path


def test_unreadable_file_raises(binary, oracle, open_dir):
    path = unreadable(open_dir)
    with unprivileged():
        assert isinstance(read_both(binary, oracle, path)[1], PermissionError)


SYSFS = "/sys/kernel/mm/transparent_hugepage/enabled"  # stat says 4096 bytes, holds fewer


@pytest.mark.parametrize("case", ["directory", "permission-denied", "ragged", "short-read"])
def test_failed_reads_close_the_file(binary, open_dir, case):
    if case == "short-read" and not os.path.exists(SYSFS):
        pytest.skip(f"no {SYSFS}")
    path = {
        "directory": lambda: open_dir,
        "permission-denied": lambda: unreadable(open_dir),
        "ragged": lambda: open_dir / "ragged.dat",
        "short-read": lambda: SYSFS,
    }[case]()
    (open_dir / "ragged.dat").write_bytes(b"\0" * 12)
    before = open_descriptors()
    with unprivileged():
        for _ in range(8):
            assert outcome(binary.kora_read_binary_file, path)[1] is not None
    assert open_descriptors() == before


def test_device_pipe_and_sysfs_files(binary, oracle, tmp_path):
    assert binary.kora_read_binary_file("/dev/null").shape == (0,)
    sysfs = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size"  # stat says 4096 bytes
    if os.path.exists(sysfs):
        read_both(binary, oracle, sysfs)
    fifo = tmp_path / "stream"
    os.mkfifo(fifo)
    values = np.arange(70_000.0)  # more than a pipe holds at once
    writer = threading.Thread(target=fifo.write_bytes, args=(values.tobytes(),))
    writer.start()
    np.testing.assert_array_equal(binary.kora_read_binary_file(fifo), values)
    writer.join()


@pytest.mark.parametrize("handler_raises", [False, True])
def test_signal_during_read(binary, tmp_path, handler_raises):
    fifo, reader, caught = tmp_path / "slow", threading.get_ident(), []
    os.mkfifo(fifo)

    def handler(signum, frame):
        caught.append(signum)
        if handler_raises:
            raise InterruptedError("stop")

    def write_slowly():
        with suppress(BrokenPipeError), open(fifo, "wb", buffering=0) as f:
            f.write(np.float64(1.5).tobytes())
            time.sleep(0.2)
            signal.pthread_kill(reader, signal.SIGUSR1)
            time.sleep(0.2)
            f.write(np.float64(2.5).tobytes())

    previous = signal.signal(signal.SIGUSR1, handler)
    before = open_descriptors()
    writer = threading.Thread(target=write_slowly)
    writer.start()
    try:
        got, error = outcome(binary.kora_read_binary_file, fifo)
    finally:
        writer.join()
        signal.signal(signal.SIGUSR1, previous)
    assert caught == [signal.SIGUSR1]
    assert open_descriptors() == before
    if handler_raises:
        assert isinstance(error, InterruptedError) and str(error) == "stop"
    else:
        np.testing.assert_array_equal(got, [1.5, 2.5])


def test_large_file(binary, tmp_path):
    path = tmp_path / "large.dat"
    path.write_bytes(np.random.default_rng(3).bytes(6 * 1024 * 1024 + 8))
    assert binary.kora_read_binary_file(path).tobytes() == path.read_bytes()


def test_file_vanishing_after_the_existence_test(binary, write_file, monkeypatch):
    path, checked = write_file(b"\0" * 16), []

    def exists_then_vanish(self):
        checked.append(str(self))
        os.remove(self)
        return True

    monkeypatch.setattr(pathlib.Path, "exists", exists_then_vanish)
    with pytest.raises(FileNotFoundError) as caught:
        binary.kora_read_binary_file(path)
    assert checked == [path] and caught.value.filename == path


def test_concurrent_reads(binary, write_file):
    arrays = [np.random.default_rng(k).normal(size=k * 997) for k in range(48)]
    paths = [write_file(a.tobytes()) for a in arrays]
    with ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(binary.kora_read_binary_file, paths * 4))
    for k, result in enumerate(results):
        assert result.tobytes() == arrays[k % len(arrays)].tobytes()


def test_read_goes_through_io_open(binary, oracle, write_file, monkeypatch):
    path, opened, real_open = write_file(b"\0" * 8), [], io.open

    def recording_open(file, *args, **kwargs):
        opened.append(os.fspath(file))
        return real_open(file, *args, **kwargs)

    monkeypatch.setattr(io, "open", recording_open)
    oracle.kora_read_binary_file(path)
    binary.kora_read_binary_file(path)
    assert opened == [path, path]
