"""``plot FILE -o OUT``: a result file's blocks drawn as lines into an image file."""

from __future__ import annotations

import argparse
from pathlib import Path

from pykora.cli import selection
from pykora.cli.errors import EXIT_OK, EXIT_UNAVAILABLE, CliError, note, warn
from pykora.cli.filesystem import write_files
from pykora.cli.layout import find_layout
from pykora.cli.output import Output
from pykora.cli.parser import Parser, integer
from pykora.cli.plotting import (
    LEGEND_ENTRIES,
    LOOKS,
    Labels,
    draw,
    image_format,
    legend_named,
    plot_series,
)
from pykora.cli.progress import Progress, Ticking
from pykora.cli.source import read_source

NAME = "plot"
HELP = "draw a result file's blocks as lines (needs matplotlib)"
EXTRA_HINT = 'pip install "pykora[plot]"'
DESCRIPTION = (
    "Draw one line per block, up to --max-series lines, told apart by colour and line "
    f"style: each of the first {LOOKS} looks like no other. The legend names each line by "
    f"its block and idx, up to {LEGEND_ENTRIES} lines; beyond that its last entry, and a note "
    f"on stderr, say how many it leaves unnamed. Needs matplotlib: {EXTRA_HINT}."
)
VIEWS = ("raw", "matrix", "marginals")
#: Lines ``plot`` draws at most; a legend of more is unreadable anyway.
DEFAULT_MAX_SERIES = 20
#: Resolutions ``plot`` accepts. Below 10 the font renderer fails; at 1200 the
#: 7 x 4.5 inch figure is already a 180 MB bitmap while it is drawn, and about
#: 290 MB once a legend of 40 long labels beside it has widened it to 11 inches.
DPI_RANGE = (10, 1200)


def add_arguments(plot: Parser) -> None:
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
    selection.add_arguments(plot)
    plot.add_argument(
        "--dpi",
        type=integer(*DPI_RANGE),
        default=100,
        help=f"resolution, {DPI_RANGE[0]} to {DPI_RANGE[1]} (default: %(default)s)",
    )
    plot.add_argument(
        "--max-series",
        type=integer(1),
        default=DEFAULT_MAX_SERIES,
        metavar="N",
        help="draw the first N series only, saying on stderr how many were left out "
        "(default: %(default)s)",
    )
    plot.add_argument("--title", help="the title (default: the file's name and the view)")
    plot.add_argument("--xlabel", help="the x axis' label (default: x, or index for raw)")
    plot.add_argument("--ylabel", help="the y axis' label (default: y, or value for raw)")


def check(args: argparse.Namespace) -> str | None:
    return selection.refused_by_raw_view(args)


def run(args: argparse.Namespace, out: Output) -> int:
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
    except ImportError:
        raise CliError(
            f"plotting needs matplotlib, which is not installed: {EXTRA_HINT}",
            EXIT_UNAVAILABLE,
        ) from None
    fmt = image_format(args.output, FigureCanvasAgg.get_supported_filetypes())

    progress = Progress()  # shown once the whole command has run about a second
    source = read_source(args.file)
    layout = None if args.view == "raw" else find_layout(source)
    chosen = selection.chosen(args)
    blocks = None if layout is None else selection.blocks(chosen, layout, source.name)
    series, total = plot_series(source.values, layout, args.max_series, blocks)
    padding = layout.padding if layout is not None else None
    if padding is not None:
        warn(padding.note(source.name))
    if total > len(series):
        note(
            f"{source.name}: drawing the first {len(series)} of {total} series, "
            f"{total - len(series)} left out (--max-series sets how many are drawn)"
        )
    named = legend_named(len(series))
    if named < len(series):
        note(
            f"{source.name}: the legend names the first {named} of the {len(series)} series "
            f"drawn; {len(series) - named} are drawn without an entry"
        )
    if not series:
        empty = "it holds no values" if not source.values.size else "no block has any pairs"
        note(f"{source.name}: nothing to draw: {empty}")
    raw = args.view == "raw"
    shown_part = f", first {len(series)} of {total} series" if total > len(series) else ""
    labels = Labels(
        title=args.title
        if args.title is not None
        else f"{Path(source.name).name} ({args.view}{shown_part})",
        x=args.xlabel if args.xlabel is not None else "index" if raw else "x",
        y=args.ylabel if args.ylabel is not None else "value" if raw else "y",
    )
    drawing = f"pykora: {source.name}: drawing {len(series):,} series"
    with Ticking(progress, lambda: f"{drawing}, {progress.elapsed():.0f} s"):
        image = draw(series, labels, fmt, args.dpi, args.output)
    write_files({args.output: image}, replace=True)
    out.write(f"{args.output}\n")
    return EXIT_OK
