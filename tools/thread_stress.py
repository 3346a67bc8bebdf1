"""Threads hammering both native modules at once, and reader scaling.

    python -m tools.thread_stress [--threads 8] [--seconds 5]

Each thread decodes random vectors (checked against the plain NumPy
reference), reads result files (checked against their contents) and sets
and reads options, at random, until time runs out. Then many files are read
from a thread pool with 1 and with all cores to show that reads overlap.
"""

import argparse
import os
import random
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import pykora.binary as binary
import pykora.options as options
from tests.support import reference_binary as reference

DECODERS = ("_split_vector_blocks", "kora_interpret_vector", "kora_interpret_vector_list")


def random_vector(rng):
    values = []
    for _ in range(rng.randrange(0, 6)):
        n = rng.choice([0, 1, 2, 3, 7, -1, 2.5])
        values += [rng.random(), n] + [rng.random() for _ in range(rng.randrange(0, 16))]
    return np.asarray(values, dtype=np.float64)


def same(a, b):
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, tuple):
        return same(list(a), list(b))
    if a is None or b is None:
        return a is b
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


def worker(seed, deadline, files, counts, errors):
    rng = random.Random(seed)
    done = 0
    while time.monotonic() < deadline:
        action = rng.randrange(3)
        try:
            if action == 0:
                vec = random_vector(rng)
                name = rng.choice(DECODERS)
                if not same(getattr(binary, name)(vec), getattr(reference, name)(vec)):
                    errors.append(f"{name} differs for {vec.tolist()}")
            elif action == 1:
                path, expected = rng.choice(files)
                if not same(binary.kora_read_binary_file(path), expected):
                    errors.append(f"read of {path} differs")
            else:
                value = rng.choice([True, False, 0, "x"])
                options.kora_set_option(keep=value)
                if options.kora_get_option("keep") not in (True, False, 0, "x"):
                    errors.append("unexpected option value")
                options.kora_get_option()
        except Exception as exc:  # every failure is a finding
            errors.append(repr(exc))
        done += 1
    counts.append(done)


def stress(threads, seconds, tmp):
    files = []
    for k in range(8):
        data = np.random.default_rng(k).random(1000 * (k + 1))
        path = os.path.join(tmp, f"stress{k}.dat")
        data.astype("<f8").tofile(path)
        files.append((path, data))
    deadline = time.monotonic() + seconds
    counts, errors = [], []
    pool = [
        threading.Thread(target=worker, args=(seed, deadline, files, counts, errors))
        for seed in range(threads)
    ]
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    print(f"{threads} threads, {seconds:g} s: {sum(counts)} operations, {len(errors)} errors")
    for e in errors[:10]:
        print("  ", e)
    return not errors


def reader_scaling(tmp, files=16, megabytes=32):
    paths = []
    for k in range(files):
        path = os.path.join(tmp, f"scale{k}.dat")
        np.full(megabytes * 131072, float(k)).tofile(path)
        paths.append(path)
    for p in paths:  # warm the page cache
        binary.kora_read_binary_file(p)
    timings = {}
    for workers in sorted({1, os.cpu_count() or 1}):
        with ThreadPoolExecutor(workers) as pool:
            best = float("inf")
            for _ in range(3):
                start = time.perf_counter()
                list(pool.map(binary.kora_read_binary_file, paths))
                best = min(best, time.perf_counter() - start)
        timings[workers] = best
        print(f"read {files} x {megabytes} MB with {workers} thread(s): {best * 1e3:.0f} ms")
    if len(timings) > 1:
        print(f"speed-up with {max(timings)} threads: {timings[1] / timings[max(timings)]:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=5)
    args = parser.parse_args()
    saved = dict(options._KORA_OPTIONS)
    with tempfile.TemporaryDirectory() as tmp:
        try:
            ok = stress(args.threads, args.seconds, tmp)
        finally:
            options._KORA_OPTIONS.clear()
            options._KORA_OPTIONS.update(saved)
        reader_scaling(tmp)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
