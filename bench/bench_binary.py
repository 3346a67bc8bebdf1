"""Time pykora.binary against its plain NumPy twin, side by side in one process.

Run by hand, from the checkout's top:  python -m bench.bench_binary [--quick] [--repeat N]

Times are the best of --repeat runs of one call each. "speedup" is reference time divided by
native time. The file read is also compared with np.fromfile, and the peak memory of one read
is measured in a fresh child process for each implementation.
"""

import argparse
import json
import subprocess
import sys
import tempfile
import textwrap
import timeit
from pathlib import Path

import numpy as np

import pykora.binary
from tests.support import reference_binary

# The checkout's top, where children import tests.support from.
TOP = Path(__file__).resolve().parent.parent

DECODERS = ("kora_interpret_vector", "kora_interpret_vector_list", "_split_vector_blocks")

# A child that loads everything first, then reports how far one read raises its peak RSS (KiB).
# On Linux the peak is reset to the current RSS first, so that a higher peak reached while
# importing cannot hide the read; elsewhere the ru_maxrss delta is all there is.
PEAK_CHILD = """
import json, resource, sys
import numpy, pykora.binary
from tests.support import reference_binary
module = pykora.binary if {native!r} else reference_binary

def peak_kib():
    try:
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    except OSError:
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

try:
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
except OSError:
    pass
before = peak_kib()
values = module.kora_read_binary_file({path!r})
after = peak_kib()
print(json.dumps({{"kib": after - before, "n": int(values.size)}}))
"""


def best_seconds(call, repeat):
    return min(timeit.repeat(call, repeat=repeat, number=1))


def flattened(n_blocks, pairs, seed=0):
    """A flattened vector of n_blocks blocks of `pairs` (x, y) pairs each, as float64."""
    rng = np.random.default_rng(seed)
    out = np.empty((n_blocks, 2 + 2 * pairs))
    out[:, 0] = np.arange(n_blocks)
    out[:, 1] = pairs
    out[:, 2:] = rng.random((n_blocks, 2 * pairs))
    return out.ravel()


def peak_ratio(path, native, size):
    code = textwrap.dedent(PEAK_CHILD.format(native=native, path=str(path)))
    done = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd=TOP
    )
    report = json.loads(done.stdout)
    assert report["n"] * 8 == size
    return report["kib"] * 1024 / size


def fmt(seconds):
    if seconds >= 1:
        return f"{seconds:8.3f} s "
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds * 1e6:8.1f} us"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    parser.add_argument("--repeat", type=int, default=5, help="timing rounds; the best is kept")
    args = parser.parse_args()
    file_mb, many, long_pairs = (8, 2_000, 5_000) if args.quick else (256, 200_000, 500_000)

    rows = []

    def compare(label, name, arg, repeat=args.repeat):
        native = best_seconds(lambda: getattr(pykora.binary, name)(arg), repeat)
        reference = best_seconds(lambda: getattr(reference_binary, name)(arg), repeat)
        rows.append((label, fmt(native), fmt(reference), f"{reference / native:7.2f}x"))
        return native

    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "values.dat"
        size = file_mb * 1024 * 1024
        np.random.default_rng(1).random(size // 8).tofile(path)
        label = f"kora_read_binary_file, {file_mb} MB"
        native = compare(label, "kora_read_binary_file", str(path))
        fromfile = best_seconds(lambda: np.fromfile(path, dtype="<f8"), args.repeat)
        rows.append((f"  np.fromfile, {file_mb} MB", fmt(fromfile), "", ""))
        rows.append(("  native / np.fromfile", "", "", f"{native / fromfile:7.2f}x"))
        peaks = [peak_ratio(path, flag, size) for flag in (True, False)]
        rows.append(("  peak RSS growth / file size", f"{peaks[0]:8.2f}x", f"{peaks[1]:8.2f}x", ""))

    vec = flattened(many, 4)
    for name in DECODERS:
        compare(f"{name}, {many:,} blocks x 4 pairs", name, vec, max(2, args.repeat // 2))
    vec = flattened(8, long_pairs)
    for name in DECODERS:
        compare(f"{name}, 8 blocks x {long_pairs:,} pairs", name, vec)

    header = ("case", "native", "reference", "speedup")
    widths = [max(len(row[i]) for row in [header, *rows]) for i in range(4)]
    for row in [header, None, *rows]:
        if row is None:
            print("  ".join("-" * w for w in widths))
            continue
        print(
            "  ".join(
                cell.ljust(w) if i == 0 else cell.rjust(w)
                for i, (cell, w) in enumerate(zip(row, widths, strict=True))
            )
        )


if __name__ == "__main__":
    main()
