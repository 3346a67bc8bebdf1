"""Decode many result files at once: a plain loop, threads, processes and a Dask cluster.

Run by hand, from the checkout's top:
    python -m bench.bench_scaling [--files 1000] [--megabytes 1] [--workers 2] [--repeat 5]
                                  [--json FILE] [--no-dask]

The files are generated once into a temporary directory: each holds 64 marginal densities of
about 1,000 (x, y) pairs, as the engine writes them. Two jobs are timed per file:

* read: ``kora_read_binary_file`` alone, which reads without holding the GIL;
* decode: read, ``kora_interpret_vector_list``, and each marginal's mode (the x of its highest
  density), which is what travels back: 64 floats, not the arrays.

Each job runs with the files in the page cache ("warm", as just after the engine wrote them),
and "cold": before each round the files are dropped from the page cache
(``posix_fadvise(DONTNEED)``, file by file, so nothing else on the machine is evicted) and
read from the disk again.

Each job runs as a plain loop, on a thread pool, on a process pool, and on a Dask LocalCluster
of worker processes of one thread each, one task per file (``client.map``) and in one task per
batch of files (``dask.bag``). Each mode's pool or cluster is started before its clock starts
and closed before the next mode begins. Times are the best and the median of --repeat rounds;
"speedup" is the loop's best over the mode's best. The machine's load average is printed
before and after, as other work on it shifts every figure.
"""

import argparse
import contextlib
import json
import os
import platform
import statistics
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path

import numpy as np

from pykora.binary import kora_interpret_vector_list, kora_read_binary_file

MARGINALS_PER_FILE = 64


def read(path):
    return kora_read_binary_file(path).size


def decode(path):
    marginals = kora_interpret_vector_list(kora_read_binary_file(path))
    return [float(pairs[pairs[:, 1].argmax(), 0]) for pairs in marginals if len(pairs)]


JOBS = {"read": read, "decode": decode}


def write_files(target, n_files, megabytes, seed=2026):
    """n_files files of about `megabytes` MB each of MARGINALS_PER_FILE densities."""
    values = int(megabytes * 2**20) // 8
    pairs = (values // MARGINALS_PER_FILE - 2) // 2
    x = np.linspace(-4.0, 4.0, pairs)
    rng = np.random.default_rng(seed)
    paths = []
    for i in range(n_files):
        blocks = np.empty((MARGINALS_PER_FILE, 2 + 2 * pairs))
        centres = rng.normal(size=(MARGINALS_PER_FILE, 1))
        blocks[:, 0] = np.arange(1, MARGINALS_PER_FILE + 1)
        blocks[:, 1] = pairs
        blocks[:, 2::2] = x
        blocks[:, 3::2] = np.exp(-0.5 * (x - centres) ** 2) / np.sqrt(2 * np.pi)
        path = target / f"run{i:05d}.dat"
        blocks.astype("<f8").tofile(path)
        paths.append(str(path))
    return paths


def evict(paths):
    """Drops the files from the page cache, so that the next read goes to the disk."""
    for path in paths:
        fd = os.open(path, os.O_RDONLY)
        try:
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


@contextlib.contextmanager
def plain_loop(workers):
    yield lambda job, paths: [job(p) for p in paths]


@contextlib.contextmanager
def thread_pool(workers):
    with ThreadPoolExecutor(workers) as pool:
        yield lambda job, paths: list(pool.map(job, paths))


@contextlib.contextmanager
def process_pool(workers):
    with ProcessPoolExecutor(workers) as pool:
        # Batches of files, so that each round trip to a worker carries enough work.
        yield lambda job, paths: list(
            pool.map(job, paths, chunksize=max(1, len(paths) // (8 * workers)))
        )


@contextlib.contextmanager
def dask_cluster(workers):
    from dask.distributed import Client, LocalCluster

    with (
        LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0"
        ) as cluster,
        Client(cluster) as client,
    ):
        yield client


@contextlib.contextmanager
def dask_map(workers):
    with dask_cluster(workers) as client:
        yield lambda job, paths: client.gather(client.map(job, paths, pure=False))


@contextlib.contextmanager
def dask_bag(workers):
    import dask.bag

    with dask_cluster(workers):
        # A bag of 8 partitions per worker: one task per partition, not per file.
        yield (
            lambda job, paths: (
                dask.bag.from_sequence(paths, npartitions=8 * workers).map(job).compute()
            )
        )


MODES = {
    "loop": plain_loop,
    "thread pool": thread_pool,
    "process pool": process_pool,
    "Dask client.map": dask_map,
    "Dask bag": dask_bag,
}


def rounds(run, job, paths, repeat, cold):
    times = []
    for _ in range(repeat):
        if cold:
            evict(paths)
        start = time.perf_counter()
        run(job, paths)
        times.append(time.perf_counter() - start)
    return min(times), statistics.median(times)


def load():
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--megabytes", type=float, default=1.0, help="size of each file")
    parser.add_argument("--workers", type=int, default=2, help="threads, processes, Dask workers")
    parser.add_argument("--repeat", type=int, default=5, help="timing rounds per case")
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    parser.add_argument("--no-dask", action="store_true", help="leave the Dask cluster out")
    args = parser.parse_args()
    modes = {k: v for k, v in MODES.items() if not (args.no_dask and k.startswith("Dask"))}

    results = []
    with tempfile.TemporaryDirectory() as scratch:
        paths = write_files(Path(scratch), args.files, args.megabytes)
        os.sync()  # written back, so that eviction drops every page
        expected = {name: [job(p) for p in paths] for name, job in JOBS.items()}
        before = load()
        for mode, start_mode in modes.items():
            with start_mode(args.workers) as run:
                for name, job in JOBS.items():
                    if run(job, paths) != expected[name]:  # also warms the workers up
                        sys.exit(f"{mode} gave other results for {name}")
                    for cold in (False, True):
                        best, median = rounds(run, job, paths, args.repeat, cold)
                        results.append(
                            {
                                "job": name,
                                "cache": "cold" if cold else "warm",
                                "mode": mode,
                                "best": best,
                                "median": median,
                            }
                        )
    after = load()

    print(
        f"{args.files} files of {args.megabytes:g} MB, {args.workers} workers, "
        f"{os.cpu_count()} CPUs, best and median of {args.repeat} rounds"
    )
    print(f"{'job':7} {'cache':5} {'mode':16} {'best s':>7} {'median s':>8} {'speedup':>7}")
    for row in sorted(results, key=lambda r: (r["job"] != "read", r["cache"])):
        base = next(
            r["best"]
            for r in results
            if (r["job"], r["cache"], r["mode"]) == (row["job"], row["cache"], "loop")
        )
        row["speedup"] = base / row["best"]
        print(
            f"{row['job']:7} {row['cache']:5} {row['mode']:16} {row['best']:7.3f} "
            f"{row['median']:8.3f} {row['speedup']:6.2f}x"
        )
    print(f"load average (1, 5, 15 min) before: {before}, after: {after}")
    if args.json:
        summary = {
            "files": args.files,
            "megabytes": args.megabytes,
            "workers": args.workers,
            "cpus": os.cpu_count(),
            "repeat": args.repeat,
            "date": time.strftime("%Y-%m-%d"),
            "nice": os.nice(0),
            "python": platform.python_version(),
            "numpy": np.__version__,
            "load_before": before,
            "load_after": after,
            "results": results,
        }
        Path(args.json).write_text(json.dumps(summary, indent=1) + "\n")


if __name__ == "__main__":
    main()
