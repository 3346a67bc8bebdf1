"""python -m pykora, run as users run it: in a subprocess, on files that `example` writes
and on generated files of 300,000 values (conftest.py)."""

import contextlib
import functools
import importlib.util
import io
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pytest

from pykora.binary import (
    _split_vector_blocks,
    kora_interpret_vector,
    kora_interpret_vector_list,
    kora_read_binary_file,
)
from pykora.cli.example_data import example_vectors
from pykora.cli.numbers import count_text
from pykora.options import kora_get_option_default
from tests.support.compare import bits

HAS_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None
needs_matplotlib = pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed")


def command(args, code=None):
    return [sys.executable, *(["-c", code] if code else ["-m", "pykora"]), *map(str, args)]


def capped(limit_mb):
    """A preexec_fn that caps the address space, so that a run out of memory fails fast."""
    if limit_mb is None:
        return None
    limit = limit_mb << 20
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


# Every command a test starts gets this environment and nothing else of the caller's:
# PYTHONUNBUFFERED=1 there would hide a final flush that is never made, a locale would
# change how names are written. Passed on: what finds the interpreter's files, and what
# the sanitizer and debug runs set for their own. One BLAS thread: each thread reserves
# address space, which a cap would count.
_PASSED_ON = ("PATH", "HOME", "MPLCONFIGDIR", "PYTHONPATH", "PYTHONMALLOC", "LD_PRELOAD")
_PASSED_ON += ("LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS")
ENV = {key: os.environ[key] for key in _PASSED_ON if key in os.environ}
ENV |= {"LC_ALL": "C.UTF-8", "OPENBLAS_NUM_THREADS": "1"}


def run(*args, code=None, limit_mb=None, cwd=None, timeout=120):
    return subprocess.run(
        command(args, code),
        capture_output=True,
        text=True,
        timeout=timeout,
        preexec_fn=capped(limit_mb),
        env=ENV,
        cwd=cwd,
    )


# Starts a command and writes its peak RSS to a file. A child forked straight
# from pytest would count pytest's own pages in its peak; this small parent's
# pages are far fewer than any run of the command line's.
# It closes what it opens and tells Popen the child was reaped, so that an
# interpreter that shows ResourceWarnings (a debug build) writes nothing of
# its own to the command's stderr.
MEASURE = (
    "import os, subprocess, sys; p = subprocess.Popen(sys.argv[2:]);"
    "_, status, usage = os.wait4(p.pid, 0); p.returncode = os.waitstatus_to_exitcode(status)\n"
    "with open(sys.argv[1], 'w') as f: f.write(f'{p.returncode} {usage.ru_maxrss}')"
)


def run_measured(*args, lines=None, limit_mb=None):
    """(stdout, stderr, status, peak RSS in MB); with ``lines``, reads that many and hangs up."""
    with tempfile.TemporaryDirectory() as scratch:
        report, err_path = os.path.join(scratch, "usage"), os.path.join(scratch, "stderr")
        with open(os.devnull, "rb") as stdin, open(err_path, "wb") as stderr:
            cmd = [sys.executable, "-c", MEASURE, report, *command(args)]
            proc = subprocess.Popen(
                cmd,
                stdin=stdin,
                stdout=subprocess.PIPE,
                stderr=stderr,
                env=ENV,
                preexec_fn=capped(limit_mb),
            )
            with proc:
                if lines is None:
                    out = proc.stdout.read()
                else:
                    out = b"".join(proc.stdout.readline() for _ in range(lines))
                proc.stdout.close()
        status, peak = map(int, Path(report).read_text().split())
        err = Path(err_path).read_bytes()
    return out.decode(), err.decode(), status, peak / 1024


@pytest.fixture(scope="module")
def base_rss(demo):
    """Peak RSS in MB of showing a file of eight values: the interpreter and its modules."""
    return run_measured("show", demo / "stream.dat")[3]


def printed_numbers(text, view, fmt):
    """Every number of `show`'s CSV or JSON output, in order."""
    if fmt == "json":
        doc = json.loads(text, parse_constant=pytest.fail)  # strict JSON: no bare NaN
        key = {"raw": "values", "matrix": "rows"}.get(view)
        items = doc[key] if key else [pair for block in doc["blocks"] for pair in block["pairs"]]
        return np.array(items, dtype=float).ravel()  # float() reads "NaN", "inf" and "-inf"
    columns = {"raw": [1], "marginals": [2, 3]}.get(view)  # None: a matrix row is all numbers
    table = np.loadtxt(io.StringIO(text), delimiter=",", skiprows=1, usecols=columns, ndmin=2)
    return table.ravel()


def printed_idx(text, fmt):
    """(block, idx) of each marginals' block in JSON, or of each pair's line in CSV."""
    if fmt == "json":
        blocks = json.loads(text)["blocks"]
        return [b["block"] for b in blocks], np.array([b["idx"] for b in blocks], dtype=float)
    table = np.loadtxt(io.StringIO(text), delimiter=",", skiprows=1, usecols=[0, 1], ndmin=2)
    return table[:, 0].astype(int).tolist(), table[:, 1]


