"""``show FILE...``: result files as tables, CSV or JSON, in the raw, matrix or marginals view.

Each file goes one way through the stages: it is read (``source``), its
blocks are found (``layout``), the view is shaped (``view``: which rows and
columns are shown, and the NaN padding as counts), and a renderer writes it
(``render``), taking its numbers from ``cells`` as it writes. Every failure
with a file comes before its first line is written.

Several files make one document: tables one after another under ``==> FILE
<==`` headers, as ``head`` writes them; one CSV table whose first column names
the file; one JSON object keyed by the files' names. A file that fails is
reported in one line and left out; the exit status is the worst.
"""

from __future__ import annotations

import argparse
import shutil

from pykora.cli import selection
from pykora.cli.cells import DEFAULT_PRECISION
from pykora.cli.errors import EXIT_FAILURE, EXIT_OK, CliError, error, warn
from pykora.cli.layout import find_layout
from pykora.cli.output import Output
from pykora.cli.parser import Parser, integer
from pykora.cli.progress import Progress, Written
from pykora.cli.render import DOCUMENTS
from pykora.cli.source import STDIN, display_name, read_source
from pykora.cli.view import (
    FileView,
    Limits,
    marginals_view,
    matrix_view,
    raw_view,
)

NAME = "show"
HELP = "print result files (little-endian float64 streams)"
DESCRIPTION = (
    "Decode engine result files and print them, each under a '==> FILE <==' "
    "header when there are several. Tables are summarised beyond --max-rows rows and "
    "--max-cols columns unless --all is given. Non-finite values are written as NaN, inf "
    'and -inf (in JSON as the strings "NaN", "inf", "-inf"). The exit status is the worst '
    "of the files'."
)
VIEWS = ("raw", "matrix", "marginals")
FORMATS = ("table", "csv", "json")
#: Rows of a table beyond which ``show`` prints only the first and last ones.
DEFAULT_MAX_ROWS = 20
#: Data columns beyond which ``show`` summarises a table. Nine keep a matrix
#: table within about 100 characters and show whole blocks at both ends: the
#: x column, the (y, x) pairs of the first two blocks and of the last two.
DEFAULT_MAX_COLS = 9


def add_arguments(show: Parser) -> None:
    show.add_argument("files", nargs="+", metavar="FILE", help="a result file; - reads stdin")
    show.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="raw",
        help="raw: the float64 values; matrix: the dense matrix of kora_interpret_vector; "
        "marginals: one (x, y) table per block (default: %(default)s)",
    )
    show.add_argument(
        "--format",
        choices=FORMATS,
        default="table",
        help="output format (default: %(default)s); CSV and JSON always hold every value and "
        "are written as they are formatted, so memory stays flat and `| head` returns at once",
    )
    show.add_argument(
        "--max-rows",
        type=integer(1),
        metavar="N",
        help="a table of more rows shows only the first and last N/2 around a '...' line; "
        "marginals count the rows of all blocks together, an empty block as one "
        f"(default: {DEFAULT_MAX_ROWS})",
    )
    show.add_argument(
        "--max-cols",
        type=integer(1),
        metavar="N",
        help="a table of more data columns shows only the first and last N/2 around a '...' "
        f"column (default: {DEFAULT_MAX_COLS}: a matrix's x column and its first two and last "
        "two blocks, about 100 characters wide; fewer where a terminal is narrower)",
    )
    show.add_argument("--all", action="store_true", help="print every row and column of a table")
    show.add_argument(
        "--precision",
        type=integer(1, 17),
        default=DEFAULT_PRECISION,
        metavar="N",
        help="significant digits of a table's cells, 1 to 17 (default: %(default)s); CSV and "
        "JSON always hold every digit",
    )
    selection.add_arguments(show)


def check(args: argparse.Namespace) -> str | None:
    if args.files.count(STDIN) > 1:
        return "standard input (-) can be read only once"
    refused = selection.refused_by_raw_view(args)
    if refused is not None:
        return refused
    if args.format != "table":
        for option, value in (("--max-rows", args.max_rows), ("--max-cols", args.max_cols)):
            if value is not None:
                return f"{option} summarises tables; {args.format.upper()} always holds every value"
    if len(args.files) > 1:
        if args.format == "csv" and args.view == "matrix":
            return (
                "--as matrix --format csv takes one file: each file's matrix has columns of its own"
            )
        if args.format == "json":
            seen: set[str] = set()
            for arg in args.files:
                if arg in seen:
                    return f"{arg} is named twice; the JSON object keys each file by its name"
                seen.add(arg)
    return None


def table_limits(args: argparse.Namespace, out: Output) -> Limits:
    """What a table may show before it is summarised, and the digits of its cells.

    A table printed on a terminal is summarised to its width, unless
    ``--max-cols`` or ``--all`` say how many columns to show.
    """
    if args.format != "table" or args.all:
        return Limits(precision=args.precision)
    rows = DEFAULT_MAX_ROWS if args.max_rows is None else args.max_rows
    columns = DEFAULT_MAX_COLS if args.max_cols is None else args.max_cols
    fit = args.max_cols is None and out.is_terminal()
    width = shutil.get_terminal_size().columns if fit else None
    return Limits(rows, columns, args.precision, width)


def shape(
    arg: str, view: str, limits: Limits, chosen: selection.Selection | None = None
) -> FileView:
    """Read the file ``arg``, find its blocks and those chosen, and shape its view:
    everything that can fail with the file, so that a failure leaves nothing half written."""
    source = read_source(arg)
    values = source.values
    if view == "raw":
        shaped = raw_view(int(values.size), limits)
        return FileView(arg, source.name, values, None, shaped, limits.precision)
    layout = find_layout(source)
    blocks = selection.blocks(chosen, layout, source.name)
    if view == "matrix":
        shaped_matrix = matrix_view(values, layout, blocks, limits)
        return FileView(arg, source.name, values, layout, shaped_matrix, limits.precision)
    shaped_marginals = marginals_view(layout, blocks, limits)
    return FileView(arg, source.name, values, layout, shaped_marginals, limits.precision)


def _failed(out: Output, message: str, code: int) -> int:
    """Report a file that cannot be shown, after what was shown before it; return the status."""
    out.flush()
    error(message)
    return code


def run(args: argparse.Namespace, out: Output) -> int:
    limits = table_limits(args, out)
    chosen = selection.chosen(args)
    progress = Progress()
    written = Written(out, progress)
    document = DOCUMENTS[args.format](written, args.view, len(args.files) > 1)
    status = EXIT_OK
    for arg in args.files:
        try:
            shown = shape(arg, args.view, limits, chosen)
            padding = shown.layout.padding if shown.layout is not None else None
            if padding is not None:
                warn(padding.note(shown.name))
            written.what = shown.name
            with progress:  # erased before anything else is said on stderr
                document.add(shown)
        except CliError as exc:
            status = max(status, _failed(out, str(exc), exc.code))
        except MemoryError:
            message = f"{display_name(arg)}: not enough memory"
            status = max(status, _failed(out, message, EXIT_FAILURE))
    document.close()
    return status
