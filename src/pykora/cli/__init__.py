"""The command line of pykora, run as ``pykora`` or ``python -m pykora``.

Commands:

* ``show FILE...`` prints engine result files as the raw float64 stream, as
  the dense matrix of ``kora_interpret_vector`` or as the marginals of
  ``kora_interpret_vector_list``, in table, CSV or JSON form;
* ``plot FILE -o OUT`` draws the marginals (or the dense matrix's series) with
  matplotlib, an optional dependency (``pip install "pykora[plot]"``);
* ``options`` prints the effective global options next to their defaults;
* ``example DIR`` writes synthetic result files to try the other commands on.

Result files run to millions of values, so nothing here holds a whole file's
worth of text: tables are summarised by default, CSV and JSON are written a
chunk of cells at a time, and ``plot`` draws a bounded number of series. The
numbers shown always come from the library's decoders, handed only the
blocks that are shown; ``pykora._layout`` says where those blocks lie.

The modules, one job each: ``app`` (the entry point and exit statuses),
``parser``, ``commands/`` (one module per command), ``files`` (reading and
its errors), ``blocks`` (the block layout and decoding by blocks),
``matrix`` (the dense matrix's columns), ``summary`` (what a summarised table
shows), ``numbers`` (number formatting), ``render/`` (one renderer per
output format), ``output`` (checked writes to stdout), ``errors``.

NumPy and the extension modules are imported inside the commands, so
importing this package stays cheap.
"""

from pykora.cli.app import main

__all__ = ["main"]