SCALE = ["many-blocks.dat", "long-blocks.dat"]  # generated, about 300,000 values each


@pytest.mark.parametrize(
    "name, view",
    [("stream.dat", "raw"), ("quantiles.dat", "matrix"), ("marginals.dat", "matrix")]
    + [("quantiles.dat", "marginals"), ("marginals.dat", "marginals")]
    + [(SCALE[0], "raw"), (SCALE[0], "marginals"), (SCALE[1], "matrix")],
)
@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
def test_show_prints_what_the_decoders_return(demo, base_rss, name, view, fmt):
    out, err, status, rss = run_measured("show", demo / name, "--as", view, "--format", fmt)
    assert status == 0 and err == ""
    # Text is written as it is formatted: memory grows with the file, not with its text.
    assert rss - base_rss < 20 + 6 * (demo / name).stat().st_size / 2**20
    values = kora_read_binary_file(demo / name)
    decode = {"raw": lambda v: [v], "matrix": lambda v: [kora_interpret_vector(v)]}
    arrays = decode.get(view, kora_interpret_vector_list)(values)
    want = np.concatenate([a.ravel() for a in arrays])
    if fmt != "table":
        assert ("NaN" in out) == bool(np.isnan(want).any())
        np.testing.assert_array_equal(printed_numbers(out, view, fmt), want)
        if view == "marginals":  # each idx exact: those of many-blocks.dat run to 100000.5
            blocks = _split_vector_blocks(values)
            numbers, idx = printed_idx(out, fmt)
            lines = [len(pairs) if fmt == "csv" else 1 for _, pairs in blocks]
            assert numbers == [k for k, n in enumerate(lines) for _ in range(n)]
            want_idx = np.array([blocks[k][0] for k in numbers], dtype=float)
            np.testing.assert_array_equal(bits(idx), bits(want_idx))
        return
    summary = out.splitlines()[0]
    assert f"{values.size} values" in summary and f"{sum(map(len, arrays))} rows" in summary
    assert view == "raw" or f"{len(_split_vector_blocks(values))} blocks" in summary


@pytest.mark.parametrize("view, fmt", [("raw", "json"), ("matrix", "csv")])
def test_csv_and_json_start_at_once_and_stop_quietly_when_the_reader_hangs_up(
    demo, base_rss, view, fmt
):
    out, err, status, rss = run_measured(
        "show", demo / SCALE[0], "--as", view, "--format", fmt, lines=3
    )
    assert out.count("\n") == 3 and out[0] in "{x"
    assert err == "" and status == 0
    assert rss - base_rss < 20 + 6 * (demo / SCALE[0]).stat().st_size / 2**20


def table_cells(text):
    """The summary line of a `show` table, and its cells as {(block, row): {column: cell}}."""
    summary, *lines = text.splitlines()
    cells, block, header = {}, None, None
    for line in lines:
        words = line.split()
        if line.startswith("block "):
            block, header = line.split(":")[0], None
        elif not words or words[0] in ("...", "blocks:"):
            continue  # a blank line, blocks or rows left out, a matrix's block legend
        elif header is None:
            header = words
        else:
            cells[block, words[0]] = dict(zip(header[1:], words[1:], strict=True))
    return summary, cells


@pytest.mark.parametrize(
    "name, view, options, rows, columns",
    [(SCALE[0], "raw", [], 20, 1), (SCALE[0], "matrix", [], 20, 9)]
    + [(SCALE[0], "marginals", [], 20, 2), (SCALE[1], "marginals", ["--max-rows", "5"], 5, 2)]
    + [(SCALE[1], "matrix", ["--max-rows", "7", "--max-cols", "3"], 7, 3)],
)
def test_big_tables_show_first_and_last_rows_and_columns_of_the_full_table(
    demo, name, view, options, rows, columns
):
    part = run("show", demo / name, "--as", view, *options)
    whole = run("show", demo / name, "--as", view, "--all")
    assert part.returncode == whole.returncode == 0 and part.stderr == whole.stderr == ""
    summary, shown = table_cells(part.stdout)
    full_summary, full = table_cells(whole.stdout)
    for key, row in shown.items():
        assert {c: v for c, v in row.items() if c != "..."}.items() <= full[key].items()
    # Marginals count an empty block's line as one of the rows shown.
    empty, full_empty = (done.stdout.count(": 0 rows\n") for done in (part, whole))
    assert len(shown) + empty == min(rows, len(full) + full_empty)
    width = len(next(iter(full.values())))
    assert {len(row) - ("..." in row) for row in shown.values()} == {min(columns, width)}
    n_lines = part.stdout.count("\n")
    assert n_lines <= {"marginals": 4 * rows + 3, "matrix": rows + 4}.get(view, rows + 3)
    left, left_columns = len(full) - len(shown), width - min(columns, width)
    assert summary.startswith(full_summary) and "left out" not in full_summary
    assert f"; {left} rows" in summary if left else "rows left" not in summary
    assert f"{left_columns} columns" in summary if left_columns else "column" not in summary


