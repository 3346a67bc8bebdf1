"""``plot FILE -o OUT``: a result file's blocks drawn as lines into an image file."""

from __future__ import annotations

import argparse
from pathlib import Path

from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, EXIT_OK, EXIT_UNAVAILABLE, CliError, note
from pykora.cli.files import read_source
from pykora.cli.output import Output
from pykora.cli.parser import DPI_RANGE, PLOT_EXTRA_HINT
from pykora.cli.plotting import Labels, draw, image_format, plot_series


def check_range(option: str, value: int, low: int, high: int | None = None) -> None:
    if value < low or (high is not None and value > high):
        bounds = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise CliError(f"{option} {value} is out of range: it must be {bounds}", EXIT_INVALID)


def run(args: argparse.Namespace, out: Output) -> int:
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
    except ImportError:
        raise CliError(
            f"plotting needs matplotlib, which is not installed: {PLOT_EXTRA_HINT}",
            EXIT_UNAVAILABLE,
        ) from None
    # Refused before anything is read.
    check_range("--dpi", args.dpi, *DPI_RANGE)
    check_range("--max-series", args.max_series, 1)
    fmt = image_format(args.output, FigureCanvasAgg.get_supported_filetypes())

    source = read_source(args.file)
    series, total = plot_series(source, args.view, args.max_series)
    if total > len(series):
        note(
            f"{source.name}: drawing the first {len(series)} of {total} series, "
            f"{total - len(series)} left out (--max-series sets how many are drawn)"
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
    image = draw(series, labels, fmt, args.dpi, args.output)
    try:
        with open(args.output, "wb") as file:
            file.write(image)
    except OSError as exc:
        raise CliError(
            f"{args.output}: cannot write: {exc.strerror or exc}", EXIT_FAILURE
        ) from None
    out.write(f"{args.output}\n")
    return EXIT_OK
