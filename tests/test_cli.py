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


def flat(items):
    return [x for item in items for x in flat(item)] if isinstance(items, list) else [items]


def printed_numbers(text, view, fmt):
    """Every number of `show`'s CSV or JSON output, in order."""
    if fmt == "json":
        doc = json.loads(text, parse_constant=pytest.fail)  # strict JSON: no bare NaN
        key = {"raw": "values", "matrix": "rows"}.get(view)
        items = doc[key] if key else [block["pairs"] for block in doc["blocks"]]
    else:
        width = {"raw": 1, "marginals": 2}.get(view, 0)  # 0: a matrix row is all numbers
        items = [row[-width:] for row in list(csv.reader(io.StringIO(text)))[1:]]
    return np.array([float(x) for x in flat(items)])


@pytest.mark.parametrize(
    "name, view",
    [("stream.dat", "raw"), ("quantiles.dat", "matrix"), ("marginals.dat", "matrix")]
    + [("quantiles.dat", "marginals"), ("marginals.dat", "marginals")],
)
@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
def test_show_prints_what_the_decoders_return(demo, name, view, fmt):
    done = run("show", demo / name, "--as", view, "--format", fmt)
    assert done.returncode == 0 and done.stderr == ""
    values = kora_read_binary_file(demo / name)
    decode = {"raw": lambda v: [v], "matrix": lambda v: [kora_interpret_vector(v)]}
    arrays = decode.get(view, kora_interpret_vector_list)(values)
    want = np.concatenate([a.ravel() for a in arrays])
    assert ("NaN" in done.stdout) == bool(np.isnan(want).any())
    if fmt != "table":
        np.testing.assert_array_equal(printed_numbers(done.stdout, view, fmt), want)
        return
    summary = done.stdout.splitlines()[0]
    assert f"{values.size} values" in summary and f"{sum(map(len, arrays))} rows" in summary
    assert view == "raw" or f"{len(_split_vector_blocks(values))} blocks" in summary


NAN_COUNT, INF_COUNT = (np.array([1, n, 1, 2], "<f8").tobytes() for n in (np.nan, np.inf))


@pytest.mark.parametrize(
    "content, view, status",
    [(None, "raw", 1), ("dir", "raw", 1), (b"x" * 12, "raw", 2), (NAN_COUNT, "matrix", 2)]
    + [(NAN_COUNT, "marginals", 2), (INF_COUNT, "marginals", 2)],
)
def test_bad_files_end_with_one_line_and_a_status(tmp_path, content, view, status):
    path = tmp_path / "result.dat"
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    done = run("show", path, "--as", view)
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
