"""Time pykora._text's writers alone, and compare them with formatting by repr() in Python.

Run by hand, from the checkout's top:
    python -m bench.bench_text [--blocks 2000000] [--no-python]

The input is bench_cli's blocks.dat, made in memory: 2 million blocks of 1 to 10
standard normal pairs, 208 MB of values. Three tables:

* each writer's speed: values formatted per second and nanoseconds a value, the
  interpreter's CPU time and the wall time, with the chunks consumed and dropped
  (the fastest of three runs);
* the CSV of each view written to /dev/null through a text file as the command line
  writes to stdout, natively and by repr() over chunks of values as the command line
  did before (--no-python skips the latter, which takes minutes);
* each CSV written to a pipe that `cat` reads, the chunks in turn, and with the next
  chunk formatted on a second thread while the current one is written (wall times);
  then what writing one chunk costs, to /dev/null and to a pipe.

The machine's other load shows in the wall times; the CPU times are the ones to read.
"""

import argparse
import io
import queue
import subprocess
import threading
import time

import numpy as np

from bench.bench_cli import marginal_blocks
from pykora import _text
from pykora._layout import block_layout
from pykora.binary import kora_interpret_vector, kora_interpret_vector_list

CHUNK = 1 << 16  # values the Python formatting takes at a time
REPEAT = 3  # runs of each native case, the fastest kept


def timed(run, repeat=1):
    """(wall seconds, CPU seconds, result) of the fastest of ``repeat`` calls: what other
    load on the machine adds is noise, and the fastest run has the least of it."""
    best = None
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        result = run()
        found = (time.perf_counter() - wall, time.process_time() - cpu, result)
        best = found if best is None or found[1] < best[1] else best
    return best


def consume(chunks):
    """Characters in the chunks, each dropped once counted."""
    return sum(map(len, chunks))


def write_all(chunks):
    with open("/dev/null", "w", encoding="utf-8") as out:
        for chunk in chunks:
            out.write(chunk)


# --- Formatting by repr(), one chunk of values at a time ---------------------------------


def exact_list(values):
    text = repr(values.tolist())
    return text.replace("nan", "NaN") if "n" in text else text


def python_raw_csv(values, out):
    for i0 in range(0, values.size, CHUNK):
        texts = exact_list(values[i0 : i0 + CHUNK])[1:-1].split(", ")
        out.write("".join([f"{i},{t}\n" for i, t in enumerate(texts, start=i0)]))


