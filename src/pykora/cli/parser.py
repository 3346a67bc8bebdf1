"""The command line's grammar: its commands, their options and what ``--help`` says.

Every parser refuses abbreviated options (``--max-row`` is no ``--max-rows``),
reports a usage error with the usage of the command it concerns, and prints
``--help`` and ``--version`` through the same checked output as everything
else, rather than argparse's own printing, which drops write errors.
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any, NoReturn

from pykora import __version__
from pykora.cli.errors import PROG, UsageError

VIEWS = ("raw", "matrix", "marginals")
FORMATS = ("table", "csv", "json")
PLOT_EXTRA_HINT = 'pip install "pykora[plot]"'

#: Rows of a table beyond which ``show`` prints only the first and last ones.
DEFAULT_MAX_ROWS = 20
#: Data columns beyond which ``show`` summarises a table. Nine keep a matrix
#: table within about 100 characters and show whole blocks at both ends: the
#: x column, the (y, x) pairs of the first two blocks and of the last two.
DEFAULT_MAX_COLS = 9
#: Lines ``plot`` draws at most; a legend of more is unreadable anyway.
DEFAULT_MAX_SERIES = 20
#: Resolutions ``plot`` accepts. Below 10 the font renderer fails; at 1200 the
#: 7 x 4.5 inch figure is already a 180 MB bitmap while it is drawn.
DPI_RANGE = (10, 1200)


class TextRequested(Exception):
    """``--help`` or ``--version``: print this text and stop with success."""

    def __init__(self, text: str) -> None:
        super().__init__(text)
        self.text = text


class _PrintAction(argparse.Action):
    def __init__(self, option_strings: Sequence[str], text: str | None = None, **kw: Any) -> None:
        kw.update(dest=argparse.SUPPRESS, default=argparse.SUPPRESS, nargs=0)
        super().__init__(option_strings, **kw)
        self.text = text

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> NoReturn:
        raise TextRequested(parser.format_help() if self.text is None else self.text)


class Parser(argparse.ArgumentParser):
    def __init__(self, **kw: Any) -> None:
        super().__init__(allow_abbrev=False, add_help=False, **kw)
        self.add_argument("-h", "--help", action=_PrintAction, help="show this help and exit")

    def error(self, message: str) -> NoReturn:
        raise UsageError(message, self.format_usage())


def build_parser() -> tuple[Parser, dict[str, Parser]]:
    """The top-level parser, and each command's parser by name."""
    parser = Parser(
        prog=PROG, description="Inspect kora engine result files and pykora's global options."
    )
    version = f"{PROG} {__version__}\n"
    parser.add_argument("--version", action=_PrintAction, text=version, help="show the version")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    found = {
        "show": _show(commands),
        "plot": _plot(commands),
        "options": commands.add_parser(
            "options",
            help="print the effective global options",
            description="Print every option's effective value, its default and whether it was set.",
        ),
        "example": commands.add_parser(
            "example",
            help="write synthetic result files into a directory",
            description="Write stream.dat (a raw stream), quantiles.dat (three blocks of "
            "(probability, quantile) pairs) and marginals.dat (densities of uneven length and "
            "an empty block) into DIR, creating it if needed, and print their paths.",
        ),
    }
    found["options"].add_argument("--json", action="store_true", help="print JSON, not a table")
    found["example"].add_argument("dir", metavar="DIR", help="target directory")
    return parser, found


def _show(commands: Any) -> Parser:
    show: Parser = commands.add_parser(
        "show",
        help="print result files (little-endian float64 streams)",
        description="Decode engine result files and print them, each under a '==> FILE <==' "
        "header when there are several. Tables are summarised beyond --max-rows rows and "
        "--max-cols columns unless --all is given. Non-finite values are written as NaN, inf "
        'and -inf (in JSON as the strings "NaN", "inf", "-inf"). The exit status is the worst '
        "of the files'.",
    )
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
        type=int,
        metavar="N",
        help="a table of more rows shows only the first and last N/2 around a '...' line; "
        "marginals count the rows of all blocks together, an empty block as one "
        f"(default: {DEFAULT_MAX_ROWS})",
    )
    show.add_argument(
        "--max-cols",
        type=int,
        metavar="N",
        help="a table of more data columns shows only the first and last N/2 around a '...' "
        f"column (default: {DEFAULT_MAX_COLS}: a matrix's x column and its first two and last "
        "two blocks, about 100 characters wide)",
    )
    show.add_argument("--all", action="store_true", help="print every row and column of a table")
    return show


def _plot(commands: Any) -> Parser:
    plot: Parser = commands.add_parser(
        "plot",
        help="draw a result file's blocks as lines (needs matplotlib)",
        description="Draw one line per block, labelled with its index, up to --max-series "
        "lines, told apart by colour and line style. Needs matplotlib: "
        f"{PLOT_EXTRA_HINT}.",
    )
    plot.add_argument("file", metavar="FILE", help="the result file; - reads stdin")
    plot.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT",
        help="image to write, exactly this path; its suffix (.png, .svg, .pdf, ...) sets the "
        "format, and a directory or a name without a known suffix is refused",
    )
    plot.add_argument(
        "--as",
        dest="view",
        choices=VIEWS,
        default="marginals",
        help="marginals: each block's y against its x; matrix: each block's y column against "
        "its own x column; raw: the values against their position (default: %(default)s)",
    )
    plot.add_argument(
        "--dpi",
        type=int,
        default=100,
        help=f"resolution, {DPI_RANGE[0]} to {DPI_RANGE[1]} (default: %(default)s)",
    )
    plot.add_argument(
        "--max-series",
        type=int,
        default=DEFAULT_MAX_SERIES,
        metavar="N",
        help="draw the first N series only, saying on stderr how many were left out "
        "(default: %(default)s)",
    )
    plot.add_argument("--title", help="the title (default: the file's name and the view)")
    plot.add_argument("--xlabel", help="the x axis' label (default: x, or index for raw)")
    plot.add_argument("--ylabel", help="the y axis' label (default: y, or value for raw)")
    return plot


def parse(argv: Sequence[str] | None) -> argparse.Namespace:
    """The parsed command line, or a ``UsageError`` with the usage of the command it names."""
    parser, commands = build_parser()
    args, extra = parser.parse_known_args(argv)
    if extra:
        raise UsageError(
            f"unrecognized arguments: {' '.join(extra)}", commands[args.command].format_usage()
        )
    return args