@pytest.mark.parametrize("view", ["matrix", "marginals"])
@pytest.mark.parametrize(
    "count, fmt, lines",
    [(10**9, "table", None), (2**62, "table", None), (10**9, "csv", 3), (2**62, "json", 9)]
    + [(1000, "csv", None), (1000, "json", None)],
)
def test_a_count_beyond_the_file_is_shown_as_padding_in_flat_memory(
    tmp_path, base_rss, view, count, fmt, lines
):
    path = tmp_path / "result.dat"
    np.array([1, count, 0.1, 10], "<f8").tofile(path)
    # As `| head`, where `lines` is given; the padding is never held, so 2 GB are plenty.
    args = ("show", path, "--as", view, "--format", fmt)
    out, err, status, rss = run_measured(*args, lines=lines, limit_mb=2000)
    assert status == 0 or lines and status == 1
    assert rss - base_rss < 60
    (warning,) = err.splitlines()
    assert warning.startswith("pykora: warning: ") and "NaN padding" in warning
    assert f"declares {count_text(count)} pairs" in warning and "4 values, 2 of them" in warning
    if lines:  # the block's first pair, then padding, as the whole text would have them
        np.array([1, 5, 0.1, 10], "<f8").tofile(tmp_path / "small.dat")
        small = run("show", tmp_path / "small.dat", "--as", view, "--format", fmt).stdout
        assert out == "".join(small.replace("small.dat", "result.dat").splitlines(True)[:lines])
    elif fmt != "table":
        want = kora_interpret_vector(kora_read_binary_file(path)).ravel()
        np.testing.assert_array_equal(printed_numbers(out, view, fmt), want)
    else:
        summary, cells = table_cells(out)
        assert f"{count} rows" in summary and len(out) < 2000
        block = "block 0 (idx 1)" if view == "marginals" else None
        assert cells[block, "0"] == {"x": "0.1", "y": "10"}
        assert cells[block, str(count - 1)] == {"x": "NaN", "y": "NaN"}


NAN_COUNT, INF_COUNT, HUGE_COUNT = (
    np.array([1, n, 1, 2], "<f8").tobytes() for n in (np.nan, np.inf, 1e300)
)
COUNT_IDS = {NAN_COUNT: "nan-count", INF_COUNT: "inf-count", HUGE_COUNT: "1e300-count"}
# A file whose size, as its status reports it, is 0; it holds the process's score.
PROC_FILE = "/proc/self/oom_score_adj"


@pytest.mark.parametrize(
    "content, view, status, says",
    [(None, "raw", 1, "no such file"), ("dir", "raw", 1, "directory")]
    + [(b"x" * 12, "raw", 2, "multiple of 8"), (NAN_COUNT, "matrix", 2, "blocks")]
    + [(NAN_COUNT, "marginals", 2, "blocks"), (INF_COUNT, "marginals", 2, "blocks")]
    # Refused before reading: /dev/zero never ends and a FIFO waits for a writer.
    + [("/dev/zero", "raw", 1, "character device"), ("fifo", "raw", 1, "FIFO")]
    + [("socket", "marginals", 1, "socket")]
    # No row number reaches beyond 2**62: a count above it is no count of pairs.
    + [(HUGE_COUNT, "matrix", 2, "1e+300 pairs; no view shows more than 2**62")]
    + [(HUGE_COUNT, "marginals/csv", 2, "2**62")]
    # The size said is that of what was read, not the 0 bytes the file's status reports.
    + [(PROC_FILE, "raw", 2, f"its size, {len(Path(PROC_FILE).read_bytes())} bytes, is not")]
    # info reads a file as show does.
    + [(b"x" * 12, "info", 2, "multiple of 8"), ("fifo", "info", 1, "FIFO")],
    ids=lambda v: COUNT_IDS.get(v, "12-bytes" if isinstance(v, bytes) else None),
)
def test_bad_files_end_with_one_line_and_a_status(tmp_path, content, view, status, says):
    path = tmp_path / "result.dat"
    listener = socket.socket(socket.AF_UNIX) if content == "socket" else None
    if content == "dir":
        path.mkdir()
    elif content == "fifo":
        os.mkfifo(path)
    elif listener:
        listener.bind(str(path))
    elif isinstance(content, str):
        path.symlink_to(content)
    elif content is not None:
        path.write_bytes(content)
    with listener or io.StringIO():
        view, fmt = (view + "/table").split("/")[:2]
        args = ("info", path) if view == "info" else ("show", path, "--as", view, "--format", fmt)
        done = run(*args, limit_mb=1024, timeout=30)
    assert done.returncode == status
    assert done.stdout == "" and "Traceback" not in done.stderr
    assert done.stderr.startswith("pykora: error: ") and done.stderr.count("\n") == 1
    assert says in done.stderr


