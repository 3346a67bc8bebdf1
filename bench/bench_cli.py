"""Time python -m pykora on result files of real size and report each run's peak memory.

Run by hand, from the checkout's top:
    python -m bench.bench_cli [--only WORD] [--command CMD ...] [--timeout S]

The files are generated once into a temporary directory:

* big.dat: 50 MB, 6.25 million standard normal values. Read as a vector it
  is 2.26 million blocks, nearly all of zero to two pairs: the most blocks a
  file of that size can realistically hold.
* blocks.dat: 208 MB, 2 million blocks of 1 to 10 pairs (5.5 on average) with
  idx 1 to 2,000,000, as an engine writes the marginals of a big model.
* lying.dat: 32 bytes, [1, 1e7, 0.1, 10]: one block that declares ten million
  pairs, decoded as two values and NaN padding;
* lying-1e9.dat and lying-2**62.dat: the same with 1e9 and 2**62 pairs. They
  are shown as `ulimit -v 2000000` would let them be: with an address space
  of 2000 MB ("cap MB").

Each case runs in a fresh process. "seconds" is the wall time until the
command line exits, "peak MB" its peak RSS. "| head -5" cases read five lines
and close the pipe, as `| head -5` does. --command times another command line
in place of `python -m pykora`; given several times, each case runs with each
command in turn. --baseline adds an older command line, a single cli.py run
against the installed package, to compare in the same run, e.g. the one of
commit 7d64f0d:

    git show 7d64f0d:src/pykora/cli.py > /tmp/old_cli.py
    python -m bench.bench_cli --baseline /tmp/old_cli.py

A later command line is a package: copy an installed pykora (with its
extension modules) to OLD/pykora and compare it in the same run with

    python -m bench.bench_cli --command "python -m pykora" \
        --command "env PYTHONPATH=OLD python -m pykora"

Then comes the comparison with polars (a benchmark-only dependency:
``pip install ".[bench]"``): each output of blocks.dat, CSV and JSON of each
view and the full tables, timed from the process's start to the last byte
read from its stdout, by the command line (the first --command) and by the
one --before names (e.g. ``--before "env PYTHONPATH=OLD python -m pykora"``),
next to polars' ``DataFrame.write_csv`` of the same columns, written to the
same kind of pipe: timed alone, with the columns already in memory, and from
the start of a process that imports polars, reads the file and makes the
columns; ``--repeat N`` keeps the fastest of N runs of each (the older command
line's, which take minutes, run once). ``--json FILE`` writes the figures of
the first command in the form ``docs/data/benchmarks.json`` keeps them.
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
import json, os, resource, subprocess, sys, time
lines, cap, cmd = int(sys.argv[1]), int(sys.argv[2]) << 20, sys.argv[3:]
limit = (lambda: resource.setrlimit(resource.RLIMIT_AS, (cap, cap))) if cap else None
start = time.perf_counter()
proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=limit)
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

# Runs the main() of the cli.py given as the first argument with the rest.
RUN_FILE = (
    "import importlib.util, sys;"
    "spec = importlib.util.spec_from_file_location('baseline_cli', sys.argv[1]);"
    "cli = sys.modules['baseline_cli'] = importlib.util.module_from_spec(spec);"
    "spec.loader.exec_module(cli);"
    "sys.exit(cli.main(sys.argv[2:]))"
)

#: The address space of the lying-1e9 and lying-2**62 cases, as `ulimit -v 2000000`.
CAP_MB = 2000

# (name, arguments after the command, lines to read or 0 for all[, address space in MB])
CASES: list[tuple[str, list[str], int] | tuple[str, list[str], int, int]] = [
    ("show big.dat", ["show", "{big}"], 0),
    ("show big.dat --as matrix", ["show", "{big}", "--as", "matrix"], 0),
    ("show big.dat --as marginals", ["show", "{big}", "--as", "marginals"], 0),
    ("show big.dat | head -5", ["show", "{big}"], 5),
    ("show big.dat --format csv | head -5", ["show", "{big}", "--format", "csv"], 5),
    ("show big.dat --format csv", ["show", "{big}", "--format", "csv"], 0),
    ("show big.dat --all", ["show", "{big}", "--all"], 0),
    ("show big.dat --format json", ["show", "{big}", "--format", "json"], 0),
    (
        "show big.dat --as marginals --format csv",
        ["show", "{big}", "--as", "marginals", "--format", "csv"],
        0,
    ),
    (
        "show big.dat --as marginals --format json",
        ["show", "{big}", "--as", "marginals", "--format", "json"],
        0,
    ),
    (
        "show big.dat --as matrix --format csv",
        ["show", "{big}", "--as", "matrix", "--format", "csv"],
        0,
    ),
    ("show blocks.dat", ["show", "{blocks}"], 0),
    ("show blocks.dat --as matrix", ["show", "{blocks}", "--as", "matrix"], 0),
    ("show blocks.dat --as marginals", ["show", "{blocks}", "--as", "marginals"], 0),
    ("show lying.dat --as marginals", ["show", "{lying}", "--as", "marginals"], 0),
    ("show lying-1e9.dat --as marginals", ["show", "{lying9}", "--as", "marginals"], 0, CAP_MB),
    ("show lying-1e9.dat --as matrix", ["show", "{lying9}", "--as", "matrix"], 0, CAP_MB),
    (
        "show lying-1e9.dat --as matrix --format csv | head -5",
        ["show", "{lying9}", "--as", "matrix", "--format", "csv"],
        5,
        CAP_MB,
    ),
    (
        "show lying-2**62.dat --as marginals --format csv | head -5",
        ["show", "{lying62}", "--as", "marginals", "--format", "csv"],
        5,
        CAP_MB,
    ),
    (
        "show lying-2**62.dat --as matrix --format json | head -5",
        ["show", "{lying62}", "--as", "matrix", "--format", "json"],
        5,
        CAP_MB,
    ),
    ("info blocks.dat", ["info", "{blocks}"], 0),
    ("info blocks.dat --format json", ["info", "{blocks}", "--format", "json"], 0),
    ("plot big.dat (2.26 M blocks)", ["plot", "{big}", "-o", "{out}/big.png"], 0),
    ("plot big.dat --as matrix", ["plot", "{big}", "--as", "matrix", "-o", "{out}/m.png"], 0),
    (
        "plot blocks.dat --max-series 40",
        ["plot", "{blocks}", "--max-series", "40", "-o", "{out}/b40.png"],
        0,
    ),
    (
        "plot blocks.dat --max-series 5000",
        ["plot", "{blocks}", "--max-series", "5000", "-o", "{out}/b5000.png"],
        0,
    ),
]


# The outputs of blocks.dat that the comparison times: (name, arguments, view of the
# columns polars writes, or None where polars writes no counterpart).
COMPARISON: list[tuple[str, list[str], str | None]] = [
    ("raw values, CSV", ["show", "{blocks}", "--format", "csv"], "raw"),
    (
        "marginals (block,idx,x,y), CSV",
        ["show", "{blocks}", "--as", "marginals", "--format", "csv"],
        "marginals",
    ),
    ("matrix, CSV", ["show", "{blocks}", "--as", "matrix", "--format", "csv"], "matrix"),
    ("raw values, JSON", ["show", "{blocks}", "--format", "json"], None),
    ("marginals, JSON", ["show", "{blocks}", "--as", "marginals", "--format", "json"], None),
    ("raw table, --all", ["show", "{blocks}", "--all"], None),
    ("marginals table, --all", ["show", "{blocks}", "--as", "marginals", "--all"], None),
    ("matrix table, --all", ["show", "{blocks}", "--as", "matrix", "--all"], None),
]

# Writes the columns of one view of a file as CSV to stdout with polars, and the seconds
# the write alone took to the file named second. The columns are those `show` writes:
# index,value; block,idx,x,y; and the dense matrix's x, y0, x0, y1, x1, ... (NaN-padded).
POLARS = """
import sys, time
import numpy as np, polars as pl
from pykora._layout import block_layout
view, path, report = sys.argv[1:4]
values = np.fromfile(path, dtype="<f8")
if view == "raw":
    frame = pl.DataFrame({"index": np.arange(values.size), "value": values})
