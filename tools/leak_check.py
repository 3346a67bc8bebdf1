"""Calls every native function many times on its success and error paths and
checks that nothing leaks: reference counts of the inputs stay put, and
neither traced Python memory nor the process's resident size keeps growing.

    python tools/leak_check.py [--calls 100000]
"""

import argparse
import gc
import sys
import tracemalloc

from exercise import CASES


def rss_kib():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    return pages * 4


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=100_000)
    args = parser.parse_args()

    failures = 0
    print(f"{'case':22} {'calls':>8} {'refcounts':>10} {'traced KiB':>11} {'rss KiB':>9}")
    for name, run, inputs in CASES:
        # A first round, traced too, absorbs one-time growth (caches, the
        # interpreter's interned-string table); the second must stay flat.
        tracemalloc.start()
        for _ in range(args.calls):
            run()
        gc.collect()
        counts = [sys.getrefcount(x) for x in inputs]
        traced_before = tracemalloc.get_traced_memory()[0]
        rss_before = rss_kib()
        for _ in range(args.calls):
            run()
        gc.collect()
        traced_growth = (tracemalloc.get_traced_memory()[0] - traced_before) / 1024
        tracemalloc.stop()
        rss_growth = rss_kib() - rss_before
        counts_same = counts == [sys.getrefcount(x) for x in inputs]
        leaked = not counts_same or traced_growth > 64 or rss_growth > 4096
        failures += leaked
        print(
            f"{name:22} {args.calls:8d} {'same' if counts_same else 'CHANGED':>10} "
            f"{traced_growth:11.1f} {rss_growth:9d}{'  LEAK' if leaked else ''}"
        )
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