@pytest.mark.parametrize(
    "args, usage",
    [([], "pykora"), (["show"], "pykora show"), (["show", "x.dat", "--as", "cube"], "pykora show")]
    + [(["frobnicate"], "pykora"), (["show", "x.dat", "--bogus"], "pykora show")]
    # Options are never abbreviated.
    + [(["show", "x.dat", "--max-row", "3"], "pykora show")]
    + [(["plot", "x.dat", "-o", "x.png", "--dp", "30"], "pykora plot")]
    # Every value is checked as it is parsed, and every bad one is a usage error.
    + [(["show", "x.dat", "--max-rows", "x"], "pykora show")]
    + [(["show", "x.dat", "--max-rows", "0"], "pykora show")]
    + [(["show", "x.dat", "--max-cols", "-1", "--all"], "pykora show")]
    + [(["show", "x.dat", "--max-rows", "5", "--format", "csv"], "pykora show")]
    + [(["plot", "x.dat", "-o", "x.png", "--dpi", "5"], "pykora plot")]
    + [(["plot", "x.dat", "-o", "x.png", "--max-series", "0"], "pykora plot")]
    + [(["example", ""], "pykora example")]
    + [(["info", "x.dat", "--precision", "18"], "pykora info")]
    + [(["options", "--format", "csv"], "pykora options")]
    # Arguments that are right alone but not together.
    + [(["show", "-", "x.dat", "-"], "pykora show")]
    + [(["show", "a.dat", "b.dat", "--as", "matrix", "--format", "csv"], "pykora show")]
    + [(["show", "a.dat", "b.dat", "a.dat", "--format", "json"], "pykora show")]
    + [(["info", "a.dat", "b.dat", "a.dat", "--format", "json"], "pykora info")]
    + [(["info", "-", "a.dat", "-"], "pykora info")]
    # Selections: their grammar, one at a time, and never of the raw view, which has no blocks.
    + [
        (["show", "x.dat", "--as", "matrix", "--blocks", sel], "pykora show")
        for sel in ["x", "1:2:0", "1,,2", "1:2:3:4", "1.5", ""]
    ]
    + [(["show", "x.dat", "--as", "marginals", "--idx", "1,two"], "pykora show")]
    + [(["show", "x.dat", "--as", "marginals", "--idx", "1", "--blocks", "0"], "pykora show")]
    + [(["show", "x.dat", "--blocks", "0"], "pykora show")]
    + [(["plot", "x.dat", "-o", "x.png", "--as", "raw", "--idx", "1"], "pykora plot")]
    + [(["show", "x.dat", "--idx", "1", "--format", "csv"], "pykora show")]
    + [(["show", "x.dat", "--precision", p], "pykora show") for p in ["0", "18", "six"]],
)
def test_usage_errors_give_the_commands_usage_and_one_error_line(args, usage, capsys):
    from pykora.cli import main

    assert main(args) == 2
    *usage_lines, last = capsys.readouterr().err.splitlines()
    assert usage_lines[0].startswith(f"usage: {usage} [-h]")
    assert last.startswith("pykora: error: ") and "error" not in " ".join(usage_lines)


# Run before the command line: Ctrl-C lands while `name` is imported, and the import
# lets the KeyboardInterrupt through ("raise"), turns it into an ImportError as an
# extension module's does ("report": NumPy's PyCapsule_Import of datetime, seen in about
# 1 of 60 timed interrupts), or swallows it, as the interpreter does where it cannot
# raise, in a finaliser ("swallow": the import then goes on). SIGINT is handled as in a
# terminal whatever the suite inherited; a command started with it ignored, as `cmd &` is
# in a script, keeps ignoring it ("ignored").
INTERRUPT = (
    "import os, signal, sys\n"
    "signal.signal(signal.SIGINT, signal.SIG_IGN if {how!r} == 'ignored' else "
    "signal.default_int_handler)\n"
    "def interrupt():\n"
    "    os.kill(os.getpid(), signal.SIGINT); sum(range(100))\n"
    "class Swallow:\n"
    "    __del__ = lambda self: interrupt()\n"
    "class Interrupt:\n"
    "    def find_spec(self, name, path=None, target=None):\n"
    "        if name != {name!r}: return None\n"
    "        if {how!r} == 'swallow': return Swallow() and None\n"
    "        try: interrupt()\n"
    "        except KeyboardInterrupt:\n"
    "            if {how!r} == 'report': raise ImportError('cannot import datetime') from None\n"
    "            raise\n"
    "sys.meta_path.insert(0, Interrupt())\n"
)
HOW = ["raise", "report", "swallow"]
NO_NUMPY = "import sys; sys.modules['numpy'] = None\n"
NON_UTF8 = b"\xff\xfe"
HUGE_VALUES = np.array([1, 2, -1e308, 1e308, 1e308, -1e308], "<f8")


