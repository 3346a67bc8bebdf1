"""``python -m pykora``: see :mod:`pykora.cli`."""

import sys

from pykora.cli import main

if __name__ == "__main__":
    sys.exit(main())
