"""The command line of pykora, run as ``pykora`` or ``python -m pykora``.

Commands:

* ``show FILE...`` prints engine result files as the raw float64 stream, as
  the dense matrix of ``kora_interpret_vector`` or as the marginals of
  ``kora_interpret_vector_list``, in table, CSV or JSON form;
* ``info FILE...`` describes result files without printing their values: their
  blocks, pairs, NaN padding, NaN and infinite values, and ranges;
* ``plot FILE -o OUT`` draws the marginals (or the dense matrix's series) with
  matplotlib, an optional dependency (``pip install "pykora[plot]"``);
* ``options`` prints the effective global options next to their defaults;
* ``example DIR`` writes synthetic result files to try the other commands on.

Result files run to millions of values, and a block may declare up to 2**62
pairs that the file does not hold, so nothing here holds a file's worth of
text or of padding: ``show`` reads a file, finds where its blocks lie with
``pykora._layout`` (the decoders' own scanner), shapes the view as counts,
and writes the cells a chunk at a time, taking each number from where it
lies in the file.

The modules, one job each, in the order ``show`` runs through them:
``source`` (reading, from a path or stdin), ``layout`` (where the blocks
lie), ``selection`` (the blocks ``--blocks`` and ``--idx`` pick), ``view``
(which rows and columns, with the padding as counts), ``cells`` (the numbers
formatted, natively) and ``render/`` (one writer per output format, on
``output``, the checked stdout); around them ``app`` (the entry point and
exit statuses), ``parser``, ``commands/`` (one module per command, with its
arguments), ``plotting``, ``progress`` (one line on a terminal's stderr for
long work), ``filesystem`` (files written whole or not at all),
``example_data``, ``numbers`` (labels and counts) and ``errors``.

This module imports nothing, so that the command line can take a Ctrl-C as
soon as it starts: everything else is imported inside ``main``, and NumPy and
the extension modules inside the commands.
"""

from __future__ import annotations

import typing

if typing.TYPE_CHECKING:
    from collections.abc import Sequence

#: The exit status of a run that Ctrl-C ends, as a shell reports a command that SIGINT ended.
EXIT_INTERRUPTED = 130


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); return the exit status."""
    try:
        from pykora.cli.app import run
        from pykora.cli.errors import Interrupts

        with Interrupts() as interrupts:
            status = run(argv, interrupts)
        return EXIT_INTERRUPTED if interrupts.seen else status
    except KeyboardInterrupt:  # before the command line was ready to take it itself
        return EXIT_INTERRUPTED


__all__ = ["main"]