@pytest.mark.parametrize(
    "args, prelude, status, says",
    [(["show", "{q}"], INTERRUPT.format(name="numpy", how=how), 130, None) for how in HOW]
    + [(["show", "{q}"], INTERRUPT.format(name="pykora.cli.app", how="raise"), 130, None)]
    + [(["show", "{q}"], INTERRUPT.format(name="numpy", how="ignored"), 0, None)]
    + [(["show", "{q}"], NO_NUMPY, 3, "cannot import numpy: import of numpy halted")]
    + [(["example", "{dir}"], NO_NUMPY, 0, None)]
    # Names that are not UTF-8 are written as they are, and drawn with replacement characters.
    + [(["show", "{odd}", "{q}"], "", 0, None)]
    + [
        pytest.param(args, "", status, says, marks=needs_matplotlib)
        for args, status, says in [
            (["plot", "{m}", "-o", "{dir}.png", "--title", "$\\foo$"], 1, "{dir}.png: cannot draw"),
            (["plot", "{huge}", "-o", "{dir}.png"], 1, "{dir}.png: cannot draw the image: "),
            (["plot", "{odd}", "-o", "{odd}.png", "--xlabel", NON_UTF8], 0, None),
        ]
    ],
)
def test_every_failure_is_one_line_and_an_interrupt_says_nothing(
    demo, tmp_path, args, prelude, status, says
):
    odd = os.fsencode(tmp_path) + b"/" + NON_UTF8
    odd_file = odd.decode(errors="surrogateescape")
    Path(odd_file).write_bytes((demo / "marginals.dat").read_bytes())
    HUGE_VALUES.tofile(tmp_path / "huge.dat")
    where = {"q": demo / "quantiles.dat", "m": demo / "marginals.dat", "odd": odd_file}
    where |= {"dir": tmp_path / "out", "huge": tmp_path / "huge.dat"}
    argv = [a if isinstance(a, bytes) else os.fsencode(a.format(**where)) for a in args]
    code = prelude + "from pykora.cli import main; raise SystemExit(main())"
    # A locale that refuses to encode what is not UTF-8, as en_US.UTF-8 does.
    env = ENV | {"PYTHONIOENCODING": "utf-8:strict"}
    done = subprocess.run([sys.executable, "-c", code, *argv], capture_output=True, env=env)
    assert done.returncode == status
    err = done.stderr.decode(errors="replace")
    assert err.count("\n") == bool(says)
    assert not says or err.startswith(f"pykora: error: {says.format(**where)}")
    if args[:2] == ["show", "{odd}"]:  # the name's own bytes, as `head` writes them
        assert done.stdout.startswith(b"==> " + odd + b" <==\n" + odd + b": 34 values")
    if args[0] == "plot" and status == 0:
        assert done.stdout == odd + b".png\n" and Path(odd_file + ".png").stat().st_size


@pytest.mark.parametrize(
    "args, stdout",
    [(["show", "{q}"], "full"), (["show", "{q}", "--as", "matrix", "--format", "csv"], "full")]
    + [(["show", "{m}", "--as", "marginals", "--format", "json"], "full")]
    + [(["options"], "full"), (["options", "--json"], "full"), (["--help"], "full")]
    + [(["--version"], "full"), (["show", "--help"], "closed"), (["show", "{q}"], "closed")]
    # The files are written: what fails is stdout, and the error says so.
    + [(["example", "{new}"], "full"), (["example", "{new}"], "closed")]
    + [
        pytest.param(
            ["plot", "{m}", "-o", "{new}.png"],
            "full",
            marks=pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed"),
        )
    ],
)
def test_an_output_that_cannot_be_written_ends_in_one_line(demo, tmp_path, args, stdout):
    where = {"q": demo / "quantiles.dat", "m": demo / "marginals.dat", "new": tmp_path / "new"}
    argv = command([a.format(**where) for a in args])
    if stdout == "full":
        with open("/dev/full", "w") as full:
            done = subprocess.run(argv, stdout=full, stderr=subprocess.PIPE, text=True, env=ENV)
    else:
        close = functools.partial(os.close, 1)
        done = subprocess.run(argv, stderr=subprocess.PIPE, text=True, env=ENV, preexec_fn=close)
    assert done.returncode == 1
    assert done.stderr.startswith("pykora: error: standard output: cannot write: ")
    assert done.stderr.count("\n") == 1


