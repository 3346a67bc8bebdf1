"""The exactness check of pykora._text's float texts, run once by hand over as many values
as wanted: every value's repr() text and its format(v, ".{p}g") text, p from 1 to 17 in
turn, against Python's own, on every core, a million values at a time so that memory
stays flat.

    nice python -m tools.exactness_run [--values 1e9] [--workers 2] [--seed S]

The values are the bit patterns of tests/support/float_patterns.py, the same draws as
the suite's check, from a seed per million. Prints progress, the mismatches found (at
most a few per million) and the time taken.
"""

import argparse
import os
import time
from multiprocessing import Pool

import numpy as np

from pykora._text import cells
from tests.support.float_patterns import float_patterns
from tests.support.reference_text import mismatches, python_texts

BATCH = 1_000_000


def check_batch(task):
    """(values checked, mismatches) of batch ``index``: its values' repr texts, then its
    values' .{p}g texts with p = 1 + index % 17."""
    seed, index = task
    values = float_patterns(np.random.default_rng([seed, index]), BATCH)
    precision = 1 + index % 17
    found = mismatches(values, cells(values), python_texts(values))
    found += mismatches(values, cells(values, precision), python_texts(values, precision))
    return BATCH, [(index, precision, *m) for m in found]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--values", type=float, default=1e9)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    parser.add_argument("--seed", type=int, default=int.from_bytes(os.urandom(8), "little"))
    args = parser.parse_args()
    batches = int(-(-args.values // BATCH))
    print(f"seed {args.seed}: {batches} batches of {BATCH:,} values, {args.workers} workers")
    start, done, found = time.perf_counter(), 0, []
    with Pool(args.workers) as pool:
        tasks = ((args.seed, i) for i in range(batches))
        for count, bad in pool.imap_unordered(check_batch, tasks):
            done += count
            found += bad
            for mismatch in bad:
                print("MISMATCH (batch, precision, bits, ours, Python's):", mismatch, flush=True)
            if done % (50 * BATCH) == 0:
                elapsed = time.perf_counter() - start
                print(f"{done:,} values, {len(found)} mismatches, {elapsed:.0f} s", flush=True)
    elapsed = time.perf_counter() - start
    print(
        f"done: {done:,} values, each as repr and as .{{p}}g, {len(found)} mismatches, "
        f"{elapsed:.0f} s ({elapsed / 60:.1f} min)"
    )
    return 1 if found else 0


if __name__ == "__main__":
    raise SystemExit(main())
