"""Time python -m pykora on result files of real size and report each run's peak memory.

Run by hand, from the checkout's top:
    python -m bench.bench_cli [--only WORD] [--command CMD] [--timeout S]

The files are generated once into a temporary directory:

* big.dat: 50 MB, 6.25 million standard normal values. Read as a vector it
  is 2.26 million blocks, nearly all of zero to two pairs: the most blocks a
  file of that size can realistically hold.
* lying.dat: 32 bytes, [1, 1e7, 0.1, 10]: one block that declares ten million
  pairs, decoded as two values and NaN padding.

Each case runs in a fresh process. "seconds" is the wall time until the
command line exits, "peak MB" its peak RSS. "| head -5" cases read five lines
and close the pipe, as `| head -5` does. --command times another command line
in place of `python -m pykora`, e.g. an older checkout's, to compare.
"""

import argparse
import json
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np

# Runs one command, optionally reading only some lines of its output, and
# prints its wall time and peak RSS. The bench's own pages would count in the
# peak of a child forked from it straight away; this small parent has few.
MEASURE = """
import json, os, subprocess, sys, time
lines, cmd = int(sys.argv[1]), sys.argv[2:]
start = time.perf_counter()
proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
size = 0
if lines:
    for _ in range(lines):
        size += len(proc.stdout.readline())
    proc.stdout.close()
else:
    for chunk in iter(lambda: proc.stdout.read(1 << 20), b""):
        size += len(chunk)
_, status, usage = os.wait4(proc.pid, 0)
print(json.dumps({"seconds": time.perf_counter() - start, "peak_mb": usage.ru_maxrss / 1024,
                  "status": os.waitstatus_to_exitcode(status), "bytes": size}))
"""

# (name, arguments after the command, lines to read or 0 for all)
CASES = [
    ("show big.dat", ["show", "{big}"], 0),
    ("show big.dat --as matrix", ["show", "{big}", "--as", "matrix"], 0),
    ("show big.dat --as marginals", ["show", "{big}", "--as", "marginals"], 0),
    ("show big.dat | head -5", ["show", "{big}"], 5),
    ("show big.dat --format csv | head -5", ["show", "{big}", "--format", "csv"], 5),
    ("show big.dat --format csv", ["show", "{big}", "--format", "csv"], 0),
    ("show big.dat --all", ["show", "{big}", "--all"], 0),
    ("show lying.dat --as marginals", ["show", "{lying}", "--as", "marginals"], 0),
    ("plot big.dat (2.26 M blocks)", ["plot", "{big}", "-o", "{out}/big.png"], 0),
    ("plot big.dat --as matrix", ["plot", "{big}", "--as", "matrix", "-o", "{out}/m.png"], 0),
]


def write_files(target: Path) -> dict[str, str]:
    rng = np.random.default_rng(2026)
    rng.standard_normal(6_250_000).astype("<f8").tofile(target / "big.dat")
    np.array([1, 1e7, 0.1, 10], dtype="<f8").tofile(target / "lying.dat")
    return {"big": str(target / "big.dat"), "lying": str(target / "lying.dat"), "out": str(target)}


def measure(command: list[str], lines: int, timeout: float) -> dict[str, float] | None:
    try:
        done = subprocess.run(
            [sys.executable, "-c", MEASURE, str(lines), *command],
            capture_output=True,
            text=True,
            timeout=timeout,
        )
    except subprocess.TimeoutExpired:
        return None
    result: dict[str, float] = json.loads(done.stdout)
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="run only the cases whose name contains this")
    parser.add_argument(
        "--command",
        default=f"{shlex.quote(sys.executable)} -m pykora",
        help="the command line to time (default: %(default)s)",
    )
    parser.add_argument(
        "--timeout", type=float, default=600, help="seconds before a case is given up"
    )
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as scratch:
        paths = write_files(Path(scratch))
        print(f"{'case':40} {'seconds':>8} {'peak MB':>8} {'status':>6} {'output':>12}")
        for name, case_args, lines in CASES:
            if args.only and args.only not in name:
                continue
            command = shlex.split(args.command) + [a.format(**paths) for a in case_args]
            result = measure(command, lines, args.timeout)
            if result is None:
                print(f"{name:40} {'> ' + str(int(args.timeout)):>8}   (given up)")
                continue
            print(
                f"{name:40} {result['seconds']:8.2f} {result['peak_mb']:8.0f} "
                f"{result['status']:6d} {int(result['bytes']):12,d}"
            )


if __name__ == "__main__":
    main()