def file_size_limit(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


@pytest.mark.parametrize(
    "args, old, limit, status, says",
    [
        (
            ["example", "{dir}"],
            "stream.dat",
            None,
            1,
            "{dir}/stream.dat: exists already; --force replaces it",
        )
    ]
    + [(["example", "{dir}", "--force"], "quantiles.dat", None, 0, None)]
    + [
        (
            ["example", "{dir}/stream.dat/sub"],
            "stream.dat",
            None,
            1,
            "{dir}/stream.dat/sub: cannot write: Not a directory",
        )
    ]
    # A write beyond RLIMIT_FSIZE fails with EFBIG, as one on a full disk with ENOSPC.
    + [(["example", "{dir}"], None, 100, 1, "{dir}/quantiles.dat: cannot write: File too large")]
    + [
        (
            ["example", "{dir}", "--force"],
            "stream.dat",
            100,
            1,
            "{dir}/quantiles.dat: cannot write: File too large",
        )
    ]
    + [
        pytest.param(
            ["plot", "{m}", "-o", "{dir}/plot.png"],
            "plot.png",
            4096,
            1,
            "{dir}/plot.png: cannot write: File too large",
            marks=pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed"),
        )
    ],
)
def test_files_are_written_whole_or_not_at_all(demo, tmp_path, args, old, limit, status, says):
    where = {"dir": tmp_path / "out", "m": demo / "marginals.dat"}
    where["dir"].mkdir()
    if old:
        (where["dir"] / old).write_bytes(b"the old file")
    argv = command([a.format(**where) for a in args])
    preexec = file_size_limit(limit) if limit else None
    done = subprocess.run(argv, capture_output=True, text=True, env=ENV, preexec_fn=preexec)
    assert done.returncode == status
    files = {p.name: p.read_bytes() for p in where["dir"].iterdir()}
    if says:  # one line, and the directory as it was: no partial file, nothing left over
        assert done.stderr == f"pykora: error: {says.format(**where)}\n"
        assert done.stdout == "" and files == ({old: b"the old file"} if old else {})
        return
    assert done.stderr == "" and sorted(files) == ["marginals.dat", "quantiles.dat", "stream.dat"]
    for name, values in example_vectors().items():
        assert files[name] == np.array(values, "<f8").tobytes()


@pytest.mark.parametrize(
    "cmd, fmt",
    [("show", "table"), ("show", "csv"), ("show", "json"), ("info", "text"), ("info", "json")],
)
def test_several_files_and_stdin_make_one_document_with_the_worst_status(demo, tmp_path, cmd, fmt):
    from pykora.cli import main

    ragged, missing = tmp_path / "ragged.dat", tmp_path / "missing.dat"
    ragged.write_bytes(b"x" * 12)
    marginals, quantiles = demo / "marginals.dat", tmp_path / 'quantiles, "3 blocks".dat'
    quantiles.write_bytes((demo / "quantiles.dat").read_bytes())
    options = ["--as", "marginals", "--format", fmt] if cmd == "show" else ["--format", fmt]
    args = [cmd, "-", ragged, quantiles, missing, *options]
    done = subprocess.run(command(args), input=marginals.read_bytes(), capture_output=True, env=ENV)
    assert done.returncode == 2  # a malformed file is worse than a missing one
    ragged_size = "its size, 12 bytes, is not a multiple of 8"
    assert done.stderr.decode().splitlines() == [
        f"pykora: error: {ragged}: not a float64 stream: {ragged_size}",
        f"pykora: error: {missing}: no such file",
    ]
    alone = []
    for path in marginals, quantiles:
        with contextlib.redirect_stdout(io.StringIO()) as out:
            assert main([cmd, str(path), *options]) == 0
        alone.append(out.getvalue().replace(str(marginals), "standard input"))
    got = done.stdout.decode()
    if fmt == "text":  # each description starts with the file's name
        assert got == f"{alone[0]}\n{alone[1]}"
    elif fmt == "table":  # one after another, as `head` shows files
        assert got == f"==> standard input <==\n{alone[0]}\n==> {quantiles} <==\n{alone[1]}"
    elif fmt == "json":  # one object: each file's document under its name as given
        document = json.loads(got, object_pairs_hook=list)
        assert document == [
            (name, json.loads(doc, object_pairs_hook=list))
            for name, doc in zip(["-", str(quantiles)], alone, strict=True)
        ]
    else:  # one table whose first column names each line's file, quoted where it must be
        header, *lines = alone[0].splitlines(True)
        quoted = '"' + str(quantiles).replace('"', '""') + '"'
        assert got == "file," + header + "".join(
            ["-," + line for line in lines]
            + [quoted + "," + line for line in alone[1].splitlines(True)[1:]]
        )


@pytest.mark.parametrize(
    "kind, status, says",
    # What reopening /dev/stdin by name got wrong: a FIFO whose writer is gone waits for a
    # new one, a file is read from its start, a socket cannot be opened.
    [("fifo", 0, None), ("offset", 0, None), ("socket", 0, None), ("null", 0, None)]
    + [("closed", 1, "cannot read: it is closed"), ("terminal", 1, "is a character device")]
    + [("zero", 1, "is a character device")],
)
def test_stdin_is_read_from_where_it_stands(demo, tmp_path, kind, status, says):
    data = (demo / "quantiles.dat").read_bytes()
    with contextlib.ExitStack() as stack:

        def close(fd):
            stack.callback(os.close, fd)
            return fd

        stdin, preexec, shown = None, None, data
        if kind == "fifo":
            os.mkfifo(tmp_path / "fifo")
            stdin = close(os.open(tmp_path / "fifo", os.O_RDONLY | os.O_NONBLOCK))
            writer = os.open(tmp_path / "fifo", os.O_WRONLY)
            os.write(writer, data)
            os.close(writer)
        elif kind == "offset":
            (tmp_path / "file").write_bytes(data)
            stdin, shown = close(os.open(tmp_path / "file", os.O_RDONLY)), data[16:]
            os.lseek(stdin, 16, os.SEEK_SET)
        elif kind == "socket":
            ours, theirs = socket.socketpair()
            ours.sendall(data)
            ours.close()
            stdin = close(theirs.detach())
        elif kind == "terminal":
            master, stdin = map(close, os.openpty())  # stdin: the side a shell's programs read
        elif kind == "closed":
            preexec = functools.partial(os.close, 0)
        else:
            stdin, shown = close(os.open(f"/dev/{kind}", os.O_RDONLY)), b""
        args = command(["show", "-", "--format", "csv"])
        done = subprocess.run(
            args, stdin=stdin, preexec_fn=preexec, capture_output=True, env=ENV, timeout=30
        )
    assert done.returncode == status
    if says:
        assert done.stderr.decode() == f"pykora: error: standard input: {says}" + (
            "; pipe a result file into it or give its path\n" if "device" in says else "\n"
        )
        return
    values = np.frombuffer(shown, "<f8")
    assert done.stderr == b""
    assert done.stdout.decode() == "index,value\n" + "".join(
        f"{i},{v!r}\n" for i, v in enumerate(values.tolist())
    )


@pytest.mark.parametrize(
    "table_args, json_args", [([], ["--json"]), (["--format", "table"], ["--format", "json"])]
)
def test_options_table_and_json(table_args, json_args):
    table = run("options", *table_args).stdout.splitlines()
    assert table[0].split() == ["key", "value", "default", "set"]
    keys = [line.split()[0] for line in table[1:]]
    assert keys == [*kora_get_option_default(), "kora.call", "weftgen.call"]
    assert table[keys.index("kora.call") + 1].split() == ["kora.call", "'kora'", "'kora'", "no"]

    code = (
        "from pykora.options import kora_set_option as s; s('keep', True); s('kora.call', 'k2');"
        f"from pykora.cli import main; raise SystemExit(main(['options', *{json_args!r}]))"
    )
    doc = json.loads(run(code=code).stdout)
    assert "--json" not in run("options", "--help").stdout  # kept for scripts, not shown
    assert len(doc) == 26
    assert doc["keep"] == {"value": True, "default": False, "set": True}
    assert doc["kora.call"] == {"value": "k2", "default": "kora", "set": True}
    assert doc["num.threads"]["set"] is False
    assert doc["num.threads"]["value"] == kora_get_option_default()["num.threads"]


@pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed")
@pytest.mark.parametrize("name, view", [("marginals.dat", "marginals"), ("-", "matrix")])
def test_plot_writes_a_png(demo, tmp_path, name, view):
    import matplotlib.image

    out = tmp_path / "out.png"
    stdin = (demo / "quantiles.dat").read_bytes()  # what "-" reads
    args = command(["plot", name if name == "-" else demo / name, "--as", view, "-o", out])
    done = subprocess.run(args, input=stdin, capture_output=True, env=ENV)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"{out}\n".encode() and done.stderr == b""
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    image = matplotlib.image.imread(out)
    assert image.ndim == 3 and image.shape[0] > 100 and image.std() > 0


@pytest.mark.parametrize(
    "options, status, says",
    [([], 3, 'pip install "pykora[plot]"'), (["--dpi", "5"], 2, "--dpi: 5 is out of range")],
)
def test_plot_without_matplotlib_names_the_extra(demo, tmp_path, options, status, says):
    code = (
        "import sys; sys.modules['matplotlib'] = None; from pykora.cli import main;"
        f"raise SystemExit(main(['plot', {str(demo / 'marginals.dat')!r}, '-o', 'x.png',"
        f" *{options!r}]))"
    )
    done = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, cwd=tmp_path, env=ENV
    )
    assert done.returncode == status and "Traceback" not in done.stderr
    *usage, last = done.stderr.splitlines()
    assert last.startswith("pykora: error: ") and says in last
    assert bool(usage) == (status == 2)  # a usage error, whatever is installed
    assert not (tmp_path / "x.png").exists()


