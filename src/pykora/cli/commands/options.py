"""``options``: every option's effective value, its default and whether it was set."""

from __future__ import annotations

import argparse
from typing import Any

from pykora.cli.errors import EXIT_OK
from pykora.cli.numbers import json_value
from pykora.cli.output import Output
from pykora.cli.parser import Parser
from pykora.cli.render.grid import write_table
from pykora.cli.render.json import write_json

NAME = "options"
HELP = "print the effective global options"
DESCRIPTION = "Print every option's effective value, its default and whether it was set."


def add_arguments(options: Parser) -> None:
    options.add_argument("--json", action="store_true", help="print JSON, not a table")


def check(args: argparse.Namespace) -> str | None:
    return None


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


def run(args: argparse.Namespace, out: Output) -> int:
    rows = option_rows()
    if args.json:
        document = {key: {"value": v, "default": d, "set": s} for key, v, d, s in rows}
        write_json(out, json_value(document))
    else:
        cells = ([key, repr(v), repr(d), "yes" if s else "no"] for key, v, d, s in rows)
        write_table(out, ["key", "value", "default", "set"], cells, left=True)
    return EXIT_OK
