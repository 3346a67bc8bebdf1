"""Calls every native function many times on its success and error paths and
checks that nothing leaks: reference counts of the inputs, traced Python
memory, the process's resident size and its open file descriptors must not
grow with the number of calls.

    python -m tools.leak_check [--calls 100000] [--rounds 3] [--case NAME ...]

A leak costs something on every call, so it shows in every round of calls.
Growth that happens once (the interpreter resizing its interned-string table,
a cache filling up) lands in a single round, whichever round that is, and is
not a leak. A case is judged leaking when the same kind of growth shows in
every measured round: at least one reference per call, or one traced byte
per call, or 16 bytes of resident memory per call (native allocations that
tracemalloc does not see), and never less than 16 KiB a round. Descriptors
are not noisy: a case that leaves more than a handful open over all its
calls leaks them (a leak on every call soon reaches the process's limit,
after which the calls fail and the count stops growing, so rounds alone
would not show it).
"""

import argparse
import gc
import os
import sys
import tracemalloc

from tools.exercise import CASES

PAGE_KIB = 4
# The smallest block malloc hands out: a native allocation that leaks on
# every call grows the resident size at least this fast.
RSS_BYTES_PER_CALL = 16
# Measuring a round costs a few hundred traced bytes of its own, and the
# resident size moves by whole pages: growth below this is noise.
NOISE_FLOOR_BYTES = 16 * 1024
# Descriptors a case may leave open for good (a module it imports lazily).
FD_ALLOWANCE = 4


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE_KIB


def measure(run, inputs, calls):
    """One round: (refcount growth per input, traced bytes, resident KiB)."""
    gc.collect()
    counts = [sys.getrefcount(x) for x in inputs]
    traced = tracemalloc.get_traced_memory()[0]
    rss = rss_kib()
    for _ in range(calls):
        run()
    gc.collect()
    after = [sys.getrefcount(x) for x in inputs]
    return (
        [a - c for a, c in zip(after, counts, strict=True)],
        tracemalloc.get_traced_memory()[0] - traced,
        rss_kib() - rss,
    )


def leaks(rounds, calls):
    """Which kinds of growth show in every round: a subset of refs, traced, rss."""
    kinds = set()
    if all(any(d >= calls for d in refs) for refs, _, _ in rounds):
        kinds.add("refs")
    if all(traced >= max(calls, NOISE_FLOOR_BYTES) for _, traced, _ in rounds):
        kinds.add("traced")
    if all(
        rss * 1024 >= max(RSS_BYTES_PER_CALL * calls, NOISE_FLOOR_BYTES) for _, _, rss in rounds
    ):
        kinds.add("rss")
    return kinds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=100_000, help="calls per round")
    parser.add_argument("--rounds", type=int, default=3, help="measured rounds (at least 2)")
    parser.add_argument("--case", action="append", help="run only the cases of this name")
    args = parser.parse_args()
    if args.rounds < 2:
        parser.error("--rounds must be at least 2: growth in one round alone proves nothing")

    failures = 0
    header = ("case", "calls", "refs/round", "traced KiB/round", "rss KiB/round", "fds")
    print(
        f"{header[0]:22} {header[1]:>8}  {header[2]:>17} {header[3]:>24} {header[4]:>18}"
        f" {header[5]:>5}"
    )
    tracemalloc.start()
    for name, run, inputs in CASES:
        if args.case and name not in args.case:
            continue
        fds = open_fds()
        for _ in range(args.calls):  # warm-up: caches and one-time growth
            run()
        rounds = [measure(run, inputs, args.calls) for _ in range(args.rounds)]
        kinds = leaks(rounds, args.calls)
        fds = open_fds() - fds
        if fds > FD_ALLOWANCE:
            kinds.add("fds")
        failures += bool(kinds)
        refs = "/".join(str(max(r, default=0)) for r, _, _ in rounds)
        traced = "/".join(f"{t / 1024:.1f}" for _, t, _ in rounds)
        rss = "/".join(str(k) for _, _, k in rounds)
        verdict = f"  LEAK ({', '.join(sorted(kinds))})" if kinds else ""
        print(f"{name:22} {args.calls:8d}  {refs:>17} {traced:>24} {rss:>18} {fds:5d}{verdict}")
    tracemalloc.stop()
    print("leaks found" if failures else "no leaks")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