def test_importing_pykora_and_the_cli_loads_neither_numpy_nor_the_native_modules():
    code = (
        "import sys, pykora, pykora.cli; native = {'numpy', 'pykora.binary', 'pykora.options'};"
        "print(sorted(native & set(sys.modules)), pykora.binary.__name__, pykora.options.__name__)"
    )
    assert run(code=code).stdout.split() == ["[]", "pykora.binary", "pykora.options"]


def test_console_script_runs_the_command_line_with_the_one_version():
    import importlib.metadata
    import shutil

    import pykora

    script = shutil.which("pykora", path=os.path.dirname(sys.executable))
    assert script, "the pykora console script is not installed next to the interpreter"
    done = subprocess.run([script, "--version"], capture_output=True, text=True, env=ENV)
    assert done.returncode == 0
    assert done.stdout == f"pykora {pykora.__version__}\n"
    assert importlib.metadata.version("pykora") == pykora.__version__


@pytest.mark.parametrize(
    "size, options, columns",
    # quantiles.dat's matrix is 57 characters wide: its 7 columns fit in 57, 6 in 56.
    [("COLUMNS=57", [], 7), ("COLUMNS=56", [], 6), ("COLUMNS=20", [], 1), ("COLUMNS=5", [], 1)]
    + [("pty 30x40", [], 4), ("COLUMNS=20", ["--max-cols", "9"], 7)]
    + [("COLUMNS=20", ["--all"], 7), ("COLUMNS=20", ["--max-cols", "2"], 2)]
    # Not a terminal: nothing changes, whatever COLUMNS says.
    + [("pipe", [], 7)],
)
def test_a_table_on_a_terminal_fits_its_width(demo, size, options, columns):
    import fcntl
    import pty
    import struct
    import termios

    args = command(["show", demo / "quantiles.dat", "--as", "matrix", *options])
    env = ENV | {"COLUMNS": "20"}
    if size == "pipe":
        text = subprocess.run(args, capture_output=True, text=True, env=env).stdout
    else:
        master, terminal = pty.openpty()
        if size.startswith("pty"):  # the terminal's own size, as the kernel keeps it
            rows, width = map(int, size.split()[1].split("x"))
            fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", rows, width, 0, 0))
            env.pop("COLUMNS")
        else:
            env["COLUMNS"] = size.split("=")[1]
        with subprocess.Popen(args, stdout=terminal, stderr=subprocess.PIPE, env=env) as proc:
            os.close(terminal)
            output = b""
            while True:
                try:
                    piece = os.read(master, 1 << 16)
                except OSError:  # EIO: the command has ended and closed the terminal
                    break
                if not piece:
                    break
                output += piece
            assert proc.wait(timeout=30) == 0 and proc.stderr.read() == b""
        os.close(master)
        text = output.decode().replace("\r\n", "\n")
    summary, legend, header, *rows = text.splitlines()
    names = [name for name in header.split()[1:] if name != "..."]
    assert len(names) == columns and len(rows) == 5
    assert (f"{7 - columns} column" in summary) == (columns < 7)
    width = int(size.split("=")[1]) if "=" in size else 40
    if size != "pipe" and not options and columns > 1:  # within the width, as many as fit
        assert max(map(len, [header, *rows])) <= width


