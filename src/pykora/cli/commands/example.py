"""``example DIR``: writes synthetic result files into DIR and prints their paths."""

from __future__ import annotations

import argparse
import struct
from pathlib import Path

from pykora.cli.errors import EXIT_FAILURE, EXIT_OK, CliError
from pykora.cli.example_data import example_vectors
from pykora.cli.filesystem import write_files
from pykora.cli.output import Output
from pykora.cli.parser import Parser, name

NAME = "example"
HELP = "write synthetic result files into a directory"
DESCRIPTION = (
    "Write stream.dat (a raw stream), quantiles.dat (three blocks of "
    "(probability, quantile) pairs) and marginals.dat (densities of uneven length and "
    "an empty block) into DIR, creating it if needed, and print their paths. A file "
    "that exists already is left alone, and nothing is written, unless --force is given."
)


def add_arguments(example: Parser) -> None:
    example.add_argument("dir", metavar="DIR", type=name, help="target directory")
    example.add_argument(
        "--force", action="store_true", help="replace the files if they exist already"
    )


def check(args: argparse.Namespace) -> str | None:
    return None


def run(args: argparse.Namespace, out: Output) -> int:
    target = Path(args.dir)
    contents = {
        str(target / file): struct.pack(f"<{len(values)}d", *values)
        for file, values in example_vectors().items()
    }
    try:
        target.mkdir(parents=True, exist_ok=True)
    except OSError as exc:
        where = exc.filename or target
        raise CliError(f"{where}: cannot write: {exc.strerror or exc}", EXIT_FAILURE) from None
    write_files(contents, replace=args.force)
    # Printed once the files are written: a failure from here on is stdout's, not DIR's.
    out.write("".join(f"{path}\n" for path in contents))
    return EXIT_OK
