"""``python -m pykora``: see :mod:`pykora.cli`."""

import sys

try:
    from pykora.cli import main
except KeyboardInterrupt:  # Ctrl-C while the command line is found: ended as it is later
    sys.exit(130)

if __name__ == "__main__":
    sys.exit(main())