# Ctrl-C after the first line of an endless text: padding that a block declares 2**62 of.
INTERRUPT_LATER = (
    "import os, signal, sys\n"
    "signal.signal(signal.SIGINT, signal.default_int_handler)\n"
    "signal.signal(signal.SIGALRM, lambda *_: os.kill(os.getpid(), signal.SIGINT))\n"
    "signal.setitimer(signal.ITIMER_REAL, 0.5)\n"
)


@pytest.mark.parametrize(
    "view, options",
    [("marginals", ["--format", "csv"]), ("matrix", ["--format", "json"])]
    + [("marginals", ["--all"]), ("matrix", ["--all"])],
)
def test_an_interrupt_in_a_long_write_ends_it_at_once_and_quietly(tmp_path, view, options):
    path = tmp_path / "endless.dat"
    np.array([1, 2.0**62, 0.1, 10], "<f8").tofile(path)
    code = INTERRUPT_LATER + "from pykora.cli import main; raise SystemExit(main())"
    argv = [sys.executable, "-c", code, "show", str(path), "--as", view, *options]
    import threading

    with subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV) as proc:
        assert proc.stdout.readline()  # it has started writing
        drain = threading.Thread(target=lambda: sum(map(len, proc.stdout)), daemon=True)
        drain.start()  # read on while it writes, so that only the interrupt can end it
        try:
            status = proc.wait(timeout=30)
        finally:
            proc.kill()  # a run that hangs fails the test, and does not outlive it
        err = proc.stderr.read().decode()
    assert status == 130
    assert err.count("\n") == 1 and "NaN padding" in err  # the padding's note, and no traceback
