"""Time pykora.options against its plain-Python twin, side by side in one process.

Run by hand, from the checkout's top:  python -m bench.bench_options [--repeat N] [--number N]

Both modules get the same stand-in for ``os`` during the run, with a cheap cpu_count, so the
numbers show the cost of the options code rather than that of the CPU-count query.
"""

import argparse
import os
import sys
import timeit

import pykora.options
from tests.support import reference_options

CASES = [
    ('kora_get_option("keep")', lambda m: m.kora_get_option("keep"), 3.0),
    ('kora_set_option("keep", True)', lambda m: m.kora_set_option("keep", True), 3.0),
    ("kora_get_option()", lambda m: m.kora_get_option(), 1.5),
    (
        'kora_get_option(["keep", "debug", "num.threads"])',
        lambda m: m.kora_get_option(["keep", "debug", "num.threads"]),
        None,
    ),
    ("kora_get_option_default()", lambda m: m.kora_get_option_default(), None),
    ("kora_enabled_Braidwell_features()", lambda m: m.kora_enabled_Braidwell_features(), None),
]


class CheapOs:
    """Stands in for ``os`` in both modules: a constant CPU count and the real ``os.path``."""

    path = os.path

    @staticmethod
    def cpu_count():
        return 8


def best_ns(fn, mod, repeat, number):
    timer = timeit.Timer(lambda: fn(mod))
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timing rounds; the best is kept")
    parser.add_argument("--number", type=int, default=20000, help="calls per round")
    args = parser.parse_args()

    modules = (pykora.options, reference_options)
    saved = [(mod, mod.os, dict(mod._KORA_OPTIONS)) for mod in modules]
    for mod in modules:
        mod.os = CheapOs
    rows, missed = [], []
    try:
        for name, fn, target in CASES:
            native = best_ns(fn, pykora.options, args.repeat, args.number)
            plain = best_ns(fn, reference_options, args.repeat, args.number)
            ratio = plain / native
            rows.append((name, native, plain, ratio, target))
            if target is not None and ratio < target:
                missed.append(name)
    finally:
        for mod, real_os, store in saved:
            mod.os = real_os
            mod._KORA_OPTIONS.clear()
            mod._KORA_OPTIONS.update(store)

    width = max(len(r[0]) for r in rows)
    print(f"{'case':<{width}}  {'native ns':>10}  {'reference ns':>12}  {'speed-up':>8}  target")
    for name, native, plain, ratio, target in rows:
        goal = f">= {target:g}x" if target else "-"
        print(f"{name:<{width}}  {native:>10.0f}  {plain:>12.0f}  {ratio:>7.2f}x  {goal}")
    if missed:
        print("below target: " + ", ".join(missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
