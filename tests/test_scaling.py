"""Decoding many files at once: from a thread pool, a process pool and a Dask cluster of worker
processes, with the same results as one loop in this process, and options that each process
keeps for itself."""

import importlib.util
import os
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import numpy as np
import pytest

from pykora.binary import kora_interpret_vector_list, kora_read_binary_file
from pykora.options import _KORA_OPTIONS, kora_get_option, kora_set_option

HAS_DASK = all(importlib.util.find_spec(m) is not None for m in ("dask", "distributed"))


@pytest.fixture(scope="module")
def result_files(tmp_path_factory):
    """300 result files of 0 to 6 marginals each, up to 100 kB, one of them empty, one missing."""
    where = tmp_path_factory.mktemp("many")
    rng = np.random.default_rng(27)
    paths = []
    for i in range(300):
        blocks = []
        for k in range(int(rng.integers(0, 7))):
            n = int(rng.integers(0, 1000))
            blocks += [[k + 1, n], rng.standard_normal(2 * n)]
        path = where / f"run{i:03d}.dat"
        np.concatenate(blocks or [[]]).astype("<f8").tofile(path)
        paths.append(str(path))
    paths.append(str(where / "missing.dat"))
    return paths


def decoded_here(paths):
    return [kora_interpret_vector_list(kora_read_binary_file(p)) for p in paths]


def assert_same(got, expected):
    assert len(got) == len(expected)
    for blocks, wanted in zip(got, expected, strict=True):
        if wanted is None:
            assert blocks is None
            continue
        assert len(blocks) == len(wanted)
        for a, b in zip(blocks, wanted, strict=True):
            assert a.dtype == np.float64 and a.shape == b.shape
            assert a.tobytes() == b.tobytes()


@pytest.mark.parametrize(
    "pool, workers, rounds", [(ThreadPoolExecutor, 8, 5), (ProcessPoolExecutor, 2, 1)]
)
def test_pools_decode_as_one_loop_does(result_files, pool, workers, rounds):
    """Threads read side by side without the GIL, each file several times over so that reads
    overlap; processes receive the functions pickled by name and send the arrays back."""
    paths = result_files * rounds
    with pool(workers) as running:
        read = list(running.map(kora_read_binary_file, paths, chunksize=16))
        got = list(running.map(kora_interpret_vector_list, read, chunksize=16))
    assert_same(got, decoded_here(paths))


@pytest.mark.skipif(not HAS_DASK, reason="dask and distributed are not installed")
def test_dask_cluster_decodes_and_keeps_options_per_worker(result_files):
    from dask.distributed import Client, LocalCluster

    with (
        LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0"
        ) as cluster,
        Client(cluster) as client,
    ):
        workers = set(client.run(os.getpid).values())
        assert len(workers) == 2 and os.getpid() not in workers, "two processes of their own"
        read = client.map(kora_read_binary_file, result_files)
        decoded = client.map(kora_interpret_vector_list, read)
        assert_same(client.gather(decoded), decoded_here(result_files))

        # Each worker process has a store of its own: a value set here stays here.
        saved = dict(_KORA_OPTIONS)
        try:
            kora_set_option("keep", True)
            assert list(client.run(kora_get_option, "keep").values()) == [False, False]
            client.run(kora_set_option, "keep", True)
            assert list(client.run(kora_get_option, "keep").values()) == [True, True]
            assert client.submit(kora_get_option, "keep", pure=False).result() is True
        finally:
            _KORA_OPTIONS.clear()
            _KORA_OPTIONS.update(saved)
