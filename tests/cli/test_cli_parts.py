"""The command line's parts, run in this process: the matrix's columns, labels, the chunked
writers, what plot draws and the README's examples."""

import contextlib
import importlib.util
import io
import math
import re
import shlex
import signal
from json import loads as parse_json
from pathlib import Path

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

from pykora.binary import kora_interpret_vector, kora_interpret_vector_list, kora_read_binary_file
from pykora.cli import cells, main, numbers, source
from pykora.cli.commands.info import describe
from pykora.cli.layout import find_layout
from pykora.cli.render import csv, grid, json
from pykora.cli.source import Source
from pykora.cli.view import ColumnNames, column_sources
from tests.support.compare import bits
from tests.support.strategies import AFFORDABLE_ROWS, EXAMPLES, flat_vectors, padding_rows

README = Path(__file__).resolve().parents[2] / "README.md"
HAS_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None
needs_matplotlib = pytest.mark.skipif(not HAS_MATPLOTLIB, reason="matplotlib is not installed")


@settings(max_examples=EXAMPLES // 2, deadline=None)
@given(flat_vectors(), st.data())
def test_cells_are_those_of_the_whole_matrix_padding_and_all(values, data):
    assume(padding_rows(values) <= AFFORDABLE_ROWS)
    vec = np.array(values, dtype=np.float64)
    try:
        whole = kora_interpret_vector(vec)
    except (ValueError, OverflowError):  # a count that cannot be read
        assume(False)
    n_rows, n_columns = whole.shape
    layout = find_layout(Source("v", vec))
    assert len(ColumnNames(layout.n_blocks)) == n_columns
    cuts = sorted(data.draw(st.lists(st.integers(0, n_columns), max_size=6)))
    for span in [range(a, b) for a, b in zip(cuts[0::2], cuts[1::2], strict=False) if b > a]:
        r0, r1 = sorted(data.draw(st.lists(st.integers(0, n_rows), min_size=2, max_size=2)))
        got = cells.gather(vec, layout, column_sources(span, layout.n_blocks), r0, r1)
        assert np.array_equal(bits(got), bits(whole[r0:r1, span.start : span.stop]))
        # Named as kora_interpret_vector lays the columns out, whatever their widths.
        names = ColumnNames(layout.n_blocks)
        plain = [plain_column_name(layout.n_blocks, c) for c in span]
        assert names[span.start : span.stop] == plain == [names[c] for c in span]
        widths = data.draw(st.lists(st.integers(0, 12), min_size=len(span), max_size=len(span)))
        aligned = names.aligned(span, np.array(widths, np.int64))
        assert aligned == "  ".join(map(str.rjust, plain, widths))


def plain_column_name(n_blocks, c):
    """Column c of the matrix: block k's y and x are columns 2k + 1 and 2k + 2."""
    if n_blocks == 1:
        return "xy"[c]
    return "x" if c == 0 else f"{'xy'[c % 2]}{(c - 1) // 2}"


def plain_description(values):
    """What `info` says of ``values``, counted one value at a time as the decoders read the
    blocks: a count rounded half to even, none below 1, a last block cut short."""
    n = len(values)
    x, y, idx, sizes, pairs, padded, i = [], [], [], [], 0, 0, 0
    reason = None
    while i + 1 < n:
        if not math.isfinite(values[i + 1]):
            reason = (len(idx), i + 1)
            break
        k = max(round(values[i + 1]), 0)
        held = values[i + 2 : i + 2 + 2 * k]
        idx.append(values[i])
        sizes.append(k)
        x += held[0::2]
        y += held[1::2]
        pairs += len(held) // 2
        padded += k - len(held) // 2
        i += 2 + len(held)
    doc = {"bytes": 8 * n, "values": n}
    if reason:
        doc |= {"blocks": None, "reason": reason, "pairs": None, "padded_pairs": None}
        doc |= {"empty_blocks": None, "pairs_per_block": None, "leftover": None}
    else:
        doc |= {"blocks": len(idx), "pairs": pairs, "padded_pairs": padded}
        doc["empty_blocks"] = sizes.count(0)
        doc["pairs_per_block"] = {"min": min(sizes), "max": max(sizes)} if sizes else None
        doc["leftover"] = n - i
    doc |= {"nan_values": sum(map(math.isnan, values))}
    doc |= {"inf_values": sum(map(math.isinf, values))}
    for axis, held in ("x", x), ("y", y):
        held = [a for a in held if math.isfinite(a)]
        doc[axis] = {"min": min(held), "max": max(held)} if held and not reason else None
    doc["idx"] = None
    if idx and not reason:
        integral = all(math.isfinite(a) and a == int(a) for a in idx)
        increasing = all(b > a for a, b in zip(idx, idx[1:], strict=False))
        doc["idx"] = {"first": idx[0], "last": idx[-1], "integral": integral}
        doc["idx"]["increasing"] = increasing
    return doc


@settings(max_examples=EXAMPLES, deadline=None)
@given(flat_vectors())
def test_info_counts_what_the_decoders_would_decode(values):
    # Nothing is decoded: counts of 1e300 pairs are described as they are.
    got = describe(Source("v", np.array(values, dtype=np.float64)))
    want = plain_description([float(v) for v in values])
    if want["blocks"] is None:
        k, position = want["reason"]
        assert got["reason"].startswith(f"block {k} (idx ")
        assert got["reason"].endswith(f"at index {position} of the values")
        want["reason"] = got["reason"]
    assert got.pop("file") == "v"
    # Compared as JSON text: exact, -0.0 apart from 0.0, every NaN alike.
    assert numbers.json_scalar(got) == numbers.json_scalar(want)


@pytest.mark.parametrize(
    "idx, text",
    [(1234567.0, "1234567"), (2e6, "2000000"), (-3.0, "-3"), (0.1, "0.1"), (1 / 3, repr(1 / 3))]
    + [(2.0**60, "1.152921504606847e+18"), (1e300, "1e+300"), (float("nan"), "NaN")]
    + [(float("-inf"), "-inf"), (123456.5, "123456.5"), (-0.0, "-0")],
)
def test_block_labels_name_exactly_one_idx(idx, text):
    assert numbers.idx_text(idx) == text
    assert cells.block_names(np.array([7, 2**62]), np.array([idx, idx])) == (
        f"7 (idx {text}), {2**62} (idx {text})"
    )
    assert bits(float(text)) == bits(idx) or idx != idx


def run_main(*args):
    """(status, stdout, stderr) of the command line run in this process."""
    out, err = io.StringIO(), io.StringIO()
    # Ctrl-C handled as in a terminal, whatever the suite inherited, and left so.
    inherited = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = main([str(a) for a in args])
        assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    finally:
        signal.signal(signal.SIGINT, inherited)
    return status, out.getvalue(), err.getvalue()


def test_a_file_longer_than_its_size_said_is_read_whole(demo, monkeypatch):
    """A file that grew after its size was taken: the bytes beyond it are read too."""
    real = source._open_regular
    monkeypatch.setattr(source, "_open_regular", lambda path: (real(path)[0], 16))
    got = source.read_source(str(demo / "marginals.dat")).values
    assert np.array_equal(bits(got), bits(kora_read_binary_file(demo / "marginals.dat")))


def grids(text, view):
    """The lines of each grid of a table: the matrix's, or each block's of marginals."""
    lines = text.splitlines()[1:]
    if view == "matrix":
        return [lines[1:]]  # after the legend
    sections = "\n".join(lines).strip("\n").split("\n\n")
    return [section.splitlines()[1:] for section in sections if section.startswith("block ")]


def assert_aligned(text, view):
    """Right-aligned columns: every line of a grid is as long as its header."""
    for lines in grids(text, view):
        assert len({len(line) for line in lines}) <= 1, lines


@pytest.mark.parametrize("max_rows", [4, 100])
def test_a_summarised_marginals_table_shows_rows_as_the_whole_table_does(uneven, max_rows):
    def by_block(text):
        titles = [line.split()[1] for line in text.splitlines() if line.startswith("block ")]
        return dict(zip(map(int, titles), grids(text, "marginals"), strict=True))

    whole = by_block(run_main("show", uneven, "--as", "marginals", "--all")[1])
    part = run_main("show", uneven, "--as", "marginals", "--max-rows", max_rows)[1]
    assert_aligned(part, "marginals")
    shown = by_block(part)
    # Row numbers below 1000: the label column is as wide as "row" and the "..." rows.
    assert {lines[0][:4] for lines in shown.values() if lines} == {"row "}
    for k, lines in shown.items():
        rows = {line.split()[0]: line.split() for line in whole[k][1:]}
        assert all(line.split() == rows[line.split()[0]] for line in lines[1:] if line[-1] != ".")
    # The last block's second row holds an x without its y: shown, not taken for padding.
    assert max_rows < 100 or "  1    7  NaN" in shown[60]


@pytest.fixture(scope="module")
def uneven(tmp_path_factory):
    """Blocks of 0 to 40 pairs with NaN and infinities among the values, the last one cut
    short, after an x without its y, with numbers narrower than "NaN"."""
    rng = np.random.default_rng(7)
    parts = []
    for k in range(60):
        n = int(rng.choice([0, 1, 2, 5, 40]))
        pairs = rng.standard_normal(2 * n)
        pairs[rng.random(2 * n) < 0.05] = rng.choice([np.nan, np.inf, -np.inf])
        parts += [[k * 1.5, n], pairs]
    parts.append([99, 30, 5, 2, 7])
    path = tmp_path_factory.mktemp("parts") / "uneven.dat"
    np.concatenate(parts).astype("<f8").tofile(path)
    return path


@pytest.mark.parametrize("view", ["raw", "matrix", "marginals"])
@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
@pytest.mark.parametrize("chunk", [3, 40])
def test_writing_a_chunk_at_a_time_changes_nothing(uneven, monkeypatch, view, fmt, chunk):
    args = ["show", uneven, "--as", view, "--format", fmt] + ["--all"] * (fmt == "table")
    whole = run_main(*args)
    # A few cells, values and blocks at a time: every row, column, group and block is cut.
    for module in (cells, grid, csv, json):
        monkeypatch.setattr(module, "CHUNK", chunk)
    assert whole[0] == 0 and run_main(*args) == whole


def readme_examples():
    """(command, expected stderr then stdout) of each `$ python -m pykora` example."""
    text = README.read_text()
    examples = [
        pytest.param(
            shlex.split(command)[3:],
            expected,
            id=command[17:60],
            marks=[needs_matplotlib] if command.startswith("python -m pykora plot") else [],
        )
        for block in re.findall(r"```text\n(.*?)```", text, re.S)
        for command, _, expected in (
            part.partition("\n") for part in re.split(r"^\$ ", block, flags=re.M)[1:]
        )
    ]
    # The quick start: `example demo`, then the matrix of demo/quantiles.dat.
    quick = text.split("## Quick start", 1)[1]
    expected = re.search(r"```text\n(.*?)```", quick, re.S).group(1)
    return [*examples, pytest.param(None, expected, id="quick start")]


@pytest.fixture(scope="module")
def readme_dir(tmp_path_factory):
    """A directory laid out as the README's examples expect."""
    where = tmp_path_factory.mktemp("readme")
    np.array([1, 1e6, 0.1, 10], "<f8").tofile(where / "lying.dat")
    (where / "bad.dat").write_bytes(b"x" * 12)
    assert run_main("example", where / "demo")[0] == 0
    return where


@pytest.mark.parametrize("args, expected", readme_examples())
def test_readme_examples_match_byte_for_byte(readme_dir, tmp_path, monkeypatch, args, expected):
    from pykora.options import kora_get_option_default

    if args is None:  # the quick start, on a fresh machine
        monkeypatch.chdir(tmp_path)
        status, out, err = run_main("example", "demo")
        assert status == 0
        got = out + run_main("show", "demo/quantiles.dat", "--as", "matrix")[1]
    else:
        monkeypatch.chdir(readme_dir)
        status, out, err = run_main(*args)
        got = err + out
    if args == ["options"]:  # the README elides the middle and has 2 CPUs
        expected = expected.replace("'2:1'", repr(kora_get_option_default()["num.threads"]))
        head, tail = expected.split("...\n")
        assert got.startswith(head) and got.endswith(tail)
        return
    assert got == expected


@needs_matplotlib
@pytest.mark.parametrize(
    "output, options, says",
    [("myplot", [], "suffix"), ("name.", [], "suffix"), ("existing", [], "directory")]
    + [("existing/", [], "directory"), ("out.png", ["--dpi", "100000"], "--dpi")],
)
def test_plot_writes_exactly_the_path_given_or_nothing(
    demo, tmp_path, monkeypatch, output, options, says
):
    (tmp_path / "existing").mkdir()
    monkeypatch.chdir(tmp_path)
    status, out, err = run_main("plot", demo / "marginals.dat", "-o", output, *options)
    assert status == 2 and out == ""
    *usage, last = err.splitlines()
    assert last.startswith("pykora: error: ") and says in last
    assert bool(usage) == bool(options)  # a bad value is a usage error, as it is parsed
    assert [p.name for p in tmp_path.rglob("*")] == ["existing"]


@pytest.fixture
def drawn(monkeypatch):
    """What Axes.plot is given: (label, x, y, (colour, line style)) for each line."""
    import matplotlib.axes

    lines = []
    real = matplotlib.axes.Axes.plot

    def spy(axes, x, y, **style):
        drawn_lines = real(axes, x, y, **style)
        look = (drawn_lines[0].get_color(), drawn_lines[0].get_linestyle())
        lines.append((style["label"], np.asarray(x), np.asarray(y), look, axes))
        return drawn_lines

    monkeypatch.setattr(matplotlib.axes.Axes, "plot", spy)
    return lines


# Blocks whose idx a six-digit label would get wrong, then one without pairs.
LABELLED = np.array([1234567, 1, 0.5, 2, 2e6, 2, 1, 2, 3, 4, 0.1, 1, 5, 6, 8.5, 0], "<f8")
EXACT = ["block 0 (idx 1234567)", "block 1 (idx 2000000)", "block 2 (idx 0.1)"]


@needs_matplotlib
@pytest.mark.parametrize(
    "name, view, options, count",
    [("marginals.dat", "matrix", [], 2), ("marginals.dat", "marginals", [], 2)]
    + [("many-blocks.dat", "marginals", [], 20)]
    + [("many-blocks.dat", "matrix", ["--max-series", "3"], 3)]
    + [("labelled", "matrix", ["--title", "T", "--xlabel", "theta", "--ylabel", "density"], 3)]
    # A selection draws its blocks with their own numbers; one without pairs is no line.
    + [("many-blocks.dat", "marginals", ["--blocks", "-3:,5,2:12"], 7)]
    + [("labelled", "matrix", ["--idx", "0.1,8.5,2e6"], 2)],
)
def test_plot_draws_each_block_against_its_own_x(demo, tmp_path, drawn, name, view, options, count):
    path = tmp_path / "labelled.dat" if name == "labelled" else demo / name
    LABELLED.tofile(tmp_path / "labelled.dat")
    image = tmp_path / "out.png"
    status, out, err = run_main("plot", path, "--as", view, "-o", image, *options)
    assert status == 0 and out == f"{image}\n"
    assert image.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    marginals = kora_interpret_vector_list(kora_read_binary_file(path))
    blocks_drawn = [k for k, pairs in enumerate(marginals) if len(pairs)]
    for option in {"--blocks", "--idx"}.intersection(options):
        layout = find_layout(Source("v", kora_read_binary_file(path)))
        value = options[options.index(option) + 1]
        picked = chosen_blocks(option, value, layout.n_blocks, layout.idx.tolist())
        blocks_drawn = [k for k in blocks_drawn if k in picked]
    assert len(drawn) == count
    for (label, x, y, _, _), k in zip(drawn, blocks_drawn, strict=False):
        n = len(marginals[k])
        assert label.startswith(f"block {k} (idx ")
        np.testing.assert_array_equal(np.column_stack([x[:n], y[:n]]), marginals[k])
        assert np.isnan(x[n:] + y[n:]).all()  # the matrix pads shorter blocks
    # Neighbours differ in colour and in line style.
    looks = [look for *_, look, _ in drawn]
    assert all(a[0] != b[0] and a[1] != b[1] for a, b in zip(looks, looks[1:], strict=False))
    if name == "labelled" and "--idx" not in options:
        axes = drawn[-1][-1]
        assert [label for label, *_ in drawn] == EXACT
        assert [axes.get_title(), axes.get_xlabel(), axes.get_ylabel()] == ["T", "theta", "density"]
    left = len(blocks_drawn) - count
    assert err.count("\n") == bool(left) and (f" {left} left out" in err) == bool(left)


@needs_matplotlib
@pytest.mark.parametrize(
    "content, why", [(b"", "it holds no values"), (LABELLED[-2:], "no block has any pairs")]
)
def test_plot_of_nothing_says_so(tmp_path, content, why):
    path = tmp_path / "empty.dat"
    path.write_bytes(bytes(content))
    status, _, err = run_main("plot", path, "-o", tmp_path / "out.png")
    assert status == 0 and (tmp_path / "out.png").stat().st_size
    assert err == f"pykora: note: {path}: nothing to draw: {why}\n"


@pytest.fixture
def saved(monkeypatch):
    """The figures plot saves, as they are once drawn."""
    import matplotlib.figure

    figures = []
    real = matplotlib.figure.Figure.savefig

    def spy(figure, *args, **kwargs):
        real(figure, *args, **kwargs)
        figures.append(figure)

    monkeypatch.setattr(matplotlib.figure.Figure, "savefig", spy)
    return figures


@needs_matplotlib
@pytest.mark.parametrize(
    "n, options", [(3, []), (9, []), (30, []), (30, ["--dpi", "30"]), (40, []), (41, []), (300, [])]
)
def test_plot_tells_lines_apart_and_its_legend_fits(demo, tmp_path, saved, n, options):
    from matplotlib.collections import LineCollection
    from matplotlib.colors import to_rgba

    path = demo / "many-blocks.dat"  # its labels run long: "block 3 (idx 1000003.5)"
    args = ("plot", path, "--max-series", n, "-o", tmp_path / "out.png", *options)
    status, _, err = run_main(*args)
    assert status == 0
    (figure,) = saved
    (axes,) = figure.axes
    legend = (figure.legends or [axes.get_legend()])[0]
    # Whole within the image, whatever its columns and the resolution.
    box, image = legend.get_window_extent(figure.canvas.get_renderer()), figure.bbox
    assert image.x0 <= box.x0 and box.x1 <= image.x1 and image.y0 <= box.y0 and box.y1 <= image.y1
    # Each of the first 40 lines looks like no other; the rest, one collection, in turn.
    looks = [(to_rgba(line.get_color()), line.get_linestyle()) for line in axes.lines]
    assert len(looks) == min(n, 40) == len(set(looks))
    collections = [c for c in axes.collections if isinstance(c, LineCollection)]
    if n > 40:
        (rest,) = collections
        assert len(rest.get_paths()) == n - 40
        # Its line j takes its properties' item j modulo their length, as matplotlib cycles
        # them: the colours of lines 0, 1, ... again, with 40 looks as distinct as theirs.
        colours = [tuple(c) for c in rest.get_colors()]
        dashes = [(offset, tuple(d or ())) for offset, d in rest.get_linestyles()]
        cycle = [(colours[j % len(colours)], dashes[j % len(dashes)]) for j in range(80)]
        assert [colour for colour, _ in cycle] == [colour for colour, _ in looks * 2]
        assert len(set(cycle)) == 40
    else:
        assert not collections
    # The legend names the lines in order; cut, its last entry and stderr count the rest.
    texts = [t.get_text() for t in legend.get_texts()]
    named = [line.get_label() for line in axes.lines]
    left = n - 39 if n > 40 else 0
    assert texts == named[: n - left] + [f"… and {left} more blocks"] * bool(left)
    unnamed = f"the legend names the first 39 of the {n} series drawn; {left} are drawn without"
    assert (unnamed in err) == bool(left) and err.count("\n") == 1 + bool(left)


def chosen_blocks(option, value, n_blocks, idx):
    """The blocks a selection picks, worked out plainly: Python's own indexing of a list."""
    every = list(range(n_blocks))
    picked = set()
    for item in value.split(","):
        if option == "--idx":
            picked |= {k for k in every if idx[k] == float(item)}
        elif ":" in item:
            picked |= set(every[slice(*[int(p) if p else None for p in item.split(":")])])
        else:
            picked.add(every[int(item)])
    return sorted(picked)


def block_of_column(name):
    """The block whose values fill a matrix column named x, y3, x3, ..."""
    return 0 if name in ("x", "y") else int(name[1:])


def restricted(text, view, fmt, chosen):
    """The output of a whole view, cut down to the blocks ``chosen``."""
    if fmt == "json":
        doc = parse_json(text)
        if view == "marginals":
            doc["blocks"] = [b for b in doc["blocks"] if b["block"] in chosen]
        else:
            keep = [j for j, name in enumerate(doc["columns"]) if block_of_column(name) in chosen]
            doc["columns"] = [doc["columns"][j] for j in keep]
            doc["rows"] = [[row[j] for j in keep] for row in doc["rows"]]
        return doc
    if fmt == "csv":
        header, *lines = text.splitlines()
        if view == "marginals":
            return [header] + [line for line in lines if int(line.split(",")[0]) in chosen]
        names = header.split(",")
        keep = [j for j, name in enumerate(names) if block_of_column(name) in chosen]
        return [
            ",".join(fields[j] for j in keep) for fields in map(str.split, [header, *lines], ",")
        ]
    # A whole table: the sections of the blocks chosen, or the columns of the blocks chosen.
    summary, _, body = text.partition("\n")
    if view == "marginals":
        sections = body.split("\nblock ")[1:]
        return [s for s in sections if int(s.split(" ")[0]) in chosen]
    legend, header, *rows = body.splitlines()
    names = header.split()[1:]
    keep = [0] + [1 + j for j, name in enumerate(names) if block_of_column(name) in chosen]
    return [[line.split()[j] for j in keep] for line in [header, *rows]]


@pytest.mark.parametrize("view", ["matrix", "marginals"])
@pytest.mark.parametrize("fmt", ["csv", "json", "table"])
@pytest.mark.parametrize(
    "option, value",
    [("--blocks", "7"), ("--blocks", "-1"), ("--blocks", "0"), ("--blocks", "0:10")]
    + [("--blocks", "::7"), ("--blocks", "3,8,20:25,-2,8"), ("--blocks", "50:10:-3")]
    + [("--blocks", "60:"), ("--blocks", "-2,3"), ("--idx", "1.5,45.0,99"), ("--idx", "0")],
)
def test_a_selection_shows_its_blocks_as_the_whole_view_shows_them(
    uneven, view, fmt, option, value
):
    args = ["show", uneven, "--as", view, "--format", fmt] + ["--all"] * (fmt == "table")
    whole = run_main(*args)
    part = run_main(*args, option, value)
    assert whole[0] == part[0] == 0 and part[2] == whole[2]  # the padding's note, once
    layout = find_layout(Source("v", kora_read_binary_file(uneven)))
    chosen = chosen_blocks(option, value, layout.n_blocks, layout.idx.tolist())
    got = parse_json(part[1]) if fmt == "json" else part[1]
    if fmt == "table":
        assert_aligned(part[1], view)
        summary = part[1].partition("\n")[0]
        assert f"; {len(chosen)} block{'s' * (len(chosen) != 1)} selected (" in summary
        got = restricted(part[1], view, fmt, range(layout.n_blocks))
        if view == "matrix":
            legend = part[1].splitlines()[1]
            assert [int(k) for k in re.findall(r"(\d+) \(idx", legend)] == chosen
    elif fmt == "csv":
        got = restricted(part[1], view, fmt, range(layout.n_blocks))
    assert got == restricted(whole[1], view, fmt, chosen)


@pytest.mark.parametrize(
    "args, says",
    [(["--blocks", "61"], "--blocks 61: no such block; it has 61 blocks, positions from -61 to 60")]
    + [(["--blocks", "0,-62"], "--blocks -62: no such block")]
    + [(["--idx", "3,7.25"], "--idx 7.25: no block has idx 7.25")]
    + [(["--idx", "nan"], "--idx nan: no block has idx NaN")],
)
@pytest.mark.parametrize("fmt", ["table", "csv"])
def test_a_selection_the_file_lacks_is_an_error_that_names_it(uneven, args, says, fmt):
    status, out, err = run_main("show", uneven, "--as", "marginals", "--format", fmt, *args)
    assert status == 2 and out == ""
    assert err.splitlines()[-1].startswith(f"pykora: error: {uneven}: {says}")


@pytest.mark.parametrize("precision", [1, 3, 17])
@pytest.mark.parametrize("fmt", ["table", "csv"])
def test_precision_sets_the_digits_of_table_cells_only(uneven, precision, fmt):
    status, out, _ = run_main("show", uneven, "--all", "--precision", precision, "--format", fmt)
    values = kora_read_binary_file(uneven).tolist()
    if fmt == "csv":  # every digit, whatever the precision
        assert out == run_main("show", uneven, "--format", "csv")[1]
        return
    cells = [line.split()[1] for line in out.splitlines()[2:]]
    assert cells == [format(v, f".{precision}g").replace("nan", "NaN") for v in values]


class Terminal(io.StringIO):
    """A stream that says it is a terminal."""

    def isatty(self):
        return True


def test_nan_padding_counts_in_the_width_a_terminal_table_fits(tmp_path, monkeypatch):
    """Rows of NaN padding below every column make each at least three wide, however
    narrow its numbers: 4 of the 7 columns fit in 30 characters, not all 7."""
    path = tmp_path / "narrow.dat"
    np.array([1, 3, 1, 2, 1, 2, 1, 2, 2, 3, 1, 2, 1, 2, 1, 2, 3, 9, 1, 2], "<f8").tofile(path)
    monkeypatch.setenv("COLUMNS", "30")
    out = Terminal()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        assert main(["show", str(path), "--as", "matrix"]) == 0
    header, *rows = out.getvalue().splitlines()[2:]
    assert header.split() == ["row", "x", "y0", "...", "y2", "x2"]
    assert max(map(len, [header, *rows])) <= 30


@pytest.mark.parametrize(
    "stderr, stdout, drawn",
    [(Terminal, io.StringIO, True), (io.StringIO, io.StringIO, False)]
    # Output on the terminal itself: a progress line would land among its lines.
    + [(Terminal, Terminal, False)],
)
@pytest.mark.parametrize(
    "args, files, line",
    [
        (["show", "uneven.dat", "uneven.dat", "--as", "marginals", "--format", "csv"], 2)
        + (r"[\d.]+ (bytes|kB) written in \d+ s",),
        # Under 1000 bytes, counted to the byte.
        (["show", "tail.dat", "--as", "marginals", "--format", "csv"], 1)
        + (r"\d+ bytes written in \d+ s",),
        pytest.param(
            ["plot", "uneven.dat", "-o", "out.png", "--max-series", "49"],
            1,
            r"drawing 49 series, \d+ s",
            marks=needs_matplotlib,
        ),  # fmt: skip
    ],
)
def test_a_long_run_shows_one_progress_line_and_erases_it(
    uneven, monkeypatch, stderr, stdout, drawn, args, files, line
):
    from pykora.cli import progress

    monkeypatch.setattr(progress, "DELAY", 0.0)
    monkeypatch.setattr(progress, "INTERVAL", 0.0)
    monkeypatch.chdir(uneven.parent)
    np.array([99, 30, 5, 2, 7], "<f8").tofile("tail.dat")  # uneven.dat's last block alone
    err, out = stderr(), stdout()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        assert main(args) == 0
    text = err.getvalue()
    parts = re.split(r"[\r\n]", text)
    # The padding's note of each file, each at the start of a line of its own.
    note = r"pykora: warning: \S+: block \d+ \(idx 99\) declares 30 pairs"
    assert [bool(re.match(note, part)) for part in parts if "warning" in part] == [True] * files
    assert len(re.findall(r"(?:^|[\r\n])" + note, text)) == files
    said = ("pykora: warning: ", "pykora: note: ")  # lines of their own, not progress
    shown = [part for part in parts if part.strip() and not part.startswith(said)]
    assert bool(shown) == drawn
    for part in shown:
        assert re.fullmatch(rf"pykora: {args[1]}: {line} *", part)
    if shown and " bytes written" in shown[-1]:  # drawn after the last write, to the byte
        assert int(shown[-1].split()[2]) == len(out.getvalue())
    # Erased before each note and at the end: spaces over the whole line, then a return.
    blank = [i for i, part in enumerate(parts) if part and not part.strip()]
    assert len(blank) == files * drawn
    for i in blank:  # as wide as the line it erases
        drawn_before = [p for p in parts[:i] if p.strip() and not p.startswith(said)]
        assert len(parts[i]) >= len(drawn_before[-1].rstrip())
    assert text.endswith("\r" if drawn else "\n")
