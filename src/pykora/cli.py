"""The command line of pykora, run as ``python -m pykora``.

Commands:

* ``show FILE`` prints an engine result file as the raw float64 stream, as the
  dense matrix of ``kora_interpret_vector`` or as the marginals of
  ``kora_interpret_vector_list``, in table, CSV or JSON form;
* ``plot FILE -o OUT`` draws the marginals (or the dense matrix's series) with
  matplotlib, an optional dependency (``pip install "pykora[plot]"``);
* ``options`` prints the effective global options next to their defaults;
* ``example DIR`` writes synthetic result files to try the other commands on.

NumPy and the extension modules are imported inside the commands, so
importing this module stays cheap.

Exit status: 0 on success, 1 when a file is missing or cannot be read or
written, 2 for a malformed file or a usage error, 3 when an optional
dependency is missing. Errors are reported as one line on stderr that starts
with ``pykora: error:``.

Non-finite numbers are written as ``NaN``, ``inf`` and ``-inf`` in every
output format; in JSON they are the strings "NaN", "inf" and "-inf", so the
output stays valid JSON (Python's ``float()`` reads all three back).
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import sys
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any, TextIO, TypeVar

from pykora import __version__

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    FloatArray = npt.NDArray[np.float64]

EXIT_OK = 0
EXIT_NOT_FOUND = 1
EXIT_INVALID = 2
EXIT_UNAVAILABLE = 3

VIEWS = ("raw", "matrix", "marginals")
FORMATS = ("table", "csv", "json")
PLOT_EXTRA_HINT = 'pip install "pykora[plot]"'

_T = TypeVar("_T")


class CliError(Exception):
    """A failure reported to the user as one line, with the exit status to end with."""

    def __init__(self, message: str, code: int) -> None:
        super().__init__(message)
        self.code = code


# --------------------------------------------------------------------------
# Number formatting


def _nonfinite_text(value: float) -> str | None:
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return None


def exact_text(value: float) -> str:
    """Shortest text that reads back as the same float64 (CSV cells)."""
    value = float(value)
    return _nonfinite_text(value) or repr(value)


def short_text(value: float) -> str:
    """Six significant digits, for tables meant to be read by people."""
    value = float(value)
    return _nonfinite_text(value) or f"{value:.6g}"


def json_value(value: Any) -> Any:
    """``value`` made serialisable with ``allow_nan=False``.

    Non-finite floats become the strings "NaN", "inf" and "-inf"; containers
    are converted item by item; objects JSON has no type for become their
    ``repr`` (an option may hold any Python object).
    """
    if value is None or isinstance(value, bool | int | str):
        return value
    if isinstance(value, float):
        return _nonfinite_text(value) or value
    if isinstance(value, dict):
        return {str(k): json_value(v) for k, v in value.items()}
    if isinstance(value, list | tuple):
        return [json_value(v) for v in value]
    tolist = getattr(value, "tolist", None)  # NumPy scalars and arrays
    if callable(tolist):
        return json_value(tolist())
    return repr(value)


def json_text(document: Any, level: int = 0) -> str:
    """Indented JSON of a ``json_value`` result; containers of plain values stay on one line."""
    children = document.values() if isinstance(document, dict) else document
    if not isinstance(document, dict | list) or not any(
        isinstance(v, dict | list) and v for v in children
    ):
        return json.dumps(document, allow_nan=False)
    pad = "  " * (level + 1)
    if isinstance(document, dict):
        items = [f"{pad}{json.dumps(k)}: {json_text(v, level + 1)}" for k, v in document.items()]
        brackets = "{}"
    else:
        items = [pad + json_text(v, level + 1) for v in document]
        brackets = "[]"
    return brackets[0] + "\n" + ",\n".join(items) + "\n" + "  " * level + brackets[1]


def _write_json(document: Any, out: TextIO) -> None:
    out.write(json_text(json_value(document)) + "\n")


def _write_table(
    headers: Sequence[str], rows: Iterable[Sequence[str]], out: TextIO, *, left: bool = False
) -> None:
    """Columns under a header line, right-aligned (numbers) or ``left``-aligned (text)."""
    rows = list(rows)
    widths = [len(h) for h in headers]
    for row in rows:
        widths = [max(w, len(cell)) for w, cell in zip(widths, row, strict=True)]
    for line in [list(headers), *rows]:
        cells = (
            cell.ljust(w) if left else cell.rjust(w) for cell, w in zip(line, widths, strict=True)
        )
        out.write("  ".join(cells).rstrip() + "\n")


def _write_csv(headers: Sequence[str], rows: Iterable[Sequence[str]], out: TextIO) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(headers)
    writer.writerows(rows)


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


# --------------------------------------------------------------------------
# Reading and decoding result files


def read_values(path: str) -> FloatArray:
    """The float64 stream of ``path``, or a ``CliError`` that says what is wrong with it."""
    from pykora.binary import kora_read_binary_file

    try:
        values = kora_read_binary_file(path)
    except ValueError:
        size = os.path.getsize(path)
        raise CliError(
            f"{path}: not a float64 stream: its size, {_plural(size, 'byte')}, "
            "is not a multiple of 8",
            EXIT_INVALID,
        ) from None
    except OSError as exc:
        raise CliError(f"{path}: cannot read: {exc.strerror or exc}", EXIT_NOT_FOUND) from None
    if values is None:
        raise CliError(f"{path}: no such file", EXIT_NOT_FOUND)
    return values


def _decoded(path: str, decode: Callable[[FloatArray], _T], values: FloatArray) -> _T:
    try:
        return decode(values)
    except (ValueError, OverflowError, MemoryError) as exc:
        raise CliError(
            f"{path}: not a vector of [idx, n, x1, y1, ...] blocks: {exc}", EXIT_INVALID
        ) from None


def block_indices(path: str, values: FloatArray) -> list[float]:
    """The idx value of every block of the flattened vector ``values``."""
    from pykora.binary import _split_vector_blocks

    return [float(idx) for idx, _ in _decoded(path, _split_vector_blocks, values)]


def matrix_columns(n_columns: int) -> list[str]:
    """Column names of ``kora_interpret_vector``'s result.

    A single block comes back as its (x, y) pairs; two or more blocks as the
    shared abscissa followed by a (y, x) column pair per block.
    """
    if n_columns == 2:
        return ["x", "y"]
    names = ["x"] if n_columns else []
    for k in range((n_columns - 1) // 2):
        names += [f"y{k}", f"x{k}"]
    return names


def block_label(k: int, idx: float) -> str:
    return f"block {k} (idx {short_text(idx)})"


# --------------------------------------------------------------------------
# show


def _show_raw(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    if args.format == "json":
        _write_json({"file": args.file, "as": "raw", "values": values.tolist()}, out)
        return
    text = short_text if args.format == "table" else exact_text
    rows = ([str(i), text(v)] for i, v in enumerate(values.tolist()))
    if args.format == "csv":
        _write_csv(["index", "value"], rows, out)
        return
    n = values.size
    out.write(f"{args.file}: {_plural(n, 'value')}, raw float64 stream of {_plural(n, 'row')}\n")
    _write_table(["index", "value"], rows, out)


def _show_matrix(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    from pykora.binary import kora_interpret_vector

    n_blocks = len(block_indices(args.file, values))
    matrix = _decoded(args.file, kora_interpret_vector, values)
    assert matrix is not None
    columns = matrix_columns(matrix.shape[1])
    if args.format == "json":
        document = {
            "file": args.file,
            "as": "matrix",
            "blocks": n_blocks,
            "columns": columns,
            "rows": matrix.tolist(),
        }
        _write_json(document, out)
        return
    text = short_text if args.format == "table" else exact_text
    rows = [[text(v) for v in row] for row in matrix.tolist()]
    if args.format == "csv":
        _write_csv(columns, rows, out)
        return
    n_rows, n_columns = matrix.shape
    out.write(
        f"{args.file}: {_plural(values.size, 'value')}, {_plural(n_blocks, 'block')}, "
        f"dense matrix of {_plural(n_rows, 'row')} x {_plural(n_columns, 'column')}\n"
    )
    _write_table(["row", *columns], ([str(i), *row] for i, row in enumerate(rows)), out)


def _show_marginals(args: argparse.Namespace, values: FloatArray, out: TextIO) -> None:
    from pykora.binary import kora_interpret_vector_list

    indices = block_indices(args.file, values)
    marginals = _decoded(args.file, kora_interpret_vector_list, values) or []
    if args.format == "json":
        blocks = [
            {"block": k, "idx": idx, "pairs": pairs.tolist()}
            for k, (idx, pairs) in enumerate(zip(indices, marginals, strict=True))
        ]
        _write_json({"file": args.file, "as": "marginals", "blocks": blocks}, out)
        return
    if args.format == "csv":
        rows = (
            [str(k), exact_text(idx), exact_text(x), exact_text(y)]
            for k, (idx, pairs) in enumerate(zip(indices, marginals, strict=True))
            for x, y in pairs.tolist()
        )
        _write_csv(["block", "idx", "x", "y"], rows, out)
        return
    n_rows = sum(pairs.shape[0] for pairs in marginals)
    out.write(
        f"{args.file}: {_plural(values.size, 'value')}, {_plural(len(marginals), 'block')}, "
        f"{_plural(n_rows, 'row')} of (x, y) pairs\n"
    )
    for k, (idx, pairs) in enumerate(zip(indices, marginals, strict=True)):
        out.write(f"\n{block_label(k, idx)}: {_plural(pairs.shape[0], 'row')}\n")
        if pairs.size:
            rows = (
                [str(i), short_text(x), short_text(y)] for i, (x, y) in enumerate(pairs.tolist())
            )
            _write_table(["row", "x", "y"], rows, out)


def cmd_show(args: argparse.Namespace, out: TextIO) -> int:
    values = read_values(args.file)
    show = {"raw": _show_raw, "matrix": _show_matrix, "marginals": _show_marginals}[args.view]
    show(args, values, out)
    return EXIT_OK


# --------------------------------------------------------------------------
# plot


def plot_series(args: argparse.Namespace) -> list[tuple[str, FloatArray, FloatArray]]:
    """The (label, x, y) lines that ``plot`` draws for ``args.file`` viewed as ``args.view``."""
    import numpy as np

    from pykora.binary import kora_interpret_vector, kora_interpret_vector_list

    values = read_values(args.file)
    if args.view == "raw":
        return [("values", np.arange(values.size, dtype=np.float64), values)]
    indices = block_indices(args.file, values)
    if args.view == "marginals":
        marginals = _decoded(args.file, kora_interpret_vector_list, values) or []
        return [
            (block_label(k, idx), pairs[:, 0], pairs[:, 1])
            for k, (idx, pairs) in enumerate(zip(indices, marginals, strict=True))
            if pairs.size
        ]
    matrix = _decoded(args.file, kora_interpret_vector, values)
    assert matrix is not None
    if matrix.shape[1] == 2:  # a single block: its own (x, y) pairs
        return [(block_label(0, indices[0]), matrix[:, 0], matrix[:, 1])] if matrix.size else []
    return [
        (block_label(k, idx), matrix[:, 0], matrix[:, 1 + 2 * k])
        for k, idx in enumerate(indices)
        if not np.isnan(matrix[:, 1 + 2 * k]).all()
    ]


def cmd_plot(args: argparse.Namespace, out: TextIO) -> int:
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        raise CliError(
            f"plotting needs matplotlib, which is not installed: {PLOT_EXTRA_HINT}",
            EXIT_UNAVAILABLE,
        ) from None

    series = plot_series(args)
    figure = Figure(figsize=(7, 4.5), layout="constrained")
    FigureCanvasAgg(figure)  # the non-interactive Agg backend draws the file
    axes = figure.add_subplot()
    for label, x, y in series:
        axes.plot(x, y, marker=".", label=label)
    if series:
        axes.legend()
    else:
        axes.text(0.5, 0.5, "no data", ha="center", va="center", transform=axes.transAxes)
    axes.set_title(f"{Path(args.file).name} ({args.view})")
    axes.set_xlabel("index" if args.view == "raw" else "x")
    axes.set_ylabel("value" if args.view == "raw" else "y")
    try:
        figure.savefig(args.output, dpi=args.dpi)
    except OSError as exc:
        raise CliError(
            f"{args.output}: cannot write: {exc.strerror or exc}", EXIT_NOT_FOUND
        ) from None
    except ValueError as exc:  # an output format matplotlib does not know
        raise CliError(f"{args.output}: {exc}", EXIT_INVALID) from None
    out.write(f"{args.output}\n")
    return EXIT_OK


# --------------------------------------------------------------------------
# options


def option_rows() -> list[tuple[str, Any, Any, bool]]:
    """(key, effective value, default, whether set) for every option, in lookup order.

    "kora.call" and "weftgen.call" have no entry in the default table; their
    default is what the lookup computes when they are not set.
    """
    from pykora import options

    effective = options.kora_get_option()
    defaults = options.kora_get_option_default()
    defaults.setdefault("kora.call", options.kora_call_builtin())
    defaults.setdefault("weftgen.call", options.weftgen_call_builtin())
    stored = options._KORA_OPTIONS
    return [(key, value, defaults.get(key), key in stored) for key, value in effective.items()]


def cmd_options(args: argparse.Namespace, out: TextIO) -> int:
    rows = option_rows()
    if args.json:
        document = {key: {"value": v, "default": d, "set": s} for key, v, d, s in rows}
        _write_json(document, out)
    else:
        cells = ([key, repr(v), repr(d), "yes" if s else "no"] for key, v, d, s in rows)
        _write_table(["key", "value", "default", "set"], cells, out, left=True)
    return EXIT_OK


# --------------------------------------------------------------------------
# example

#: Standard normal quantiles at the probabilities 0.025, 0.25, 0.5, 0.75, 0.975.
_PROBABILITIES = (0.025, 0.25, 0.5, 0.75, 0.975)
_Z = (-1.959964, -0.6744898, 0.0, 0.6744898, 1.959964)


def example_vectors() -> dict[str, list[float]]:
    """Synthetic result files by name: a raw stream, quantiles and marginals."""
    stream = [0.0, 0.5, 1.0, 1.5, 2.0, 2.5, math.nan, 3.5]

    quantiles: list[float] = []
    for idx, (mean, sd) in enumerate([(0.0, 1.0), (1.5, 0.5), (-1.0, 2.0)], start=1):
        quantiles += [idx, len(_PROBABILITIES)]
        for p, z in zip(_PROBABILITIES, _Z, strict=True):
            quantiles += [p, round(mean + sd * z, 4)]

    def density(mean: float, sd: float, lo: float, hi: float, n: int) -> list[float]:
        pairs: list[float] = []
        for i in range(n):
            x = lo + (hi - lo) * i / (n - 1)
            y = math.exp(-0.5 * ((x - mean) / sd) ** 2) / (sd * math.sqrt(2 * math.pi))
            pairs += [x, round(y, 6)]
        return pairs

    marginals = [1.0, 9.0, *density(0.0, 1.0, -3.0, 3.0, 9)]
    marginals += [2.0, 0.0]  # a block without pairs
    marginals += [3.0, 5.0, *density(1.5, 0.5, 0.5, 2.5, 5)]
    return {"stream.dat": stream, "quantiles.dat": quantiles, "marginals.dat": marginals}


def cmd_example(args: argparse.Namespace, out: TextIO) -> int:
    import numpy as np

    target = Path(args.dir)
    try:
        target.mkdir(parents=True, exist_ok=True)
        for name, values in example_vectors().items():
            path = target / name
            np.asarray(values, dtype="<f8").tofile(path)
            out.write(f"{path}\n")
    except OSError as exc:
        where = exc.filename or target
        raise CliError(f"{where}: cannot write: {exc.strerror or exc}", EXIT_NOT_FOUND) from None
    return EXIT_OK


# --------------------------------------------------------------------------
# Parser and entry point


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="pykora",
        description="Inspect kora engine result files and pykora's global options.",
    )
    parser.add_argument("--version", action="version", version=f"pykora {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    show = commands.add_parser(
        "show",
        help="print a result file (a little-endian float64 stream)",
        description="Decode an engine result file and print it. Non-finite values are "
        'written as NaN, inf and -inf (in JSON as the strings "NaN", "inf", "-inf").',
    )
    show.add_argument("file", metavar="FILE", help="the result file")
    show.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="raw",
        help="raw: the float64 values; matrix: the dense matrix of kora_interpret_vector; "
        "marginals: one (x, y) table per block (default: %(default)s)",
    )
    show.add_argument(
        "--format", choices=FORMATS, default="table", help="output format (default: %(default)s)"
    )
    show.set_defaults(run=cmd_show)

    plot = commands.add_parser(
        "plot",
        help="draw a result file's blocks as lines (needs matplotlib)",
        description="Draw one line per block, labelled with its index. "
        f"Needs matplotlib: {PLOT_EXTRA_HINT}.",
    )
    plot.add_argument("file", metavar="FILE", help="the result file")
    plot.add_argument(
        "-o", "--output", required=True, metavar="OUT", help="image to write, e.g. out.png"
    )
    plot.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="marginals",
        help="marginals: each block's y against its x; matrix: each block's y column against "
        "column 0; raw: the values against their position (default: %(default)s)",
    )
    plot.add_argument("--dpi", type=int, default=100, help="resolution (default: %(default)s)")
    plot.set_defaults(run=cmd_plot)

    opts = commands.add_parser(
        "options",
        help="print the effective global options",
        description="Print every option's effective value, its default and whether it was set.",
    )
    opts.add_argument("--json", action="store_true", help="print JSON instead of a table")
    opts.set_defaults(run=cmd_options)

    example = commands.add_parser(
        "example",
        help="write synthetic result files into a directory",
        description="Write stream.dat (a raw stream), quantiles.dat (three blocks of "
        "(probability, quantile) pairs) and marginals.dat (densities of uneven length and "
        "an empty block) into DIR, creating it if needed, and print their paths.",
    )
    example.add_argument("dir", metavar="DIR", help="target directory")
    example.set_defaults(run=cmd_example)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); return the exit status."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version and usage errors
        return exc.code if isinstance(exc.code, int) else EXIT_INVALID if exc.code else EXIT_OK
    try:
        status: int = args.run(args, sys.stdout)
        sys.stdout.flush()
    except CliError as exc:
        print(f"{parser.prog}: error: {exc}", file=sys.stderr)
        return exc.code
    except BrokenPipeError:  # the reader went away, as with `| head`
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_NOT_FOUND
    except KeyboardInterrupt:
        return 130
    return status
