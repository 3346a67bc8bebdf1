"""``show FILE...``: result files as tables, CSV or JSON, in the raw, matrix or marginals view.

Several files are shown one after another, each under a ``==> FILE <==``
header as ``head`` writes them. A file that fails is reported in one line
and the others are shown all the same; the exit status is the worst.
"""

from __future__ import annotations

import argparse
from collections.abc import Callable

from pykora.cli.blocks import find_blocks
from pykora.cli.errors import EXIT_FAILURE, EXIT_INVALID, EXIT_OK, CliError, error
from pykora.cli.files import Source, display_name, read_source
from pykora.cli.output import Output, Writer
from pykora.cli.parser import DEFAULT_MAX_COLS, DEFAULT_MAX_ROWS
from pykora.cli.render import csv, json, table
from pykora.cli.render.table import Limits

Render = Callable[[Writer], None]


def table_limits(args: argparse.Namespace) -> Limits:
    """The rows and columns a table may show before it is summarised; ``None``: no limit."""
    if args.format != "table":
        given = [name for name in ("max_rows", "max_cols") if getattr(args, name) is not None]
        if given:
            option = "--" + given[0].replace("_", "-")
            raise CliError(
                f"{option} summarises tables; {args.format.upper()} always holds every value",
                EXIT_INVALID,
            )
        return None, None
    if args.all:
        return None, None
    limits = []
    for name, default in (("max_rows", DEFAULT_MAX_ROWS), ("max_cols", DEFAULT_MAX_COLS)):
        value = getattr(args, name)
        value = default if value is None else value
        if value < 1:
            option = "--" + name.replace("_", "-")
            raise CliError(f"{option} must be at least 1, not {value}", EXIT_INVALID)
        limits.append(value)
    return limits[0], limits[1]


def prepare(source: Source, view: str, fmt: str, limits: Limits) -> Render:
    """Decode what ``source`` shows in this view and format; return what writes it.

    Everything that can fail with the file happens here, so that a failure
    leaves nothing half written.
    """
    if view == "raw":
        if fmt == "table":
            return table.raw(source, limits)
        return csv.raw(source) if fmt == "csv" else json.raw(source)
    blocks = find_blocks(source)
    if view == "matrix":
        if fmt == "table":
            return table.matrix(blocks, limits)
        return csv.matrix(blocks) if fmt == "csv" else json.matrix(blocks)
    if fmt == "table":
        return table.marginals(blocks, limits)
    return csv.marginals(blocks) if fmt == "csv" else json.marginals(blocks)


def _failed(out: Output, message: str, code: int) -> int:
    """Report a file that cannot be shown, after what was shown before it; return the status."""
    out.flush()
    error(message)
    return code


def run(args: argparse.Namespace, out: Output) -> int:
    limits = table_limits(args)  # refuse bad limits before reading anything
    status, shown = EXIT_OK, 0
    several = len(args.files) > 1
    for arg in args.files:
        try:
            render = prepare(read_source(arg), args.view, args.format, limits)
            if several:
                out.write(("\n" if shown else "") + f"==> {display_name(arg)} <==\n")
            render(out)
            shown += 1
        except CliError as exc:
            status = max(status, _failed(out, str(exc), exc.code))
        except MemoryError:  # while writing: what is shown is decoded as it is written
            message = f"{display_name(arg)}: not enough memory"
            status = max(status, _failed(out, message, EXIT_FAILURE))
    return status
