"""python -m pykora, run as users run it: in a subprocess, on files that `example` writes."""

import csv
import importlib.util
import io
import json
import subprocess
import sys

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


def run(*args, code=None):
    cmd = [sys.executable, *(["-c", code] if code else ["-m", "pykora"]), *map(str, args)]
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120)


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    target = tmp_path_factory.mktemp("cli") / "new" / "demo"
    done = run("example", target)
    assert done.returncode == 0, done.stderr
    paths = done.stdout.split()
    assert [p.rsplit("/", 1)[1] for p in paths] == ["stream.dat", "quantiles.dat", "marginals.dat"]
    return target


def expected(path, view, fmt):
    """The arrays `show --as view --format fmt` must print, by block, decoded in this process."""
    values = kora_read_binary_file(path)
    if view != "marginals":
        return {0: values.reshape(-1, 1) if view == "raw" else kora_interpret_vector(values)}
    blocks = enumerate(kora_interpret_vector_list(values))
    return {k: pairs for k, pairs in blocks if fmt == "json" or len(pairs)}  # CSV: rows only


def parsed(text, view, fmt):
    """The arrays, by block, in `show`'s CSV or JSON output; non-finite values as strings."""
    if fmt == "json":
        doc = json.loads(text, parse_constant=pytest.fail)  # strict JSON: no bare NaN

        def array(items, width):
            return np.array([float(v) for v in np.ravel(items)]).reshape(-1, width)

        if view == "raw":
            return {0: array(doc["values"], 1)}
        if view == "matrix":
            return {0: array(doc["rows"], len(doc["columns"]))}
        return {b["block"]: array(b["pairs"], 2) for b in doc["blocks"]}
    header, *rows = csv.reader(io.StringIO(text))
    table = np.array(rows, dtype=object).reshape(len(rows), len(header))
    if view == "raw":
        assert header == ["index", "value"]
        return {0: table[:, 1:].astype(np.float64)}
    if view == "matrix":
        return {0: table.astype(np.float64)}
    assert header == ["block", "idx", "x", "y"]
    blocks = table[:, 0].astype(int)
    return {k: table[blocks == k, 2:].astype(np.float64) for k in sorted(set(blocks))}


@pytest.mark.parametrize(
    "name, view",
    [("stream.dat", "raw"), ("quantiles.dat", "matrix"), ("marginals.dat", "matrix")]
    + [("quantiles.dat", "marginals"), ("marginals.dat", "marginals")],
)
@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
def test_show_prints_what_the_decoders_return(demo, name, view, fmt):
    path = demo / name
    done = run("show", path, "--as", view, "--format", fmt)
    assert done.returncode == 0 and done.stderr == ""
    want = expected(path, view, fmt)
    assert ("NaN" in done.stdout) == any(np.isnan(a).any() for a in want.values())
    if fmt == "table":
        values = kora_read_binary_file(path)
        summary = done.stdout.splitlines()[0]
        assert f"{values.size} values" in summary
        assert view == "raw" or f"{len(_split_vector_blocks(values))} blocks" in summary
        assert f"{sum(len(a) for a in want.values())} rows" in summary
        return
    got = parsed(done.stdout, view, fmt)
    assert got.keys() == want.keys()
    for k, w in want.items():
        np.testing.assert_array_equal(got[k], w)


@pytest.mark.parametrize(
    "content, args, status",
    [
        (None, [], 1),  # missing
        (b"x" * 12, [], 2),  # not a multiple of 8
        (np.array([1, np.nan, 1, 2], "<f8").tobytes(), ["--as", "matrix"], 2),
        (np.array([1, np.nan, 1, 2], "<f8").tobytes(), ["--as", "marginals"], 2),
        (np.array([1, np.inf, 1, 2], "<f8").tobytes(), ["--as", "marginals"], 2),
        ("dir", [], 1),
    ],
)
def test_bad_files_end_with_one_line_and_a_status(tmp_path, content, args, status):
    path = tmp_path / "result.dat"
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    done = run("show", path, *args)
    assert done.returncode == status
    assert done.stdout == "" and "Traceback" not in done.stderr
    assert done.stderr.startswith("pykora: error: ") and done.stderr.count("\n") == 1


@pytest.mark.parametrize("args", [[], ["show"], ["show", "x.dat", "--as", "cube"], ["frobnicate"]])
def test_usage_errors_return_2_without_raising(args, capsys):
    from pykora.cli import main

    assert main(args) == 2
    assert "usage: pykora" in capsys.readouterr().err


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
@pytest.mark.parametrize(
    "name, view", [("marginals.dat", "marginals"), ("quantiles.dat", "matrix")]
)
def test_plot_writes_a_png(demo, tmp_path, name, view):
    import matplotlib.image

    out = tmp_path / "out.png"
    done = run("plot", demo / name, "--as", view, "-o", out)
    assert done.returncode == 0, done.stderr
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


def test_importing_the_cli_loads_neither_numpy_nor_the_native_modules():
    code = "import sys, pykora.cli; print(sorted({'numpy', 'pykora.binary'} & set(sys.modules)))"
    assert run(code=code).stdout.strip() == "[]"
