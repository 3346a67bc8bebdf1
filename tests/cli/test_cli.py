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
from pykora.options import kora_get_option_default

HAS_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None


def command(args, code=None):
    return [sys.executable, *(["-c", code] if code else ["-m", "pykora"]), *map(str, args)]


def capped(limit_mb):
    """A preexec_fn that caps the address space, so that a run out of memory fails fast."""
    if limit_mb is None:
        return None
    limit = limit_mb << 20
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


# One BLAS thread: each thread reserves address space, which a cap would count.
ENV = {**os.environ, "OPENBLAS_NUM_THREADS": "1"}


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


def run_measured(*args, lines=None):
    """(stdout, stderr, status, peak RSS in MB); with ``lines``, reads that many and hangs up."""
    with tempfile.TemporaryDirectory() as scratch:
        report, err_path = os.path.join(scratch, "usage"), os.path.join(scratch, "stderr")
        with open(os.devnull, "rb") as stdin, open(err_path, "wb") as stderr:
            cmd = [sys.executable, "-c", MEASURE, report, *command(args)]
            proc = subprocess.Popen(
                cmd, stdin=stdin, stdout=subprocess.PIPE, stderr=stderr, env=ENV
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
    assert err == "" and status in (0, 1)
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
@pytest.mark.parametrize("count, fmt", [(10_000_000, "table"), (1000, "csv"), (1000, "json")])
def test_a_count_beyond_the_file_is_reported_and_decoded_as_ever(tmp_path, view, count, fmt):
    path = tmp_path / "result.dat"
    np.array([1, count, 0.1, 10], "<f8").tofile(path)
    done = run("show", path, "--as", view, "--format", fmt, limit_mb=1024)
    assert done.returncode == 0
    (warning,) = done.stderr.splitlines()
    assert warning.startswith("pykora: warning: ") and "NaN padding" in warning
    assert f"declares {count} pairs" in warning and "4 values, 2 of them" in warning
    if fmt != "table":
        want = kora_interpret_vector(kora_read_binary_file(path)).ravel()
        np.testing.assert_array_equal(printed_numbers(done.stdout, view, fmt), want)
        return
    summary, cells = table_cells(done.stdout)
    assert f"{count} rows" in summary and len(done.stdout) < 2000
    block = "block 0 (idx 1)" if view == "marginals" else None
    assert cells[block, "0"] == {"x": "0.1", "y": "10"}
    assert cells[block, str(count - 1)] == {"x": "NaN", "y": "NaN"}


NAN_COUNT, INF_COUNT, HUGE_COUNT, HUGER_COUNT, HUGEST_COUNT = (
    np.array([1, n, 1, 2], "<f8").tobytes() for n in (np.nan, np.inf, 1e9, 3e9, 2.0**62)
)
COUNT_IDS = {NAN_COUNT: "nan-count", INF_COUNT: "inf-count", HUGE_COUNT: "1e9-count"}
COUNT_IDS |= {HUGER_COUNT: "3e9-count", HUGEST_COUNT: "2**62-count"}


@pytest.mark.parametrize(
    "content, view, status, says",
    [(None, "raw", 1, "no such file"), ("dir", "raw", 1, "directory")]
    + [(b"x" * 12, "raw", 2, "multiple of 8"), (NAN_COUNT, "matrix", 2, "blocks")]
    + [(NAN_COUNT, "marginals", 2, "blocks"), (INF_COUNT, "marginals", 2, "blocks")]
    # Refused before reading: /dev/zero never ends and a FIFO waits for a writer.
    + [("/dev/zero", "raw", 1, "character device"), ("fifo", "raw", 1, "FIFO")]
    + [("socket", "marginals", 1, "socket")]
    # 1e9 pairs of NaN padding are 16 GB: more memory than the run may take. CSV and JSON
    # decode the padded block before they write anything.
    + [(HUGE_COUNT, "matrix", 1, "not enough memory"), (HUGE_COUNT, "marginals", 1, "memory")]
    + [(HUGER_COUNT, "marginals/csv", 1, "memory"), (HUGEST_COUNT, "marginals/json", 1, "memory")]
    + [(HUGEST_COUNT, "matrix/json", 1, "memory")],
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
        done = run("show", path, "--as", view, "--format", fmt, limit_mb=1024, timeout=30)
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
    + [(["plot", "x.dat", "-o", "x.png", "--dp", "30"], "pykora plot")],
)
def test_usage_errors_give_the_commands_usage_and_one_error_line(args, usage, capsys):
    from pykora.cli import main

    assert main(args) == 2
    *usage_lines, last = capsys.readouterr().err.splitlines()
    assert usage_lines[0].startswith(f"usage: {usage} [-h]")
    assert last.startswith("pykora: error: ") and "error" not in " ".join(usage_lines)


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


def test_several_files_and_stdin_are_shown_under_headers_with_the_worst_status(demo, tmp_path):
    from pykora.cli import main

    ragged, missing = tmp_path / "ragged.dat", tmp_path / "missing.dat"
    ragged.write_bytes(b"x" * 12)
    marginals, quantiles = demo / "marginals.dat", demo / "quantiles.dat"
    args = ["show", "-", ragged, quantiles, missing, "--as", "marginals"]
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
            assert main(["show", str(path), "--as", "marginals"]) == 0
        alone.append(out.getvalue())
    assert done.stdout.decode() == (
        "==> standard input <==\n"
        + alone[0].replace(str(marginals), "standard input")
        + f"\n==> {quantiles} <==\n"
        + alone[1]
    )


def test_options_table_and_json():
    table = run("options").stdout.splitlines()
    assert table[0].split() == ["key", "value", "default", "set"]
    keys = [line.split()[0] for line in table[1:]]
    assert keys == [*kora_get_option_default(), "kora.call", "weftgen.call"]
    assert table[keys.index("kora.call") + 1].split() == ["kora.call", "'kora'", "'kora'", "no"]

    code = (
        "from pykora.options import kora_set_option as s; s('keep', True); s('kora.call', 'k2');"
        "from pykora.cli import main; raise SystemExit(main(['options', '--json']))"
    )
    doc = json.loads(run(code=code).stdout)
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


def test_plot_without_matplotlib_names_the_extra(demo, tmp_path):
    code = (
        "import sys; sys.modules['matplotlib'] = None; from pykora.cli import main;"
        f"raise SystemExit(main(['plot', {str(demo / 'marginals.dat')!r}, '-o', 'x.png']))"
    )
    done = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, cwd=tmp_path
    )
    assert done.returncode != 0 and "Traceback" not in done.stderr
    assert done.stderr.count("\n") == 1 and 'pip install "pykora[plot]"' in done.stderr
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