else:
    starts, idx, declared, _ = block_layout(values)
    if view == "marginals":
        offsets = np.arange(declared.sum()) - np.repeat(np.cumsum(declared) - declared, declared)
        x_at = np.repeat(starts + 2, declared) + 2 * offsets
        frame = pl.DataFrame({
            "block": np.repeat(np.arange(starts.size), declared), "idx": np.repeat(idx, declared),
            "x": values[x_at], "y": values[x_at + 1],
        })
    else:
        rows = np.arange(declared.max())[:, None]
        inside = rows < declared
        at = np.where(inside, starts + 2 + 2 * rows, 0)
        x, y = np.where(inside, values[at], np.nan), np.where(inside, values[at + 1], np.nan)
        columns = {"x": x[:, 0]}
        for k in range(starts.size):
            columns[f"y{k}"], columns[f"x{k}"] = y[:, k], x[:, k]
        frame = pl.DataFrame(columns)
start = time.perf_counter()
frame.write_csv("/dev/stdout")
seconds = time.perf_counter() - start
with open(report, "w") as f:
    f.write(str(seconds))
"""


def marginal_blocks(rng: np.random.Generator, n_blocks: int = 2_000_000) -> np.ndarray:
    """blocks.dat's values: ``n_blocks`` blocks of 1 to 10 standard normal pairs, idx 1 on."""
    counts = np.tile(np.arange(1, 11), n_blocks // 10)
    rng.shuffle(counts)
    lengths = 2 + 2 * counts
    starts = np.concatenate([[0], np.cumsum(lengths)[:-1]])
    blocks = rng.standard_normal(int(lengths.sum()))
    blocks[starts], blocks[starts + 1] = np.arange(1, n_blocks + 1), counts
    return blocks


def write_files(target: Path) -> dict[str, str]:
    rng = np.random.default_rng(2026)
    rng.standard_normal(6_250_000).astype("<f8").tofile(target / "big.dat")
    marginal_blocks(rng).astype("<f8").tofile(target / "blocks.dat")
    np.array([1, 1e7, 0.1, 10], dtype="<f8").tofile(target / "lying.dat")
    np.array([1, 1e9, 0.1, 10], dtype="<f8").tofile(target / "lying-1e9.dat")
    np.array([1, 2.0**62, 0.1, 10], dtype="<f8").tofile(target / "lying-2**62.dat")
    names = {"big": "big", "blocks": "blocks", "lying": "lying"}
    names |= {"lying9": "lying-1e9", "lying62": "lying-2**62"}
    return {key: str(target / f"{name}.dat") for key, name in names.items()} | {"out": str(target)}


def measure(command: list[str], lines: int, cap_mb: int, timeout: float) -> dict[str, float] | None:
    try:
        done = subprocess.run(
            [sys.executable, "-c", MEASURE, str(lines), str(cap_mb), *command],
            capture_output=True,
            text=True,
            timeout=timeout,
        )
    except subprocess.TimeoutExpired:
        return None
    result: dict[str, float] = json.loads(done.stdout)
    return result


def fastest(command: list[str], repeat: int, timeout: float) -> dict[str, float] | None:
    """The fastest of ``repeat`` runs: what the machine's other load adds is noise."""
    runs = [measure(command, 0, 0, timeout) for _ in range(repeat)]
    done = [run for run in runs if run is not None]
    return min(done, key=lambda run: run["seconds"]) if done else None


def seconds_text(result: dict[str, float] | None) -> str:
    return "given up" if result is None else f"{result['seconds']:.2f}"


def compare(commands: list[str], before: str | None, paths: dict[str, str], args) -> list[dict]:
    """The comparison table, printed as it is measured; the first command's figures."""
    import importlib.util

    has_polars = importlib.util.find_spec("polars") is not None
    print("\nThe outputs of blocks.dat, seconds from the process's start to the last byte:")
    header = ["output", "before", "after", "polars write", "polars from start", "after/polars"]
    print(
        f"{header[0]:32} {header[1]:>8} {header[2]:>8} {header[3]:>13} {header[4]:>18} "
        f"{header[5]:>13}   peak MB before/after"
    )
    figures = []
    for name, case_args, view in COMPARISON:
        if args.only and args.only not in name:
            continue

        def argv_of(command: str, case_args: list[str] = case_args) -> list[str]:
            return shlex.split(command) + [a.format(**paths) for a in case_args]

        after = fastest(argv_of(commands[0]), args.repeat, args.timeout)
        old = measure(argv_of(before), 0, 0, args.timeout) if before else None  # slow: once
        write = start = None
        if view and has_polars:
            writes = []
            for _ in range(1 if view == "matrix" else args.repeat):  # minutes to make columns
                with tempfile.NamedTemporaryFile("r") as report:
                    polars = [sys.executable, "-c", POLARS, view, paths["blocks"], report.name]
                    found = measure(polars, 0, 0, args.timeout)
                    text = report.read()
                if found and text:
                    writes.append(float(text))
                    if start is None or found["seconds"] < start["seconds"]:
                        start = found
            write = min(writes) if writes else None
        ratio = f"{after['seconds'] / write:.2f}x" if after and write else "-"
        peaks = "/".join(f"{r['peak_mb']:.0f}" if r else "-" for r in (old, after))
        print(
            f"{name:32} {seconds_text(old) if before else '-':>8} {seconds_text(after):>8} "
            f"{f'{write:.2f}' if write else '-':>13} "
            f"{seconds_text(start) if view and has_polars else '-':>18} {ratio:>13}   {peaks}",
            flush=True,
        )
        if after:
            figures.append({"case": f"show blocks.dat: {name}", **_figures(after)})
    return figures


def _figures(result: dict[str, float]) -> dict[str, float]:
    return {
        "seconds": round(result["seconds"], 2),
        "peak_mb": round(result["peak_mb"]),
        "status": int(result["status"]),
        "output_bytes": int(result["bytes"]),
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="run only the cases whose name contains this")
    default = f"{shlex.quote(sys.executable)} -m pykora"
    parser.add_argument(
        "--command",
        action="append",
        help=f"a command line to time, once per command given (default: {default})",
    )
    parser.add_argument(
        "--timeout", type=float, default=600, help="seconds before a case is given up"
    )
    parser.add_argument("--baseline", metavar="CLI_PY", help="an older cli.py to compare with")
    parser.add_argument(
        "--before", metavar="CMD", help="an older command line for the comparison with polars"
    )
    parser.add_argument(
        "--no-cases", action="store_true", help="run only the comparison with polars"
    )
    parser.add_argument("--json", metavar="FILE", help="write the first command's figures here")
    parser.add_argument(
        "--repeat",
        type=int,
        default=1,
        help="runs of each comparison case (of polars' too, but for the matrix), the fastest kept",
    )
    args = parser.parse_args()
    commands = args.command or [default]
    if args.baseline:
        commands.append(shlex.join([sys.executable, "-c", RUN_FILE, args.baseline]))

    with tempfile.TemporaryDirectory() as scratch:
        paths = write_files(Path(scratch))
        print(f"{'case':50} {'cmd':>3} {'seconds':>8} {'peak MB':>8} {'status':>6} {'output':>12}")
        for i, command in enumerate(commands):
            print(f"cmd {i}: {command}")
        figures = []
        for name, case_args, lines, *cap in CASES:
            if args.no_cases or args.only and args.only not in name:
                continue
            for i, command in enumerate(commands):
                argv = shlex.split(command) + [a.format(**paths) for a in case_args]
                result = measure(argv, lines, cap[0] if cap else 0, args.timeout)
                if result is None:
                    print(f"{name:50} {i:3d} {'> ' + str(int(args.timeout)):>8}   (given up)")
                    continue
                print(
                    f"{name:50} {i:3d} {result['seconds']:8.2f} {result['peak_mb']:8.0f} "
                    f"{result['status']:6d} {int(result['bytes']):12,d}",
                    flush=True,
                )
                if i == 0:
                    figures.append({"case": name, **_figures(result)})
        figures += compare(commands, args.before, paths, args)
        if args.json:
            Path(args.json).write_text(json.dumps({"cli": figures}, indent=1) + "\n")


if __name__ == "__main__":
    main()