def python_marginals_csv(values, layout, out):
    starts, idx = layout[0], layout[1]
    for k0 in range(0, starts.size, CHUNK // 8):
        k1 = min(k0 + CHUNK // 8, starts.size)
        stop = starts[k1] if k1 < starts.size else values.size
        pairs = kora_interpret_vector_list(values[starts[k0] : stop])
        heads = exact_list(idx[k0:k1])[1:-1].split(", ")
        for k, head, block in zip(range(k0, k1), heads, pairs, strict=True):
            if block.size:
                lines = exact_list(block)[2:-2].replace(", ", ",").split("],[")
                out.write("".join(f"{k},{head},{line}\n" for line in lines))


def python_matrix_csv(values, out):
    dense = kora_interpret_vector(values)
    for row in dense:
        for c0 in range(0, row.size, CHUNK):
            out.write(("," if c0 else "") + exact_list(row[c0 : c0 + CHUNK])[1:-1].replace(" ", ""))
        out.write("\n")


def in_turn(chunks, out):
    for chunk in chunks:
        out.write(chunk)


def ahead(chunks, out):
    """The next chunk formatted on a second thread while this one writes the last: each
    chunk is formatted without the GIL, so a Python thread shows what a native one
    would gain."""
    made = queue.Queue(maxsize=1)

    def make():
        for chunk in chunks:
            made.put(chunk)
        made.put(None)

    thread = threading.Thread(target=make)
    thread.start()
    while (chunk := made.get()) is not None:
        out.write(chunk)
    thread.join()


def to_pipe(write, make):
    """The text written to a pipe that another process reads, as `| head` reads it."""
    reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    with io.TextIOWrapper(reader.stdin, encoding="utf-8") as out:
        write(make(), out)
    reader.wait()


def to_null(write):
    with open("/dev/null", "w", encoding="utf-8") as out:
        write(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--blocks", type=int, default=2_000_000)
    parser.add_argument("--no-python", action="store_true", help="skip formatting by repr()")
    args = parser.parse_args()
    values = marginal_blocks(np.random.default_rng(2026), args.blocks)
    layout = block_layout(values)
    pairs = int(layout[2].sum())
    cells = 10 * (1 + 2 * args.blocks)
    print(
        f"{values.size:,} values ({values.nbytes / 1e6:.0f} MB), {args.blocks:,} blocks, "
        f"{pairs:,} pairs, a matrix of {cells:,} cells; chunks of {_text.CHUNK_BYTES:,} bytes\n"
    )

    writers = [
        ("raw_csv", lambda: _text.raw_csv(values), values.size),
        ("raw_json", lambda: _text.raw_json(values), values.size),
        ("marginals_csv", lambda: _text.marginals_csv(values, layout), 2 * pairs),
        ("marginals_json", lambda: _text.marginals_json(values, layout), 2 * pairs),
        ("matrix_csv", lambda: _text.matrix_csv(values, layout), cells),
        ("matrix_json", lambda: _text.matrix_json(values, layout), cells),
        ("cells .6g", lambda: [_text.cells(values[: 1 << 22], 6)], 1 << 22),
        ("cells repr", lambda: [_text.cells(values[: 1 << 22])], 1 << 22),
    ]
    print(f"{'writer':16} {'values/s':>12} {'ns/value':>9} {'cpu s':>7} {'wall s':>7} {'MB':>7}")
    formatting = {}
    for name, make, count in writers:
        wall, cpu, size = timed(lambda make=make: consume(make()), REPEAT)
        formatting[name] = cpu
        print(
            f"{name:16} {count / cpu:12,.0f} {cpu / count * 1e9:9.1f} {cpu:7.2f} {wall:7.2f} "
            f"{size / 1e6:7.0f}"
        )

    print(f"\n{'CSV to /dev/null, cpu s':24} {'native':>9} {'repr()':>9} {'ratio':>6}")
    csv_cases = [
        ("raw", lambda: _text.raw_csv(values), lambda out: python_raw_csv(values, out)),
        (
            "marginals",
            lambda: _text.marginals_csv(values, layout),
            lambda out: python_marginals_csv(values, layout, out),
        ),
        (
            "matrix",
            lambda: _text.matrix_csv(values, layout),
            lambda out: python_matrix_csv(values, out),
        ),
    ]
    for name, make, python in csv_cases:
        _, native, _ = timed(lambda make=make: write_all(make()), REPEAT)
        if args.no_python:
            print(f"{name:24} {native:9.2f}")
            continue
        _, slow, _ = timed(lambda python=python: to_null(python))
        print(f"{name:24} {native:9.2f} {slow:9.2f} {slow / native:6.1f}")

    print(f"\n{'to a pipe, wall s':24} {'in turn':>9} {'2 threads':>10}")
    for name, make, _ in csv_cases:
        turns = [timed(lambda w=way, make=make: to_pipe(w, make))[0] for way in (in_turn, ahead)]
        print(f"{name:24} {turns[0]:9.2f} {turns[1]:10.2f}")

    # What writing a chunk of ASCII costs apart from formatting it: to /dev/null, and to a
    # pipe that another process reads, as `| head` or a program reading the CSV does.
    chunk = "0.123456789012345\n" * (_text.CHUNK_BYTES // 18)
    with open("/dev/null", "w", encoding="utf-8") as out:
        null, _, _ = timed(lambda: [out.write(chunk) for _ in range(200)])
    reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    with io.TextIOWrapper(reader.stdin, encoding="utf-8") as out:
        pipe, _, _ = timed(lambda: [out.write(chunk) for _ in range(200)])
    reader.wait()
    print(
        f"\nwriting a chunk: {null / 200 * 1e3:.2f} ms to /dev/null, "
        f"{pipe / 200 * 1e3:.2f} ms to a pipe"
    )


if __name__ == "__main__":
    main()
