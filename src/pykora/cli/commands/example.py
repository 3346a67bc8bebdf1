"""``example DIR``: writes synthetic result files into DIR and prints their paths."""

from __future__ import annotations

import argparse
from pathlib import Path

from pykora.cli.errors import EXIT_FAILURE, EXIT_OK, CliError
from pykora.cli.example_data import example_vectors
from pykora.cli.output import Output


def run(args: argparse.Namespace, out: Output) -> int:
    import numpy as np

    target = Path(args.dir)
    written = []
    try:
        target.mkdir(parents=True, exist_ok=True)
        for name, values in example_vectors().items():
            path = target / name
            np.asarray(values, dtype="<f8").tofile(path)
            written.append(path)
    except OSError as exc:
        where = exc.filename or target
        raise CliError(f"{where}: cannot write: {exc.strerror or exc}", EXIT_FAILURE) from None
    # Printed once the files are written: a failure from here on is stdout's, not DIR's.
    out.write("".join(f"{path}\n" for path in written))
    return EXIT_OK
